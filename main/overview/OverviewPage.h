// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The overview page's behaviour, over the widgets the form made: the filter line,
// the summary line and the table. While the page shows, its readings are started
// and taken once a second; hidden, they are stopped. Enter or a double-click on a
// row picks that server.

#include "ClientLibrary.h"
#include "FleetReadings.h"
#include "OverviewModel.h"

#include <QObject>
#include <QTimer>

#include <memory>

class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QTableView;

class OverviewPage : public QObject {
    Q_OBJECT
public:
    /* Takes over the widgets of the page `page`; they must outlive this object. */
    OverviewPage(QWidget* page, QLineEdit* filter, QLabel* summary, QTableView* table,
                 QObject* parent = nullptr);
    ~OverviewPage() override;

    /* The source of the readings, replacing any earlier one; started at once if the page shows. */
    void SetReadings(std::unique_ptr<FleetReadings> readings);
    /* Takes the newest readings now, as the once-a-second refresh does. */
    void Refresh();

    OverviewModel& Model() { return *m_model; }

signals:
    /* The user picked the row of a server in the connection list. */
    void picked(ConnRef ref);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Show();
    void Hide();
    void Activate(const QModelIndex& index);

    QWidget* m_page;
    QLabel* m_summary;
    QTableView* m_table;
    OverviewModel* m_model;
    QSortFilterProxyModel* m_sorted;
    QTimer m_refresh;
    std::unique_ptr<FleetReadings> m_readings;
    FleetSnapshot m_snapshot;
    bool m_shown = false;
};
