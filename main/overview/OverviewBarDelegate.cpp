// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "OverviewBarDelegate.h"

#include "OverviewModel.h"
#include "OverviewSummary.h"

#include <QApplication>
#include <QPainter>

#include <algorithm>

namespace {

constexpr int Gap = 4;
constexpr int BarRoom = 80; // the longest bar, in pixels, when the column is wide enough

// The number takes the room of the widest one, so that the bars start in one line.
int NumberWidth(const QStyleOptionViewItem& option) {
    return option.fontMetrics.horizontalAdvance(QStringLiteral("100.0")) + Gap;
}

} // namespace

void OverviewBarDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    QStyleOptionViewItem plain = option;
    initStyleOption(&plain, index);
    const QString number = plain.text;
    plain.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &plain, painter, widget); // background, focus

    const QRect cell = option.rect.adjusted(Gap, 2, -Gap, -2);
    const QRect numberRect(cell.left(), cell.top(), NumberWidth(option), cell.height());
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorRole textRole = selected ? QPalette::HighlightedText : QPalette::Text;
    painter->save();
    painter->setPen(option.palette.color(QPalette::Active, textRole));
    painter->drawText(numberRect.adjusted(0, 0, -Gap, 0), Qt::AlignRight | Qt::AlignVCenter, number);

    const double value = index.data(OverviewModel::SortRole).toDouble();
    const int room = std::min(BarRoom, cell.right() - numberRect.right());
    if (value > 0 && room > 0) {
        const int length = std::max(1, int(room * std::min(value, 100.0) / 100.0 + 0.5));
        const QRect bar(numberRect.right() + 1, cell.top() + cell.height() / 4, length,
                        std::max(2, cell.height() / 2));
        // Hot servers in a colour of their own; the rest in the palette's, which suits light
        // and dark themes alike.
        const QColor colour = value > OverviewHotPercent ? QColor(0xD0, 0x30, 0x30)
                              : selected ? option.palette.color(QPalette::HighlightedText)
                                         : option.palette.color(QPalette::Highlight);
        painter->fillRect(bar, colour);
    }
    painter->restore();
}

QSize OverviewBarDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(std::max(size.width(), NumberWidth(option) + BarRoom / 2 + 3 * Gap));
    return size;
}
