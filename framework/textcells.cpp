#include "framework/textcells.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <algorithm>

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

void LayShownLine(QTextLayout& shown, const QString& text, int width, const QFont& font,
                  Qt::Alignment alignment) {
    const QFontMetrics metrics(font);
    auto lay = [&](const QString& line) {
        shown.setText(line);
        shown.setFont(font);
        QTextOption option(alignment);
        option.setWrapMode(QTextOption::ManualWrap);
        shown.setTextOption(option);
        shown.setCacheEnabled(true);
        shown.beginLayout();
        QTextLine first = shown.createLine();
        first.setLineWidth(width);
        first.setPosition(QPointF(0, 0));
        shown.endLayout();
        return qRound(first.naturalTextWidth()) > width;
    };
    // Each shaping costs 13 µs and more: a line that looks too long for the
    // cell (four pixels a character) is elided first, as QFontMetrics
    // measures it, and laid out once; laying it out to measure it would shape
    // it a third time. True when `line` is shown whole.
    auto show = [&](const QString& line) {
        if (line.size() * 4 > width) {
            const QString elided = metrics.elidedText(line, Qt::ElideRight, std::max(width, 0));
            lay(elided);
            return elided == line;
        }
        if (lay(line)) {
            lay(metrics.elidedText(line, Qt::ElideRight, std::max(width, 0)));
            return false;
        }
        return true;
    };
    // A payload's first line may be a whole datagram long while a cell shows
    // a few dozen characters: a front of one character for every two pixels
    // of the cell overflows it and is elided alone, to the same text. Only a
    // front that fits after all (narrow or zero-width characters) needs the
    // whole line.
    const QString line = FirstLineShown(text);
    const qsizetype front = static_cast<qsizetype>(std::max(width, 0)) / 2 + 2;
    if (line.size() > front && !show(line.left(front))) {
        return;
    }
    show(line);
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
    auto laid = std::make_unique<QTextLayout>();
    LayShownLine(*laid, text, width, font, alignment);
    found->second = Line{std::move(laid), width, static_cast<int>(alignment)};
    return *found->second.shown;
}
