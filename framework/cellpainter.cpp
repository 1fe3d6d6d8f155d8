#include "framework/cellpainter.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <algorithm>
#include <cmath>

#include "framework/gbk.h"
#include "framework/textcells.h"

namespace detail {

void CellPainter::paint(QPainter* painter, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const {
    const ListRowStore::Row* row = store_.ViewRowData(index.row());
    if (!row) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const bool selected = option.state & QStyle::State_Selected;
    const bool plain = !selected && !(option.state & QStyle::State_MouseOver);
    // The grid lines at the cell's right and bottom edge stay in view, as
    // a table that draws its own grid leaves them.
    const int grid = showsGrid_() ? 1 : 0;
    const QRect cellRect = option.rect.adjusted(0, 0, -grid, -grid);
    // A plain cell's panel is the viewport's background, already painted.
    if (!plain) {
        QStyleOptionViewItem panel(option);
        panel.features = QStyleOptionViewItem::HasDisplay;
        panel.rect = cellRect;
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);
    }
    if (textMargin_ < 0) {
        textMargin_ = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    }
    const QRect textRect = cellRect.adjusted(textMargin_, 0, -textMargin_, 0);
    const LaidText& laid = *Laid(*row, index.column(), textRect.width(), option.font).laid;
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Normal
                                                                               : QPalette::Inactive;
    if (!laid.shown.text().isEmpty() && laid.shown.lineCount() > 0) {
        const QColor ink =
            option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
        const QBrush& paper = option.palette.brush(group, QPalette::Base);
        const qreal y = textRect.top() + (textRect.height() - laid.shown.lineAt(0).height()) / 2;
        const bool again = laid.paints++ > 0;
        if (plain && paper.style() == Qt::SolidPattern && again) {
            DrawSprite(*painter, laid, textRect, y - textRect.top(), ink, paper.color(),
                       option.font);
        } else {
            painter->save();
            painter->setPen(ink);
            painter->setFont(option.font);
            painter->setClipRect(textRect, Qt::IntersectClip);
            laid.shown.draw(painter, QPointF(textRect.left(), y));
            painter->restore();
        }
    }
    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        QStyleOptionViewItem item(option);
        item.rect = cellRect;
        focus.rect = style->subElementRect(QStyle::SE_ItemViewItemFocusRect, &item, widget);
        focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
        focus.backgroundColor =
            option.palette.color(group, selected ? QPalette::Highlight : QPalette::Window);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
}

void CellPainter::DrawSprite(QPainter& painter, const LaidText& laid, const QRect& textRect,
                             qreal textTop, const QColor& ink, const QColor& paper,
                             const QFont& font) {
    const qreal ratio = painter.device()->devicePixelRatioF();
    const int width = std::min(
        static_cast<int>(std::ceil(laid.shown.lineAt(0).naturalTextWidth())) + 1, textRect.width());
    const QSize size(std::max(width, 1), std::max(textRect.height(), 1));
    if (laid.sprite.isNull() || laid.ink != ink.rgba() || laid.paper != paper.rgba() ||
        laid.spriteTop != textTop || laid.sprite.devicePixelRatio() != ratio ||
        laid.sprite.size() != size * ratio) {
        QImage sprite(size * ratio, QImage::Format_RGB32);
        sprite.setDevicePixelRatio(ratio);
        sprite.fill(paper);
        QPainter p(&sprite);
        p.setPen(ink);
        p.setFont(font);
        laid.shown.draw(&p, QPointF(0, textTop));
        p.end();
        laid.sprite = std::move(sprite);
        laid.ink = ink.rgba();
        laid.paper = paper.rgba();
        laid.spriteTop = textTop;
    }
    painter.drawImage(textRect.topLeft(), laid.sprite);
}

const RowPaint::Cell& CellPainter::Laid(const ListRowStore::Row& row, int column, int width,
                                        const QFont& font) const {
    if (!row.paint) {
        row.paint = std::make_unique<RowPaint>();
    }
    auto& cells = row.paint->cells;
    if (cells.size() <= static_cast<size_t>(column)) {
        cells.resize(static_cast<size_t>(column) + 1);
    }
    RowPaint::Cell& cell = cells[static_cast<size_t>(column)];
    const int generation = store_.PaintGeneration();
    if (cell.generation == generation && cell.width == width) {
        return cell;
    }
    if (generation != generation_) {
        recent_.clear();
        generation_ = generation;
    }
    const std::string_view bytes = row.cells.Cell(column);
    std::string& key = key_;
    key.assign(reinterpret_cast<const char*>(&width), sizeof width);
    key.append(bytes);
    auto found = recent_.find(key);
    if (found == recent_.end()) {
        if (recent_.size() >= kRecent) {
            recent_.clear();  // a crude bound: texts of the rows on show come back at once
        }
        found = recent_.emplace(key, Make(bytes, width, font)).first;
    }
    cell.laid = found->second;
    cell.width = width;
    cell.generation = generation;
    return cell;
}

std::shared_ptr<const LaidText> CellPainter::Make(std::string_view bytes, int width,
                                                  const QFont& font) {
    auto made = std::make_shared<LaidText>();
    made->text = FromGbk(bytes);
    LayShownLine(made->shown, made->text, width, font);
    return made;
}

}  // namespace detail
