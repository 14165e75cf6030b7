// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ChartMenu.h"

#include "ChartExport.h"
#include "LiveChart.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QRegularExpression>

ChartMenu::ChartMenu(LiveChart* chart, std::chrono::milliseconds samplePeriod)
    : QObject(chart), m_chart(chart), m_samplePeriod(samplePeriod), m_menu(new QMenu(chart)) {
    m_menu->setObjectName(QStringLiteral("ChartMenu"));
    const auto add = [this](const QString& text, auto slot) {
        auto* action = new QAction(text, m_chart);
        connect(action, &QAction::triggered, this, slot);
        m_chart->addAction(action);
        m_menu->addAction(action);
        return action;
    };
    QAction* copy = add(tr("&Copy Chart"), &ChartMenu::CopyChart);
    // Only while the chart has the focus: elsewhere Ctrl+C belongs to the focused control.
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    add(tr("Save Chart &As…"), [this] {
        const QString path =
            askPath(tr("Save Chart As"), QStringLiteral("png"), tr("PNG images (*.png)"));
        if (!path.isEmpty())
            SaveChartTo(path);
    });
    add(tr("Save &Data As…"), [this] {
        const QString path =
            askPath(tr("Save Data As"), QStringLiteral("csv"), tr("CSV files (*.csv)"));
        if (!path.isEmpty())
            SaveDataTo(path);
    });
    chart->installEventFilter(this);
}

void ChartMenu::CopyChart() {
    QGuiApplication::clipboard()->setImage(m_chart->Image());
}

bool ChartMenu::SaveChartTo(const QString& path) {
    const QImage image = m_chart->Image();
    return save(path, tr("the chart"),
                [&image](QIODevice& file) { return image.save(&file, "PNG"); });
}

bool ChartMenu::SaveDataTo(const QString& path) {
    const QByteArray csv = ChartCsv(*m_chart, m_samplePeriod);
    return save(path, tr("the data"),
                [&csv](QIODevice& file) { return file.write(csv) == csv.size(); });
}

bool ChartMenu::save(const QString& path, const QString& what,
                     const std::function<bool(QIODevice&)>& write) {
    const QString reason = WriteWhole(path, write);
    if (reason.isEmpty()) {
        m_folder = QFileInfo(path).absolutePath();
        return true;
    }
    // Plain text: a path may hold anything, markup included.
    QMessageBox box(
        QMessageBox::Critical, tr("Not saved"),
        tr("Could not save %1 to\n%2\n\n%3.").arg(what, QDir::toNativeSeparators(path), reason),
        QMessageBox::Ok, m_chart);
    box.setTextFormat(Qt::PlainText);
    box.exec();
    return false;
}

QString ChartMenu::askPath(const QString& caption, const QString& suffix, const QString& filter) {
    // "Server Utilization - ALPHA.png": the title's lines, without what a file name cannot hold.
    QString name = m_chart->TitleText().replace(u'\n', QStringLiteral(" - "));
    name.replace(QRegularExpression(QStringLiteral(R"([/\\:*?"<>|\x00-\x1f])")),
                 QStringLiteral("_"));
    const QString suggested =
        QDir(m_folder.isEmpty() ? QDir::homePath() : m_folder).filePath(name + u'.' + suffix);
    QFileDialog dialog(m_chart, caption, suggested, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(suffix);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

void ChartMenu::popUp(QPoint global) {
    m_menu->popup(global);
}

bool ChartMenu::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_chart)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::RightButton && mouse->buttons() == Qt::RightButton)
            m_rightPress = mouse->position().toPoint();
        else
            m_rightPress.reset(); // another button joined in: no click
        break;
    }
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::RightButton || !m_rightPress)
            break;
        const QPoint moved = mouse->position().toPoint() - *m_rightPress;
        m_rightPress.reset();
        // A click, not a drag: a right drag keeps meaning nothing.
        if (moved.manhattanLength() < QApplication::startDragDistance())
            popUp(mouse->globalPosition().toPoint());
        break;
    }
    case QEvent::ContextMenu: {
        // Some platforms ask for the menu as the right button goes down, before a drag
        // can be told from a click; the release above decides instead.
        const auto* request = static_cast<QContextMenuEvent*>(event);
        if (request->reason() != QContextMenuEvent::Mouse)
            popUp(m_chart->mapToGlobal(m_chart->rect().center()));
        return true;
    }
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Menu ||
            (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier)) {
            popUp(m_chart->mapToGlobal(m_chart->rect().center()));
            return true;
        }
        break;
    }
    default:
        break;
    }
    return false;
}
