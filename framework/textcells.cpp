#include "framework/textcells.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

QString FirstLineShown(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator) {
            return text.left(i) + QChar(0x2026);
        }
    }
    return text;
}

void TextCells::paint(QPainter* painter, const QStyleOptionViewItem& option,
                      const QModelIndex& index) const {
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const bool selected = option.state & QStyle::State_Selected;
    QStyleOptionViewItem panel(option);
    panel.features |= QStyleOptionViewItem::HasDisplay;
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);

    if (textMargin_ < 0) {
        textMargin_ = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    }
    const QRect textRect = option.rect.adjusted(textMargin_, 0, -textMargin_, 0);
    const QString text = index.data(Qt::DisplayRole).toString();
    if (!text.isEmpty() && textRect.width() > 0) {
        const QVariant align = index.data(Qt::TextAlignmentRole);
        const Qt::Alignment alignment = QStyle::visualAlignment(
            option.direction,
            align.isValid() ? align.value<Qt::Alignment>() : Qt::AlignLeft | Qt::AlignVCenter);
        const QTextLayout& shown = Shown(text, textRect.width(), alignment, option.font);
        if (shown.lineCount() > 0) {
            const QPalette::ColorGroup group =
                !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                : (option.state & QStyle::State_Active) ? QPalette::Normal
                                                        : QPalette::Inactive;
            // Placed as the stock delegate places it: the line's whole pixels.
            const QRect placed = QStyle::alignedRect(
                option.direction, alignment & Qt::AlignVertical_Mask,
                QSize(textRect.width(), static_cast<int>(shown.lineAt(0).height())), textRect);
            painter->save();
            painter->setPen(
                option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
            painter->setClipRect(textRect, Qt::IntersectClip);
            shown.draw(painter, placed.topLeft());
            painter->restore();
        }
    }
    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.rect = style->subElementRect(QStyle::SE_ItemViewItemFocusRect, &option, widget);
        focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
        focus.backgroundColor = option.palette.color(
            (option.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled,
            selected ? QPalette::Highlight : QPalette::Window);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
}

const QTextLayout& TextCells::Shown(const QString& text, int width, Qt::Alignment alignment,
                                    const QFont& font) const {
    if (font != font_) {
        lines_.clear();
        font_ = font;
    }
    auto found = lines_.find(text);
    if (found != lines_.end() && found->second.width == width &&
        found->second.alignment == static_cast<int>(alignment)) {
        return *found->second.shown;
    }
    if (found == lines_.end()) {
        if (lines_.size() >= kKept) {
            lines_.clear();  // the texts on show come back at the next paint
        }
        found = lines_.emplace(text, Line{}).first;
    }
    QString line = FirstLineShown(text);
    const QFontMetrics metrics(font);
    if (metrics.horizontalAdvance(line) > width) {
        line = metrics.elidedText(line, Qt::ElideRight, width);
    }
    auto laid = std::make_unique<QTextLayout>(line, font);
    QTextOption textOption(alignment);
    textOption.setWrapMode(QTextOption::ManualWrap);
    laid->setTextOption(textOption);
    laid->beginLayout();
    QTextLine first = laid->createLine();
    first.setLineWidth(width);
    first.setPosition(QPointF(0, 0));
    laid->endLayout();
    found->second = Line{std::move(laid), width, static_cast<int>(alignment)};
    return *found->second.shown;
}
