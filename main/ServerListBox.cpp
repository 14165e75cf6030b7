// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ServerListBox.h"

#include <QButtonGroup>
#include <QEvent>
#include <QKeyEvent>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

ServerListBox::ServerListBox(QWidget* parent)
    : QGroupBox(parent), m_group(new QButtonGroup(this)), m_scroll(new QScrollArea(this)),
      m_column(nullptr) {
    // Many servers scroll instead of squeezing the buttons or growing the window.
    // Only the entries take focus: the area around them has nothing to show for it.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* column = new QWidget(m_scroll);
    column->setAutoFillBackground(false);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_column = new QVBoxLayout(column);
    m_column->setContentsMargins(4, 0, 4, 0);
    m_column->setSpacing(0);
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
        MakeTabEntry(id);
        emit selectionChanged();
    });
}

void ServerListBox::Append(const QString& text, ConnRef ref) {
    // A server name is shown as it is: "&" is no accelerator here.
    auto* button = new QRadioButton(QString(text).replace(u'&', QStringLiteral("&&")));
    // Entries share the group's height evenly, as one column.
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    if (m_tabEntry >= 0)
        button->setFocusPolicy(Qt::ClickFocus);
    // An entry that gets focus scrolls into sight, also when a key moves it there;
    // the paging keys and typing are the list's.
    button->installEventFilter(this);
    m_group->addButton(button, Count());
    m_column->addWidget(button);
    m_buttons.push_back(button);
    m_refs.push_back(ref);
    m_texts.push_back(text);
}

void ServerListBox::Clear() {
    for (QAbstractButton* button : m_buttons) {
        m_group->removeButton(button);
        delete button;
    }
    m_buttons.clear();
    m_refs.clear();
    m_texts.clear();
    m_tabEntry = -1;
    m_typeAhead.Reset();
}

int ServerListBox::ItemIndex() const {
    return m_group->checkedId();
}

void ServerListBox::SetItemIndex(int index) {
    if (index >= 0 && index < Count())
        m_buttons[std::size_t(index)]->setChecked(true);
}

QList<QAbstractButton*> ServerListBox::Entries() const {
    return QList<QAbstractButton*>(m_buttons.begin(), m_buttons.end());
}

bool ServerListBox::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        m_scroll->ensureWidgetVisible(static_cast<QWidget*>(watched), 0, 0);
    } else if (event->type() == QEvent::KeyPress) {
        const int target = KeyTarget(*static_cast<QKeyEvent*>(event),
                                     m_group->id(static_cast<QAbstractButton*>(watched)));
        if (target >= 0) {
            Pick(target);
            return true;
        }
    }
    return QGroupBox::eventFilter(watched, event);
}

int ServerListBox::KeyTarget(const QKeyEvent& key, int from) {
    const int last = Count() - 1;
    // Paging keeps one entry of the old page in sight, as list boxes do.
    const int page = std::max(1, EntriesPerPage() - 1);
    switch (key.key()) {
    case Qt::Key_Home:
        return 0;
    case Qt::Key_End:
        return last;
    case Qt::Key_PageUp:
        return std::max(0, from - page);
    case Qt::Key_PageDown:
        return std::min(last, from + page);
    default:
        break;
    }

    // Text typed without Ctrl, Alt or Meta (those are shortcuts). Space starts no text:
    // it presses the focused entry, as on any button; within a text it is part of it.
    const QString text = key.text();
    if (text.isEmpty() || !text.front().isPrint() ||
        key.modifiers().testAnyFlags(Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier) ||
        (text == QStringLiteral(" ") && !m_typeAhead.Continues()))
        return -1;
    const int match = m_typeAhead.Type(text, m_texts, from);
    // A text that begins no entry is still the list's: the selection stays.
    return match >= 0 ? match : from;
}

int ServerListBox::EntriesPerPage() const {
    const int entryHeight = m_buttons.empty() ? 0 : m_buttons.front()->height();
    return entryHeight > 0 ? std::max(1, m_scroll->viewport()->height() / entryHeight) : 1;
}

void ServerListBox::Pick(int index) {
    QAbstractButton* button = m_buttons[std::size_t(index)];
    button->setFocus(Qt::OtherFocusReason);
    button->click(); // the entry already selected stays so, without a signal
}

void ServerListBox::MakeTabEntry(int index) {
    if (m_tabEntry == index)
        return;
    if (m_tabEntry < 0) {
        for (QAbstractButton* button : m_buttons)
            button->setFocusPolicy(Qt::ClickFocus);
    } else {
        m_buttons[std::size_t(m_tabEntry)]->setFocusPolicy(Qt::ClickFocus);
    }
    m_tabEntry = index;
    m_buttons[std::size_t(index)]->setFocusPolicy(Qt::StrongFocus);
}
