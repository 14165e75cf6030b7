// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The connection list: a group of radio buttons, one per connected server,
// each carrying the connection's reference.

#include "ConnectionList.h"

#include <QGroupBox>

#include <vector>

class QAbstractButton;
class QButtonGroup;
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
    QButtonGroup* m_group;
    QScrollArea* m_scroll;
    QVBoxLayout* m_buttons;
    std::vector<ConnRef> m_refs;
    std::vector<QString> m_texts;
};
