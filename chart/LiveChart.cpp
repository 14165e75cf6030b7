// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "LiveChart.h"

#include "ChartAccessible.h"
#include "ChartLines.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRubberBand>

#include <algorithm>
#include <cmath>

namespace {

std::size_t LineIndex(ChartLine line) {
    return line == ChartLine::Series1 ? 0 : 1;
}

} // namespace

LiveChart::LiveChart(QWidget* parent)
    : QFrame(parent), m_rubberBand(new QRubberBand(QRubberBand::Rectangle, this)) {
    InstallChartAccessibility();
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setFocusPolicy(Qt::StrongFocus);
    // Every paint covers what it repaints with the cached frame.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_texts.title[0] = QStringLiteral("Title goes here");
    m_texts.series = {QStringLiteral("Packets Out"), QStringLiteral("Packets In")};
    paletteChanged();
    setToolTip(tr("Drag right and down to zoom in; drag any other way to restore.\n"
                  "Keyboard: + zooms in, - restores."));
}

void LiveChart::SetLineLength(int points) {
    const auto length = std::size_t(std::max(points, 0));
    for (auto& line : m_values)
        line.assign(length, 0);
    for (auto& line : m_devicePixels)
        line.resize(length);
    m_pixels.resize(length);
    ClearPoints();
}

void LiveChart::SetPoint(ChartLine line, int index, std::int32_t value) {
    if (m_pointCount == 0 || index < 0 || index >= m_pointCount)
        return;
    std::int32_t& point = m_values[LineIndex(line)][std::size_t(index)];
    if (point == value)
        return;
    point = value;
    linesChanged();
}

void LiveChart::ClearPoints() {
    m_pointCount = 0;
    changed();
}

void LiveChart::FillZeros() {
    for (auto& line : m_values)
        std::fill(line.begin(), line.end(), 0);
    m_pointCount = LineLength();
    changed();
}

void LiveChart::SetTitleLines(const QString& first, const std::optional<QString>& second) {
    m_texts.title = {first, second.value_or(QString())};
    m_texts.titleLines = second ? 2 : 1;
    textsChanged();
    NotifyChartNameChanged(this);
}

void LiveChart::SetSeriesTitles(const QString& first, const QString& second) {
    m_texts.series = {first, second};
    textsChanged();
}

void LiveChart::SetRightAxisAutomatic() {
    m_zoom.SetRightAutomatic();
    changed();
}

std::span<const std::int32_t> LiveChart::Points(ChartLine line) const {
    return std::span(m_values[LineIndex(line)]).first(std::size_t(m_pointCount));
}

QString LiveChart::TitleText() const {
    return m_texts.titleLines == 2 ? m_texts.title[0] + u'\n' + m_texts.title[1] : m_texts.title[0];
}

QString LiveChart::SeriesTitle(ChartLine line) const {
    return m_texts.series[LineIndex(line)];
}

ShownRanges LiveChart::Ranges() const {
    return m_zoom.Resolve(dataRange(), {0, double(std::max(LineLength() - 1, 0))});
}

const ChartFrame& LiveChart::Frame() {
    ensureLayout(Ranges());
    return m_frame;
}

void LiveChart::SetNotice(const QString& notice) {
    if (notice == m_notice)
        return;
    m_notice = notice;
    changed();
    NotifyChartDescriptionChanged(this);
}

QImage LiveChart::Image() {
    m_imaging = true;
    QImage image = grab().toImage();
    m_imaging = false;
    return image;
}

QString LiveChart::AccessibleName() const {
    return m_texts.titleLines == 2 ? m_texts.title[0] + QStringLiteral(", ") + m_texts.title[1]
                                   : m_texts.title[0];
}

