// Decoding, filtering and row building over byte-array datagrams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <string>

#include "capture/decode.h"
#include "tests/capture/fake_list.h"
#include "tests/capture/packet_builder.h"

using namespace testpkt;

namespace {

struct Outcome {
    PacketText text;
    std::optional<FakeEventList::Row> row;
};

// Runs one datagram through decoding and row building into a fresh list. The
// bytes behind the datagram are garbage, as in a reused receive buffer.
Outcome Show(const std::vector<uint8_t>& d, const FilterSettings& f = {},
             std::string_view local = "", int length = -1) {
    std::vector<uint8_t> buffer(kReceiveBufferSize, 0xAA);
    std::memcpy(buffer.data(), d.data(), std::min(d.size(), buffer.size()));
    const int len = length >= 0 ? length : static_cast<int>(d.size());
    Outcome out;
    DecodePacket(buffer.data(), len, out.text);
    RowWorkspace ws;
    EventRow row;
    if (BuildEventRow(buffer.data(), len, out.text, f, local, 1700000000, ws, row)) {
        FakeEventList list;
        InsertEventRow(list, row);
        out.row = list.rows.at(0);
    }
    return out;
}

FilterSettings Filter(const char* src, const char* dst, uint16_t monitored, uint16_t ignored) {
    FilterSettings f;
    std::strcpy(f.srcAddrText, src);
    std::strcpy(f.dstAddrText, dst);
    f.monitoredPort = monitored;
    f.ignoredPort = ignored;
    return f;
}

std::vector<uint8_t> TcpDatagram(uint16_t sport, uint16_t dport, uint8_t flags = 0,
                                 const std::vector<uint8_t>& payload = {}) {
    return Datagram(Ip{}, Tcp(sport, dport, flags, payload));
}

}  // namespace

TEST(Decode, AddressAndPortTexts) {
    const auto out = Show(TcpDatagram(1025, 80));
    EXPECT_STREQ(out.text.srcAddr, "10.0.0.5");
    EXPECT_STREQ(out.text.dstAddr, "10.0.0.9");
    EXPECT_STREQ(out.text.srcPort, "1025");
    EXPECT_STREQ(out.text.dstPort, "80");

    EXPECT_STREQ(Show(TcpDatagram(0, 65535)).text.srcPort, "0");
    EXPECT_STREQ(Show(TcpDatagram(0, 65535)).text.dstPort, "65535");

    Ip wide;
    wide.src[0] = 255, wide.src[1] = 255, wide.src[2] = 255, wide.src[3] = 255;
    wide.protocol = 17;
    EXPECT_STREQ(Show(Datagram(wide, Udp(1, 2))).text.srcAddr, "255.255.255.255");
}

TEST(Decode, UdpWithOptionsTakesPortsBehindTheOptions) {
    Ip ip;
    ip.protocol = 17;
    ip.optionWords = 1;  // header length 6: ports at 24 and 26
    const auto out = Show(Datagram(ip, Udp(5353, 53, Bytes("q"))));
    EXPECT_STREQ(out.text.srcPort, "5353");
    EXPECT_STREQ(out.text.dstPort, "53");
    ASSERT_TRUE(out.row);
    EXPECT_EQ((*out.row)[kColService], "dns");
    EXPECT_EQ((*out.row)[kColData], "q");
}

TEST(Decode, IcmpHasNoPortsButItsWordsStillFilterAndLabel) {
    Ip ip;
    ip.protocol = 1;
    const auto echo = Datagram(ip, IcmpEcho(0x1234, Bytes("abcdefgh")));
    const auto out = Show(echo);
    EXPECT_STREQ(out.text.srcPort, "");
    EXPECT_STREQ(out.text.dstPort, "");
    ASSERT_TRUE(out.row);
    const auto& r = *out.row;
    EXPECT_EQ(r[kColSrcPort], "");
    EXPECT_EQ(r[kColDstPort], "");
    EXPECT_EQ(r[kColData], "");
    EXPECT_EQ(r[kColService], "--");  // label of the checksum word
    // Byte H + 13 is the payload's 'f' (0x66): its flag bits still show.
    EXPECT_EQ(r[kColFlags], "URG-RST-SYN-");
}

