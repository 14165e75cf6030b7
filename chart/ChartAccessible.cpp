// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ChartAccessible.h"

#include "LiveChart.h"

#include <QAccessibleWidget>
#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>

namespace {

// An action's menu text without its mnemonic sign and trailing dots.
QString PlainName(const QAction* action) {
    QString name = action->text();
    name.remove(u'&');
    if (name.endsWith(u'…'))
        name.chop(1);
    return name;
}

class ChartAccessible final : public QAccessibleWidget {
public:
    explicit ChartAccessible(LiveChart* chart) : QAccessibleWidget(chart, QAccessible::Chart) {}

    QString text(QAccessible::Text t) const override {
        const auto* chart = static_cast<const LiveChart*>(widget());
        switch (t) {
        case QAccessible::Name:
            return chart->AccessibleName();
        case QAccessible::Description:
            return chart->AccessibleDescription();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    // Beside focusing: opening the context menu, and each of the chart's actions.
    QStringList actionNames() const override {
        QStringList names = QAccessibleWidget::actionNames();
        if (widget()->actions().isEmpty())
            return names;
        names << showMenuAction();
        for (const QAction* action : widget()->actions())
            names << PlainName(action);
        return names;
    }

    void doAction(const QString& name) override {
        if (name == showMenuAction() && !widget()->actions().isEmpty()) {
            const QPoint centre = widget()->rect().center();
            QContextMenuEvent request(QContextMenuEvent::Other, centre,
                                      widget()->mapToGlobal(centre));
            QCoreApplication::sendEvent(widget(), &request);
            return;
        }
        if (QAction* action = find(name))
            return action->trigger();
        QAccessibleWidget::doAction(name);
    }

    QStringList keyBindingsForAction(const QString& name) const override {
        if (name == showMenuAction())
            return {QStringLiteral("Shift+F10"), QStringLiteral("Menu")};
        if (const QAction* action = find(name); action && !action->shortcut().isEmpty())
            return {action->shortcut().toString(QKeySequence::NativeText)};
        return QAccessibleWidget::keyBindingsForAction(name);
    }

    QString localizedActionName(const QString& name) const override {
        return find(name) ? name : QAccessibleWidget::localizedActionName(name);
    }

private:
    QAction* find(const QString& name) const {
        for (QAction* action : widget()->actions())
            if (PlainName(action) == name)
                return action;
        return nullptr;
    }
};

QAccessibleInterface* MakeChartAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("LiveChart") && object && object->isWidgetType())
        return new ChartAccessible(static_cast<LiveChart*>(object)); // Qt's cache owns it
    return nullptr;
}

void Notify(LiveChart* chart, QAccessible::Event change) {
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(chart, change);
    QAccessible::updateAccessibility(&event);
}

} // namespace

void InstallChartAccessibility() {
    static const bool installed = (QAccessible::installFactory(MakeChartAccessible), true);
    (void)installed;
}

void NotifyChartNameChanged(LiveChart* chart) {
    Notify(chart, QAccessible::NameChanged);
}

void NotifyChartDescriptionChanged(LiveChart* chart) {
    Notify(chart, QAccessible::DescriptionChanged);
}