QString LiveChart::AccessibleDescription() const {
    if (!m_notice.isEmpty())
        return m_notice;
    if (m_pointCount == 0)
        return tr("No points.");
    QString text;
    for (const ChartLine line : {ChartLine::Series1, ChartLine::Series2}) {
        const QString value = m_newest < 0 || m_newest >= m_pointCount
                                  ? tr("no samples yet")
                                  : QString::number(Points(line)[std::size_t(m_newest)]);
        text += tr("%1: %2. ").arg(SeriesTitle(line), value);
    }
    const ValueRange shown = Ranges().right;
    return text + tr("Shown range %1 to %2.").arg(shown.lo).arg(shown.hi);
}

ValueRange LiveChart::dataRange() const {
    if (m_pointCount == 0)
        return {0, 0};
    // Both lines count, including one whose check box froze it.
    const auto [lo0, hi0] = std::minmax_element(m_values[0].begin(), m_values[0].end());
    const auto [lo1, hi1] = std::minmax_element(m_values[1].begin(), m_values[1].end());
    return {double(std::min(*lo0, *lo1)), double(std::max(*hi0, *hi1))};
}

void LiveChart::ensureLayout(const ShownRanges& ranges) {
    const LayoutKey key{size(), ranges, m_pointCount > 0, m_zoom.Zoomed(), m_textsVersion};
    if (m_layoutKey == key)
        return;
    m_frame.Layout(contentsRect(), ChartLook::TextFont(), m_texts, ranges, key.hasPoints, key.zoomed);
    m_layoutKey = key;
}

QRect LiveChart::LinesArea() const {
    // One pixel more right and down, where a fractional density's second copy of a line
    // may reach; zoomed, a line cut at the bevel's inner edge may touch the bevel.
    return IsZoomed() ? rect() : m_frame.Plot().adjusted(0, 0, 1, 1);
}

LiveChart::PixmapKey LiveChart::currentPixmapKey() const {
    return {*m_layoutKey, devicePixelRatioF(), hasFocus() && !m_imaging, m_styleVersion,
            m_frame.Plot(), m_frame.LegendArea(), m_frame.BottomLabels().ticks};
}

QRect LiveChart::staleFrameArea() const {
    if (!m_pixmapKey)
        return rect();
    const PixmapKey key = currentPixmapKey();
    if (*m_pixmapKey == key)
        return {};
    // A range that moved and left everything else in place redraws its axis and the grid.
    PixmapKey moved = key;
    moved.layout.ranges = m_pixmapKey->layout.ranges;
    return moved == *m_pixmapKey ? m_frame.RangeArea() : rect();
}

QRect LiveChart::settle() {
    ensureLayout(Ranges());
    return staleFrameArea() | (m_pointCount > 0 ? LinesArea() : QRect());
}

void LiveChart::ensurePixmap() {
    const QRect stale = staleFrameArea();
    if (stale.isEmpty())
        return;
    const PixmapKey key = currentPixmapKey();
    if (stale == rect()) {
        // Drawn at the screen's density, so that it stays sharp on high-density screens.
        m_pixmap = QPixmap(size() * key.pixelRatio);
        m_pixmap.setDevicePixelRatio(key.pixelRatio);
    }
    QPainter painter(&m_pixmap);
    painter.setClipRect(stale);
    painter.fillRect(stale, m_colours.background);
    drawFrame(&painter);
    m_frame.Paint(painter, ChartLook::TextFont(), m_texts, m_colours, stale);
    if (key.focused) {
        // A dotted outline just inside the bevel: a style's focus frame may fill what it
        // surrounds, and the plotting area stays unfilled.
        QPen dotted(m_colours.text, 1, Qt::DotLine);
        dotted.setCosmetic(true);
        painter.setPen(dotted);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(contentsRect()).adjusted(1.5, 1.5, -1.5, -1.5));
    }
    m_pixmapKey = key;
}

bool LiveChart::eventFilter(QObject* watched, QEvent* event) {
    // The window is about to paint what was marked: a tick that moved a range adds its
    // axis now, so that the one paint covers it.
    if (watched == m_watchedWindow && event->type() == QEvent::UpdateRequest && m_repaintPending &&
        isVisible())
        update(settle());
    return QFrame::eventFilter(watched, event);
}