TEST(Decode, IcmpFlagByteAndChecksumLabel) {
    Ip ip;
    ip.protocol = 1;
    std::vector<uint8_t> payload(8, 0);
    payload[5] = 0x12;                                      // H + 13
    const auto echo = Datagram(ip, IcmpEcho(80, payload));  // checksum word 80
    const auto r = *Show(echo).row;
    EXPECT_EQ(r[kColService], "http");
    EXPECT_EQ(r[kColFlags], "ACK-SYN-");
    // Ignored port 53 drops another protocol whose transport word is 53.
    EXPECT_FALSE(Show(Datagram(ip, IcmpEcho(53)), Filter("0.0.0.0", "0.0.0.0", 0, 53)).row);
}

TEST(Filter, StartValuesPassEverything) {
    EXPECT_TRUE(Show(TcpDatagram(1, 2)).row);
    Ip ip;
    ip.protocol = 47;  // GRE
    EXPECT_TRUE(Show(Datagram(ip, std::vector<uint8_t>(8, 0))).row);
}

TEST(Filter, AddressesMatchWholeTexts) {
    Ip from5, from50;
    from50.src[3] = 50;
    const auto only5 = Filter("10.0.0.5", "0.0.0.0", 0, 0);
    EXPECT_TRUE(Show(Datagram(from5, Tcp(1, 2, 0)), only5).row);
    EXPECT_FALSE(Show(Datagram(from50, Tcp(1, 2, 0)), only5).row);
    EXPECT_TRUE(Show(Datagram(from5, Tcp(1, 2, 0)), Filter("0.0.0.0", "10.0.0.9", 0, 0)).row);
    EXPECT_FALSE(Show(Datagram(from5, Tcp(1, 2, 0)), Filter("0.0.0.0", "10.0.0.90", 0, 0)).row);
    // The destination filter is not tested against the source address.
    EXPECT_FALSE(Show(Datagram(from5, Tcp(1, 2, 0)), Filter("0.0.0.0", "10.0.0.5", 0, 0)).row);
}

TEST(Filter, MonitoredAndIgnoredPorts) {
    const auto watch80 = Filter("0.0.0.0", "0.0.0.0", 80, 0);
    EXPECT_TRUE(Show(TcpDatagram(80, 1025), watch80).row);
    EXPECT_TRUE(Show(TcpDatagram(1025, 80), watch80).row);
    EXPECT_FALSE(Show(TcpDatagram(1025, 443), watch80).row);

    const auto ignore53 = Filter("0.0.0.0", "0.0.0.0", 0, 53);
    Ip udp;
    udp.protocol = 17;
    EXPECT_FALSE(Show(Datagram(udp, Udp(53, 4000)), ignore53).row);
    EXPECT_FALSE(Show(Datagram(udp, Udp(4000, 53)), ignore53).row);
    EXPECT_TRUE(Show(Datagram(udp, Udp(4000, 4001)), ignore53).row);

    const auto both80 = Filter("0.0.0.0", "0.0.0.0", 80, 80);
    EXPECT_FALSE(Show(TcpDatagram(80, 1025), both80).row);
    EXPECT_FALSE(Show(TcpDatagram(1025, 80), both80).row);
    EXPECT_FALSE(Show(TcpDatagram(1025, 443), both80).row);
}

TEST(Rows, LocalMarkerOnTheLocalSideOnly) {
    Ip out;
    out.src[0] = 192, out.src[1] = 168, out.src[2] = 1, out.src[3] = 20;
    out.dst[0] = 93, out.dst[1] = 184, out.dst[2] = 216, out.dst[3] = 34;
    const std::string marked = std::string(kLocalMarker) + "192.168.1.20";
    ASSERT_EQ(kLocalMarker.size(), 6u);

    const auto sent = *Show(Datagram(out, Tcp(1025, 80, 0x18)), {}, "192.168.1.20").row;
    EXPECT_EQ(sent[kColSrcAddr], marked);
    EXPECT_EQ(sent[kColDstAddr], "93.184.216.34");

    Ip in;
    std::memcpy(in.src, out.dst, 4);
    std::memcpy(in.dst, out.src, 4);
    const auto got = *Show(Datagram(in, Tcp(80, 1025, 0x10)), {}, "192.168.1.20").row;
    EXPECT_EQ(got[kColSrcAddr], "93.184.216.34");
    EXPECT_EQ(got[kColDstAddr], marked);

    // 192.168.1.2 is a prefix of the local address, not the local address.
    const auto other = *Show(Datagram(out, Tcp(1, 2, 0)), {}, "192.168.1.2").row;
    EXPECT_EQ(other[kColSrcAddr], "192.168.1.20");
}

