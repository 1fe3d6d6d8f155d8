// The capture-to-interface hand-off on its own: every task runs exactly once,
// in order, on the interface thread, whether tasks come back to back or
// trickle in, and a cancelled hand-off never runs.
#include <QCoreApplication>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "capture/handoff.h"

namespace {

// Records its sequence number; `work` keeps the interface thread busy a little,
// as a row insertion does.
class CountingTask final : public UiTask {
  public:
    CountingTask(std::vector<int>& ran, int seq, std::chrono::microseconds work = {})
        : ran_(ran), seq_(seq), work_(work) {}
    void Run() override {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            offThread = true;
        const auto until = std::chrono::steady_clock::now() + work_;
        while (std::chrono::steady_clock::now() < until) {
        }
        ran_.push_back(seq_);
    }
    static inline bool offThread = false;

  private:
    std::vector<int>& ran_;
    int seq_;
    std::chrono::microseconds work_;
};

struct Producer {
    std::vector<int> refused;
    std::atomic<bool> finished{false};
    std::thread thread;
};

// Runs `count` hand-offs from a second thread while the interface thread runs
// its event loop; `gap(i)` is the pause before hand-off i.
template <typename Gap>
void Stream(UiHandoff& handoff, std::vector<int>& ran, int count, Gap gap,
            std::chrono::microseconds work, int* timerTurns = nullptr) {
    Producer p;
    p.thread = std::thread([&] {
        for (int i = 0; i < count; ++i) {
            if (const auto g = gap(i); g.count() > 0)
                std::this_thread::sleep_for(g);
            CountingTask task(ran, i, work);
            if (!handoff.RunOnUiThread(task))
                p.refused.push_back(i);
        }
        p.finished = true;
    });
    QTimer other;  // the rest of the window's work: it must keep getting turns
    int turns = 0;
    QObject::connect(&other, &QTimer::timeout, [&] { ++turns; });
    other.start(5);
    while (!p.finished)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    p.thread.join();
    QVERIFY(p.refused.empty());
    if (timerTurns)
        *timerTurns = turns;
}

}  // namespace

class HandoffTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void init() { CountingTask::offThread = false; }

    void everyRowRunsOnceInOrder_data() {
        QTest::addColumn<int>("pattern");
        QTest::newRow("back to back") << 0;
        QTest::newRow("trickling") << 1;
        QTest::newRow("bursts and gaps") << 2;
    }
    void everyRowRunsOnceInOrder() {
        QFETCH(int, pattern);
        UiHandoff handoff;
        handoff.Reset();
        std::vector<int> ran;
        std::mt19937 rng(7);
        std::vector<std::chrono::microseconds> gaps;
        const int count = pattern == 1 ? 300 : 5000;
        for (int i = 0; i < count; ++i) {
            if (pattern == 1)
                gaps.emplace_back(1000);
            else if (pattern == 2)
                // Short and no gaps mixed, so that posts find the interface
                // thread in every state: in its loop, waking, running a task.
                gaps.emplace_back(rng() % 4 == 0 ? rng() % 120 : 0);
            else
                gaps.emplace_back(0);
        }
        Stream(handoff, ran, count, [&](int i) { return gaps[static_cast<size_t>(i)]; }, {});
        QCOMPARE(static_cast<int>(ran.size()), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(ran[static_cast<size_t>(i)], i);
        QVERIFY(!CountingTask::offThread);
    }

    void streamingLeavesTheEventLoopItsTurns() {
        UiHandoff handoff;
        handoff.Reset();
        std::vector<int> ran;
        int turns = 0;
        // Tasks back to back, each keeping the interface thread 100 us.
        Stream(
            handoff, ran, 3000, [](int) { return std::chrono::microseconds(0); },
            std::chrono::microseconds(100), &turns);
        QCOMPARE(static_cast<int>(ran.size()), 3000);
        QVERIFY2(turns >= 5, qPrintable(QString::number(turns)));
    }

    void cancelTurnsAWaitingRowAwayUntilReset() {
        UiHandoff handoff;
        handoff.Reset();
        std::vector<int> ran;
        std::atomic<int> results{-1};
        std::atomic<bool> posted{false};
        std::thread capture([&] {
            CountingTask task(ran, 1);
            posted = true;
            results = handoff.RunOnUiThread(task) ? 1 : 0;
        });
        // The interface thread is busy elsewhere (a sort, a dialog) and then stops.
        while (!posted)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        handoff.Cancel();
        capture.join();
        QCOMPARE(results.load(), 0);
        QCoreApplication::processEvents();  // the queued event finds nothing to run
        QVERIFY(ran.empty());

        CountingTask later(ran, 2);
        QVERIFY(!handoff.RunOnUiThread(later));  // refused at once, no waiting
        QVERIFY(ran.empty());

        handoff.Reset();
        std::thread again([&] {
            CountingTask task(ran, 3);
            results = handoff.RunOnUiThread(task) ? 1 : 0;
        });
        while (ran.empty())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        again.join();
        QCOMPARE(results.load(), 1);
        QCOMPARE(ran, std::vector<int>{3});
    }

    void cancelDuringAStreamStopsItPromptly() {
        UiHandoff handoff;
        handoff.Reset();
        std::vector<int> ran;
        std::atomic<bool> stop{false};
        std::atomic<int> accepted{0}, refused{0};
        std::thread capture([&] {
            for (int i = 0; !stop; ++i) {
                CountingTask task(ran, i);
                if (handoff.RunOnUiThread(task))
                    ++accepted;
                else
                    ++refused;
            }
        });
        QTimer::singleShot(100, [&] { handoff.Cancel(); });
        while (refused == 0)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        stop = true;
        capture.join();
        QCoreApplication::processEvents();
        // Everything accepted ran, nothing refused ran.
        QCOMPARE(static_cast<int>(ran.size()), accepted.load());
        QVERIFY(accepted > 0);
    }
};

QTEST_GUILESS_MAIN(HandoffTest)
#include "test_handoff.moc"
