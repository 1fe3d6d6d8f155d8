#pragma once
// How the list draws its cells. Used by framework sources only.
#include <QStyledItemDelegate>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "framework/listrowstore.h"
#include "framework/rowpaint.h"

namespace detail {

// Draws each cell from text converted and laid out when its row is first
// painted, not at every paint. Texts repeat from row to row (the second, the
// addresses, the ports), so the laid-out texts of recent cells are kept and
// shared, and a plain cell's text is copied from an image of it made once
// rather than drawn glyph by glyph, from its second paint on. It looks as
// the stock delegate does: the style's item panel where it shows anything,
// the text's first line elided on the right, the focus frame.
class CellPainter final : public QStyledItemDelegate {
  public:
    CellPainter(const ListRowStore& store, std::function<bool()> showsGrid, QObject* parent)
        : QStyledItemDelegate(parent), store_(store), showsGrid_(std::move(showsGrid)) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

  private:
    // Copies the image of `laid` in `ink` on `paper`, making it first when the
    // one kept is for other colours, another height or another screen.
    static void DrawSprite(QPainter& painter, const LaidText& laid, const QRect& textRect,
                           qreal textTop, const QColor& ink, const QColor& paper,
                           const QFont& font);
    const RowPaint::Cell& Laid(const ListRowStore::Row& row, int column, int width,
                               const QFont& font) const;
    static std::shared_ptr<const LaidText> Make(std::string_view bytes, int width,
                                                const QFont& font);

    // With their images a few kilobytes each: 1,024 texts at most.
    static constexpr size_t kRecent = 1024;
    const ListRowStore& store_;
    std::function<bool()> showsGrid_;
    mutable int textMargin_ = -1;
    mutable int generation_ = -1;
    mutable std::unordered_map<std::string, std::shared_ptr<const LaidText>> recent_;
    mutable std::string key_;
};

}  // namespace detail
