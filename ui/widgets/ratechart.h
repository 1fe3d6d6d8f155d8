#pragma once
// Datagrams and bytes per second, in and out, over the last minutes: two
// small line charts side by side, drawn with QPainter. The series comes from
// RateHistory (one point per second); the widget only draws it.
#include <QWidget>
#include <vector>

#include "talk/conversation.h"

class RateChart : public QWidget {
    Q_OBJECT
  public:
    explicit RateChart(QWidget* parent = nullptr);

    // The seconds to draw, oldest first. `live`: the right end is now;
    // otherwise it is the last datagram's second (a capture file).
    void SetSeries(std::vector<SecondCounts> series, bool live);
    const std::vector<SecondCounts>& Series() const { return series_; }

    // The largest value the datagram and byte scales reach (a round number
    // at or above the series' largest).
    uint64_t DatagramScale() const { return datagramScale_; }
    uint64_t ByteScale() const { return byteScale_; }

    // 1, 2 or 5 times a power of ten, at least `value` (and at least 1).
    static uint64_t RoundScale(uint64_t value);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void PaintPanel(class QPainter& p, const QRect& area, bool bytes) const;

    std::vector<SecondCounts> series_;
    bool live_ = true;
    uint64_t datagramScale_ = 1;
    uint64_t byteScale_ = 1;
};
