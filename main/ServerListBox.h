// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The connection list: a group of radio buttons, one per connected server,
// each carrying the connection's reference. Besides the arrow keys, Home, End,
// Page Up, Page Down and typing the start of a name move the selection.

#include "ConnectionList.h"
#include "TypeAhead.h"

#include <QGroupBox>

#include <vector>

class QAbstractButton;
class QButtonGroup;
class QKeyEvent;
class QScrollArea;
class QVBoxLayout;

class ServerListBox : public QGroupBox, public ConnectionList {
    Q_OBJECT
public:
    explicit ServerListBox(QWidget* parent = nullptr);

    /* Adds a radio button below the others; nothing is selected by it. */
    void Append(const QString& text, ConnRef ref) override;
    /* Removes every entry; nothing is selected afterwards. */
    void Clear();

    int Count() const { return int(m_refs.size()); }
    /* Index of the selected entry, -1 when there is none. */
    int ItemIndex() const;
    /* Selects an entry as if the user had picked it. */
    void SetItemIndex(int index);
    QString ItemText(int index) const { return m_texts.at(std::size_t(index)); }
    ConnRef ItemRef(int index) const { return m_refs.at(std::size_t(index)); }
    /* The entries' radio buttons, in list order. */
    QList<QAbstractButton*> Entries() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    /* The selection moved to another entry, by the user or by SetItemIndex. */
    void selectionChanged();

private:
    /* The entry a key moves to from entry `from`, or -1 for a key the list does not take. */
    int KeyTarget(const QKeyEvent& key, int from);
    /* Whole entries the list shows at once, at least 1. */
    int EntriesPerPage() const;
    /* Focuses entry `index` and selects it, as the arrow keys do. */
    void Pick(int index);
    /* Lets Tab reach the list at entry `index` only. */
    void MakeTabEntry(int index);

    QButtonGroup* m_group;
    QScrollArea* m_scroll;
    QVBoxLayout* m_column;
    std::vector<QAbstractButton*> m_buttons;
    std::vector<ConnRef> m_refs;
    std::vector<QString> m_texts;
    // The entry Tab reaches; -1 while nothing was ever selected, when Tab reaches them all.
    int m_tabEntry = -1;
    TypeAhead m_typeAhead;
};
