#pragma once
// The list's scroll bars. Used by framework sources only.
#include <QPixmap>
#include <QRect>
#include <QScrollBar>
#include <QStyle>
#include <list>
#include <optional>
#include <utility>

class QStyleOptionSlider;

namespace detail {

// The list's scroll bars are repainted with the rows at every batch (the
// table lays itself out again, and a scroll bar repaints whenever its steps
// are set, changed or not), mostly looking just as before; the horizontal one,
// which the style draws as many lines, cost as much as the rows themselves.
// This one keeps what it painted last and shows it again until something
// that changes its look happens.
class CachedScrollBar final : public QScrollBar {
  public:
    using QScrollBar::QScrollBar;

  protected:
    bool event(QEvent* e) override;
    // Once the list holds several times the rows it shows, the handle has its
    // least length and, at the top, stays where it is while rows come: a new
    // range then changes nothing on screen and is not repainted.
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent*) override;

  private:
    struct Key {
        QRect rect;
        QStyle::State state;
        QStyle::SubControls active;
        QRect handle;
        bool atMinimum = false, atMaximum = false;
        qreal ratio = 1;
        bool operator==(const Key&) const = default;
    };
    // A few dozen of a few kilobytes each.
    static constexpr size_t kKept = 48;

    // As QScrollBar paints itself, with the part under the pointer lit and
    // the part held down sunken. What the style draws follows from where the
    // handle lies in pixels and whether it rests at an end, not from the range
    // itself: as rows come, most batches leave the handle where it was, and as
    // the list fills and is emptied at its cap the same places come back.
    Key LookOf(QStyleOptionSlider& opt) const;
    QStyle::SubControl HitTest(QPoint at) const;
    QPixmap Draw(const QStyleOptionSlider& opt, qreal ratio) const;

    std::list<std::pair<Key, QPixmap>> cache_;
    std::optional<Key> shown_;  // what the last paint put on screen
    QStyle::SubControl hovered_ = QStyle::SC_None;
    QStyle::SubControl pressed_ = QStyle::SC_None;
};

}  // namespace detail
