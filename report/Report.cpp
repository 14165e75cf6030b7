// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "Report.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace {

// QDialog centres a parentless box on the screen under the mouse, and
// QMessageBox settles its final size only while it is being shown: so the box
// is placed once its size is known, on the primary screen.
class CentredMessageBox : public QMessageBox {
protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen == nullptr)
            return;
        QRect frame({}, frameGeometry().size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
};

// Puts the arrow on top of the override-cursor stack for its lifetime. Popping
// exactly the one shape it pushed leaves the caller's pointer, or the absence
// of one, as it was.
class ArrowPointer {
public:
    ArrowPointer() { QGuiApplication::setOverrideCursor(Qt::ArrowCursor); }
    ~ArrowPointer() { QGuiApplication::restoreOverrideCursor(); }
    ArrowPointer(const ArrowPointer&) = delete;
    ArrowPointer& operator=(const ArrowPointer&) = delete;
};

/* Shows a modal, parentless box with one "OK" button that Enter and Esc both close. */
void ShowBox(QMessageBox::Icon icon, const QString& caption, const QString& text) {
    CentredMessageBox box;
    box.setIcon(icon);
    box.setWindowTitle(caption);
    // Operation names, server names and exception texts are never markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

} // namespace

void ShowMessageBox(MessageKind kind, const QString& text) {
    const ArrowPointer arrow;
    switch (kind) {
    case MessageKind::Error:
        ShowBox(QMessageBox::Critical, QStringLiteral("Error"), text);
        break;
    }
}

void CheckResult(std::uint32_t code, const QString& operation) {
    if (code != 0)
        ShowMessageBox(MessageKind::Error, ResultText(code, operation));
}

QString ErrorCodeText(std::uint32_t code) {
    return QStringLiteral("Error ") + QString::number(code, 16).toUpper().rightJustified(4, QLatin1Char(' '));
}

QString ResultText(std::uint32_t code, const QString& operation) {
    // One multi-argument arg(): a '%' in the operation name is not taken for a placeholder.
    return QStringLiteral("%1: %2").arg(ErrorCodeText(code), operation);
}

void ShowPlainMessage(const QString& text) {
    ShowBox(QMessageBox::NoIcon, ApplicationTitle(), text);
}

QString ApplicationTitleFor(const QString& programPath) {
    // Both separators, so that a Windows path reads the same on every platform.
    const qsizetype slash = std::max(programPath.lastIndexOf(QLatin1Char('/')),
                                     programPath.lastIndexOf(QLatin1Char('\\')));
    QString name = programPath.mid(slash + 1);
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    return name.left(1) + name.mid(1).toLower();
}

const QString& ApplicationTitle() {
    static const QString title = ApplicationTitleFor(QCoreApplication::applicationFilePath());
    return title;
}

void ShowApplicationError(const QString& text) {
    ShowBox(QMessageBox::Critical, ApplicationTitle(), text);
}
