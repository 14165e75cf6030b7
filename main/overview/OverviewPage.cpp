// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "OverviewPage.h"

#include "OverviewBarDelegate.h"
#include "OverviewSummary.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSortFilterProxyModel>
#include <QTableView>

#include <chrono>

namespace {
// The table is rebuilt at most this often, however often readings come.
constexpr std::chrono::milliseconds RefreshInterval{1000};
} // namespace

OverviewPage::OverviewPage(QWidget* page, QLineEdit* filter, QLabel* summary, QTableView* table,
                           QObject* parent)
    : QObject(parent), m_page(page), m_summary(summary), m_table(table),
      m_model(new OverviewModel(this)), m_sorted(new QSortFilterProxyModel(this)) {
    m_sorted->setSourceModel(m_model);
    m_sorted->setSortRole(OverviewModel::SortRole);
    m_sorted->setSortCaseSensitivity(Qt::CaseInsensitive);
    m_sorted->setFilterKeyColumn(OverviewModel::Server);
    m_sorted->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_sorted->setDynamicSortFilter(true);

    m_table->setModel(m_sorted);
    m_table->setItemDelegateForColumn(OverviewModel::Utilization, new OverviewBarDelegate(m_table));
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(OverviewModel::Utilization, Qt::DescendingOrder); // busiest first
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setSortIndicatorShown(true);
    // Rows of one height: a view that measured 10,000 rows would stall on every update.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->verticalHeader()->hide();
    m_table->resizeColumnToContents(OverviewModel::Utilization);

    connect(filter, &QLineEdit::textChanged, m_sorted, &QSortFilterProxyModel::setFilterFixedString);
    connect(m_table, &QAbstractItemView::activated, this, &OverviewPage::Activate);
    m_refresh.setInterval(RefreshInterval);
    connect(&m_refresh, &QTimer::timeout, this, &OverviewPage::Refresh);
    m_page->installEventFilter(this);
    m_summary->setText(OverviewSummaryText(m_snapshot));
}

OverviewPage::~OverviewPage() {
    if (m_readings && m_shown)
        m_readings->Stop();
}

void OverviewPage::SetReadings(std::unique_ptr<FleetReadings> readings) {
    if (m_readings && m_shown)
        m_readings->Stop();
    m_readings = std::move(readings);
    if (m_readings && m_shown) {
        m_readings->Start();
        Refresh();
    }
}

void OverviewPage::Refresh() {
    if (!m_readings || !m_readings->Take(m_snapshot))
        return;
    m_summary->setText(OverviewSummaryText(m_snapshot));
    m_model->SetRows(m_snapshot.rows);
}

bool OverviewPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_page) {
        if (event->type() == QEvent::Show)
            Show();
        else if (event->type() == QEvent::Hide)
            Hide();
    }
    return QObject::eventFilter(watched, event);
}

void OverviewPage::Show() {
    if (m_shown)
        return;
    m_shown = true;
    if (m_readings)
        m_readings->Start();
    Refresh();
    m_refresh.start();
}

void OverviewPage::Hide() {
    if (!m_shown)
        return;
    m_shown = false;
    m_refresh.stop();
    if (m_readings)
        m_readings->Stop();
}

void OverviewPage::Activate(const QModelIndex& index) {
    const QVariant ref = index.siblingAtColumn(OverviewModel::Server).data(OverviewModel::RefRole);
    // A server left out of the list cannot be charted; its State says why, and the row stays.
    if (!ref.isValid()) {
        QApplication::beep();
        return;
    }
    emit picked(ConnRef(ref.toUInt()));
}
