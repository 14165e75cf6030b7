// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The overview's table as a Qt model: one row per server, five columns. A reading
// that is not there shows as an empty cell and sorts below every reading.

#include "FleetReadings.h"

#include <QAbstractTableModel>
#include <QString>

#include <vector>

class OverviewModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Server, Utilization, Requests, Hits, State, ColumnCount };
    /* The value a column sorts by: the name, or the number (-1 without a reading). */
    static constexpr int SortRole = Qt::UserRole;
    /* The row's ConnRef as an unsigned int, or an invalid QVariant for a server not in the list. */
    static constexpr int RefRole = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;

    /* Replaces the rows. The same servers in the same order only change the readings, so
       that the view keeps its selection and scroll position without a reset. */
    void SetRows(std::vector<FleetRow> rows);
    const std::vector<FleetRow>& Rows() const { return m_rows; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<FleetRow> m_rows;
    // Made once per update: sorting and filtering compare these many times.
    std::vector<QString> m_names;
    std::vector<QString> m_states;
};

/* A reading as the table writes it: utilisation with one decimal, rates whole, with
   thousands separated; empty without a reading. */
QString OverviewNumber(const std::optional<double>& value, int decimals);
