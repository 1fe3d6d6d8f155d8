// Capture files replayed through the capture thread, and the link-layer
// framing every captured frame goes through.
#include <pcap/pcap.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>

#include "capture/session.h"
#include "fake_list.h"
#include "packet_builder.h"

using namespace testpkt;

namespace {

std::vector<uint8_t> Ethernet(const std::vector<uint8_t>& datagram,
                              const std::vector<uint16_t>& vlanTags = {}) {
    std::vector<uint8_t> f(12, 0x02);
    for (uint16_t tag : vlanTags) {
        f.push_back(0x81), f.push_back(0x00);
        f.push_back(static_cast<uint8_t>(tag >> 8)), f.push_back(static_cast<uint8_t>(tag));
    }
    f.push_back(0x08), f.push_back(0x00);
    f.insert(f.end(), datagram.begin(), datagram.end());
    return f;
}

void WriteCapture(const std::string& path, int linkType,
                  const std::vector<std::vector<uint8_t>>& frames) {
    pcap_t* dead = pcap_open_dead(linkType, 65535 + 64);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    QVERIFY(dumper != nullptr);
    time_t second = 1700000000;  // 2023-11-14 22:13:20 UTC, one datagram a second
    for (const auto& f : frames) {
        pcap_pkthdr h{};
        h.ts.tv_sec = second++;
        h.ts.tv_usec = 250000;
        h.caplen = h.len = static_cast<bpf_u_int32>(f.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h, f.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
}

bool Locate(int link, const std::vector<uint8_t>& frame, uint32_t* off, uint32_t* len) {
    return LocateDatagram(link, frame.data(), static_cast<uint32_t>(frame.size()), off, len);
}

}  // namespace

class CaptureFileTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
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

    void missingFileFailsTheOpen() {
        UiHandoff handoff;
        FakeEventList list;
        CaptureSession session(handoff, list, [] { return MakeFileEndpoint("/nonexistent.pcap"); });
        QVERIFY(session.OpenCaptureSocket() != 0);
        QVERIFY(!session.EndpointErrorText().empty());
    }
};

QTEST_GUILESS_MAIN(CaptureFileTest)
#include "test_capture_file.moc"
