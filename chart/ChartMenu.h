// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The chart's context menu: copy the chart, save it as a PNG, save its points as
// CSV. It opens on a right click without a drag (a right drag does nothing, and
// the left button's drags zoom as before), on the Menu key and on Shift+F10; Ctrl+C
// copies while the chart has the focus. The actions are the chart's own, so that
// its accessible interface offers them to screen readers too.

#include <QObject>
#include <QPoint>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class LiveChart;
class QIODevice;
class QMenu;

class ChartMenu : public QObject {
    Q_OBJECT
public:
    /* Gives `chart` its menu and actions; owned by the chart. `samplePeriod` is the
       time between two points, for the ages in the saved data. */
    ChartMenu(LiveChart* chart, std::chrono::milliseconds samplePeriod);

    /* Puts the chart's picture on the clipboard, at the screen's density. */
    void CopyChart();
    /* Write the picture as PNG, or the points as CSV, to `path`; a failure is shown in a
       box with the reason and the path, and leaves nothing behind. True when written. */
    bool SaveChartTo(const QString& path);
    bool SaveDataTo(const QString& path);

    /* The menu, which pops up as described above. */
    QMenu* Menu() const { return m_menu; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void popUp(QPoint global);
    // Asks where to save, in the folder of this run's last save (else the home folder);
    // empty when cancelled.
    QString askPath(const QString& caption, const QString& suffix, const QString& filter);
    bool save(const QString& path, const QString& what,
              const std::function<bool(QIODevice&)>& write);

    LiveChart* m_chart;
    std::chrono::milliseconds m_samplePeriod;
    QMenu* m_menu;
    QString m_folder;
    // Where the right button went down, until it comes up.
    std::optional<QPoint> m_rightPress;
};
