// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ServerListBox.h"

#include <QButtonGroup>
#include <QEvent>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

ServerListBox::ServerListBox(QWidget* parent)
    : QGroupBox(parent), m_group(new QButtonGroup(this)), m_scroll(new QScrollArea(this)),
      m_buttons(nullptr) {
    // Many servers scroll instead of squeezing the buttons or growing the window.
    // Only the entries take focus: the area around them has nothing to show for it.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* column = new QWidget(m_scroll);
    column->setAutoFillBackground(false);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_buttons = new QVBoxLayout(column);
    m_buttons->setContentsMargins(4, 0, 4, 0);
    m_buttons->setSpacing(0);
    m_scroll->setWidget(column);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(m_scroll);

    m_group->setExclusive(true);
    // Only a button that becomes checked is a new selection: clicking the one
    // already selected toggles nothing.
    connect(m_group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (!checked)
            return;
        // Tab reaches the list at its selected entry, however it was selected.
        for (QAbstractButton* button : m_group->buttons())
            button->setFocusPolicy(m_group->id(button) == id ? Qt::StrongFocus : Qt::ClickFocus);
        emit selectionChanged();
    });
}

void ServerListBox::Append(const QString& text, ConnRef ref) {
    // A server name is shown as it is: "&" is no accelerator here.
    auto* button = new QRadioButton(QString(text).replace(u'&', QStringLiteral("&&")));
    // Entries share the group's height evenly, as one column.
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    // An entry that gets focus scrolls into sight, also when the arrow keys move it there.
    button->installEventFilter(this);
    m_group->addButton(button, Count());
    m_buttons->addWidget(button);
    m_refs.push_back(ref);
    m_texts.push_back(text);
}

void ServerListBox::Clear() {
    for (QAbstractButton* button : m_group->buttons()) {
        m_group->removeButton(button);
        delete button;
    }
    m_refs.clear();
    m_texts.clear();
}

int ServerListBox::ItemIndex() const {
    return m_group->checkedId();
}

void ServerListBox::SetItemIndex(int index) {
    if (QAbstractButton* button = m_group->button(index))
        button->setChecked(true);
}

QList<QAbstractButton*> ServerListBox::Entries() const {
    return m_group->buttons();
}

bool ServerListBox::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn)
        m_scroll->ensureWidgetVisible(static_cast<QWidget*>(watched), 0, 0);
    return QGroupBox::eventFilter(watched, event);
}
