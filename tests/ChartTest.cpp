// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// The chart widget on its own: the pixels it paints, when it repaints, zooming
// with the mouse and the keyboard, labels that fit, and what a screen reader hears.

#include "LiveChart.h"

#include <QAccessible>
#include <QApplication>
#include <QFontMetricsF>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr int LinePoints = 181;

// A chart at a size like the window's, shown, with 181 zero points per line.
struct Shown {
    LiveChart chart;
    Shown() {
        chart.resize(460, 250);
        chart.SetLineLength(LinePoints);
        chart.FillZeros();
        chart.show();
    }
    bool Exposed() { return QTest::qWaitForWindowExposed(&chart); }
    void Fill(ChartLine line, std::initializer_list<std::int32_t> values, int from = 0) {
        for (const std::int32_t v : values)
            chart.SetPoint(line, from++, v);
    }
    QColor Pixel(double x, double y) { return chart.grab().toImage().pixelColor(int(x), int(y)); }
    void Drag(QPoint from, QPoint to) {
        QTest::mousePress(&chart, Qt::LeftButton, {}, from);
        QTest::mouseMove(&chart, to);
        QTest::mouseRelease(&chart, Qt::LeftButton, {}, to);
    }
};

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

} // namespace

class ChartTest : public QObject {
    Q_OBJECT

private slots:
    void lineAtMaximumIsNotClipped() {
        Shown s;
        for (int i = 60; i <= 120; ++i)
            s.chart.SetPoint(ChartLine::Series1, i, 100);
        for (int i = 0; i < LinePoints; ++i)
            s.chart.SetPoint(ChartLine::Series2, i, 50);
        const QRect plot = s.chart.Frame().Plot();
        const FrameMaps& maps = s.chart.Frame().Maps();
        const QImage image = s.chart.grab().toImage();
        const int x = int(maps.bottom.ToPixel(90));
        QCOMPARE(image.pixelColor(x, plot.top()), QColor(255, 0, 0));
        QCOMPARE(image.pixelColor(x - 80, int(std::round(maps.left.ToPixel(50)))), QColor(0, 128, 0));

        // Zoomed into the middle, the plateau's edges rise beyond the plotting area, drawn there too.
        QTest::keyClick(&s.chart, Qt::Key_Plus);
        const QImage zoomed = s.chart.grab().toImage();
        int red = 0;
        for (int column = 0; column < zoomed.width(); ++column)
            red += zoomed.pixelColor(column, plot.top() - 3) == QColor(255, 0, 0) ? 1 : 0;
        QCOMPARE(red, 2);
    }

    void flatLineInTheMiddleWithOneLabel() {
        Shown s;
        for (int i = 0; i < LinePoints; ++i) {
            s.chart.SetPoint(ChartLine::Series1, i, 7);
            s.chart.SetPoint(ChartLine::Series2, i, 7);
        }
        const ChartFrame& frame = s.chart.Frame();
        const double middle = frame.Plot().top() + (frame.Plot().height() - 1) / 2.0;
        QCOMPARE(frame.Maps().left.ToPixel(7), middle);
        QCOMPARE(frame.RightLabels().ticks.count, 1);
        QCOMPARE(frame.RightLabels().text[0], QStringLiteral("7"));
        QCOMPARE(frame.Maps().right.ToPixel(frame.RightLabels().ticks.At(0)), middle);
        // Where the lines coincide, Series2 was painted last.
        QCOMPARE(s.Pixel(frame.Plot().center().x(), middle), QColor(0, 128, 0));
    }