void LiveChart::showEvent(QShowEvent* event) {
    QFrame::showEvent(event);
    if (m_watchedWindow != window()) {
        if (m_watchedWindow)
            m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = window();
        m_watchedWindow->installEventFilter(this);
    }
}

void LiveChart::paintEvent(QPaintEvent* event) {
    // A paint that the window's update request did not settle (an expose, a grab) still
    // leaves nothing stale: what it does not cover is painted next.
    const QRect needed = m_repaintPending ? settle() : staleFrameArea();
    m_repaintPending = false;
    if (!needed.isEmpty() && !event->rect().contains(needed))
        update(QRegion(needed) - event->region());
    ensurePixmap();
    QPainter painter(this);
    // Clipped to what this paint covers: the copy is of that part alone.
    painter.drawPixmap(0, 0, m_pixmap);
    if (m_pointCount > 0 && event->rect().intersects(LinesArea()))
        drawLines(painter);
    // Whatever is drawn over the lines goes here, inside LinesArea(): every tick repaints
    // that. Something that changes it between ticks asks for update(LinesArea()).
    if (!m_notice.isEmpty())
        drawNotice(painter);
}

void LiveChart::drawNotice(QPainter& painter) const {
    // At the top of the plotting area, on the background, so that no line crosses it;
    // wrapped rather than cut where the area is narrow.
    const QRect plot = m_frame.Plot().adjusted(4, 4, -4, -4);
    painter.setFont(ChartLook::TextFont());
    const int flags = Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap;
    const QRect text = painter.boundingRect(plot, flags, m_notice);
    painter.fillRect(text.adjusted(-4, -2, 4, 2), m_colours.background);
    painter.setPen(m_colours.text);
    painter.drawText(text, flags, m_notice);
}

bool LiveChart::placeLines() {
    const qreal ratio = devicePixelRatioF();
    if (ratio != std::round(ratio))
        return false;
    const FrameMaps& maps = m_frame.Maps();
    const QRect bounds = contentsRect();
    for (const ChartLine line : {ChartLine::Series1, ChartLine::Series2}) {
        const auto& values = m_values[LineIndex(line)];
        auto& pixels = m_devicePixels[LineIndex(line)];
        int& placed = m_placed[LineIndex(line)];
        placed = 0;
        for (std::size_t x = 0; x < std::size_t(m_pointCount); ++x) {
            const double px = std::round(maps.bottom.ToPixel(double(x)));
            const double py = std::round(maps.left.ToPixel(values[x]));
            // Compared before the conversion, which a point zoomed far away would overflow.
            if (!(px >= bounds.left() && px <= bounds.right() && py >= bounds.top() &&
                  py <= bounds.bottom()))
                return false;
            const QPoint p = QPoint(int(px), int(py)) * ratio;
            // A level stretch is one segment, whatever its number of points: the same
            // pixels, less work.
            const auto at = [&](int back) { return pixels[std::size_t(placed - back)]; };
            if (placed >= 2 && at(1).y() == p.y() && at(2).y() == p.y())
                pixels[std::size_t(placed - 1)] = p;
            else
                pixels[std::size_t(placed++)] = p;
        }
    }
    return true;
}

