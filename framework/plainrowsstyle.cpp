#include "framework/plainrowsstyle.h"

#include <QStyleOptionViewItem>

namespace detail {

void PlainRowsStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                   QPainter* painter, const QWidget* widget) const {
    if (element == PE_PanelItemViewRow) {
        const auto* item = qstyleoption_cast<const QStyleOptionViewItem*>(option);
        if (item && !(item->state & State_Selected) &&
            !(item->features & QStyleOptionViewItem::Alternate) &&
            item->backgroundBrush.style() == Qt::NoBrush) {
            return;
        }
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

}  // namespace detail
