// Row search against a plain reference, and the cases a find bar meets.
#include <gtest/gtest.h>

#include <QStringDecoder>
#include <QStringEncoder>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "capture/decode.h"
#include "search/rowsearch.h"
#include "tests/capture/packet_builder.h"

using namespace testpkt;
using namespace Qt::StringLiterals;
using namespace std::string_view_literals;

namespace {

std::string Gbk(const QString& s) {
    QStringEncoder e("GBK", QStringEncoder::Flag::Stateless);
    const QByteArray b = e.encode(s);
    return e.hasError() ? std::string() : b.toStdString();
}
QString FromGbkBytes(std::string_view b) {
    QStringDecoder d("GBK", QStringDecoder::Flag::Stateless);
    return d.decode(QByteArrayView(b.data(), static_cast<qsizetype>(b.size())));
}
std::span<const uint8_t> Span(std::string_view s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// The text split into characters: GBK read from its first byte, or bytes.
std::vector<std::string_view> Chars(std::string_view t, bool gbk) {
    std::vector<std::string_view> out;
    for (size_t i = 0; i < t.size();) {
        const auto b = static_cast<uint8_t>(t[i]);
        const bool pair = gbk && b >= 0x81 && b <= 0xFE && i + 1 < t.size() &&
                          IsGbkTrail(static_cast<uint8_t>(t[i + 1]));
        out.push_back(t.substr(i, pair ? 2 : 1));
        i += pair ? 2 : 1;
    }
    return out;
}

bool SameChar(std::string_view a, std::string_view b, bool fold) {
    if (fold && a.size() == 1 && b.size() == 1 && std::isalpha(static_cast<uint8_t>(a[0])) &&
        std::isalpha(static_cast<uint8_t>(b[0])))
        return std::tolower(static_cast<uint8_t>(a[0])) == std::tolower(static_cast<uint8_t>(b[0]));
    return a == b;
}

// Byte offset of the first place the needle's characters follow each other
// among the text's characters, or npos.
size_t RefFind(std::string_view text, std::string_view needle, bool fold, bool gbk) {
    const auto t = Chars(text, gbk);
    const auto n = Chars(needle, gbk);
    size_t offset = 0;
    for (size_t s = 0; s + n.size() <= t.size() && !n.empty(); offset += t[s++].size()) {
        size_t i = 0;
        while (i < n.size() && SameChar(t[s + i], n[i], fold))
            ++i;
        if (i == n.size())
            return offset;
    }
    return NeedleFinder::npos;
}

RowMatch RefMatch(const QString& text, bool fold, const RowCells& cells, std::string_view payload) {
    RowMatch m;
    const std::string gbk = Gbk(text);
    const std::string utf8 = text.toStdString();
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    for (int i = 0; i < kEventColumns && !gbk.empty(); ++i) {
        const size_t at = RefFind(cells[static_cast<size_t>(i)], gbk, fold, true);
        if (at != NeedleFinder::npos)
            return {MatchPlace::kCell, i, at, gbk.size(), NeedleEncoding::kGbk, false};
    }
    size_t at = NeedleFinder::npos;
    if (ascii) {
        at = RefFind(payload, utf8, fold, false);
        m = {MatchPlace::kPayload, -1, at, utf8.size(), NeedleEncoding::kAscii, false};
    } else {
        const size_t g = gbk.empty() ? at : RefFind(payload, gbk, fold, true);
        const size_t u = RefFind(payload, utf8, fold, false);
        at = std::min(g, u);
        m = {MatchPlace::kPayload,
             -1,
             at,
             g <= u ? gbk.size() : utf8.size(),
             g <= u ? NeedleEncoding::kGbk : NeedleEncoding::kUtf8,
             false};
    }
    if (at == NeedleFinder::npos)
        return {};
    m.pastNul = at + m.length > std::min(payload.find('\0'), payload.size());
    return m;
}

// Pieces that trip a matcher: letters in both cases, hanzi in GBK and in
// UTF-8, GBK characters whose trail byte is a letter, lone lead bytes (before
// '=', which cannot be a trail), NUL, runs of lead-range bytes.
const std::vector<std::string_view> kPieces = {"a",
                                               "A",
                                               "b",
                                               "B",
                                               "ab",
                                               "Ab",
                                               "GET ",
                                               "=",
                                               "\xD6\xD0",
                                               "\xCE\xC4",
                                               "\xB0\xA1",
                                               "\xB0\x41",
                                               "\xB0\x61",
                                               "\xD6\x41",
                                               "\x81\x62",
                                               "\xB0",
                                               "\xD6",
                                               "\xFF",
                                               "\x80",
                                               "\r\n",
                                               "\0"sv,
                                               "\xE4\xB8\xAD",
                                               "\xE6\x96\x87",
                                               "\xD6\xD6\xD6"};
const std::vector<QString> kNeedleChars = {
    u"a"_s, u"A"_s,  u"="_s,  u"中"_s, u"文"_s, FromGbkBytes("\xB0\x41"), FromGbkBytes("\xD6\x41"),
    u"b"_s, u"啊"_s, u"Ａ"_s, u"😀"_s};

std::string RandomBytes(std::mt19937& rng, size_t pieces) {
    std::string s;
    for (size_t i = 0; i < pieces; ++i)
        s += kPieces[rng() % kPieces.size()];
    return s;
}

// Flips the case of some ASCII letters that stand alone in GBK text.
std::string CaseVariant(std::mt19937& rng, std::string_view s) {
    std::string out;
    for (std::string_view c : Chars(s, true)) {
        out += c;
        if (c.size() == 1 && std::isalpha(static_cast<uint8_t>(c[0])) && rng() % 2)
            out.back() = static_cast<char>(out.back() ^ 0x20);
    }
    return out;
}

}  // namespace

TEST(Search, FinderAgreesWithReference) {
    std::mt19937 rng(7);
    const std::string dense = "\xB0\x41\x61\xD6\xD0\x81=";  // every byte a candidate somewhere
    for (int round = 0; round < 20000; ++round) {
        std::string text(rng() % 120, ' ');
        for (char& c : text)
            c = dense[rng() % dense.size()];
        QString typed;
        for (size_t n = 1 + rng() % 3; n > 0; --n)
            typed += kNeedleChars[rng() % 8];
        const std::string needle = Gbk(typed);
        const bool fold = rng() % 2, aligned = rng() % 2;
        const NeedleFinder finder(needle, fold, aligned);
        ASSERT_EQ(finder.Find(Span(text).data(), text.size()), RefFind(text, needle, fold, aligned))
            << round;
    }
}

TEST(Search, RowsAgreeWithReference) {
    std::mt19937 rng(11);
    for (int round = 0; round < 6000; ++round) {
        QString typed;
        for (size_t n = 1 + rng() % 3; n > 0; --n)
            typed += kNeedleChars[rng() % kNeedleChars.size()];
        const bool fold = rng() % 2;
        const SearchQuery query = SearchQuery::Compile(typed, {.caseSensitive = !fold});
        ASSERT_TRUE(query.ready());

        std::array<std::string, kEventColumns> cellText;
        RowCells cells;
        for (size_t i = 0; i < cells.size(); ++i)
            cells[i] = cellText[i] = rng() % 4 ? RandomBytes(rng, rng() % 3) : "";
        // Mostly short payloads; some long enough for many 16-byte blocks.
        std::string payload = RandomBytes(rng, rng() % 8 ? rng() % 40 : 500);
        const std::string planted = rng() % 2 ? Gbk(typed) : typed.toStdString();
        if (rng() % 2)
            payload.insert(rng() % (payload.size() + 1), CaseVariant(rng, planted));
        const auto d = rng() % 2
                           ? Datagram(Ip{.protocol = 17}, Udp(5000, 53, Bytes(payload)))
                           : Datagram(Ip{.optionWords = 1}, Tcp(80, 5000, 0x18, Bytes(payload), 2));

        const RowMatch got = MatchRow(query, cells, d);
        const RowMatch want = RefMatch(typed, fold, cells, payload);
        ASSERT_EQ(got.place, want.place) << round;
        if (!want)
            continue;
        EXPECT_EQ(got.cell, want.cell) << round;
        EXPECT_EQ(got.offset, want.offset) << round;
        EXPECT_EQ(got.length, want.length) << round;
        EXPECT_EQ(got.pastNul, want.pastNul) << round;
        if (want.place == MatchPlace::kPayload) {
            EXPECT_EQ(got.encoding, want.encoding) << round;
        }
    }
}

// A Chinese text that only appears after a NUL: found through the real row
// builder's cells and the datagram kept beside them, with its context.
TEST(Search, ChineseAfterNulInPayload) {
    const std::string payload = "id=7" + std::string(1, '\0') + "\x01\r\n" + Gbk(u"查找中文"_s);
    const auto d = Datagram(Ip{.protocol = 17}, Udp(4000, 4000, Bytes(payload)));
    std::vector<uint8_t> buffer(kReceiveBufferSize);
    std::copy(d.begin(), d.end(), buffer.begin());
    PacketText text;
    RowWorkspace ws;
    EventRow row;
    DecodePacket(buffer.data(), static_cast<int>(d.size()), text);
    ASSERT_TRUE(BuildEventRow(buffer.data(), static_cast<int>(d.size()), text, {}, "", 0, ws, row));
    EXPECT_EQ(row.cells[kColData], "id=7");

    const RowMatch m = MatchRow(SearchQuery::Compile(u"中文"_s), row.cells, d);
    EXPECT_EQ(m.place, MatchPlace::kPayload);
    EXPECT_EQ(m.encoding, NeedleEncoding::kGbk);
    EXPECT_EQ(m.offset, 12u);
    EXPECT_TRUE(m.pastNul);
    const MatchContext c = PayloadContext(PayloadBytes(d), m.offset, m.length, m.encoding);
    // The NUL, the control and the line break as escapes: they were received.
    EXPECT_EQ(c.text, u"id=7\\u0000\\u0001\\u000D\\u000A查找中文"_s);
    EXPECT_EQ(c.text.mid(c.matchStart, c.matchLength), u"中文"_s);
    // A service label matches as a cell (oicq), ahead of the payload.
    EXPECT_EQ(MatchRow(SearchQuery::Compile(u"OICQ"_s), row.cells, d).cell, kColService);
}

TEST(Search, TrailBytesAndCase) {
    // B0 41 is one character whose trail byte reads as 'A'.
    RowCells cells{};
    cells[kColData] = "\xB0\x41 x";
    const std::vector<uint8_t> none;
    EXPECT_FALSE(MatchRow(SearchQuery::Compile(u"A"_s), cells, none));
    EXPECT_FALSE(MatchRow(SearchQuery::Compile(u"a"_s), cells, none));
    EXPECT_EQ(MatchRow(SearchQuery::Compile(FromGbkBytes("\xB0\x41")), cells, none).cell, kColData);
    EXPECT_EQ(MatchRow(SearchQuery::Compile(u"X"_s), cells, none).cell, kColData);
    EXPECT_FALSE(MatchRow(SearchQuery::Compile(u"X"_s, {.caseSensitive = true}), cells, none));
    cells[kColFlags] = "\xA3\xC1";  // full-width Ａ: no folding beyond ASCII
    EXPECT_FALSE(MatchRow(SearchQuery::Compile(u"ａ"_s), cells, none));

    // In the payload an ASCII text is also a plain byte match, but a mixed
    // text stays on character starts.
    const auto d = Datagram(Ip{.protocol = 17}, Udp(1, 2, Bytes("\xB0\x41\xD6\xD0")));
    const RowMatch ascii = MatchRow(SearchQuery::Compile(u"a"_s), {}, d);
    EXPECT_EQ(ascii.place, MatchPlace::kPayload);
    EXPECT_EQ(ascii.encoding, NeedleEncoding::kAscii);
    EXPECT_EQ(ascii.offset, 1u);
    EXPECT_FALSE(MatchRow(SearchQuery::Compile(u"A中"_s), {}, d));
}

TEST(Search, HexForms) {
    std::string bytes;
    qsizetype at = 0;
    for (const QString& s :
         {u"de ad be ef"_s, u"deadbeef"_s, u"DE AD BE EF"_s, u"de:ad:be:ef"_s, u"de-ad-BE-ef"_s,
          u"0xDEADbeef"_s, u" dead\tbeef "_s, u"ｄｅ　ａｄ：ＢＥ－ef"_s}) {
        EXPECT_EQ(ParseHexBytes(s, bytes, at), QueryStatus::kReady) << s.toStdString();
        EXPECT_EQ(bytes, "\xDE\xAD\xBE\xEF") << s.toStdString();
    }
    const struct {
        QString text;
        QueryStatus status;
        qsizetype at;
    } bad[] = {
        {u"dea"_s, QueryStatus::kHexOddDigits, 0}, {u"de a dbeef"_s, QueryStatus::kHexOddDigits, 3},
        {u"de ag"_s, QueryStatus::kHexBadChar, 4}, {u"0x"_s, QueryStatus::kHexBadChar, 1},
        {u"de,ad"_s, QueryStatus::kHexBadChar, 2}, {u" : - "_s, QueryStatus::kHexNoBytes, -1}};
    for (const auto& b : bad) {
        const SearchQuery q = SearchQuery::Compile(b.text, {.hex = true});
        EXPECT_EQ(q.status(), b.status) << b.text.toStdString();
        EXPECT_EQ(q.errorPosition(), b.at) << b.text.toStdString();
        EXPECT_TRUE(QueryErrorText(q.status()).startsWith(u"十六进制无效"_s));
        EXPECT_FALSE(MatchRow(q, {}, std::vector<uint8_t>(64, 0xDE)));
    }
    EXPECT_EQ(SearchQuery::Compile({}, {.hex = true}).status(), QueryStatus::kEmpty);
    EXPECT_EQ(SearchQuery::Compile({}).status(), QueryStatus::kEmpty);

    // The header is searched too, exactly.
    const auto d = Datagram(Ip{.protocol = 17}, Udp(0xABCD, 2, Bytes("xyz")));
    RowCells cells{};
    cells[kColData] = "45";
    const RowMatch m = MatchRow(SearchQuery::Compile(u"45 00"_s, {.hex = true}), cells, d);
    EXPECT_EQ(m.place, MatchPlace::kDatagram);
    EXPECT_EQ(m.offset, 0u);
    EXPECT_EQ(MatchRow(SearchQuery::Compile(u"abcd"_s, {.hex = true}), {}, d).offset, 20u);
    EXPECT_FALSE(MatchRow(SearchQuery::Compile(u"78 59"_s, {.hex = true}), {}, d));
}

TEST(Search, ShortAndCutDatagrams) {
    // A needle cut off by the datagram's end, whose rest lies in the bytes
    // after it (as in a reused receive buffer), at every place in a block.
    for (size_t n = 1; n < 40; ++n) {
        std::vector<uint8_t> buffer =
            Datagram(Ip{.protocol = 17}, Udp(1, 2, Bytes(std::string(n - 1, 'b') + "\xD6")));
        buffer.push_back(0xD0);
        const std::span<const uint8_t> d(buffer.data(), buffer.size() - 1);
        EXPECT_FALSE(MatchRow(SearchQuery::Compile(u"中"_s), {}, d)) << n;
        EXPECT_FALSE(MatchRow(SearchQuery::Compile(u"d6 d0"_s, {.hex = true}), {}, d)) << n;
        EXPECT_EQ(MatchRow(SearchQuery::Compile(u"B"_s), {}, d).place,
                  n > 1 ? MatchPlace::kPayload : MatchPlace::kNone);
    }

    auto udpOptions = Datagram(Ip{.protocol = 17}, Udp(1, 2, Bytes("x")));
    udpOptions[0] = 0x4F;  // a 60-byte IPv4 header in 29 bytes
    auto tcpOffset = Datagram(Ip{}, Tcp(1, 2, 0, Bytes("x")));
    tcpOffset[32] = 0xF0;  // a 60-byte TCP header
    for (const auto& cut : {Datagram(Ip{.protocol = 17}, Udp(1, 2)), Datagram(Ip{}, Tcp(1, 2, 0)),
                            Datagram(Ip{.protocol = 1}, IcmpEcho(0, Bytes("x"))), udpOptions,
                            tcpOffset, std::vector<uint8_t>(19, 17)}) {
        EXPECT_EQ(PayloadBytes(cut).size(), 0u);
        EXPECT_FALSE(MatchRow(SearchQuery::Compile(u"x"_s), {}, cut));
        EXPECT_TRUE(PayloadContext(PayloadBytes(cut), 0, 1).text.isEmpty());
    }
}

TEST(Search, ContextCutsOnCharacters) {
    // Forty hanzi, then a match, then forty more: the window's ends must not
    // split a character, whatever the radius.
    const std::string han = Gbk(QString(40, u'汉'));
    const std::string payload = "\x01" + han + "key\t" + han;
    for (size_t radius = 20; radius < 24; ++radius) {
        const MatchContext c = PayloadContext(Span(payload), 81, 3, NeedleEncoding::kAscii, radius);
        EXPECT_FALSE(c.text.contains(QChar::ReplacementCharacter)) << radius;
        EXPECT_TRUE(c.text.startsWith(u"…汉"_s) && c.text.endsWith(u"汉…"_s)) << radius;
        EXPECT_EQ(c.text.mid(c.matchStart, c.matchLength), u"key"_s);
    }
    // A UTF-8 match reads as UTF-8; a bidi override after it cannot turn the
    // text around, and markup stays text for the tooltip to escape.
    const std::string utf8 = "x\xE4\xB8\xAD\xE6\x96\x87y\xE2\x80\xAE<b>";
    const MatchContext u = PayloadContext(Span(utf8), 1, 6, NeedleEncoding::kUtf8);
    EXPECT_EQ(u.text, u"x中文y\\u202E<b>"_s);
}