void LiveChart::drawLines(QPainter& painter) {
    // A line is one logical pixel wide: on a dense screen, as many one-pixel polylines as
    // a logical pixel has device pixels, each one device pixel further right and down.
    // That stays on Qt's fast path for thin pens; one wide pen would be slower and would
    // not give the same pixels.
    const qreal ratio = devicePixelRatioF();
    const double device = 1 / ratio;
    const int copies = std::max(1, int(std::lround(ratio)));
    // In the legend's order, so that where the lines meet the second shows on top.
    if (placeLines()) {
        // Whole device pixels, drawn on their centres as the cut lines below are: a
        // polyline of QPoints, uncut, is the cheapest that Qt draws.
        for (const ChartLine line : {ChartLine::Series1, ChartLine::Series2}) {
            painter.setPen(m_pens[LineIndex(line)]);
            for (int copy = 0; copy < copies; ++copy) {
                painter.setWorldTransform(
                    QTransform::fromScale(device, device).translate(copy + 0.5, copy + 0.5));
                painter.drawPolyline(m_devicePixels[LineIndex(line)].data(), m_placed[LineIndex(line)]);
            }
        }
        painter.resetTransform();
        return;
    }
    const FrameMaps& maps = m_frame.Maps();
    // Lines are not cut at the plotting area, only at the bevel.
    const QRectF bounds = contentsRect();
    std::vector<QPointF>& points = m_pixels;
    for (const ChartLine line : {ChartLine::Series1, ChartLine::Series2}) {
        const auto& values = m_values[LineIndex(line)];
        for (std::size_t x = 0; x < points.size(); ++x)
            // On the centre of a logical pixel's first device pixel, so that a level
            // stretch fills whole rows of the logical pixel.
            points[x] = QPointF(std::round(maps.bottom.ToPixel(double(x))) + device / 2,
                                std::round(maps.left.ToPixel(values[x])) + device / 2);
        painter.setPen(m_pens[LineIndex(line)]);
        for (int copy = 0; copy < copies; ++copy) {
            painter.setTransform(QTransform::fromTranslate(copy * device, copy * device));
            DrawLineWithin(painter, points, bounds);
        }
        painter.resetTransform();
    }
}

void LiveChart::linesChanged() {
    if (!m_repaintPending) {
        m_repaintPending = true;
        update(LinesArea());
    }
}

void LiveChart::changed() {
    m_repaintPending = true;
    update();
}

void LiveChart::textsChanged() {
    ++m_textsVersion;
    changed();
}

void LiveChart::paletteChanged() {
    m_colours = ColoursFor(palette());
    for (std::size_t i = 0; i < m_pens.size(); ++i) {
        // One pixel wide and without antialiasing, which Qt draws on its fast path
        // (wider pens cost a hundred times as much on a jagged line, and antialiased
        // short segments come out dotted).
        m_pens[i] = QPen(m_colours.lines[i], 1);
        m_pens[i].setCosmetic(true);
    }
}

void LiveChart::changeEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::PaletteChange:
        paletteChanged();
        ++m_styleVersion;
        changed();
        break;
    case QEvent::StyleChange:
    case QEvent::EnabledChange:
        ++m_styleVersion;
        changed();
        break;
    default:
        break;
    }
    QFrame::changeEvent(event);
}

void LiveChart::focusInEvent(QFocusEvent* event) {
    QFrame::focusInEvent(event);
    changed();
}

void LiveChart::focusOutEvent(QFocusEvent* event) {
    QFrame::focusOutEvent(event);
    changed();
}

void LiveChart::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Plus:
        m_zoom.ZoomIntoMiddle(Frame().Maps());
        changed();
        break;
    case Qt::Key_Minus:
    case Qt::Key_Backspace:
        m_zoom.Restore();
        changed();
        break;
    default:
        QFrame::keyPressEvent(event);
    }
}

void LiveChart::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QFrame::mousePressEvent(event);
    m_dragStart = event->position().toPoint();
    m_rubberBand->setGeometry(QRect(*m_dragStart, QSize()));
    m_rubberBand->show();
}

void LiveChart::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragStart)
        m_rubberBand->setGeometry(QRect(*m_dragStart, event->position().toPoint()).normalized());
}

void LiveChart::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_dragStart)
        return QFrame::mouseReleaseEvent(event);
    const QPoint start = *m_dragStart;
    const QPoint end = event->position().toPoint();
    m_dragStart.reset();
    m_rubberBand->hide();

    switch (ClassifyDrag(end.x() - start.x(), end.y() - start.y())) {
    case DragOutcome::ZoomIn:
        m_zoom.ZoomTo({double(start.x()), double(start.y()), double(end.x()), double(end.y())},
                      Frame().Maps());
        changed();
        break;
    case DragOutcome::Restore:
        m_zoom.Restore();
        changed();
        break;
    case DragOutcome::Nothing:
        break;
    }
}
