// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ChartAccessible.h"

#include "LiveChart.h"

#include <QAccessibleWidget>

namespace {

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
};

QAccessibleInterface* MakeChartAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("LiveChart") && object && object->isWidgetType())
        return new ChartAccessible(static_cast<LiveChart*>(object)); // Qt's cache owns it
    return nullptr;
}

} // namespace

void InstallChartAccessibility() {
    static const bool installed = (QAccessible::installFactory(MakeChartAccessible), true);
    (void)installed;
}

void NotifyChartNameChanged(LiveChart* chart) {
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(chart, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}
