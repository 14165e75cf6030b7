// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "MessageBoxWatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QPushButton>
#include <QTest>

namespace {

// The box in front: the active modal widget, or, where the platform keeps no
// active window (offscreen), the last visible top-level message box.
QMessageBox* VisibleBox() {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        box != nullptr && box->isVisible())
        return box;
    QMessageBox* found = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible())
            found = box;
    }
    return found;
}

QString TextOf(const QAbstractButton* button) {
    return button ? button->text() : QString();
}

SeenBox Record(const QMessageBox& box) {
    SeenBox seen;
    seen.caption = box.windowTitle();
    seen.icon = box.icon();
    seen.text = box.text();
    for (const QAbstractButton* button : box.buttons())
        seen.buttons << button->text();
    seen.defaultButton = TextOf(box.defaultButton());
    seen.escapeButton = TextOf(box.escapeButton());
    if (const QCursor* cursor = QGuiApplication::overrideCursor())
        seen.pointer = cursor->shape();
    seen.frame = box.frameGeometry();
    return seen;
}

} // namespace

MessageBoxWatcher::MessageBoxWatcher() {
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxWatcher::poll);
}

void MessageBoxWatcher::arm(int expectedBoxes, CloseKey key) {
    m_boxes.clear();
    m_expected = expectedBoxes;
    m_key = key;
    m_timer.start();
}

void MessageBoxWatcher::disarm() {
    m_timer.stop();
}

bool MessageBoxWatcher::waitForBoxes(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (int(m_boxes.size()) < m_expected && !deadline.hasExpired())
        QTest::qWait(10);
    return int(m_boxes.size()) >= m_expected;
}

void MessageBoxWatcher::poll() {
    QMessageBox* box = VisibleBox();
    if (box == nullptr)
        return;
    m_boxes.push_back(Record(*box));
    // The key goes straight to the box, as the user's would, so that what is
    // tested is that Enter and Esc really close it.
    QTest::keyClick(box, m_key == CloseKey::Escape ? Qt::Key_Escape : Qt::Key_Return);
    const bool closed = !box->isVisible();
    m_boxes.back().closedByKey = closed;
    if (!closed)
        box->done(0); // never leave a test hanging on a box that ignores keys
}
