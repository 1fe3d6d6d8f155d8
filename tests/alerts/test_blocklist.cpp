// The block list: its parser over hostile and odd lines, the merged range
// table against a plain scan of the entries, and the file read again when an
// editor replaces it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "alerts/address.h"
#include "alerts/blocklist.h"

namespace {

IpAddress Key(const char* text) {
    IpAddress k;
    EXPECT_TRUE(ParseHost(text, &k)) << text;
    return k;
}

bool Blocked(const Blocklist& list, const char* text) {
    return list.Find(Key(text)) != nullptr;
}

// One line of a block list file, and what it gives.
struct LineCase {
    std::string line;
    // The entry's range as the alert names it; empty: a bad line; "-": a line
    // that is no entry and no fault (blank, a comment).
    std::string range;
    std::vector<const char*> inside, outside;  // hosts it does and does not block
};

// The syntax line by line: what is accepted and as what, what is refused.
// IPv4 text is dotted decimal without leading zeros; IPv6 text is what
// inet_pton takes; an IPv4-mapped address or prefix stands for its IPv4
// hosts; a prefix length is one to three digits, within its family's width,
// and the host bits of the address are dropped.
TEST(Blocklist, EachLineAcceptedOrRefusedAsWritten) {
    const std::vector<LineCase> cases = {
        // Addresses and prefixes of IPv4.
        {"192.0.2.7", "192.0.2.7", {"192.0.2.7"}, {"192.0.2.6", "192.0.2.8", "::ffff:c000:208"}},
        {"  192.0.2.7\t\r", "192.0.2.7", {"192.0.2.7"}, {}},
        {"\v192.0.2.7\f", "192.0.2.7", {"192.0.2.7"}, {}},
        {"192.0.2.7 # the printer", "192.0.2.7", {"192.0.2.7"}, {}},
        {"192.0.2.7#", "192.0.2.7", {"192.0.2.7"}, {}},
        {"198.51.100.0/24",
         "198.51.100.0/24",
         {"198.51.100.0", "198.51.100.255"},
         {"198.51.99.255", "198.51.101.0"}},
        {"198.51.100.77/24", "198.51.100.0/24", {"198.51.100.1"}, {"198.51.101.1"}},
        {"198.51.100.0/024", "198.51.100.0/24", {"198.51.100.9"}, {}},
        {"192.0.2.7/32", "192.0.2.7", {"192.0.2.7"}, {"192.0.2.6"}},
        {"192.0.2.7/31", "192.0.2.6/31", {"192.0.2.6", "192.0.2.7"}, {"192.0.2.8"}},
        {"10.0.0.0/8", "10.0.0.0/8", {"10.255.255.255"}, {"11.0.0.0", "9.255.255.255"}},
        {"0.0.0.0/0",
         "0.0.0.0/0",
         {"0.0.0.0", "255.255.255.255", "::ffff:1.2.3.4"},
         {"::", "::1", "2001:db8::1", "::fffe:ffff:ffff"}},
        {"192.0.2.7/0", "0.0.0.0/0", {"203.0.113.1"}, {"2001:db8::1"}},
        {"192.0.2.7/00", "0.0.0.0/0", {"203.0.113.1"}, {}},
        {"0.0.0.0", "0.0.0.0", {"0.0.0.0"}, {"0.0.0.1", "::"}},
        {"255.255.255.255/32", "255.255.255.255", {"255.255.255.255"}, {"::1:0:0:0"}},
        // Addresses and prefixes of IPv6.
        {"2001:db8::/32",
         "2001:db8::/32",
         {"2001:db8::", "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff"},
         {"2001:db9::", "2001:db7:ffff::"}},
        {"2001:DB8::1", "2001:db8::1", {"2001:db8::1"}, {"2001:db8::2"}},
        {"2001:db8::1/128", "2001:db8::1", {"2001:db8::1"}, {"2001:db8::"}},
        {"2001:db8::1/127", "2001:db8::/127", {"2001:db8::"}, {"2001:db8::2"}},
        {"2001:db8:0:0:0:0:0:1", "2001:db8::1", {"2001:db8::1"}, {}},
        {"2001:0db8:0000::0001", "2001:db8::1", {"2001:db8::1"}, {}},
        {"2001:db8::/032", "2001:db8::/32", {"2001:db8:1::"}, {}},
        {"fe80::1", "fe80::1", {"fe80::1"}, {"fe80::2"}},
        {"::", "::", {"::"}, {"::1", "0.0.0.0"}},
        {"::/128", "::", {"::"}, {"::1"}},
        {"::1", "::1", {"::1"}, {"::", "127.0.0.1"}},
        {"::/0",
         "::/0",
         {"::", "2001:db8::1", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "192.0.2.1", "0.0.0.0"},
         {}},
        {"2001:db8::/0", "::/0", {"fe80::1", "10.0.0.1"}, {}},
        {"::/64", "::/64", {"::1", "192.0.2.1", "::ffff:0:0"}, {"0:0:0:1::"}},
        {"::1.2.3.4", "::1.2.3.4", {"::1.2.3.4"}, {"1.2.3.4"}},
        // IPv4-mapped: its IPv4 hosts, named as IPv4.
        {"::ffff:192.0.2.1", "192.0.2.1", {"192.0.2.1", "::ffff:192.0.2.1"}, {"192.0.2.2"}},
        {"::FFFF:c000:201", "192.0.2.1", {"192.0.2.1"}, {}},
        {"::ffff:192.0.2.0/120", "192.0.2.0/24", {"192.0.2.200"}, {"192.0.3.1"}},
        {"::ffff:192.0.2.1/97", "128.0.0.0/1", {"192.0.2.1", "128.0.0.0"}, {"127.255.255.255"}},
        {"::ffff:0:0/96", "0.0.0.0/0", {"1.2.3.4", "255.255.255.255"}, {"::1", "::fffe:0:0"}},
        {"::ffff:1.2.3.4/95", "::fffe:0:0/95", {"1.2.3.4", "::fffe:1:2"}, {"::1:0:0:0"}},
        // Not entries, not faults.
        {"", "-", {}, {"192.0.2.7"}},
        {"   \t ", "-", {}, {}},
        {"# 192.0.2.7", "-", {}, {"192.0.2.7"}},
        {"  #", "-", {}, {}},
        // Refused: IPv4.
        {"192.0.2.07", "", {}, {"192.0.2.7"}},
        {"01.2.3.4", "", {}, {"1.2.3.4"}},
        {"00.0.0.0", "", {}, {}},
        {"192.0.2", "", {}, {}},
        {"127.1", "", {}, {}},
        {"1.2.3.4.5", "", {}, {}},
        {"256.0.0.1", "", {}, {}},
        {"0x7f.0.0.1", "", {}, {}},
        {"1.2.3.-4", "", {}, {}},
        {"192.0.2.7x", "", {}, {}},
        {"192.0.2.7 junk", "", {}, {"192.0.2.7"}},
        {"192.0.2.7,192.0.2.8", "", {}, {}},
        {std::string("192.0.2.7\0", 10), "", {}, {"192.0.2.7"}},
        {"\xef\xbc\x91.2.3.4", "", {}, {}},
        // Refused: prefixes.
        {"192.0.2.7/33", "", {}, {"192.0.2.7"}},
        {"192.0.2.7/", "", {}, {}},
        {"192.0.2.7/-1", "", {}, {}},
        {"192.0.2.7/+8", "", {}, {}},
        {"192.0.2.7/1000", "", {}, {}},
        {"192.0.2.7/0024", "", {}, {}},
        {"192.0.2.7/ 24", "", {}, {}},
        {"192.0.2.7 /24", "", {}, {}},
        {"192.0.2.7/24/8", "", {}, {}},
        {"192.0.2.7/24x", "", {}, {}},
        {"192.0.2.7/255.255.255.0", "", {}, {}},
        {"/24", "", {}, {}},
        {"2001:db8::/129", "", {}, {}},
        {"::ffff:192.0.2.1/129", "", {}, {}},
        // Refused: IPv6.
        {"2001:db8::1::2", "", {}, {}},
        {"2001:db8:::1", "", {}, {}},
        {"12345::", "", {}, {}},
        {"gggg::", "", {}, {}},
        {"1:2:3:4:5:6:7:8:9", "", {}, {}},
        {":1", "", {}, {}},
        {"1:", "", {}, {}},
        {"fe80::1%eth0", "", {}, {"fe80::1"}},
        {"[2001:db8::1]", "", {}, {}},
        {"::ffff:192.0.2.01", "", {}, {}},
        {"::ffff:192.0.2", "", {}, {}},
        {"2001:db8::1 2001:db8::2", "", {}, {}},
        {std::string(Blocklist::kMaxLineBytes - 11, ' ') + "192.0.2.7",
         "192.0.2.7",
         {"192.0.2.7"},
         {}},
        {std::string(Blocklist::kMaxLineBytes - 8, ' ') + "192.0.2.7", "", {}, {"192.0.2.7"}},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE("line \"" + c.line + "\"");
        Blocklist::Parsed parsed;
        const Blocklist list = Blocklist::Parse(c.line, &parsed);
        const bool entry = !c.range.empty() && c.range != "-";
        EXPECT_EQ(parsed.entries, entry ? 1u : 0u);
        EXPECT_EQ(parsed.badLines, c.range.empty() ? 1u : 0u);
        ASSERT_EQ(list.Ranges().size(), entry ? 1u : 0u);
        if (entry) {
            EXPECT_EQ(FormatRange(list.Ranges()[0]), c.range);
        }
        for (const char* host : c.inside) {
            EXPECT_TRUE(Blocked(list, host)) << host;
        }
        for (const char* host : c.outside) {
            EXPECT_FALSE(Blocked(list, host)) << host;
        }
    }
}

TEST(Blocklist, HostileLinesAreCountedAndSkipped) {
    const std::string longLine(Blocklist::kMaxLineBytes + 1, '1');
    const std::string text = std::string("# a comment\n") +
                             "\n"
                             "   \t  \n"
                             "10.0.0.1   # trailing comment\r\n"   // 4
                             "198.51.100.0/24\n"                   // 5
                             "2001:db8::/32\n"                     // 6
                             "1.2.3.4/33\n"                        // 7 bad: past 32
                             "::/129\n"                            // 8 bad
                             "1.2.3\n"                             // 9 bad
                             "1.2.3.4 5.6.7.8\n"                   // 10 bad: two entries
                             "fe80::1%eth0\n"                      // 11 bad: a zone
                             "1.2.3.4/\n"                          // 12 bad
                             "/24\n"                               // 13 bad
                             "1.2.3.4/2a\n"                        // 14 bad
                             "1.2.3.4/-1\n"                        // 15 bad
                             "[2001:db8::1]\n"                     // 16 bad
                             "256.1.1.1\n"                         // 17 bad
                             + std::string("9.9.9.9\0junk\n", 13)  // 18 bad: a NUL inside
                             + longLine +
                             "\n"                           // 19 bad: too long
                             "<script>alert(1)</script>\n"  // 20 bad
                             "203.0.113.77/24\n"            // 21: host bits are masked
                             "::ffff:192.0.2.5\n"           // 22: IPv4 written as IPv6
                             "2001:db8:bad::/48";           // 23, no final line break
    Blocklist::Parsed parsed;
    const Blocklist list = Blocklist::Parse(text, &parsed);
    EXPECT_EQ(parsed.entries, 6u);
    EXPECT_EQ(parsed.badLines, 14u);
    EXPECT_EQ(parsed.firstBadLine, 7u);

    EXPECT_TRUE(Blocked(list, "10.0.0.1"));
    EXPECT_FALSE(Blocked(list, "10.0.0.2"));
    EXPECT_TRUE(Blocked(list, "198.51.100.255"));
    EXPECT_FALSE(Blocked(list, "198.51.101.0"));
    EXPECT_TRUE(Blocked(list, "2001:db8:ffff::1"));
    EXPECT_FALSE(Blocked(list, "2001:db9::"));
    EXPECT_TRUE(Blocked(list, "203.0.113.1"));
    EXPECT_TRUE(Blocked(list, "192.0.2.5"));
    EXPECT_FALSE(Blocked(list, "9.9.9.9"));
    EXPECT_FALSE(Blocked(list, "1.2.3.4"));
}

TEST(Blocklist, RangesMergeAndReadBackAsPrefixes) {
    const Blocklist list = Blocklist::Parse(
        "10.0.0.0/25\n10.0.0.128/25\n"    // touching: one /24
        "172.16.0.0/12\n172.20.0.0/16\n"  // inside another
        "0.0.0.0/0\n"                     // every IPv4 address, no IPv6 one
        "2001:db8::1\n2001:db8::2\n");    // a range that is no prefix
    ASSERT_EQ(list.Ranges().size(), 2u);
    EXPECT_EQ(FormatRange(list.Ranges()[0]), "0.0.0.0/0");
    EXPECT_EQ(FormatRange(list.Ranges()[1]), "2001:db8::1 - 2001:db8::2");
    EXPECT_FALSE(Blocked(list, "2001:db8::3"));
    EXPECT_FALSE(Blocked(list, "::1"));
    EXPECT_TRUE(Blocked(list, "255.255.255.255"));

    const Blocklist all = Blocklist::Parse("10.0.0.0/25\n::/0\n");
    ASSERT_EQ(all.Ranges().size(), 1u);  // ::/0 holds the IPv4 space too
    EXPECT_EQ(FormatRange(all.Ranges()[0]), "::/0");
    const Blocklist touching = Blocklist::Parse("10.0.0.0/25\n10.0.0.128/25\n");
    ASSERT_EQ(touching.Ranges().size(), 1u);
    EXPECT_EQ(FormatRange(touching.Ranges()[0]), "10.0.0.0/24");
    EXPECT_EQ(FormatRange(Blocklist::Parse("2001:db8::/32").Ranges()[0]), "2001:db8::/32");
}

// The table answers as a scan over every entry would, for many random
// entries of both families and addresses near their edges.
TEST(Blocklist, LookupAgreesWithAPlainScan) {
    std::mt19937_64 random(20261209);
    std::string text;
    std::vector<Blocklist::Range> entries;
    std::vector<Ipv6Address> probes;  // places on the list's line
    // An IPv4 address in a few /16s, or an IPv6 one in a few /48s of 2001:db8::/32.
    auto randomPlace = [&](bool v4) {
        if (v4)
            return PointOnLine(IpAddress(static_cast<uint32_t>(random() & 0x0F0F0FFF)));
        Ipv6Address a{0x20, 0x01, 0x0d, 0xb8};
        const uint64_t r = random(), s = random();
        a[4] = static_cast<uint8_t>(r >> 8 & 0xFF);
        a[5] = static_cast<uint8_t>(r & 0xFF);
        for (size_t k = 8; k < 16; ++k)
            a[k] = static_cast<uint8_t>(s >> (8 * (k - 8)));
        return a;
    };
    for (int i = 0; i < 2000; ++i) {
        const bool v4 = random() % 2 == 0;
        const Ipv6Address place = randomPlace(v4);
        const int bits = v4 ? static_cast<int>(random() % 33) / 2 + 16
                            : static_cast<int>(random() % 97) / 2 + 48;
        const std::string written = FormatIp(AddressAt(place)) + "/" + std::to_string(bits);
        text += written + "\n";
        const int bits128 = v4 ? bits + 96 : bits;
        entries.push_back({MaskedTo(place, bits128), LastOf(place, bits128)});
        probes.push_back(entries.back().first);
        probes.push_back(entries.back().last);
        Ipv6Address after = entries.back().last;
        for (size_t k = after.size(); k-- > 0 && ++after[k] == 0;) {
        }
        probes.push_back(after);
        probes.push_back(place);
    }
    for (int i = 0; i < 20000; ++i)
        probes.push_back(randomPlace(random() % 2));
    Blocklist::Parsed parsed;
    const Blocklist list = Blocklist::Parse(text, &parsed);
    ASSERT_EQ(parsed.entries, entries.size());
    ASSERT_EQ(parsed.badLines, 0u);
    for (size_t i = 1; i < list.Ranges().size(); ++i)
        ASSERT_LT(list.Ranges()[i - 1].last, list.Ranges()[i].first);
    size_t hits = 0;
    for (const Ipv6Address& p : probes) {
        bool scanned = false;
        for (const auto& e : entries)
            scanned = scanned || (e.first <= p && p <= e.last);
        const Blocklist::Range* found = list.Find(AddressAt(p));
        ASSERT_EQ(found != nullptr, scanned) << FormatIp(AddressAt(p));
        if (found) {
            ++hits;
            EXPECT_TRUE(found->first <= p && p <= found->last);
        }
    }
    EXPECT_GT(hits, probes.size() / 10);
    EXPECT_LT(hits, probes.size());
}

class BlocklistFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/qv-blocklist-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/block.txt";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    void Write(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
    std::string dir_, path_;
};

