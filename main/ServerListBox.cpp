#include "ServerListBox.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

ServerListBox::ServerListBox(QWidget* parent)
    : QGroupBox(parent), m_group(new QButtonGroup(this)), m_buttons(nullptr) {
    // Many servers scroll instead of squeezing the buttons or growing the window.
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* column = new QWidget(scroll);
    column->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    m_buttons = new QVBoxLayout(column);
    m_buttons->setContentsMargins(4, 0, 4, 0);
    m_buttons->setSpacing(0);
    scroll->setWidget(column);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(scroll);

    m_group->setExclusive(true);
    // Only a button that becomes checked is a new selection: clicking the one
    // already selected toggles nothing.
    connect(m_group, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            emit selectionChanged();
    });
}

void ServerListBox::Append(const QString& text, ConnRef ref) {
    // A server name is shown as it is: "&" is no accelerator here.
    auto* button = new QRadioButton(QString(text).replace(u'&', QStringLiteral("&&")));
    // Entries share the group's height evenly, as one column.
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
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
