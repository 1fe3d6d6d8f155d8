#include "ui/widgets/usagechart.h"

#include <QDateTime>
#include <QPainter>
#include <algorithm>
#include <map>

#include "res/resource.h"
#include "res/strings.h"
#include "talk/texts.h"
#include "ui/text/plaintext.h"
#include "ui/widgets/ratechart.h"

namespace {

const QColor kPalette[UsageChart::kColoured + 1] = {
    QColor(31, 119, 180),  QColor(255, 127, 14), QColor(44, 160, 44),  QColor(214, 39, 40),
    QColor(148, 103, 189), QColor(140, 86, 75),  QColor(170, 170, 170)};
const QColor kGridColor(225, 225, 225);
const QColor kAxisColor(150, 150, 150);

uint64_t Bytes(const UsageCounts& c) {
    return c.bytesIn + c.bytesOut;
}

QString Amount(uint64_t bytes) {
    return QString::fromStdString(FormatBytes(bytes));
}

}  // namespace

UsageChart::UsageChart(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumHeight(120);
}

QColor UsageChart::SeriesColor(size_t series) {
    return kPalette[std::min(series, kColoured)];
}

void UsageChart::SetData(std::vector<int64_t> starts, const std::vector<UsageBucket>& buckets,
                         bool hours) {
    slots_ = std::move(starts);
    hours_ = hours;
    // The programs that used the most over the whole range get the colours.
    std::map<std::string, uint64_t> byProgram;
    for (const UsageBucket& b : buckets)
        byProgram[b.program] += Bytes(b.counts);
    std::vector<std::pair<std::string, uint64_t>> ranked(byProgram.begin(), byProgram.end());
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    const size_t coloured = std::min(ranked.size(), kColoured);
    std::map<std::string, size_t> seriesOf;
    names_.clear();
    for (size_t i = 0; i < coloured; ++i) {
        seriesOf[ranked[i].first] = i;
        names_.push_back(ranked[i].first.empty()
                             ? LoadStringText(IDS_USAGE_UNKNOWN)
                             : DisplayableText(QString::fromStdString(ranked[i].first)));
    }
    if (ranked.size() > coloured)
        names_.push_back(LoadStringText(IDS_USAGE_OTHER));
    stacks_.assign(slots_.size(), std::vector<uint64_t>(names_.size(), 0));
    for (const UsageBucket& b : buckets) {
        const auto after = std::upper_bound(slots_.begin(), slots_.end(), b.start);
        if (after == slots_.begin())
            continue;  // before the range
        const size_t bar = static_cast<size_t>(after - slots_.begin()) - 1;
        const auto it = seriesOf.find(b.program);
        stacks_[bar][it != seriesOf.end() ? it->second : coloured] += Bytes(b.counts);
    }
    uint64_t most = 0;
    for (const auto& stack : stacks_) {
        uint64_t sum = 0;
        for (const uint64_t v : stack)
            sum += v;
        most = std::max(most, sum);
    }
    scale_ = RateChart::RoundScale(most);
    update();
}

void UsageChart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    const QFontMetrics fm = p.fontMetrics();
    const int line = fm.height();
    const int margin = 6;

    // The legend along the top, one swatch and name per series.
    int x = margin;
    const int legendY = margin;
    for (size_t i = 0; i < names_.size(); ++i) {
        const QString name = fm.elidedText(names_[i], Qt::ElideRight, 16 * fm.averageCharWidth());
        p.fillRect(QRect(x, legendY + line / 4, line * 3 / 4, line / 2), SeriesColor(i));
        x += line;
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(x, legendY + fm.ascent(), name);
        x += fm.horizontalAdvance(name) + line;
    }

    const int scaleWidth = fm.horizontalAdvance(Amount(scale_)) + 6;
    const QRect plot(margin + scaleWidth, legendY + line + 6, width() - 2 * margin - scaleWidth,
                     height() - legendY - 2 * line - 12);
    if (plot.width() < 10 || plot.height() < 10)
        return;
    p.setPen(kGridColor);
    for (int i = 1; i < 4; ++i) {
        const int y = plot.top() + plot.height() * i / 4;
        p.drawLine(plot.left(), y, plot.right(), y);
    }
    p.setPen(kAxisColor);
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    p.drawText(margin, plot.top() + fm.ascent(), Amount(scale_));
    p.drawText(margin, plot.bottom(), QStringLiteral("0"));
    if (slots_.empty())
        return;

    const int bars = static_cast<int>(slots_.size());
    const double step = static_cast<double>(plot.width()) / bars;
    const int barWidth = std::max(1, static_cast<int>(step * 0.7));
    // Labels spaced so that they do not run into each other.
    const QString widest = hours_ ? QStringLiteral("00") : QStringLiteral("00-00");
    const int every = std::max(1, static_cast<int>((fm.horizontalAdvance(widest) + 8) / step) + 1);
    for (int i = 0; i < bars; ++i) {
        const int left = plot.left() + static_cast<int>(step * i + (step - barWidth) / 2);
        double bottom = plot.bottom();
        const auto& stack = stacks_[static_cast<size_t>(i)];
        for (size_t s = 0; s < stack.size(); ++s) {
            if (stack[s] == 0)
                continue;
            const double h = static_cast<double>(plot.height() - 1) *
                             static_cast<double>(stack[s]) / static_cast<double>(scale_);
            p.fillRect(QRectF(left, bottom - h, barWidth, h), SeriesColor(s));
            bottom -= h;
        }
        if (i % every == 0) {
            const QDateTime at = QDateTime::fromSecsSinceEpoch(slots_[static_cast<size_t>(i)]);
            const QString label =
                at.toString(hours_ ? QStringLiteral("HH") : QStringLiteral("MM-dd"));
            p.setPen(kAxisColor);
            p.drawText(left, plot.bottom() + 2 + fm.ascent(), label);
        }
    }
}