TEST(Rows, ServiceLabels) {
    EXPECT_EQ(ServiceNameForPort(53), "dns");
    EXPECT_EQ(ServiceNameForPort(80), "http");
    EXPECT_EQ(ServiceNameForPort(137), "netbios-ns");
    EXPECT_EQ(ServiceNameForPort(139), "netbios-ssn");
    EXPECT_EQ(ServiceNameForPort(514), "syslog");
    EXPECT_EQ(ServiceNameForPort(3389), "\xD4\xB6\xB3\xCC\xD7\xC0\xC3\xE6");  // 远程桌面
    EXPECT_EQ(ServiceNameForPort(3999), "--");
    EXPECT_EQ(ServiceNameForPort(4000), "oicq");
    EXPECT_EQ(ServiceNameForPort(4003), "oicq");
    EXPECT_EQ(ServiceNameForPort(4004), "--");
    // The label follows the destination port, not the source port.
    EXPECT_EQ((*Show(TcpDatagram(80, 1025)).row)[kColService], "--");
}

TEST(Rows, FlagTexts) {
    char out[64];
    const std::pair<uint8_t, const char*> cases[] = {
        {0x12, "ACK-SYN-"}, {0x11, "ACK-FIN"},
        {0x18, "ACK-PSH-"}, {0x3F, "URG-ACK-PSH-RST-SYN-FIN"},
        {0x00, ""},         {0xC0, ""},
        {0xC2, "SYN-"}};
    for (const auto& [byte, text] : cases) {
        FormatTcpFlags(byte, out);
        EXPECT_STREQ(out, text) << int(byte);
    }
    // UDP: the sixth payload byte sits where the TCP flags would be.
    Ip udp;
    udp.protocol = 17;
    std::vector<uint8_t> payload = Bytes("abcde");
    payload.push_back(0x12);
    EXPECT_EQ((*Show(Datagram(udp, Udp(1, 2, payload))).row)[kColFlags], "ACK-SYN-");
}

TEST(Rows, DataThresholds) {
    // TCP with 20-byte headers: 40 bytes leaves the data empty, 41 shows one byte.
    EXPECT_EQ((*Show(TcpDatagram(1, 2)).row)[kColData], "");
    EXPECT_EQ((*Show(TcpDatagram(1, 2, 0, Bytes("x"))).row)[kColData], "x");
    Ip udp;
    udp.protocol = 17;
    EXPECT_EQ((*Show(Datagram(udp, Udp(1, 2))).row)[kColData], "");
    EXPECT_EQ((*Show(Datagram(udp, Udp(1, 2, Bytes("y")))).row)[kColData], "y");
    // A first payload byte of zero gives an empty text; text stops at the first zero.
    EXPECT_EQ((*Show(TcpDatagram(1, 2, 0, {0, 'a', 'b'})).row)[kColData], "");
    EXPECT_EQ((*Show(TcpDatagram(1, 2, 0, {'a', 0, 'b'})).row)[kColData], "a");
    // With TCP options the threshold still counts the whole length: 44 bytes, no payload.
    const auto opt = Datagram(Ip{}, Tcp(1, 2, 0, {}, 1));
    ASSERT_EQ(opt.size(), 44u);
    EXPECT_EQ((*Show(opt).row)[kColData], "");
}

