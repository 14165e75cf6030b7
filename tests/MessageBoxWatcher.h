// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// Closes the message boxes a test provokes, from a timer inside their modal
// loops, and records what each box showed so the test can assert on it afterwards.

#include <QMessageBox>
#include <QObject>
#include <QRect>
#include <QStringList>
#include <QTimer>

#include <optional>
#include <vector>

/* What one box showed while it was up. */
struct SeenBox {
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString text;
    /* Button texts in the order of the box's buttons. */
    QStringList buttons;
    /* Texts of the buttons set as default and as escape button; empty when none is set. */
    QString defaultButton;
    QString escapeButton;
    /* The application's override pointer shape while the box was up; none without override. */
    std::optional<Qt::CursorShape> pointer;
    /* The box's frame on the screen. */
    QRect frame;
    /* True when the watcher's key closed the box; false when it had to be forced shut. */
    bool closedByKey = false;
};

class MessageBoxWatcher : public QObject {
public:
    /* The key the watcher presses to close a box. */
    enum class CloseKey { Escape, Enter };

    MessageBoxWatcher();

    /* Starts watching afresh: forgets earlier boxes, then records and closes every box
       that comes up, in order, until disarmed; `expectedBoxes` is what waitForBoxes awaits.
       Boxes beyond it are closed and recorded too, so a surplus box fails a test
       instead of hanging it. */
    void arm(int expectedBoxes = 1, CloseKey key = CloseKey::Escape);
    /* Stops watching; the records stay. */
    void disarm();
    /* Runs the event loop until the expected number of boxes has been seen or
       `timeoutMs` has passed; true when they were seen. */
    bool waitForBoxes(int timeoutMs = 5000);

    /* The boxes seen since arm(), in order. */
    const std::vector<SeenBox>& boxes() const { return m_boxes; }

private:
    void poll();

    QTimer m_timer;
    CloseKey m_key = CloseKey::Escape;
    int m_expected = 1;
    std::vector<SeenBox> m_boxes;
};
