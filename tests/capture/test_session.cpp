// The capture thread end to end with a real interface-thread event loop.
#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <array>
#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "capture/clock.h"
#include "capture/session.h"
#include "talk/conversation_tap.h"
#include "tests/capture/fake_list.h"
#include "tests/capture/feed_endpoint.h"
#include "tests/capture/packet_builder.h"
#include "tests/capture/thread_stats.h"

using namespace testpkt;

namespace {

std::vector<uint8_t> Udp(const std::string& payload, uint16_t dport = 9) {
    Ip ip;
    ip.protocol = 17;
    return Datagram(ip, testpkt::Udp(4000, dport, Bytes(payload)));
}

// The scheduler state of a thread: 'R' running, 'S' sleeping, ...
char ThreadState(int tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    return close == std::string::npos || close + 2 >= line.size() ? '?' : line[close + 2];
}

// The list, also recording the data text of every row as it goes in.
class RecordingList final : public FakeEventList {
  public:
    bool SetItemText(int item, int sub, std::string_view text) override {
        if (sub == kColData)
            data.emplace_back(text);
        return FakeEventList::SetItemText(item, sub, text);
    }
    std::vector<std::string> data;
};

// An endpoint factory that hands the test the endpoint it makes.
CaptureSession::EndpointFactory FeedFactory(FeedEndpoint*& feed) {
    return [&feed] {
        auto e = std::make_unique<FeedEndpoint>();
        feed = e.get();
        return e;
    };
}

}  // namespace

class SessionTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void rowsArriveInOrderAtTheTop() {
        UiHandoff handoff;
        FakeEventList list;
        ScriptedTraffic traffic;
        for (int i = 0; i < 10; ++i)
            traffic.datagrams.push_back(Udp("n" + std::to_string(i)));
        CaptureSession session(handoff, list, [&] { return MakeScriptedEndpoint(traffic); });
        session.SetSelectedLocalAddress("10.0.0.9");
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        QCOMPARE(session.StopFlag.load(), 0);
        QTRY_COMPARE(list.GetItemCount(), 10);
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(list.rows[static_cast<size_t>(i)][kColData], "n" + std::to_string(9 - i));
        }
        QCOMPARE(list.rows[0][kColDstAddr], std::string(kLocalMarker) + "10.0.0.9");
        session.Stop();
        QCOMPARE(session.StopFlag.load(), 1);
        QVERIFY(!session.SocketOpen());
        QVERIFY(!session.CaptureThreadRunning());
    }

    // News is a conversation first in a batch that was not seen for about
    // two seconds: a steady one is news once, one that comes back after a
    // pause or after the clock stepped back is news again, each of many new
    // ones counts.
    void tapNewsIsAConversationNotSeenLately() {
        ConversationTap tap([](const ConversationDeltas&) {});
        // The owner lookups are told of news only: a steady conversation
        // told of at every batch would wake their thread ten times a second
        // and crowd new conversations out of its queue.
        uint64_t told = 0;
        tap.SetFirstSeen([&](const ConversationDeltas::Entry&, bool) { ++told; });
        tap.Begin("10.0.0.9");
        const int64_t t0 = int64_t{1'800'000'000} * 1'000'000'000;
        const auto a = Udp("a", 9);
        const auto add = [&](const std::vector<uint8_t>& d, int64_t t) {
            tap.Add(0, {d.data(), d.size()}, t);
        };
        add(a, t0);
        add(a, t0 + 1'000'000);
        QCOMPARE(tap.News(), uint64_t{1});
        for (int batch = 1; batch <= 30; ++batch) {  // a batch period apart for 3 s
            tap.Clear(0);
            add(a, t0 + batch * CaptureSession::kBatchPeriodNs);
        }
        QCOMPARE(tap.News(), uint64_t{1});
        tap.Clear(0);
        add(a, t0 + int64_t{6'000'000'000});  // after a pause
        QCOMPARE(tap.News(), uint64_t{2});
        tap.Clear(0);
        add(a, t0 - int64_t{60'000'000'000});  // the clock stepped back
        tap.Clear(0);
        add(a, t0 - int64_t{59'920'000'000});
        QCOMPARE(tap.News(), uint64_t{3});
        tap.Clear(0);
        for (uint16_t port = 1000; port < 2000; ++port)
            add(Udp("m", port), t0);
        QCOMPARE(tap.News(), uint64_t{1003});
        QCOMPARE(told, tap.News());
    }

    // The interface gains and loses IPv6 addresses while a capture runs
    // (temporary addresses come and go over days): from the datagram after
    // the change on, the new set says which side is this host's, also while
    // the capture thread is busy keying datagrams as the set is handed over.
    void theHostsAddressesChangeWhileCapturing() {
        Ip6 ip6;
        ip6.protocol = 17;
        const Ipv6Address first = ip6.src;
        Ipv6Address gained = first;
        gained[15] ^= 0x5a;
        const Ipv6Address remote = ip6.dst;
        std::mutex kernelLock;
        std::vector<Ipv6Address> kernel{first};  // what the interface holds now
        const auto holds = [&](std::vector<Ipv6Address> now) {
            std::lock_guard lock(kernelLock);
            kernel = std::move(now);
        };
        ConversationTable table;
        ConversationTap tap([&](const ConversationDeltas& d) { table.Merge(d); },
                            [&](std::string_view) {
                                std::lock_guard lock(kernelLock);
                                return kernel;
                            });
        tap.Begin("10.0.0.9");
        // A service on the gained address asked from a higher port: by the
        // port rule alone the asking side would be taken for this host's.
        Ip6 in = ip6;
        in.src = remote;
        in.dst = gained;
        const auto query = Datagram6(in, testpkt::Udp(40000, 53, Bytes("q")));
        const ConversationKey served{17, IpAddress::FromIpv6(gained), 53,
                                     IpAddress::FromIpv6(remote), 40000};
        const ConversationKey guessed{17, IpAddress::FromIpv6(remote), 40000,
                                      IpAddress::FromIpv6(gained), 53};
        int64_t t = int64_t{1'800'000'000} * 1'000'000'000;
        const auto keyedAs = [&](const ConversationKey& key) {
            table.Clear();
            tap.Clear(0);
            tap.Add(0, {query.data(), query.size()}, t += 1'000'000);
            tap.Inserted(0);
            const Conversation* c = table.Find(key);
            return table.Size() == 1 && c != nullptr &&
                   c->counts.inDatagrams + c->counts.outDatagrams == 1;
        };
        QVERIFY(keyedAs(guessed));
        holds({first, gained});
        QVERIFY(keyedAs(guessed));  // not told yet
        tap.LocalAddressesChanged("10.0.0.9");
        QVERIFY(keyedAs(served));
        QVERIFY(table.Find(served)->localSelected);
        QCOMPARE(table.Find(served)->counts.inDatagrams, uint64_t{1});
        holds({first});
        tap.LocalAddressesChanged("10.0.0.9");
        QVERIFY(keyedAs(guessed));

        // Handed over while the capture thread keys datagrams.
        std::atomic<bool> done{false};
        std::thread capture([&] {
            for (int i = 0; !done.load() || i < 2000; ++i) {
                tap.Clear(1);
                tap.Add(1, {query.data(), query.size()}, t + i);
            }
        });
        for (int change = 0; change < 200; ++change) {
            holds(change % 2 ? std::vector<Ipv6Address>{first}
                             : std::vector<Ipv6Address>{first, gained});
            tap.LocalAddressesChanged("10.0.0.9");
        }
        done.store(true);
        capture.join();
        holds({gained});
        tap.LocalAddressesChanged("10.0.0.9");
        QVERIFY(keyedAs(served));
        // A capture that begins reads the addresses itself; a change told of
        // before it is not taken over what it read.
        holds({first});
        tap.LocalAddressesChanged("10.0.0.9");
        holds({first, gained});
        tap.Begin("10.0.0.9");
        QVERIFY(keyedAs(served));
    }

    // Traffic within a batch period wakes the capture thread while it
    // brings news; a read that brought none holds wake-ups off for a while,
    // and news ends the hold at once.
    void trafficWakesTheCaptureThreadOnlyForNews() {
        UiHandoff handoff;
        FakeEventList list;
        FeedEndpoint* feed = nullptr;
        CaptureSession session(handoff, list, FeedFactory(feed));
        ConversationTap tap([](const ConversationDeltas&) {});
        session.SetBatchTap(&tap);
        session.SetSelectedLocalAddress("10.0.0.9");
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        // The plans made after `taken` datagrams were read, the first of
        // them made right after the last read.
        const auto plansAfter = [&](int taken) {
            std::vector<CaptureEndpoint::WaitPlan> found;
            for (const FeedEndpoint::Plan& p : feed->Plans())
                if (p.taken == taken)
                    found.push_back(p.plan);
            return found;
        };
        // The plan made right after the datagram was read (none: a plan
        // that neither holds off nor lets traffic wake, which fails below).
        const auto feedThenPlan = [&](std::vector<uint8_t> d, int taken) {
            feed->Feed(std::move(d));
            QElapsedTimer waited;
            waited.start();
            std::vector<CaptureEndpoint::WaitPlan> plans;
            while ((plans = plansAfter(taken)).empty() && waited.elapsed() < 30000)
                QTest::qWait(1);
            return plans.empty() ? CaptureEndpoint::WaitPlan{-2, true} : plans.front();
        };
        const auto wakeable = [&](int taken) {
            for (const CaptureEndpoint::WaitPlan& p : plansAfter(taken))
                if (p.wakeForTraffic)
                    return true;
            return false;
        };
        QTRY_VERIFY(feed != nullptr && wakeable(0));
        QVERIFY(feedThenPlan(Udp("a1", 9), 1).limitNs != -2);
        QVERIFY(wakeable(1));
        const CaptureEndpoint::WaitPlan held = feedThenPlan(Udp("a2", 9), 2);
        QVERIFY(!held.wakeForTraffic);
        QVERIFY(held.limitNs >= 0 && held.limitNs <= 2'000'000);  // the first hold
        QTRY_VERIFY(wakeable(2));                                 // the hold ends
        const CaptureEndpoint::WaitPlan heldAgain = feedThenPlan(Udp("a3", 9), 3);
        QVERIFY(!heldAgain.wakeForTraffic && heldAgain.limitNs >= 0);
        // A new conversation, read early only because this endpoint ends
        // every wait when fed, is news: traffic may wake the thread again.
        const CaptureEndpoint::WaitPlan news = feedThenPlan(Udp("b1", 10), 4);
        QVERIFY(news.wakeForTraffic && news.limitNs != -2);
        QTRY_COMPARE(list.GetItemCount(), 4);
        session.Stop();

        // Without a tap nothing is news: the rows wait for the batch's end.
        FeedEndpoint* plain = nullptr;
        CaptureSession untapped(handoff, list, FeedFactory(plain));
        untapped.SetSelectedLocalAddress("10.0.0.9");
        QCOMPARE(untapped.OpenCaptureSocket(), 0);
        QVERIFY(untapped.StartCaptureThread());
        QTRY_VERIFY(plain != nullptr);
        plain->Feed(Udp("c1", 9));
        QTRY_VERIFY(plain->Plans().size() >= 2 && plain->Plans().back().taken == 1);
        for (const FeedEndpoint::Plan& p : plain->Plans())
            QVERIFY(!p.plan.wakeForTraffic || p.plan.limitNs < 0);
        untapped.Stop();
    }

    void failedOpenReportsTheCodeAndKeepsTheEndpoint() {
        UiHandoff handoff;
        FakeEventList list;
        ScriptedTraffic traffic;
        traffic.openResult = 1;
        CaptureSession session(handoff, list, [&] { return MakeScriptedEndpoint(traffic); });
        QCOMPARE(session.OpenCaptureSocket(), 1);
        QVERIFY(session.SocketOpen());  // stays open until destruction closes it
        session.Destroy();
        QVERIFY(!session.SocketOpen());

        // A live open on an address that no interface holds fails with a code.
        CaptureSession live(handoff, list);
        live.SetSelectedLocalAddress("203.0.113.254");
        QVERIFY(live.OpenCaptureSocket() != 0);
        QVERIFY(!live.EndpointErrorText().empty());
        live.SetSelectedLocalAddress("not an address");
        QVERIFY(live.OpenCaptureSocket() != 0);
    }

    void stopUnderAStreamIsPromptAndFinal() {
        UiHandoff handoff;
        FakeEventList list;
        ScriptedTraffic traffic;
        traffic.repeat = true;
        traffic.datagrams = {Udp("a"), Udp("b"), Udp("c")};
        CaptureSession session(handoff, list, [&] { return MakeScriptedEndpoint(traffic); });
        for (int round = 0; round < 200; ++round) {
            QCOMPARE(session.OpenCaptureSocket(), 0);
            QVERIFY(session.StartCaptureThread());
            if (round % 2 == 0) {
                // Let some rows in first; on odd rounds stop while the capture
                // thread is still waiting for the interface thread.
                QTRY_VERIFY(list.GetItemCount() > 0);
            }
            session.Stop();
            const int after = list.GetItemCount();
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
            QCOMPARE(list.GetItemCount(), after);
            QVERIFY(!session.CaptureThreadRunning());
            QVERIFY(list.GetItemCount() <= kMaxEventRows);
        }
    }

    void destructionWhileAHandOffWaits() {
        FakeEventList list;
        FeedEndpoint* feed = nullptr;
        {
            UiHandoff handoff;
            CaptureSession session(handoff, list, FeedFactory(feed));
            QCOMPARE(session.OpenCaptureSocket(), 0);
            QVERIFY(session.StartCaptureThread());
            feed->Feed(Udp("pending"));
            // The capture thread has taken the datagram and now waits for us.
            QTRY_COMPARE_WITH_TIMEOUT(feed->taken.load(), 1, 5000);
            QTest::qWait(0);
        }
        // Nothing was inserted after destruction returned, and posted work is harmless.
        const int rows = list.GetItemCount();
        QCoreApplication::processEvents();
        QCOMPARE(list.GetItemCount(), rows);
    }

    // Rows go in batches; what the capture thread took before Stop is still
    // inserted by Stop, whether its batch waited for the period to pass or
    // for an interface thread busy elsewhere, and nothing comes after.
    void stopInsertsWhatWasCapturedBeforeIt() {
        UiHandoff handoff;
        RecordingList list;
        FeedEndpoint* feed = nullptr;
        CaptureSession session(handoff, list, FeedFactory(feed));
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        feed->Feed(Udp("first"));
        QTRY_COMPARE(list.GetItemCount(), 1);  // a lone row goes at once
        // Rows streaming in now wait for the batch period. The interface thread
        // runs no event loop from here to Stop, so no batch can go in meanwhile.
        constexpr int kMore = 700;  // past one emptying of the list
        for (int i = 0; i < kMore; ++i)
            feed->Feed(Udp(std::to_string(i)));
        QElapsedTimer waited;
        waited.start();
        // On a slow machine the period may pass first, and the capture thread
        // then waits for us with what it has: Stop must insert that too.
        while (feed->taken.load() < kMore + 1 && waited.elapsed() < 2000)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        // The endpoint goes with Stop; the received count stays with the session.
        session.Stop();
        feed = nullptr;
        const int taken = static_cast<int>(session.DatagramsReceived()) - 1;
        QCOMPARE(session.RowsInserted(), uint64_t(1 + taken));
        const int inList = (1 + taken - 1) % kMaxEventRows + 1;
        QCOMPARE(list.GetItemCount(), inList);
        QCOMPARE(list.rows[0][kColData], taken ? std::to_string(taken - 1) : "first");
        if (taken == kMore) {
            QCOMPARE(list.rows.back()[kColData], std::to_string(kMaxEventRows - 1));
            QCOMPARE(session.Figures().emptied, uint64_t{kMaxEventRows});
        }
        QCoreApplication::processEvents();
        QCOMPARE(session.RowsInserted(), uint64_t(1 + taken));
        QCOMPARE(list.GetItemCount(), inList);
    }

    // Each row keeps its datagram, as received, and its capture time; the
    // conversations handler counts every datagram the filter passed, also
    // those whose rows the 500-row limit emptied, both directions as one.
    void rowsKeepTheirDatagramsAndEveryRowIsCounted() {
        UiHandoff handoff;
        FakeEventList list;
        ScriptedTraffic traffic;
        constexpr int kRows = 1203;
        for (int i = 0; i < kRows; ++i) {
            Ip ip;
            ip.protocol = 17;
            const bool out = i % 3 != 0;  // from the local address, or to it
            std::copy_n(std::array<uint8_t, 4>{10, 0, 0, 9}.data(), 4, out ? ip.src : ip.dst);
            std::copy_n(std::array<uint8_t, 4>{10, 0, 0, 7}.data(), 4, out ? ip.dst : ip.src);
            // Over 1,513 bytes of payload now and then: the row shows a
            // message, the datagram stays as it came.
            const std::string payload =
                i % 100 == 0 ? std::string(1600, 'p') : "n" + std::to_string(i);
            traffic.datagrams.push_back(
                Datagram(ip, testpkt::Udp(out ? 4000 : 53, out ? 53 : 4000, Bytes(payload))));
        }
        traffic.datagrams.push_back(Udp("filtered", 9));  // turned away below
        ConversationTable table;
        uint64_t handed = 0;
        CaptureSession session(handoff, list, [&] { return MakeScriptedEndpoint(traffic); });
        ConversationTap tap([&](const ConversationDeltas& deltas) {
            QVERIFY(QThread::currentThread() == QCoreApplication::instance()->thread());
            // The figures already hold the rows that came with these counts.
            const CaptureFigures now = session.Figures();
            QCOMPARE(now.rows - now.emptied, uint64_t(list.GetItemCount()));
            for (const auto& e : deltas.Entries())
                handed += e.counts.inDatagrams + e.counts.outDatagrams;
            table.Merge(deltas);
        });
        session.SetBatchTap(&tap);
        FilterSettings f;
        f.ignoredPort = 9;
        f.RebuildTexts();
        session.SetFilterSettings(f);
        session.SetSelectedLocalAddress("10.0.0.9");
        const int64_t before = WallClockNs();
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        QTRY_COMPARE_WITH_TIMEOUT(session.RowsInserted(), uint64_t{kRows}, 60000);
        session.Stop();
        QCOMPARE(handed, uint64_t{kRows});
        QCOMPARE(table.Size(), size_t{1});
        const Conversation& c = table.Rows()[0];
        QCOMPARE(c.key.localPort, uint16_t{4000});
        QCOMPARE(c.key.remotePort, uint16_t{53});
        QCOMPARE(c.counts.outDatagrams, uint64_t{kRows - kRows / 3});
        QCOMPARE(c.counts.inDatagrams, uint64_t{kRows / 3});
        // The list holds the last rows, each with its own datagram and time.
        QCOMPARE(list.GetItemCount(), kRows - 1000);
        int64_t newer = WallClockNs();
        for (int r = 0; r < list.GetItemCount(); ++r) {
            const RowAttachment a = ReadRowAttachment(list.attachments[static_cast<size_t>(r)]);
            const auto& sent = traffic.datagrams[static_cast<size_t>(kRows - 1 - r)];
            QVERIFY(std::equal(a.datagram.begin(), a.datagram.end(), sent.begin(), sent.end()));
            QVERIFY(a.captureTimeNs >= before && a.captureTimeNs <= newer);
            newer = a.captureTimeNs;
        }
        QCOMPARE(list.rows[static_cast<size_t>(kRows - 1 - 1100)][kColData],
                 "\xCA\xFD\xBE\xDD\xB3\xAC\xB3\xA4\xB6\xC8=1600");
    }

    // IPv6 goes to the conversations alone: the list, its figures and a
    // recording see only the IPv4 datagrams between them, and a run of IPv6
    // with no row at all still reaches the tap. The filter's ports apply to
    // both.
    void ipv6ReachesTheTapOnly() {
        struct CountingSink final : DatagramSink {
            void Append(int64_t, const uint8_t* bytes, uint32_t) override {
                ipv6 += (bytes[0] >> 4) == 6;
                ++all;
            }
            std::atomic<int> all{0}, ipv6{0};
        } sink;
        Ip6 ip6;
        ip6.protocol = 17;
        const std::array<uint8_t, 16> local6 = ip6.src;
        ScriptedTraffic traffic;
        constexpr int kIpv4 = 40, kIpv6 = 300;
        for (int i = 0; i < kIpv6; ++i) {
            const bool out = i % 2 == 0;
            Ip6 d = ip6;
            if (!out)
                std::swap(d.src, d.dst);
            // Behind a destination-options header now and then.
            std::vector<Ext6> chain;
            if (i % 5 == 0)
                chain.push_back(Ext6{60, 1, 0});
            traffic.datagrams.push_back(
                Datagram6(d, testpkt::Udp(out ? 5353 : 53, out ? 53 : 5353, Bytes("q")), chain));
            if (i < kIpv4)
                traffic.datagrams.push_back(Udp("v4 " + std::to_string(i), 53));
        }
        traffic.datagrams.push_back(Datagram6(ip6, testpkt::Udp(5353, 9)));  // ignored port
        UiHandoff handoff;
        FakeEventList list;
        ConversationTable table;
        CaptureSession session(handoff, list, [&] { return MakeScriptedEndpoint(traffic); });
        ConversationTap tap([&](const ConversationDeltas& deltas) { table.Merge(deltas); },
                            [&](std::string_view ipv4) {
                                return ipv4 == "10.0.0.9" ? std::vector<Ipv6Address>{local6}
                                                          : std::vector<Ipv6Address>{};
                            });
        session.SetBatchTap(&tap);
        session.SetDatagramSink(&sink);
        FilterSettings f;
        f.ignoredPort = 9;
        f.RebuildTexts();
        session.SetFilterSettings(f);
        session.SetSelectedLocalAddress("10.0.0.9");
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        const auto ipv6Counted = [&] {
            const Conversation* c = table.Find(ConversationKey{
                17, IpAddress::FromIpv6(local6), 5353, IpAddress::FromIpv6(ip6.dst), 53});
            return c ? c->counts.inDatagrams + c->counts.outDatagrams : 0;
        };
        QTRY_COMPARE_WITH_TIMEOUT(ipv6Counted(), uint64_t{kIpv6}, 30000);
        session.Stop();
        QCOMPARE(list.GetItemCount(), kIpv4);
        const CaptureFigures figures = session.Figures();
        QCOMPARE(figures.received, uint64_t{kIpv4});
        QCOMPARE(figures.rows, uint64_t{kIpv4});
        QCOMPARE(figures.filtered, uint64_t{0});
        QCOMPARE(sink.all.load(), kIpv4);
        QCOMPARE(sink.ipv6.load(), 0);
        // Both families' conversations, nothing of the ignored port.
        QCOMPARE(table.Size(), size_t{2});
        const Conversation* c = table.Find(ConversationKey{17, IpAddress::FromIpv6(local6), 5353,
                                                           IpAddress::FromIpv6(ip6.dst), 53});
        QVERIFY(c != nullptr);
        QVERIFY(c->localSelected);
        QCOMPARE(c->counts.outDatagrams, uint64_t{kIpv6 / 2});
        // 40 + 8 + 1, and 16 more for each options header (every fifth,
        // half of them each way).
        QCOMPARE(c->counts.outBytes, uint64_t{kIpv6 / 2 * 49 + kIpv6 / 10 * 16});
        QCOMPARE(c->counts.inBytes, uint64_t{kIpv6 / 2 * 49 + kIpv6 / 10 * 16});
    }

    void pauseHoldsReceivesWithoutSpinning() {
        UiHandoff handoff;
        FakeEventList list;
        FeedEndpoint* feed = nullptr;
        CaptureSession session(handoff, list, FeedFactory(feed));
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        feed->Feed(Udp("before"));
        QTRY_COMPARE(list.GetItemCount(), 1);
        QTRY_VERIFY(feed->waiting.load());

        session.RaisePause();
        // The receive already under way still delivers its datagram.
        feed->Feed(Udp("in flight"));
        QTRY_COMPARE(list.GetItemCount(), 2);
        feed->Feed(Udp("queued 1"));
        feed->Feed(Udp("queued 2"));
        // Asleep, not polling: once it sleeps it is never switched in again
        // while the pause lasts. (On a loaded machine it may take a while to
        // get there; a polling thread would never stay put.)
        const int tid = feed->tid.load();
        QTRY_COMPARE_WITH_TIMEOUT(ThreadState(tid), 'S', 30000);
        const long switches = ContextSwitches(tid);
        QTest::qWait(200);
        QCOMPARE(ContextSwitches(tid), switches);
        QCOMPARE(ThreadState(tid), 'S');
        QCOMPARE(list.GetItemCount(), 2);
        QCOMPARE(feed->taken.load(), 2);

        session.DropPause();
        QTRY_COMPARE(list.GetItemCount(), 4);
        QCOMPARE(list.rows[0][kColData], "queued 2");
        session.Stop();
    }

    void stopWhilePaused() {
        UiHandoff handoff;
        FakeEventList list;
        ScriptedTraffic traffic;
        CaptureSession session(handoff, list, [&] { return MakeScriptedEndpoint(traffic); });
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        QTest::qWait(20);
        session.RaisePause();
        session.Stop();
        QVERIFY(!session.CaptureThreadRunning());
    }

    void exitThenDestroyClosesOnce() {
        UiHandoff handoff;
        FakeEventList list;
        FeedEndpoint* feed = nullptr;
        auto session = std::make_unique<CaptureSession>(handoff, list, FeedFactory(feed));
        QCOMPARE(session->OpenCaptureSocket(), 0);
        QVERIFY(session->StartCaptureThread());
        QTRY_VERIFY(feed->waiting.load());
        session->CloseSocket();  // Exit: receives now fail at once
        QTRY_VERIFY(feed->refused.load() > 0);
        QCOMPARE(feed->closes.load(), 0);  // the thread may still be inside it
        session->Destroy();
        QVERIFY(!session->SocketOpen());
    }

    void restartFollowsTheNewAddress() {
        UiHandoff handoff;
        FakeEventList list;
        ScriptedTraffic traffic;
        traffic.datagrams = {Udp("x")};
        CaptureSession session(handoff, list, [&] { return MakeScriptedEndpoint(traffic); });
        session.SetSelectedLocalAddress("10.0.0.5");
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        QTRY_COMPARE(list.GetItemCount(), 1);
        QCOMPARE(list.rows[0][kColSrcAddr], std::string(kLocalMarker) + "10.0.0.5");
        // A second open while capturing is refused before the running endpoint is touched.
        QCOMPARE(session.OpenCaptureSocket(), EBUSY);
        QVERIFY(session.SocketOpen());
        session.Stop();
        session.SetSelectedLocalAddress("10.0.0.9");
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        QTRY_COMPARE(list.GetItemCount(), 2);
        QCOMPARE(list.rows[0][kColSrcAddr], "10.0.0.5");
        QCOMPARE(list.rows[0][kColDstAddr], std::string(kLocalMarker) + "10.0.0.9");
        session.Stop();
    }

    void settingsAreNeverSeenHalfWritten() {
        SharedFilterSettings shared;
        FilterSettings a, b;
        a.srcAddr = {1, 1, 1, 1};
        a.monitoredPort = 1111;
        a.RebuildTexts();
        b.srcAddr = {222, 222, 222, 222};
        b.monitoredPort = 22222;
        b.ignoredPort = 2222;
        b.RebuildTexts();
        shared.Store(a);
        std::atomic<bool> done{false};
        std::thread writer([&] {
            for (int i = 0; i < 200000; ++i)
                shared.Store(i % 2 ? a : b);
            done = true;
        });
        int torn = 0;
        while (!done) {
            const FilterSettings s = shared.Load();
            const bool isA = s.monitoredPort == 1111 && std::string(s.srcAddrText) == "1.1.1.1" &&
                             s.ignoredPort == 0 && std::string(s.monitoredPortText) == "1111";
            const bool isB = s.monitoredPort == 22222 &&
                             std::string(s.srcAddrText) == "222.222.222.222" &&
                             s.ignoredPort == 2222 && std::string(s.ignoredPortText) == "2222";
            torn += !(isA || isB);
        }
        writer.join();
        QCOMPARE(torn, 0);
    }

    void filterChangeAppliesToLaterDatagrams() {
        UiHandoff handoff;
        FakeEventList list;
        FeedEndpoint* feed = nullptr;
        CaptureSession session(handoff, list, FeedFactory(feed));
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        QTRY_VERIFY(feed->waiting.load());
        session.RaisePause();
        FilterSettings f;
        f.monitoredPort = 53;
        f.RebuildTexts();
        session.SetFilterSettings(f);
        session.DropPause();
        feed->Feed(Udp("dropped", 9));
        feed->Feed(Udp("kept", 53));
        QTRY_COMPARE(list.GetItemCount(), 1);
        QCOMPARE(list.rows[0][kColData], "kept");
        session.Stop();
    }

    // Two CPU-bound threads beside the capture, as a build beside the monitor:
    // every row still arrives, once and in order, and none after Stop.
    void busyCoresLoseNoRowAndStopIsFinal() {
        std::atomic<bool> busy{true};
        std::vector<std::thread> load;
        for (int i = 0; i < 2; ++i) {
            load.emplace_back([&busy] {
                volatile uint64_t spin = 0;
                while (busy.load(std::memory_order_relaxed))
                    spin = spin + 1;
            });
        }
        UiHandoff handoff;
        RecordingList list;
        ScriptedTraffic traffic;
        constexpr int kRows = 1500;  // three emptyings of the list on the way
        for (int i = 0; i < kRows; ++i)
            traffic.datagrams.push_back(Udp(std::to_string(i)));
        CaptureSession session(handoff, list, [&] { return MakeScriptedEndpoint(traffic); });
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        QTRY_COMPARE_WITH_TIMEOUT(session.RowsInserted(), uint64_t{kRows}, 120000);
        // The list holds what inserting each row in turn leaves: the rows since
        // the last emptying, newest on top.
        QCOMPARE(list.GetItemCount(), kMaxEventRows);
        for (int i = 0; i < kMaxEventRows; ++i)
            QCOMPARE(list.rows[static_cast<size_t>(i)][kColData], std::to_string(kRows - 1 - i));
        session.Stop();
        QCOMPARE(session.Figures().emptied, uint64_t{kRows - kMaxEventRows});

        traffic.datagrams = {Udp("again")};
        traffic.repeat = true;
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        QTRY_VERIFY_WITH_TIMEOUT(list.data.size() > kRows + 100, 120000);
        session.Stop();
        const size_t atStop = list.data.size();
        const uint64_t rowsAtStop = session.RowsInserted();
        QTest::qWait(50);
        QCOMPARE(list.data.size(), atStop);
        QCOMPARE(session.RowsInserted(), rowsAtStop);
        busy = false;
        for (auto& t : load)
            t.join();
    }
};

QTEST_GUILESS_MAIN(SessionTest)
#include "test_session.moc"