    // Focus shows as an outline inside the bevel; the plotting area stays as it was.
    void focusOutlineFillsNothing() {
        Shown s;
        s.Fill(ChartLine::Series1, {0, 100, 50});
        QVERIFY(s.Exposed());
        s.chart.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&s.chart));
        s.chart.setFocus();
        QVERIFY(s.chart.hasFocus());
        const QImage focused = s.chart.grab().toImage();
        s.chart.clearFocus();
        const QImage before = s.chart.grab().toImage();
        const QRect plot = s.chart.Frame().Plot();
        QCOMPARE(focused.copy(plot), before.copy(plot));
        const int row = s.chart.contentsRect().top() + 1;
        int outline = 0;
        for (int x = 0; x < focused.width(); ++x)
            outline += focused.pixel(x, row) != before.pixel(x, row) ? 1 : 0;
        QVERIFY(outline > plot.width() / 3);
    }

    // A reset puts the right axis back on whole numbers while the left stays zoomed.
    void labelsAfterResetWhileZoomed() {
        Shown s;
        s.Fill(ChartLine::Series1, {0, 3});
        const auto labels = [&s] {
            const AxisLabels& right = s.chart.Frame().RightLabels();
            QStringList out;
            for (int i = 0; i < right.ticks.count; ++i)
                out << right.text[std::size_t(i)];
            return out.join(u' ');
        };
        QCOMPARE(labels(), QStringLiteral("0 1 2 3"));
        s.chart.Frame(); // the zoom reads the frame's maps
        QTest::keyClick(&s.chart, Qt::Key_Plus);
        QVERIFY(labels().contains(u'.'));
        s.chart.SetRightAxisAutomatic();
        QVERIFY(s.chart.IsZoomed());
        QCOMPARE(labels(), QStringLiteral("0 1 2 3"));
    }

    // One logical pixel wide at any density: across a level stretch and across a jump,
    // in device pixels of what is painted. Runs once more under QT_SCALE_FACTOR=2.
    void linesOneLogicalPixelWide() {
        Shown s;
        for (int i = 0; i < LinePoints; ++i)
            s.chart.SetPoint(ChartLine::Series2, i, i < 90 ? 10 : 90);
        s.chart.SetPoint(ChartLine::Series1, 0, 100); // keeps the range 0..100
        const QImage image = s.chart.grab().toImage();
        const double ratio = image.devicePixelRatio();
        const ChartFrame& frame = s.chart.Frame();
        const QColor green = s.chart.Colours().lines[1];
        const int expected = std::max(1, int(std::lround(ratio)));
        const auto run = [&](QPoint from, QPoint step) {
            int longest = 0, length = 0;
            for (QPoint p = from; image.rect().contains(p); p += step) {
                length = image.pixelColor(p) == green ? length + 1 : 0;
                longest = std::max(longest, length);
            }
            return longest;
        };
        // Down a column through the level stretch at 10, and along a row through the jump.
        const int column = int(frame.Maps().bottom.ToPixel(45) * ratio);
        QCOMPARE(run({column, 0}, {0, 1}), expected);
        const int row = int(frame.Maps().left.ToPixel(50) * ratio);
        QCOMPARE(run({0, row}, {1, 0}), expected);
    }

    void repaintsOnlyWhatChanged() {
        Shown s;
        QVERIFY(s.Exposed());
        PaintCounter counter;
        s.chart.installEventFilter(&counter);
        QCoreApplication::processEvents();
        counter.paints = 0;
        for (int i = 0; i < LinePoints; ++i)
            s.chart.SetPoint(ChartLine::Series1, i, 0); // what it holds already
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 0);
        for (int i = 0; i < LinePoints; ++i)
            s.chart.SetPoint(ChartLine::Series2, i, i);
        QCoreApplication::processEvents();
        QCOMPARE(counter.paints, 1);
    }

    // A tick repaints part of the chart; what the screen then shows must be the pixels of
    // a chart painted whole in the same state, on ticks that move a range and ticks
    // that do not. Runs once more under QT_SCALE_FACTOR=2.
    void partialRepaintsLeaveNothingStale_data() {
        QTest::addColumn<bool>("zoomed");
        QTest::newRow("unzoomed") << false;
        QTest::newRow("zoomed") << true;
    }
    void partialRepaintsLeaveNothingStale() {
        QFETCH(bool, zoomed);
        // The same start in both: a range to zoom into, and no focus outline on only one.
        const auto start = [zoomed](Shown& s) {
            s.chart.setFocusPolicy(Qt::NoFocus);
            s.Fill(ChartLine::Series1, {0, 40});
            if (zoomed) { // the lines reach out of the plotting area; the right axis follows them
                QTest::keyClick(&s.chart, Qt::Key_Plus);
                s.chart.SetRightAxisAutomatic();
            }
            return s.Exposed();
        };
        const auto onScreen = [](QWidget& w) {
            return w.screen()->grabWindow(w.winId()).toImage().convertToFormat(QImage::Format_RGB32);
        };
        Shown ticking;
        QVERIFY(start(ticking));
        QCOMPARE(ticking.chart.IsZoomed(), zoomed);
        // Scrolls both lines by one point; every fourth tick a new maximum moves the range.
        std::uint32_t step = 1;
        int rangeMoved = 0, rangeKept = 0;
        for (int tick = 0; tick < 12; ++tick) {
            const ShownRanges before = ticking.chart.Ranges();
            for (const ChartLine line : {ChartLine::Series1, ChartLine::Series2}) {
                const auto points = ticking.chart.Points(line);
                for (int i = 0; i + 1 < LinePoints; ++i)
                    ticking.chart.SetPoint(line, i, points[std::size_t(i) + 1]);
                step = (step * 37 + 11) % 101;
                ticking.chart.SetPoint(line, LinePoints - 1,
                                       tick % 4 == 3 ? 50 + 10 * tick : std::int32_t(step % 40));
            }
            QCoreApplication::processEvents();
            (ticking.chart.Ranges() == before ? rangeKept : rangeMoved) += 1;

            Shown whole; // painted whole, from nothing
            QVERIFY(start(whole));
            for (const ChartLine line : {ChartLine::Series1, ChartLine::Series2})
                for (int i = 0; i < LinePoints; ++i)
                    whole.chart.SetPoint(line, i, ticking.chart.Points(line)[std::size_t(i)]);
            whole.chart.repaint();
            QCOMPARE(onScreen(ticking.chart), onScreen(whole.chart));
        }
        QVERIFY(rangeMoved >= 3 && rangeKept >= 3);
    }



    void zoomByDragging_data() {
        QTest::addColumn<bool>("zoomedBefore");
        QTest::addColumn<QPoint>("drag");
        QTest::addColumn<bool>("zoomedAfter");
        QTest::newRow("right 17, down 17: zooms") << false << QPoint(17, 17) << true;
        QTest::newRow("right 16, down 40: nothing") << false << QPoint(16, 40) << false;
        QTest::newRow("left 17, up 17: restores") << true << QPoint(-17, -17) << false;
        QTest::newRow("right 17, up 17: restores") << true << QPoint(17, -17) << false;
        QTest::newRow("left 40, down 40: restores") << true << QPoint(-40, 40) << false;
        QTest::newRow("right 10, down 10: nothing") << true << QPoint(10, 10) << true;
    }
    void zoomByDragging() {
        QFETCH(bool, zoomedBefore);
        QFETCH(QPoint, drag);
        QFETCH(bool, zoomedAfter);
        Shown s;
        QVERIFY(s.Exposed());
        s.Fill(ChartLine::Series1, {0, 100, 50, 20, 80});
        const QRect plot = s.chart.Frame().Plot();
        if (zoomedBefore) {
            s.Drag(plot.topLeft() + QPoint(10, 10), plot.center());
            QVERIFY(s.chart.IsZoomed());
        }
        const ShownRanges before = s.chart.Ranges();

        s.Drag(plot.center(), plot.center() + drag);

        const ShownRanges after = s.chart.Ranges();
        QCOMPARE(s.chart.IsZoomed(), zoomedAfter);
        if (zoomedAfter == zoomedBefore) {
            QVERIFY(after == before);
        } else if (zoomedAfter) {
            QVERIFY(after.left.Span() < 100 && after.bottom.Span() < 180);
            QVERIFY(after.right == after.left);
        } else {
            QVERIFY((after == ShownRanges{{0, 180}, {0, 100}, {0, 100}}));
        }
    }

    void keyboardZoom() {
        Shown s;
        s.Fill(ChartLine::Series1, {0, 100});
        s.chart.setFocus();
        QTest::keyClick(&s.chart, Qt::Key_Plus);
        QVERIFY((s.chart.Ranges() == ShownRanges{{45, 135}, {25, 75}, {25, 75}}));
        QTest::keyClick(&s.chart, Qt::Key_Plus);
        QCOMPARE(s.chart.Ranges().bottom.Span(), 45.0);
        QTest::keyClick(&s.chart, Qt::Key_Backspace);
        QVERIFY((s.chart.Ranges() == ShownRanges{{0, 180}, {0, 100}, {0, 100}}));
        QTest::keyClick(&s.chart, Qt::Key_Plus);
        QTest::keyClick(&s.chart, Qt::Key_Minus);
        QVERIFY(!s.chart.IsZoomed());
    }

    // The widest values fit beside the plotting area, and no two labels touch.
    void labelsNeverOverlap_data() {
        QTest::addColumn<int>("lo");
        QTest::addColumn<int>("hi");
        QTest::addColumn<QSize>("size");
        const int min = std::numeric_limits<std::int32_t>::min();
        const int max = std::numeric_limits<std::int32_t>::max();
        QTest::newRow("whole 32-bit range") << min << max << QSize(460, 250);
        QTest::newRow("negative, small window") << min << -5 << QSize(300, 120);
        QTest::newRow("percent, tall window") << 0 << 100 << QSize(900, 900);
    }
    void labelsNeverOverlap() {
        QFETCH(int, lo);
        QFETCH(int, hi);
        QFETCH(QSize, size);
        Shown s;
        s.chart.resize(size);
        s.Fill(ChartLine::Series2, {lo, hi});
        const ChartFrame& frame = s.chart.Frame();
        const QFontMetricsF metrics(ChartLook::TextFont());
        const AxisLabels& right = frame.RightLabels();
        QVERIFY(right.ticks.count >= 2);
        for (int i = 0; i < right.ticks.count; ++i) {
            const double end = frame.Plot().right() + 8 + metrics.horizontalAdvance(right.text[std::size_t(i)]);
            QVERIFY2(end <= frame.LegendArea().left(), qPrintable(right.text[std::size_t(i)]));
            if (i > 0)
                QVERIFY(frame.Maps().right.ToPixel(right.ticks.At(i - 1)) -
                            frame.Maps().right.ToPixel(right.ticks.At(i)) >= metrics.height());
        }
        const AxisLabels& bottom = frame.BottomLabels();
        for (int i = 1; i < bottom.ticks.count; ++i) {
            const double apart = frame.Maps().bottom.ToPixel(bottom.ticks.At(i)) -
                                 frame.Maps().bottom.ToPixel(bottom.ticks.At(i - 1));
            const double needed = (metrics.horizontalAdvance(bottom.text[std::size_t(i)]) +
                                   metrics.horizontalAdvance(bottom.text[std::size_t(i - 1)])) / 2;
            QVERIFY(apart > needed);
        }
    }

    // The colours a palette brings, by their contrast against the chart's background.
    void coloursReadableInEveryPalette_data() {
        QTest::addColumn<QPalette>("palette");
        QTest::addColumn<bool>("design");
        QTest::newRow("light") << QPalette(QColor(240, 240, 240)) << true;
        std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
        QTest::newRow("Fusion") << fusion->standardPalette() << true;
        QPalette dark(QColor(0x35, 0x35, 0x35));
        dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xec));
        QTest::newRow("dark") << dark << false;
        QTest::newRow("dark, Qt's own roles") << QPalette(Qt::gray, QColor(0x20, 0x20, 0x20)) << false;
    }
    void coloursReadableInEveryPalette() {
        QFETCH(QPalette, palette);
        QFETCH(bool, design);
        Shown s;
        s.chart.setPalette(palette); // a change while it runs
        const ChartColours& c = s.chart.Colours();
        const QColor back = palette.color(QPalette::Window);
        QCOMPARE(c.background, back);
        qInfo("text %.2f, title %.2f, Series1 %.2f, Series2 %.2f", ContrastRatio(c.text, back),
              ContrastRatio(c.title, back), ContrastRatio(c.lines[0], back),
              ContrastRatio(c.lines[1], back));
        if (design) {
            QCOMPARE(c.text, QColor(0, 0, 0));
            QCOMPARE(c.title, QColor(0, 0, 255));
            QCOMPARE(c.lines[0], QColor(255, 0, 0));
            QCOMPARE(c.lines[1], QColor(0, 128, 0));
        } else {
            QVERIFY(ContrastRatio(c.text, back) >= 4.5);
            QVERIFY(ContrastRatio(c.title, back) >= 4.5);
            QVERIFY(ContrastRatio(c.lines[0], back) >= 3);
            QVERIFY(ContrastRatio(c.lines[1], back) >= 3);
            QCOMPARE(c.title.hue(), 240);
            QCOMPARE(c.lines[0].hue(), 0);
            QCOMPARE(c.lines[1].hue(), 120);
            if (ContrastRatio(palette.color(QPalette::WindowText), back) >= 4.5)
                QCOMPARE(c.text, palette.color(QPalette::WindowText));
        }
        // What is painted: the flat line (Series2 on top), the legend's swatch of Series1.
        const QImage image = s.chart.grab().toImage();
        const ChartFrame& frame = s.chart.Frame();
        QCOMPARE(image.pixelColor(frame.Plot().center().x(), int(std::round(frame.Maps().left.ToPixel(0)))),
                 c.lines[1]);
        const QRectF legend = frame.LegendArea();
        QCOMPARE(image.pixelColor(int(legend.left()) + 10, int(legend.top() + 4 + QFontMetricsF(ChartLook::TextFont()).height() / 2)),
                 c.lines[0]);
    }

    void titleIsLiteralAndHeard() {
        Shown s;
        QCOMPARE(s.chart.TitleText(), QStringLiteral("Title goes here"));
        s.chart.SetTitleLines(QStringLiteral("Server Caching Stats"), QStringLiteral("R&D <b>2</b>"));
        s.chart.SetSeriesTitles(QStringLiteral("Cache requests"), QStringLiteral("Cache hits"));
        s.Fill(ChartLine::Series1, {5, 37});
        s.Fill(ChartLine::Series2, {3, 12});
        s.chart.SetNewestIndex(1);
        QCOMPARE(s.chart.TitleText(), QStringLiteral("Server Caching Stats\nR&D <b>2</b>"));

        QAccessibleInterface* heard = QAccessible::queryAccessibleInterface(&s.chart);
        QVERIFY(heard);
        QCOMPARE(heard->role(), QAccessible::Chart);
        QCOMPARE(heard->text(QAccessible::Name), QStringLiteral("Server Caching Stats, R&D <b>2</b>"));
        QCOMPARE(heard->text(QAccessible::Description),
                 QStringLiteral("Cache requests: 37. Cache hits: 12. Shown range 0 to 37."));
    }
};

QTEST_MAIN(ChartTest)
#include "ChartTest.moc"
