#include "ui/widgets/ratechart.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <ctime>

#include "capture/clock.h"
#include "framework/gbk.h"
#include "res/resource.h"
#include "res/strings.h"
#include "talk/texts.h"

namespace {

const QColor kInColor(31, 119, 180);
const QColor kOutColor(230, 110, 20);
const QColor kGridColor(225, 225, 225);
const QColor kAxisColor(150, 150, 150);

QString Amount(uint64_t value, bool bytes) {
    return bytes ? QString::fromStdString(FormatBytes(value)) : QString::number(value);
}

QString SecondText(int64_t second) {
    return QString::fromStdString(LocalTimeText(static_cast<std::time_t>(second), "%H:%M:%S"));
}

}  // namespace

RateChart::RateChart(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

uint64_t RateChart::RoundScale(uint64_t value) {
    uint64_t power = 1;
    for (;;) {
        for (const uint64_t step : {1u, 2u, 5u}) {
            if (step * power >= value)
                return step * power;
        }
        if (power > UINT64_MAX / 100)
            return UINT64_MAX;
        power *= 10;
    }
}

void RateChart::SetSeries(std::vector<SecondCounts> series, bool live) {
    // A live chart shows no second's time, only the counts: one that moved on
    // by a quiet second, or was asked again within its second, looks the same
    // and is not drawn again.
    const auto sameCounts = [](const SecondCounts& a, const SecondCounts& b) {
        return a.inDatagrams == b.inDatagrams && a.inBytes == b.inBytes &&
               a.outDatagrams == b.outDatagrams && a.outBytes == b.outBytes;
    };
    const bool unchanged =
        live == live_ && series.size() == series_.size() &&
        (live || series.empty() || series.back().second == series_.back().second) &&
        std::equal(series.begin(), series.end(), series_.begin(), sameCounts);
    series_ = std::move(series);
    live_ = live;
    uint64_t datagrams = 0;
    uint64_t bytes = 0;
    for (const SecondCounts& s : series_) {
        datagrams = std::max({datagrams, s.inDatagrams, s.outDatagrams});
        bytes = std::max({bytes, s.inBytes, s.outBytes});
    }
    datagramScale_ = RoundScale(datagrams);
    byteScale_ = RoundScale(bytes);
    if (!unchanged)
        update();
}

void RateChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const int half = width() / 2;
    PaintPanel(p, QRect(0, 0, half, height()), false);
    PaintPanel(p, QRect(half, 0, width() - half, height()), true);
}

void RateChart::PaintPanel(QPainter& p, const QRect& area, bool bytes) const {
    const QFontMetrics fm = p.fontMetrics();
    const int line = fm.height();
    const int margin = 6;
    const uint64_t scale = bytes ? byteScale_ : datagramScale_;

    // The title, and the newest second's rates as the legend.
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(area.left() + margin, area.top() + margin + fm.ascent(),
               LoadStringText(bytes ? IDS_CHART_BYTES : IDS_CHART_DATAGRAMS));
    const SecondCounts last = series_.empty() ? SecondCounts{} : series_.back();
    const QString legend[] = {
        LoadStringText(IDS_CHART_IN) + ' ' + Amount(bytes ? last.inBytes : last.inDatagrams, bytes),
        LoadStringText(IDS_CHART_OUT) + ' ' +
            Amount(bytes ? last.outBytes : last.outDatagrams, bytes)};
    int x = area.right() - margin;
    for (int i = 1; i >= 0; --i) {
        x -= fm.horizontalAdvance(legend[i]);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(x, area.top() + margin + fm.ascent(), legend[i]);
        x -= line * 3 / 4 + 4;
        p.fillRect(QRect(x, area.top() + margin + (line - line / 2) / 2, line * 3 / 4, line / 2),
                   i == 0 ? kInColor : kOutColor);
        x -= line;
    }

    // The plot: the scale's top on the left, the span of time below.
    const int scaleWidth = fm.horizontalAdvance(Amount(scale, bytes)) + 4;
    const QRect plot(area.left() + margin + scaleWidth, area.top() + margin + line + 4,
                     area.width() - 2 * margin - scaleWidth,
                     area.height() - 2 * margin - 2 * line - 6);
    if (plot.width() < 10 || plot.height() < 10)
        return;
    p.setPen(kGridColor);
    for (int i = 1; i < 4; ++i) {
        const int y = plot.top() + plot.height() * i / 4;
        p.drawLine(plot.left(), y, plot.right(), y);
    }
    p.setPen(kAxisColor);
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    p.drawText(area.left() + margin, plot.top() + fm.ascent(), Amount(scale, bytes));
    p.drawText(area.left() + margin, plot.bottom(), QStringLiteral("0"));
    const int seconds = static_cast<int>(series_.size());
    const int below = plot.bottom() + 2 + fm.ascent();
    if (seconds > 0) {
        p.drawText(plot.left(), below, FormatString(IDS_CHART_MINUTES_AGO, (seconds + 59) / 60));
        const QString end =
            live_ ? LoadStringText(IDS_CHART_NOW) : SecondText(series_.back().second);
        p.drawText(plot.right() - fm.horizontalAdvance(end), below, end);
    }
    if (seconds < 2)
        return;

    // In and out as lines, one point a second.
    p.setRenderHint(QPainter::Antialiasing, true);
    for (const bool in : {true, false}) {
        QPainterPath path;
        for (int i = 0; i < seconds; ++i) {
            const SecondCounts& s = series_[static_cast<size_t>(i)];
            const uint64_t v =
                bytes ? (in ? s.inBytes : s.outBytes) : (in ? s.inDatagrams : s.outDatagrams);
            const double px =
                plot.left() + static_cast<double>(plot.width() - 1) * i / (seconds - 1);
            const double py = plot.bottom() - static_cast<double>(plot.height() - 1) *
                                                  static_cast<double>(v) /
                                                  static_cast<double>(scale);
            if (i == 0)
                path.moveTo(px, py);
            else
                path.lineTo(px, py);
        }
        p.setPen(QPen(in ? kInColor : kOutColor, 1.5));
        p.drawPath(path);
    }
    p.setRenderHint(QPainter::Antialiasing, false);
}
