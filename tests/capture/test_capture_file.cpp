// Capture files played through the capture thread, the figures of a capture,
// and the link-layer framing every captured frame goes through.
#include <pcap/pcap.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>

#include "capture/session.h"
#include "talk/conversation_tap.h"
#include "tests/capture/capture_file_writer.h"
#include "tests/capture/fake_list.h"
#include "tests/capture/packet_builder.h"

using namespace testpkt;

namespace {

using testfile::Ethernet;

void WriteCapture(const std::string& path, int linkType,
                  const std::vector<std::vector<uint8_t>>& frames) {
    QVERIFY(testfile::WritePcap(path, linkType, frames));
}

bool Locate(int link, const std::vector<uint8_t>& frame, uint32_t* off, uint32_t* len) {
    return LocateDatagram(link, frame.data(), static_cast<uint32_t>(frame.size()), off, len);
}

// Plays a capture file to its end through the capture thread; the rows it gave.
struct Played {
    std::vector<FakeEventList::Row> rows;
    CaptureFigures figures;
    SourceFault fault;
    int finishedCalls = 0;
};

Played Play(const std::string& path, const FilterSettings& filter = {},
            const std::string& local = "10.0.0.5") {
    Played p;
    UiHandoff handoff;
    FakeEventList list;
    CaptureSession session(handoff, list);
    std::atomic<int> finished{0};
    std::atomic<uint64_t> which{0};
    session.SetFinishedHandler([&](uint64_t n) {
        which = n;
        finished.fetch_add(1);
    });
    session.SetFilterSettings(filter);
    session.SetSelectedLocalAddress(local);
    if (session.OpenCaptureFile(path) != 0) {
        p.fault = session.LastFault();
        return p;
    }
    session.StartCaptureThread();
    if (!QTest::qWaitFor([&] { return finished.load() > 0; }, 60000)) {
        qWarning("the file did not end by itself");
    }
    p.figures = session.Figures();
    session.Stop();
    p.finishedCalls = finished.load();
    if (which.load() != session.CaptureNumber()) {
        p.finishedCalls = -1;
    }
    p.rows.assign(list.rows.begin(), list.rows.end());
    p.fault = session.LastFault();
    return p;
}

// The same datagrams from the scripted source: the rows of live capture.
std::vector<FakeEventList::Row> Scripted(const std::vector<std::vector<uint8_t>>& datagrams,
                                         const std::string& local = "10.0.0.5") {
    UiHandoff handoff;
    FakeEventList list;
    ScriptedTraffic traffic;
    traffic.datagrams = datagrams;
    CaptureSession session(handoff, list, [&] { return MakeScriptedEndpoint(traffic); });
    session.SetSelectedLocalAddress(local);
    session.OpenCaptureSocket();
    session.StartCaptureThread();
    (void)QTest::qWaitFor([&] { return list.GetItemCount() == int(datagrams.size()); }, 60000);
    session.Stop();
    return {list.rows.begin(), list.rows.end()};
}

// 1,300 datagrams, of which the filter ignoring port 53 turns 100 away, and
// one too short for an IPv4 header: the list is emptied twice on the way.
std::vector<std::vector<uint8_t>> Counted() {
    std::vector<std::vector<uint8_t>> d;
    const Ip udp = testfile::Between({10, 0, 0, 9}, {10, 0, 0, 5}, 17);
    for (int i = 0; i < 1300; ++i) {
        d.push_back(Datagram(udp, Udp(4000, i % 13 == 0 ? 53 : 9, Bytes(std::to_string(i)))));
    }
    d.push_back({0x45, 0, 0, 10, 0, 0, 0, 0, 64, 17});
    return d;
}

FilterSettings Ignoring(uint16_t port) {
    FilterSettings f;
    f.ignoredPort = port;
    f.RebuildTexts();
    return f;
}

const QRegularExpression kCountedLine(
    "^quorvelan: 1301 received, 0 dropped by the kernel, 100 turned away by the filter, 1200 "
    "rows, 1000 emptied by the 500-row limit, \\d+\\.\\d s$");

}  // namespace

class CaptureFileTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase() { testfile::UseTestTimeZone(); }

    void framingOfEveryLinkType() {
        const auto d = Datagram(Ip{}, Tcp(1025, 80, 0x10));  // 40 bytes
        uint32_t off = 0, len = 0;

        QVERIFY(Locate(DLT_EN10MB, Ethernet(d), &off, &len));
        QCOMPARE(off, 14u);
        QCOMPARE(len, 40u);
        QVERIFY(Locate(DLT_EN10MB, Ethernet(d, {100, 200}), &off, &len));
        QCOMPARE(off, 22u);

        // A 40-byte acknowledgement padded into a 60-byte frame (plus a trailer).
        auto padded = Ethernet(d);
        padded.resize(60, 0xEE);
        QVERIFY(Locate(DLT_EN10MB, padded, &off, &len));
        QCOMPARE(len, 40u);

        // Total length 0 (segmentation offload) or beyond the capture keeps what was captured.
        auto tso = Ethernet(d);
        tso[14 + 2] = tso[14 + 3] = 0;
        QVERIFY(Locate(DLT_EN10MB, tso, &off, &len));
        QCOMPARE(len, 40u);
        auto truncated = Ethernet(d);
        truncated[14 + 2] = 0x05;
        QVERIFY(Locate(DLT_EN10MB, truncated, &off, &len));
        QCOMPARE(len, 40u);

        std::vector<uint8_t> sll(16, 0);
        sll[14] = 0x08;
        sll.insert(sll.end(), d.begin(), d.end());
        QVERIFY(Locate(DLT_LINUX_SLL, sll, &off, &len));
        QCOMPARE(off, 16u);

        std::vector<uint8_t> sll2(20, 0);
        sll2[0] = 0x08;
        sll2.insert(sll2.end(), d.begin(), d.end());
        QVERIFY(Locate(DLT_LINUX_SLL2, sll2, &off, &len));
        QCOMPARE(off, 20u);

        QVERIFY(Locate(DLT_RAW, d, &off, &len));
        QCOMPARE(off, 0u);

        std::vector<uint8_t> null(4, 0);
        const uint32_t family = 2;  // AF_INET in host order
        std::memcpy(null.data(), &family, 4);
        null.insert(null.end(), d.begin(), d.end());
        QVERIFY(Locate(DLT_NULL, null, &off, &len));
        QCOMPARE(off, 4u);
        // Written on a machine of the other byte order.
        null[0] = 0, null[3] = 2;
        QVERIFY(Locate(DLT_NULL, null, &off, &len));
        null[3] = 24;  // AF_INET6 of some BSD
        QVERIFY(!Locate(DLT_NULL, null, &off, &len));
        std::vector<uint8_t> loop = {0, 0, 0, 2};
        loop.insert(loop.end(), d.begin(), d.end());
        QVERIFY(Locate(DLT_LOOP, loop, &off, &len));
        QCOMPARE(len, 40u);

        // Not IPv4: ARP, IPv6 in Ethernet, a version-6 header, a frame cut inside its header.
        auto arp = Ethernet(d);
        arp[12] = 0x08, arp[13] = 0x06;
        QVERIFY(!Locate(DLT_EN10MB, arp, &off, &len));
        auto v6 = Ethernet(d);
        v6[14] = 0x60;
        QVERIFY(!Locate(DLT_EN10MB, v6, &off, &len));
        QVERIFY(!Locate(DLT_EN10MB, std::vector<uint8_t>(13, 0x81), &off, &len));
        QVERIFY(!Locate(DLT_EN10MB, std::vector<uint8_t>(), &off, &len));
        QVERIFY(!Locate(9999, d, &off, &len));
    }

    // IPv6 behind every link header that names it, cut by its payload
    // length; a link that names one version never yields the other.
    void framingOfIpv6() {
        Ip6 ip;
        ip.protocol = 17;
        const auto d = Datagram6(ip, testpkt::Udp(5353, 53, Bytes("q")));  // 49 bytes
        const auto inEthernet = [&](const std::vector<uint16_t>& tags) {
            auto f = Ethernet(d, tags);
            f[f.size() - d.size() - 2] = 0x86, f[f.size() - d.size() - 1] = 0xDD;
            return f;
        };
        uint32_t off = 0, len = 0;
        auto padded = inEthernet({});
        padded.resize(padded.size() + 11, 0xEE);  // a trailer
        QVERIFY(Locate(DLT_EN10MB, padded, &off, &len));
        QCOMPARE(off, 14u);
        QCOMPARE(len, 49u);
        QVERIFY(Locate(DLT_EN10MB, inEthernet({7, 8}), &off, &len));
        QCOMPARE(off, 22u);
        auto jumbo = inEthernet({});
        jumbo[14 + 4] = jumbo[14 + 5] = 0;  // payload length 0: what was captured
        QVERIFY(Locate(DLT_EN10MB, jumbo, &off, &len));
        QCOMPARE(len, 49u);
        std::vector<uint8_t> sll(16, 0);
        sll[14] = 0x86, sll[15] = 0xDD;
        sll.insert(sll.end(), d.begin(), d.end());
        QVERIFY(Locate(DLT_LINUX_SLL, sll, &off, &len));
        QCOMPARE(off, 16u);
        std::vector<uint8_t> sll2(20, 0);
        sll2[0] = 0x86, sll2[1] = 0xDD;
        sll2.insert(sll2.end(), d.begin(), d.end());
        QVERIFY(Locate(DLT_LINUX_SLL2, sll2, &off, &len));
        QCOMPARE(off, 20u);
        QVERIFY(Locate(DLT_RAW, d, &off, &len));
        QVERIFY(Locate(DLT_IPV6, d, &off, &len));
        QCOMPARE(len, 49u);
        QVERIFY(!Locate(DLT_IPV4, d, &off, &len));
        const auto v4 = Datagram(Ip{}, Tcp(1025, 80, 0x10));
        QVERIFY(!Locate(DLT_IPV6, v4, &off, &len));
        // Each system's AF_INET6 in either byte order; IPv4 behind it is refused.
        for (const uint32_t family : {10u, 24u, 28u, 30u}) {
            for (const bool swap : {false, true}) {
                std::vector<uint8_t> null(4, 0);
                const uint32_t word = swap ? __builtin_bswap32(family) : family;
                std::memcpy(null.data(), &word, 4);
                auto withV4 = null;
                null.insert(null.end(), d.begin(), d.end());
                QVERIFY(Locate(DLT_NULL, null, &off, &len));
                QCOMPARE(off, 4u);
                withV4.insert(withV4.end(), v4.begin(), v4.end());
                QVERIFY(!Locate(DLT_NULL, withV4, &off, &len));
            }
            std::vector<uint8_t> loop = {0, 0, 0, static_cast<uint8_t>(family)};
            loop.insert(loop.end(), d.begin(), d.end());
            QVERIFY(Locate(DLT_LOOP, loop, &off, &len));
        }
        // IPv4's Ethernet type with an IPv6 header behind it, and the reverse.
        auto mislabelled = inEthernet({});
        mislabelled[13] = 0x00, mislabelled[12] = 0x08;
        QVERIFY(!Locate(DLT_EN10MB, mislabelled, &off, &len));
        auto v4as6 = Ethernet(v4);
        v4as6[12] = 0x86, v4as6[13] = 0xDD;
        QVERIFY(!Locate(DLT_EN10MB, v4as6, &off, &len));
    }

    // A file's IPv6 datagrams count in its conversations; its rows and
    // figures stay those of its IPv4 datagrams.
    void ipv6InAFileFeedsConversationsOnly() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("mixed.pcap").toStdString();
        Ip6 ip6;
        ip6.protocol = 6;
        std::vector<std::vector<uint8_t>> frames;
        for (int i = 0; i < 6; ++i) {
            Ip6 d = ip6;
            if (i % 2)
                std::swap(d.src, d.dst);
            auto f = Ethernet(Datagram6(d, Tcp(i % 2 ? 443 : 50000, i % 2 ? 50000 : 443, 0x10)));
            f[12] = 0x86, f[13] = 0xDD;
            frames.push_back(f);
            frames.push_back(Ethernet(Datagram(Ip{}, Tcp(1025, 80, 0x10))));
        }
        WriteCapture(path, DLT_EN10MB, frames);
        UiHandoff handoff;
        FakeEventList list;
        ConversationTable table;
        ConversationTap tap([&](const ConversationDeltas& deltas) { table.Merge(deltas); });
        CaptureSession session(handoff, list);
        session.SetBatchTap(&tap);
        std::atomic<int> finished{0};
        session.SetFinishedHandler([&](uint64_t) { finished.fetch_add(1); });
        session.SetSelectedLocalAddress("10.0.0.5");
        QCOMPARE(session.OpenCaptureFile(path), 0);
        QVERIFY(session.StartCaptureThread());
        QTRY_COMPARE_WITH_TIMEOUT(finished.load(), 1, 60000);
        session.Stop();
        QCOMPARE(list.GetItemCount(), 6);
        QCOMPARE(session.Figures().received, uint64_t{6});
        QCOMPARE(table.Size(), size_t{2});
        // No address of the file is this host's: the client's high port is the local side.
        const Conversation* c = table.Find(ConversationKey{6, IpAddress::FromIpv6(ip6.src), 50000,
                                                           IpAddress::FromIpv6(ip6.dst), 443});
        QVERIFY(c != nullptr);
        QVERIFY(!c->localSelected);
        QCOMPARE(c->counts.outDatagrams, uint64_t{3});
        QCOMPARE(c->counts.inDatagrams, uint64_t{3});
        QCOMPARE(c->counts.inBytes, uint64_t{3 * 60});
    }

    void replayedFileBecomesRows() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("traffic.pcap").toStdString();
        Ip udp;
        udp.protocol = 17;
        auto ack = Ethernet(Datagram(Ip{}, Tcp(1025, 80, 0x10)));
        ack.resize(60, 'P');  // padding must not become data
        std::vector<uint8_t> arp(42, 0);
        arp[12] = 0x08, arp[13] = 0x06;
        WriteCapture(path, DLT_EN10MB,
                     {Ethernet(Datagram(Ip{}, Tcp(1025, 80, 0x02, Bytes("GET / HTTP/1.0")))), ack,
                      arp, Ethernet(Datagram(udp, Udp(5353, 53, Bytes("query"))), {7})});

        UiHandoff handoff;
        FakeEventList list;
        CaptureSession session(handoff, list, [&] { return MakeFileEndpoint(path); });
        session.SetSelectedLocalAddress("10.0.0.5");
        QCOMPARE(session.OpenCaptureSocket(), 0);
        QVERIFY(session.StartCaptureThread());
        QTRY_COMPARE(list.GetItemCount(), 3);
        QTest::qWait(50);
        QCOMPARE(list.GetItemCount(), 3);  // the ARP frame is no event
        session.Stop();

        const auto& udpRow = list.rows[0];
        QCOMPARE(udpRow[kColDstPort], std::string("53"));
        QCOMPARE(udpRow[kColService], std::string("dns"));
        QCOMPARE(udpRow[kColData], std::string("query"));
        const auto& ackRow = list.rows[1];
        QCOMPARE(ackRow[kColFlags], std::string("ACK-"));
        QCOMPARE(ackRow[kColData], std::string(""));
        const auto& synRow = list.rows[2];
        QCOMPARE(synRow[kColSrcAddr], std::string(kLocalMarker) + "10.0.0.5");
        QCOMPARE(synRow[kColData], std::string("GET / HTTP/1.0"));
        QCOMPARE(synRow[kColFlags], std::string("SYN-"));
    }

    void eachDatagramKeepsItsCaptureTime() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("times.pcap").toStdString();
        std::vector<uint8_t> arp(42, 0);
        arp[12] = 0x08, arp[13] = 0x06;
        const auto d = Ethernet(Datagram(Ip{}, Tcp(1025, 80, 0x10)));
        WriteCapture(path, DLT_EN10MB, {d, arp, d});
        auto file = MakeFileEndpoint(path);
        QCOMPARE(file->Open(""), 0);
        std::vector<uint8_t> buffer(kReceiveBufferSize);
        QCOMPARE(file->Receive(buffer.data(), kMaxDatagram), 40);
        QCOMPARE(file->LastCaptureTimeNs(), int64_t{1700000000} * 1000000000 + 250000000);
        QCOMPARE(file->Receive(buffer.data(), kMaxDatagram), 40);  // the ARP frame is skipped
        QCOMPARE(file->LastCaptureTimeNs(), int64_t{1700000002} * 1000000000 + 250000000);
        file->Close();
    }

    // Rows from a file are the rows the same datagrams give live, apart from
    // the time column, which shows each datagram's own capture time.
    void fileRowsEqualLiveRowsOnEveryLinkType() {
        const auto datagrams = testfile::Mix();
        const auto live = Scripted(datagrams);
        QCOMPARE(live.size(), datagrams.size());
        QTemporaryDir dir;
        for (int link :
             {DLT_EN10MB, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_RAW, DLT_IPV4, DLT_NULL, DLT_LOOP}) {
            for (bool ng : {false, true}) {
                const std::string path =
                    dir.filePath(QString("%1.%2").arg(link).arg(ng ? "pcapng" : "pcap"))
                        .toStdString();
                std::vector<std::vector<uint8_t>> frames;
                for (const auto& d : datagrams)
                    frames.push_back(testfile::Frame(link, d));
                QVERIFY(ng ? testfile::WritePcapng(path, link, frames)
                           : testfile::WritePcap(path, link, frames));
                const Played played = Play(path);
                const QByteArray where = QByteArray::number(link) + (ng ? " pcapng" : " pcap");
                QVERIFY2(played.fault.kind == SourceFault::kNone, where);
                QVERIFY2(played.rows.size() == live.size(), where);
                for (size_t r = 0; r < live.size(); ++r) {
                    // The newest row on top: row r is datagram n - 1 - r.
                    const int n = static_cast<int>(live.size() - 1 - r);
                    QVERIFY2(played.rows[r][kColTime] == testfile::FileTimeText(n), where);
                    for (int c = 1; c < kEventColumns; ++c)
                        QVERIFY2(played.rows[r][c] == live[r][c],
                                 where + " column " + QByteArray::number(c));
                }
                QCOMPARE(played.finishedCalls, 1);
            }
        }
    }

    // The figures equal the known counts, from the scripted source (stopped
    // once everything is in) and from a file (which ends by itself).
    void figuresOfAScriptedSourceAndOfAFile() {
        const auto datagrams = Counted();
        {
            UiHandoff handoff;
            FakeEventList list;
            ScriptedTraffic traffic;
            traffic.datagrams = datagrams;
            CaptureSession session(handoff, list, [&] { return MakeScriptedEndpoint(traffic); });
            QVERIFY(!session.Figures().started);
            session.SetFilterSettings(Ignoring(53));
            session.SetSelectedLocalAddress("10.0.0.5");
            QCOMPARE(session.OpenCaptureSocket(), 0);
            QVERIFY(session.StartCaptureThread());
            QTRY_VERIFY_WITH_TIMEOUT(
                session.Figures().received == 1301 && session.RowsInserted() == 1200, 60000);
            CaptureFigures f = session.Figures();
            QVERIFY(f.running);
            QVERIFY(!f.fromFile);
            QCOMPARE(f.source, std::string("10.0.0.5"));
            session.Stop();
            f = session.Figures();
            QVERIFY(!f.running);
            QCOMPARE(f.received, uint64_t{1301});
            QCOMPARE(f.filtered, uint64_t{100});
            QCOMPARE(f.rows, uint64_t{1200});
            QCOMPARE(f.emptied, uint64_t{1000});
            QCOMPARE(list.GetItemCount(), 200);
            QVERIFY(f.durationNs > 0);
            QVERIFY2(kCountedLine.match(QString::fromStdString(FiguresLine(f))).hasMatch(),
                     FiguresLine(f).c_str());
            // The figures stay those of the last capture until the next starts.
            QTest::qWait(20);
            QCOMPARE(session.Figures().durationNs, f.durationNs);

            // A new capture counts from zero.
            traffic.datagrams = {datagrams[1]};
            QCOMPARE(session.OpenCaptureSocket(), 0);
            QVERIFY(session.StartCaptureThread());
            QTRY_COMPARE(session.RowsInserted(), uint64_t{1});
            QCOMPARE(session.Figures().received, uint64_t{1});
            QCOMPARE(session.Figures().emptied, uint64_t{0});
            session.Stop();
        }
        QTemporaryDir dir;
        const std::string path = dir.filePath("counted.pcap").toStdString();
        std::vector<std::vector<uint8_t>> frames;
        for (const auto& d : datagrams)
            frames.push_back(Ethernet(d));
        QVERIFY(testfile::WritePcap(path, DLT_EN10MB, frames));
        const Played played = Play(path, Ignoring(53));
        const CaptureFigures& f = played.figures;
        QCOMPARE(played.finishedCalls, 1);
        QVERIFY(!f.running);  // the thread has left its loop, not yet been joined
        QVERIFY(f.fromFile);
        QCOMPARE(f.source, path);
        QCOMPARE(f.received, uint64_t{1301});
        QCOMPARE(f.filtered, uint64_t{100});
        QCOMPARE(f.rows, uint64_t{1200});
        QCOMPARE(f.emptied, uint64_t{1000});
        QCOMPARE(played.rows.size(), size_t{200});
        QCOMPARE(f.fileBytes, uint64_t(QFileInfo(QString::fromStdString(path)).size()));
        QCOMPARE(f.bytesRead, f.fileBytes);
        QVERIFY2(kCountedLine.match(QString::fromStdString(FiguresLine(f))).hasMatch(),
                 FiguresLine(f).c_str());
    }

    void faultsAreNamed() {
        QTemporaryDir dir;
        auto open = [](const std::string& path) {
            UiHandoff handoff;
            FakeEventList list;
            CaptureSession session(handoff, list);
            const int rc = session.OpenCaptureFile(path);
            const bool kept = session.SocketOpen();
            SourceFault fault = session.LastFault();
            if (rc == 0 || kept)
                fault.kind = SourceFault::kNone;  // what a failed open must not be
            return fault;
        };
        SourceFault f = open(dir.filePath("missing.pcap").toStdString());
        QCOMPARE(f.kind, SourceFault::kCannotOpen);
        QCOMPARE(f.code, ENOENT);
        f = open(dir.path().toStdString());
        QCOMPARE(f.kind, SourceFault::kCannotOpen);
        QCOMPARE(f.code, EISDIR);
        const std::string text = dir.filePath("notes.txt").toStdString();
        std::ofstream(text) << "GET / HTTP/1.0\r\n\r\n";
        QCOMPARE(open(text).kind, SourceFault::kNotACaptureFile);
        const std::string empty = dir.filePath("empty.pcap").toStdString();
        std::ofstream(empty).flush();
        QCOMPARE(open(empty).kind, SourceFault::kNotACaptureFile);

        // A link type that is not read: refused before anything is shown.
        const std::string wifi = dir.filePath("wifi.pcap").toStdString();
        QVERIFY(testfile::WritePcap(wifi, DLT_IEEE802_11, {std::vector<uint8_t>(60, 0)}));
        f = open(wifi);
        QCOMPARE(f.kind, SourceFault::kUnsupportedLinkType);
        QCOMPARE(f.code, DLT_IEEE802_11);
        QCOMPARE(f.detail, std::string("IEEE802_11"));

        // Cut off inside the sixth frame: the five before it stay.
        for (bool ng : {false, true}) {
            const std::string cut = dir.filePath(ng ? "cut.pcapng" : "cut.pcap").toStdString();
            std::vector<std::vector<uint8_t>> frames;
            for (int i = 0; i < 10; ++i)
                frames.push_back(
                    Ethernet(Datagram(testfile::Between({10, 0, 0, 5}, {10, 0, 0, 9}, 17),
                                      Udp(1000, 9, Bytes("row" + std::to_string(i))))));
            QVERIFY(ng ? testfile::WritePcapng(cut, DLT_EN10MB, frames)
                       : testfile::WritePcap(cut, DLT_EN10MB, frames));
            const long header = ng ? 28 + 20 : 24;
            const long record = static_cast<long>(frames[0].size()) + (ng ? 32 + 3 : 16);
            QVERIFY(testfile::CutFile(cut, header + (ng ? (record & ~3L) : record) * 5 + 10));
            const Played played = Play(cut);
            QCOMPARE(played.finishedCalls, 1);
            QCOMPARE(played.fault.kind, SourceFault::kTruncated);
            QCOMPARE(played.fault.framesBefore, uint64_t{5});
            QCOMPARE(played.rows.size(), size_t{5});
            QCOMPARE(played.rows[0][kColData], std::string("row4"));
            QCOMPARE(played.figures.bytesRead, played.figures.fileBytes);  // read up to the cut
        }
    }

    // A timestamp beyond what nanoseconds since 1970 can hold in 64 bits.
    void farFutureTimestamps() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("far.pcapng").toStdString();
        const auto frame = Ethernet(Datagram(Ip{}, Tcp(1025, 80, 0x02)));
        QVERIFY(testfile::WritePcapng(path, DLT_EN10MB, {frame}, int64_t{1} << 40));
        const Played played = Play(path);
        QCOMPARE(played.rows.size(), size_t{1});
        QCOMPARE(played.rows[0][kColFlags], std::string("SYN-"));
    }

    // Stop by the person and the file's own end, in every order: each capture
    // ends once, and nothing is inserted after Stop.
    void stopAndTheEndOfTheFileRace() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("short.pcap").toStdString();
        std::vector<std::vector<uint8_t>> frames;
        for (int i = 0; i < 8; ++i)
            frames.push_back(Ethernet(Datagram(testfile::Between({10, 0, 0, 5}, {10, 0, 0, 9}, 17),
                                               Udp(1000, i % 2 ? 9 : 53, Bytes("x")))));
        QVERIFY(testfile::WritePcap(path, DLT_EN10MB, frames));
        UiHandoff handoff;
        FakeEventList list;
        CaptureSession session(handoff, list);
        session.SetFilterSettings(Ignoring(53));
        int endedByFile = 0, endedByPerson = 0;
        // What the main window does with the news.
        session.SetFinishedHandler([&](uint64_t n) {
            if (n == session.CaptureNumber() && session.CaptureThreadRunning()) {
                session.Stop();
                ++endedByFile;
            }
        });
        std::mt19937 rng(7);
        for (int round = 0; round < 300; ++round) {
            QCOMPARE(session.OpenCaptureFile(path), 0);
            QVERIFY(session.StartCaptureThread());
            switch (rng() % 3) {
                case 0:  // at once, before the first row
                    break;
                case 1:  // somewhere in the middle
                    for (unsigned i = rng() % 4; i > 0; --i)
                        QCoreApplication::processEvents();
                    break;
                default:  // the end, told or not
                    while (!session.CaptureThreadEnded())
                        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
                    break;
            }
            if (session.CaptureThreadRunning()) {
                session.Stop();
                ++endedByPerson;
            }
            const int rows = list.GetItemCount();
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
            QCOMPARE(list.GetItemCount(), rows);
            QVERIFY(!session.CaptureThreadRunning());
        }
        QCOMPARE(endedByFile + endedByPerson, 300);
        QVERIFY(endedByPerson > 0);
    }
};

QTEST_GUILESS_MAIN(CaptureFileTest)
#include "test_capture_file.moc"
