#include "framework/cachedscrollbar.h"

#include <QEvent>
#include <QHoverEvent>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionSlider>
#include <algorithm>

#include "framework/paintstrip.h"

namespace detail {

bool CachedScrollBar::event(QEvent* e) {
    switch (e->type()) {
        case QEvent::HoverEnter:
        case QEvent::HoverMove:
            hovered_ = HitTest(static_cast<QHoverEvent*>(e)->position().toPoint());
            break;
        case QEvent::HoverLeave:
            hovered_ = QStyle::SC_None;
            break;
        case QEvent::MouseButtonPress:
            pressed_ = HitTest(static_cast<QMouseEvent*>(e)->position().toPoint());
            break;
        case QEvent::MouseButtonRelease:
            pressed_ = QStyle::SC_None;
            break;
        case QEvent::StyleChange:
        case QEvent::PaletteChange:
            cache_.clear();
            break;
        default:
            break;
    }
    return QScrollBar::event(e);
}

void CachedScrollBar::sliderChange(SliderChange change) {
    QStyleOptionSlider opt;
    if (change == SliderValueChange || !shown_ || *shown_ != LookOf(opt)) {
        QScrollBar::sliderChange(change);
    }
}

void CachedScrollBar::paintEvent(QPaintEvent*) {
    QStyleOptionSlider opt;
    const Key key = LookOf(opt);
    shown_ = key;
    auto found = std::find_if(cache_.begin(), cache_.end(),
                              [&](const auto& entry) { return entry.first == key; });
    if (found == cache_.end()) {
        if (cache_.size() >= kKept) {
            cache_.pop_back();
        }
        cache_.emplace_front(key, Draw(opt, key.ratio));
        found = cache_.begin();
    } else if (found != cache_.begin()) {
        cache_.splice(cache_.begin(), cache_, found);  // most recently used first
        found = cache_.begin();
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, found->second);
}

CachedScrollBar::Key CachedScrollBar::LookOf(QStyleOptionSlider& opt) const {
    initStyleOption(&opt);
    opt.subControls = QStyle::SC_All;
    opt.activeSubControls = pressed_ != QStyle::SC_None ? pressed_ : hovered_;
    if (pressed_ != QStyle::SC_None && (isSliderDown() || underMouse())) {
        opt.state |= QStyle::State_Sunken;
    }
    return Key{
        opt.rect,
        opt.state,
        opt.activeSubControls,
        style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this),
        opt.sliderPosition == opt.minimum,
        opt.sliderPosition == opt.maximum,
        devicePixelRatioF()};
}

QStyle::SubControl CachedScrollBar::HitTest(QPoint at) const {
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    return style()->hitTestComplexControl(QStyle::CC_ScrollBar, &opt, at, this);
}

QPixmap CachedScrollBar::Draw(const QStyleOptionSlider& opt, qreal ratio) const {
    QPixmap drawn(size() * ratio);
    drawn.setDevicePixelRatio(ratio);
    // Opaque: what lies beneath is then never painted first.
    drawn.fill(palette().color(QPalette::Window));
    QPainter painter(&drawn);
    // In strips, as the list's background is painted: each drawn whole
    // on an image only a strip high, which bounds it as the screen does.
    // (Bounded by a clip instead, the style shades the groove otherwise
    // than a stock scroll bar.)
    const int strip = std::max(1, static_cast<int>(kPaintStrip / ratio));
    QImage part(QSize(width(), strip) * ratio, QImage::Format_RGB32);
    part.setDevicePixelRatio(ratio);
    for (int y = 0; y < height(); y += strip) {
        part.fill(palette().color(QPalette::Window));
        QPainter onPart(&part);
        onPart.translate(0, -y);
        style()->drawComplexControl(QStyle::CC_ScrollBar, &opt, &onPart, this);
        onPart.end();
        painter.drawImage(QPoint(0, y), part);
    }
    return drawn;
}

}  // namespace detail