// An editor that writes a new file and renames it over the old one, a file
// taken away, one too large, a folder in its place: the list read last stays
// in force until a list can be read again.
TEST_F(BlocklistFileTest, ReadAgainWhenReplacedByRename) {
    Write(path_, "10.1.0.0/16\n");
    BlocklistFile file(path_);
    ASSERT_TRUE(file.Poll());
    EXPECT_EQ(file.Last().state, BlocklistFile::State::kLoaded);
    EXPECT_TRUE(Blocked(*file.List(), "10.1.2.3"));
    EXPECT_FALSE(file.Poll());  // nothing moved: not read again
    EXPECT_EQ(file.Last().loads, 1u);

    // Same size, and written within the same clock tick for all we know: the inode tells.
    const std::string temporary = dir_ + "/.block.txt.swp";
    Write(temporary, "10.2.0.0/16\n");
    ASSERT_EQ(::rename(temporary.c_str(), path_.c_str()), 0);
    ASSERT_TRUE(file.Poll());
    EXPECT_EQ(file.Last().loads, 2u);
    EXPECT_FALSE(Blocked(*file.List(), "10.1.2.3"));
    EXPECT_TRUE(Blocked(*file.List(), "10.2.2.3"));

    ASSERT_EQ(::unlink(path_.c_str()), 0);
    ASSERT_TRUE(file.Poll());
    EXPECT_EQ(file.Last().state, BlocklistFile::State::kMissing);
    EXPECT_TRUE(Blocked(*file.List(), "10.2.2.3"));
    EXPECT_FALSE(file.Poll());

    ASSERT_EQ(::mkdir(path_.c_str(), 0700), 0);
    ASSERT_TRUE(file.Poll());
    EXPECT_EQ(file.Last().state, BlocklistFile::State::kNotAFile);
    ASSERT_EQ(::rmdir(path_.c_str()), 0);

    {
        std::ofstream big(path_, std::ios::binary);
        big.seekp(BlocklistFile::kMaxBytes);
        big.put('\n');
    }
    ASSERT_TRUE(file.Poll());
    EXPECT_EQ(file.Last().state, BlocklistFile::State::kTooLarge);
    EXPECT_TRUE(Blocked(*file.List(), "10.2.2.3"));

    Write(path_, "2001:db8::/32\nnot an address\n");
    ASSERT_TRUE(file.Poll());
    EXPECT_EQ(file.Last().state, BlocklistFile::State::kLoaded);
    EXPECT_EQ(file.Last().parsed.badLines, 1u);
    EXPECT_EQ(file.Last().parsed.firstBadLine, 2u);
    EXPECT_FALSE(Blocked(*file.List(), "10.2.2.3"));
    EXPECT_TRUE(Blocked(*file.List(), "2001:db8::99"));
}

TEST_F(BlocklistFileTest, APipeAtThePathDoesNotHoldTheCaller) {
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    BlocklistFile file(path_);
    ASSERT_TRUE(file.Poll());
    EXPECT_EQ(file.Last().state, BlocklistFile::State::kNotAFile);
    EXPECT_TRUE(file.List()->Empty());
}

}  // namespace