TEST(Rows, OverLengthPayload) {
    const std::string gbkPrefix = "\xCA\xFD\xBE\xDD\xB3\xAC\xB3\xA4\xB6\xC8=";  // 数据超长度=
    const auto p1513 = std::vector<uint8_t>(1513, 'z');
    EXPECT_EQ((*Show(TcpDatagram(1, 2, 0, p1513)).row)[kColData], std::string(1513, 'z'));
    const auto p1514 = std::vector<uint8_t>(1514, 'z');
    EXPECT_EQ((*Show(TcpDatagram(1, 2, 0, p1514)).row)[kColData], gbkPrefix + "1514");
    Ip udp;
    udp.protocol = 17;
    const auto big = std::vector<uint8_t>(1960, 'q');
    EXPECT_EQ((*Show(Datagram(udp, Udp(1, 2, big))).row)[kColData], gbkPrefix + "1960");
}

TEST(Rows, LargestDatagramTerminatesOnTheSpareByte) {
    Ip udp;
    udp.protocol = 17;
    std::vector<uint8_t> d = Datagram(udp, Udp(1, 2, std::vector<uint8_t>(65535 - 28, 'w')));
    ASSERT_EQ(d.size(), 65535u);
    std::vector<uint8_t> buffer(kReceiveBufferSize, 0xAA);
    std::memcpy(buffer.data(), d.data(), d.size());
    PacketText text;
    DecodePacket(buffer.data(), 65535, text);
    RowWorkspace ws;
    EventRow row;
    ASSERT_TRUE(BuildEventRow(buffer.data(), 65535, text, {}, "", 0, ws, row));
    EXPECT_EQ(buffer[65535], 0);
    EXPECT_EQ(row.cells[kColData], "\xCA\xFD\xBE\xDD\xB3\xAC\xB3\xA4\xB6\xC8=65507");
    // The message is not written over the datagram, which rows keep whole.
    EXPECT_TRUE(std::equal(d.begin(), d.end(), buffer.begin()));
}

TEST(Rows, TimeTextAndColumns) {
    setenv("TZ", "UTC", 1);
    tzset();
    const auto r = *Show(TcpDatagram(1025, 80, 0x02, Bytes("GET /"))).row;
    EXPECT_EQ(r[kColTime], "2023-11-14 22:13:20");
    EXPECT_EQ(r[kColSrcAddr], "10.0.0.5");
    EXPECT_EQ(r[kColSrcPort], "1025");
    EXPECT_EQ(r[kColDstAddr], "10.0.0.9");
    EXPECT_EQ(r[kColDstPort], "80");
    EXPECT_EQ(r[kColService], "http");
    EXPECT_EQ(r[kColData], "GET /");
    EXPECT_EQ(r[kColFlags], "SYN-");
}

TEST(Rows, CapEmptiesTheListBeforeThe501stRow) {
    FakeEventList list;
    EventRow row;
    for (auto& c : row.cells)
        c = "c";
    for (int i = 0; i < 500; ++i) {
        row.cells[kColData] = "old";
        InsertEventRow(list, row);
    }
    EXPECT_EQ(list.GetItemCount(), 500);
    EXPECT_EQ(list.clears, 0);
    row.cells[kColData] = "new";
    InsertEventRow(list, row);
    ASSERT_EQ(list.GetItemCount(), 1);
    EXPECT_EQ(list.rows[0][kColData], "new");
    EXPECT_EQ(list.clears, 1);

    // A refused insertion leaves no half row behind.
    list.refuse = true;
    InsertEventRow(list, row);
    EXPECT_EQ(list.GetItemCount(), 1);
}

TEST(Rows, NewRowsGoOnTop) {
    FakeEventList list;
    EventRow row;
    for (const char* t : {"first", "second", "third"}) {
        row.cells[kColData] = t;
        InsertEventRow(list, row);
    }
    EXPECT_EQ(list.rows[0][kColData], "third");
    EXPECT_EQ(list.rows[2][kColData], "first");
}

TEST(Malformed, ShortReceivesGiveNoEvent) {
    const auto d = TcpDatagram(1, 2);
    for (int len : {0, 1, 19}) {
        const auto out = Show(d, {}, "", len);
        EXPECT_FALSE(out.row) << len;
        EXPECT_STREQ(out.text.srcAddr, "") << len;
    }
    // Exactly a header: an event with empty ports.
    const auto header = Show(d, {}, "", 20);
    ASSERT_TRUE(header.row);
    EXPECT_EQ((*header.row)[kColSrcPort], "");
    EXPECT_EQ((*header.row)[kColFlags], "");
    EXPECT_EQ((*header.row)[kColService], "--");
}

