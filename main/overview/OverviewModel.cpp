// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "OverviewModel.h"

#include <QLocale>

#include <algorithm>

namespace {

const std::optional<double>& Reading(const FleetRow& row, int column) {
    switch (column) {
    case OverviewModel::Utilization:
        return row.utilisation;
    case OverviewModel::Requests:
        return row.requests;
    default:
        return row.hits;
    }
}

bool SameServers(const std::vector<FleetRow>& a, const std::vector<FleetRow>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const FleetRow& x, const FleetRow& y) {
        return x.name == y.name && x.ref == y.ref;
    });
}

} // namespace

QString OverviewNumber(const std::optional<double>& value, int decimals) {
    if (!value)
        return {};
    // The window speaks English throughout; its numbers follow.
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(*value, 'f', decimals);
}

void OverviewModel::SetRows(std::vector<FleetRow> rows) {
    const bool same = SameServers(m_rows, rows);
    if (!same)
        beginResetModel();
    m_rows = std::move(rows);
    m_names.resize(m_rows.size());
    m_states.resize(m_rows.size());
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (!same)
            m_names[i] = QString::fromStdString(m_rows[i].name);
        m_states[i] = QString::fromStdString(m_rows[i].state);
    }
    if (!same)
        endResetModel();
    else if (!m_rows.empty())
        emit dataChanged(index(0, Utilization), index(rowCount() - 1, State));
}

int OverviewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int OverviewModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant OverviewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const auto r = std::size_t(index.row());
    const FleetRow& row = m_rows[r];
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        if (column == Server)
            return m_names[r];
        if (column == State)
            return m_states[r];
        return OverviewNumber(Reading(row, column), column == Utilization ? 1 : 0);
    case SortRole:
        if (column == Server)
            return m_names[r];
        if (column == State)
            return m_states[r];
        return Reading(row, column).value_or(-1.0);
    case RefRole:
        return row.ref ? QVariant(uint(*row.ref)) : QVariant();
    case Qt::TextAlignmentRole:
        if (column != Server && column != State)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

QVariant OverviewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const titles[ColumnCount] = {"Server", "Utilization %", "Cache requests/s",
                                                     "Cache hits/s", "State"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section]) : QVariant();
}
