// The 连接 window's chart is drawn again only when what it shows changed:
// asked again with the same counts (every refresh of a quiet capture, and a
// live chart that moved on by a second of the same counts) it paints
// nothing, and what it would paint is indeed the same; any change of a
// count, of the span, of live or not, or of a file's last second paints.
#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QTest>
#include <vector>

#include "ui/widgets/ratechart.h"

namespace {

class PaintCounter : public QObject {
  public:
    int paints = 0;

  protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Seconds `first` on, with counts that differ from second to second.
std::vector<SecondCounts> Series(int64_t first, int n, uint64_t scale = 1) {
    std::vector<SecondCounts> s;
    for (int i = 0; i < n; ++i) {
        const uint64_t v = static_cast<uint64_t>((i * 7) % 13) * scale;
        s.push_back({first + i, v, v * 60, v / 2, v * 30});
    }
    return s;
}

// What an update asked for reaches the widget's paintEvent here, if anything.
void Settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

}  // namespace

class RateChartTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void drawnAgainOnlyWhenChanged() {
        RateChart chart;
        chart.resize(600, 200);
        PaintCounter counter;
        chart.installEventFilter(&counter);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
        chart.SetSeries(Series(1000, 60), true);
        Settle();
        const QImage shown = chart.grab().toImage();

        struct Case {
            const char* what;
            std::vector<SecondCounts> series;
            bool live;
            bool paints;
        };
        std::vector<SecondCounts> oneMore = Series(1000, 60);
        oneMore[30].outBytes += 1;
        const std::vector<Case> cases = {
            {"the same again", Series(1000, 60), true, false},
            {"a second on, the same counts", Series(1001, 60), true, false},
            {"a count changed", oneMore, true, true},
            {"back as before", Series(1000, 60), true, true},
            {"one second more", Series(1000, 61), true, true},
            {"shorter again", Series(1000, 60), true, true},
            {"the capture ended", Series(1000, 60), false, true},
            {"ended, the same again", Series(1000, 60), false, false},
            {"ended at another second", Series(1001, 60), false, true},
            {"live again", Series(1001, 60), true, true},
            {"empty", {}, true, true},
            {"empty again", {}, true, false},
        };
        for (const Case& c : cases) {
            counter.paints = 0;
            chart.SetSeries(c.series, c.live);
            Settle();
            QVERIFY2((counter.paints > 0) == c.paints, c.what);
        }

        // What was not drawn again would have looked the same.
        chart.SetSeries(Series(1000, 60), true);
        QCOMPARE(chart.grab().toImage(), shown);
        chart.SetSeries(Series(5000, 60), true);
        QCOMPARE(chart.grab().toImage(), shown);
        // The scales follow the series either way.
        chart.SetSeries(Series(5000, 60, 1000), true);
        QCOMPARE(chart.DatagramScale(), uint64_t{20000});
    }
};

QTEST_MAIN(RateChartTest)
#include "test_ratechart.moc"