TEST(Malformed, TruncatedTransportHeaders) {
    const auto d = TcpDatagram(1025, 80, 0x12, Bytes("data"));
    // Ports present, flag byte absent.
    const auto cut = Show(d, {}, "", 24);
    ASSERT_TRUE(cut.row);
    EXPECT_EQ((*cut.row)[kColSrcPort], "1025");
    EXPECT_EQ((*cut.row)[kColFlags], "");
    // Half a port word: no port texts, and the filter sees port 0.
    const auto half = Show(d, Filter("0.0.0.0", "0.0.0.0", 0, 80), "", 23);
    ASSERT_TRUE(half.row);
    EXPECT_EQ((*half.row)[kColDstPort], "");
}

TEST(Malformed, HeaderLengthsOutOfRange) {
    // IHL 0: the "transport" starts at offset 0. IHL 15: at 60, past a short datagram.
    for (uint8_t ihl : {0, 15}) {
        auto d = TcpDatagram(1025, 80, 0x12, Bytes("payload"));
        d[0] = static_cast<uint8_t>(0x40 | ihl);
        const auto out = Show(d);
        ASSERT_TRUE(out.row) << int(ihl);
        if (ihl == 15) {
            EXPECT_EQ((*out.row)[kColSrcPort], "");
            EXPECT_EQ((*out.row)[kColData], "");
        }
    }
    // TCP data offset pointing past the end of the datagram: empty data, never the garbage behind
    // it.
    auto d = TcpDatagram(1, 2, 0, Bytes("abc"));
    d[20 + 12] = 0xF0;  // 60-byte TCP header in a 43-byte datagram
    const auto out = Show(d);
    ASSERT_TRUE(out.row);
    EXPECT_EQ((*out.row)[kColData], "");
}

TEST(Malformed, DataNeverRunsPastTheDatagram) {
    // The bytes after the datagram are 0xAA garbage; the text must stop at the datagram's end.
    const auto out = Show(TcpDatagram(1, 2, 0, Bytes("abc")));
    EXPECT_EQ((*out.row)[kColData], "abc");
}

// A batch leaves the list exactly as inserting its rows one at a time would:
// the same rows in the same order, the same counts inserted and emptied,
// wherever the emptyings fall, for batches far longer than the list.
TEST(Rows, ABatchEqualsItsRowsOneByOne) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 300; ++round) {
        FakeEventList single, batched;
        const int start = static_cast<int>(rng() % 501);
        EventRow row;
        for (auto& c : row.cells)
            c = "c";
        for (int i = 0; i < start; ++i) {
            const std::string data = "old " + std::to_string(i);
            row.cells[kColData] = data;
            InsertEventRow(single, row);
            InsertEventRow(batched, row);
        }
        const int n = round % 10 == 0 ? static_cast<int>(1 + rng() % 3000)
                                      : static_cast<int>(1 + rng() % 600);
        RowBatch batch;
        InsertOutcome expected;
        for (int i = 0; i < n; ++i) {
            const std::string data = "new " + std::to_string(i);
            const std::string port = std::to_string(i % 7);
            const std::string attachment(static_cast<size_t>(i % 5), static_cast<char>(i));
            row.cells[kColData] = data;
            row.cells[kColSrcPort] = port;
            const InsertOutcome one = InsertEventRow(single, row, attachment);
            expected.inserted += one.inserted;
            expected.emptied += one.emptied;
            batch.Add(row, attachment);
        }
        ASSERT_EQ(batch.Total(), static_cast<uint64_t>(n));
        ASSERT_LE(batch.Held(), kMaxEventRows);
        const InsertOutcome got = InsertEventRows(batched, batch);
        EXPECT_EQ(got.inserted, expected.inserted) << "round " << round;
        EXPECT_EQ(got.emptied, expected.emptied) << "round " << round;
        ASSERT_EQ(batched.rows, single.rows) << "round " << round << ", " << start << " + " << n;
        EXPECT_EQ(batched.attachments, single.attachments);
        EXPECT_EQ(batched.batches, 1);
    }
}
