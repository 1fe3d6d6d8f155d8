#pragma once
// The list view's own style. Used by framework sources only.
#include <QProxyStyle>

namespace detail {

// The table asks its style to paint each cell's row panel before the cell;
// for a cell neither selected nor alternate that paints nothing, but the
// style works out its colours first, a good part of a repaint. Those cells
// are not asked.
class PlainRowsStyle final : public QProxyStyle {
  public:
    using QProxyStyle::QProxyStyle;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
};

}  // namespace detail
