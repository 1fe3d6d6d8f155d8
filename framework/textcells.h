#pragma once
// Cells of plain text for a table whose lines are refreshed as a whole.
#include <QFont>
#include <QString>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <memory>
#include <unordered_map>

// Draws each cell's text as one line, elided on the right, with the style's
// item panel and focus frame: what the stock delegate shows for text-only
// cells, without laying every cell out twice at every paint (once to measure
// it, once to draw it) or asking the model for every role. A refreshed table
// shows mostly the texts it showed before, so each text's shown line (cut at
// its first line break, elided to its width) is kept, a bounded number.
// The first line of `text`, with an ellipsis where a line break cut it off:
// a cell shows one line, and a name or payload may carry several.
QString FirstLineShown(const QString& text);

// Lays out into `shown` what a cell `width` pixels wide shows of `text`: its
// first line, elided on the right where it is wider than the cell (as
// QFontMetrics measures it), on one line of that width with `alignment`.
// Drawing `shown` again shapes nothing.
void LayShownLine(QTextLayout& shown, const QString& text, int width, const QFont& font,
                  Qt::Alignment alignment = Qt::AlignLeft);

class TextCells final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

  private:
    struct Line {
        std::unique_ptr<QTextLayout> shown;  // laid out for `width` and `alignment`
        int width = -1;
        int alignment = 0;
    };
    const QTextLayout& Shown(const QString& text, int width, Qt::Alignment alignment,
                             const QFont& font) const;

    static constexpr size_t kKept = 2048;
    mutable std::unordered_map<QString, Line> lines_;
    mutable QFont font_;
    mutable int textMargin_ = -1;
};
