#pragma once
// The 用量 window's chart: bytes (in and out together) per hour or per day as
// bars, each stacked by program: the programs that used the most each have a
// colour of their own, the rest share one (其他). Drawn with QPainter.
#include <QColor>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "history/usage_history.h"

class UsageChart : public QWidget {
    Q_OBJECT
  public:
    static constexpr size_t kColoured = 6;

    explicit UsageChart(QWidget* parent = nullptr);

    // `starts`: the start of each bar, in order; a bucket goes to the last bar
    // that starts at or before it. `hours`: labels as hours, else as days.
    void SetData(std::vector<int64_t> starts, const std::vector<UsageBucket>& buckets, bool hours);

    // What is drawn: the series' names (programs, then 其他 when the rest
    // used anything) and, per bar, each series' bytes.
    const std::vector<QString>& SeriesNames() const { return names_; }
    const std::vector<std::vector<uint64_t>>& Stacks() const { return stacks_; }
    uint64_t Scale() const { return scale_; }
    static QColor SeriesColor(size_t series);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<int64_t> slots_;
    std::vector<QString> names_;
    std::vector<std::vector<uint64_t>> stacks_;  // [bar][series]
    uint64_t scale_ = 1;
    bool hours_ = true;
};
