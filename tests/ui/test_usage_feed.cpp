// What reaches the usage history from live traffic (per conversation and
// minute, the owner and name known when the minute is handed over, bounded),
// the usage CSV, and the autostart entry's Exec quoting read back as a
// desktop would read it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "talk/conversation.h"
#include "ui/models/usagefeed.h"
#include "ui/models/usagereport.h"
#include "ui/settings/autostart.h"
#include "wire/ip_address.h"

namespace {

constexpr int64_t kMinuteNs = 60'000'000'000;
constexpr int64_t kMinute = 29'000'000;  // some minute, UTC seconds / 60

uint32_t Addr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return uint32_t{a} << 24 | uint32_t{b} << 16 | uint32_t{c} << 8 | d;
}

ConversationKey Key(uint8_t protocol, uint32_t remote, uint16_t remotePort) {
    return ConversationKey{protocol, Addr(10, 0, 0, 5), 40000, remote, remotePort};
}

IpAddress Ip(const char* text) {
    IpAddress a;
    EXPECT_TRUE(ParseIp(text, &a)) << text;
    return a;
}

void Count(ConversationDeltas& d, const ConversationKey& key, Direction dir, uint32_t bytes,
           int64_t timeNs) {
    KeyedDatagram k;
    k.key = key;
    k.direction = dir;
    k.localSelected = true;
    k.bytes = bytes;
    d.Add(k, timeNs);
}

struct Fixture {
    std::vector<UsageSample> written;
    std::map<std::string, std::string> names;   // by address text
    std::map<uint16_t, OwnerInfo> ownerByPort;  // by remote port
    int executableReads = 0;
    std::set<pid_t> exited;  // their executables can no longer be read
    UsageFeed feed;

    explicit Fixture(UsageFeed::Options options = {})
        : feed(
              UsageFeed::Sources{[this](const ConversationKey& k) {
                                     const auto it = ownerByPort.find(k.remotePort);
                                     return it != ownerByPort.end() ? it->second : OwnerInfo{};
                                 },
                                 [this](const IpAddress& a) {
                                     const auto it = names.find(FormatIp(a));
                                     return it != names.end() ? it->second : std::string();
                                 },
                                 [this](pid_t pid) {
                                     ++executableReads;
                                     return exited.count(pid)
                                                ? std::string()
                                                : "/usr/bin/prog" + std::to_string(pid);
                                 }},
              [this](const UsageSample& s) { written.push_back(s); }, options) {}
};

OwnerInfo Found(const char* program, pid_t pid) {
    OwnerInfo o;
    o.state = OwnerState::kFound;
    o.program = program;
    o.pid = pid;
    return o;
}

}  // namespace

// Counts summed per conversation and minute, handed over once the minute is
// over and settled, with what is known then: an owner found after the
// traffic still names it; one never found counts under an empty program.
TEST(UsageFeed, MinutesHandedOverWithWhatIsKnownThen) {
    Fixture f;
    const ConversationKey web = Key(6, Addr(93, 184, 216, 34), 443);
    const ConversationKey dns = Key(17, Addr(9, 9, 9, 9), 53);
    const int64_t t0 = kMinute * kMinuteNs;
    ConversationDeltas d;
    Count(d, web, Direction::kOut, 60, t0 + 1);
    Count(d, web, Direction::kIn, 1500, t0 + 2);
    Count(d, dns, Direction::kOut, 70, t0 + 3);
    // IPv6 is counted too, under its own text.
    const ConversationKey v6{17, Ip("2001:db8:1::5"), 40001, Ip("2001:db8::53"), 53};
    Count(d, v6, Direction::kIn, 90, t0 + 4);
    f.feed.Add(d);
    d.Clear();
    Count(d, web, Direction::kIn, 1500, t0 + 5'000'000'000);
    f.feed.Add(d);
    d.Clear();
    Count(d, web, Direction::kIn, 40, t0 + kMinuteNs + 1);  // the next minute
    f.feed.Add(d);

    // Not before the minute is over and settled.
    f.feed.Tick(kMinute * 60 + 60 + 4);
    EXPECT_TRUE(f.written.empty());
    f.ownerByPort[443] = Found("firefox", 321);
    f.names["93.184.216.34"] = "example.com";
    f.names["2001:db8::53"] = "v6.example.net";
    f.feed.Tick(kMinute * 60 + 60 + 5);
    ASSERT_EQ(f.written.size(), 3u);
    std::map<std::string, UsageSample> byRemote;
    for (const UsageSample& s : f.written)
        byRemote[s.remoteAddress] = s;
    const UsageSample& w = byRemote.at("93.184.216.34");
    EXPECT_EQ(w.minute, kMinute);
    EXPECT_EQ(w.program, "firefox");
    EXPECT_EQ(w.executable, "/usr/bin/prog321");
    EXPECT_EQ(w.remoteName, "example.com");
    EXPECT_EQ(w.localAddress, "10.0.0.5");
    EXPECT_EQ(w.protocol, 6);
    EXPECT_EQ(w.counts, (UsageCounts{3000, 60, 2, 1}));
    const UsageSample& n = byRemote.at("9.9.9.9");
    EXPECT_EQ(n.program, "");
    EXPECT_EQ(n.executable, "");
    EXPECT_EQ(n.counts, (UsageCounts{0, 70, 0, 1}));
    const UsageSample& six = byRemote.at("2001:db8::53");
    EXPECT_EQ(six.localAddress, "2001:db8:1::5");
    EXPECT_EQ(six.remoteName, "v6.example.net");
    EXPECT_EQ(six.counts, (UsageCounts{90, 0, 1, 0}));

    // The rest at the end; a socket closed since still names its program,
    // and the executable of a pid already read is not read again.
    f.ownerByPort[443].state = OwnerState::kClosed;
    f.feed.FlushAll();
    ASSERT_EQ(f.written.size(), 4u);
    EXPECT_EQ(f.written[3].minute, kMinute + 1);
    EXPECT_EQ(f.written[3].program, "firefox");
    EXPECT_EQ(f.written[3].counts, (UsageCounts{40, 0, 1, 0}));
    EXPECT_EQ(f.executableReads, 1);
    EXPECT_EQ(f.feed.Pending(), 0u);
}

// A program that talked and exited before its minute was handed over is
// named with its executable all the same: read at a tick while it ran.
TEST(UsageFeed, ExecutableOfAProgramGoneBeforeItsMinuteEnds) {
    Fixture f;
    const ConversationKey web = Key(6, Addr(93, 184, 216, 34), 443);
    ConversationDeltas d;
    Count(d, web, Direction::kOut, 60, kMinute * kMinuteNs + 1);
    f.feed.Add(d);
    f.feed.Tick(kMinute * 60 + 1);  // still looked up: nothing to read
    EXPECT_EQ(f.executableReads, 0);
    f.ownerByPort[443] = Found("curl", 77);
    f.feed.Tick(kMinute * 60 + 2);
    f.exited.insert(77);
    f.ownerByPort[443].state = OwnerState::kClosed;
    f.feed.Tick(kMinute * 60 + 60 + 5);
    ASSERT_EQ(f.written.size(), 1u);
    EXPECT_EQ(f.written[0].program, "curl");
    EXPECT_EQ(f.written[0].executable, "/usr/bin/prog77");
    EXPECT_EQ(f.executableReads, 1);
}

// Executables are read once per program while many come and go: programs
// that talk every minute stay known however many one-off programs pass (more
// than the feed keeps), and a one-off forgotten since is read again.
TEST(UsageFeed, BusyProgramsStayKnownPastTheCachesBound) {
    Fixture f;
    constexpr int kBusy = 10, kOneOffs = 1500, kPerMinute = 150;
    const auto talk = [&](int64_t minute, uint16_t port) {
        ConversationDeltas d;
        Count(d, Key(17, Addr(192, 0, 2, 1), port), Direction::kOut, 40, minute * kMinuteNs + 1);
        f.feed.Add(d);
    };
    for (uint16_t p = 1; p <= kBusy; ++p)
        f.ownerByPort[p] = Found("busy", p);
    int64_t minute = kMinute;
    for (int first = 0; first < kOneOffs; first += kPerMinute, ++minute) {
        for (uint16_t p = 1; p <= kBusy; ++p)
            talk(minute, p);
        for (int i = first; i < first + kPerMinute; ++i) {
            const auto port = static_cast<uint16_t>(1000 + i);
            f.ownerByPort[port] = Found("once", 100000 + i);
            talk(minute, port);
        }
        f.feed.Tick(minute * 60 + 60 + 5);
    }
    EXPECT_EQ(f.executableReads, kBusy + kOneOffs);
    EXPECT_EQ(f.written.size(), size_t{(kBusy + kPerMinute) * (kOneOffs / kPerMinute)});
    // The first one-off, long forgotten, comes back: read again, and once.
    talk(minute, 1000);
    talk(minute, 1000);
    f.feed.FlushAll();
    EXPECT_EQ(f.executableReads, kBusy + kOneOffs + 1);
    EXPECT_EQ(f.written.back().executable, "/usr/bin/prog100000");
}

// However many conversations come, at most maxPending are held; the rest of
// a minute goes to one line of other hosts, and no byte is lost on the way.
TEST(UsageFeed, BoundedWithoutLosingCounts) {
    UsageFeed::Options options;
    options.maxPending = 8;
    Fixture f(options);
    UsageCounts sent;
    for (int batch = 0; batch < 5; ++batch) {
        ConversationDeltas d;
        for (uint16_t port = 1; port <= 40; ++port) {
            const uint32_t bytes = 40u + port + static_cast<uint32_t>(batch);
            const Direction dir = port % 3 == 0 ? Direction::kOut : Direction::kIn;
            Count(d, Key(17, Addr(10, 1, 0, static_cast<uint8_t>(port)), port), dir, bytes,
                  (kMinute + batch % 2) * kMinuteNs + port);
            sent +=
                dir == Direction::kIn ? UsageCounts{bytes, 0, 1, 0} : UsageCounts{0, bytes, 0, 1};
        }
        f.feed.Add(d);
        EXPECT_LE(f.feed.Pending(), options.maxPending + 2);  // plus one line of others a minute
    }
    EXPECT_GT(f.feed.Overflowed(), 0u);
    f.feed.FlushAll();
    UsageCounts written;
    size_t others = 0;
    for (const UsageSample& s : f.written) {
        written += s.counts;
        if (s.remoteAddress == kOtherHosts)
            ++others;
    }
    EXPECT_EQ(written, sent);
    EXPECT_EQ(others, 2u);  // one per minute
    EXPECT_TRUE(std::is_sorted(f.written.begin(), f.written.end(),
                               [](const auto& a, const auto& b) { return a.minute < b.minute; }));
}

TEST(UsageCsv, PlainIntegersAndGuardedNames) {
    UsageReport r;
    r.programs = {UsageTotal{"=cmd", "/opt/a,b", UsageCounts{1, 2, 3, 4}},
                  UsageTotal{"", "", UsageCounts{5000000000ull, 0, 7, 0}}};
    r.hosts = {UsageTotal{std::string(kOtherHosts), "", UsageCounts{9, 9, 1, 1}}};
    r.hosts.push_back(UsageTotal{"192.0.2.1", "", UsageCounts{1, 0, 1, 0}});
    // The database is outside input: its names are guarded as others' are.
    r.hostPlaces = {Place{}, Place{PlaceKind::kPublic, "XX", "-x", 64500, "a,b"}};
    r.buckets = {UsageBucket{3600, "x\"y", UsageCounts{1, 1, 1, 1}}};
    const std::string csv = UsageCsv(r, [](int64_t t) { return "T" + std::to_string(t); });
    EXPECT_EQ(csv,
              "\xEF\xBB\xBF"
              "类别,名称,详情,开始,接收字节,发送字节,接收数据报,发送数据报,国家/地区,网络\r\n"
              "程序,'=cmd,\"/opt/a,b\",,1,2,3,4,,\r\n"
              "程序,未知,,,5000000000,0,7,0,,\r\n"
              "主机,其他,,,9,9,1,1,,\r\n"
              "主机,192.0.2.1,,,1,0,1,0,'-x,\"AS64500 a,b\"\r\n"
              "时段,\"x\"\"y\",,T3600,1,1,1,1,,\r\n");
    // Each host's place from the installed database: named ranges without it.
    const std::vector<Place> places = PlacesOfHosts(
        {UsageTotal{"10.1.2.3", "", {}}, UsageTotal{std::string(kOtherHosts), "", {}}});
    ASSERT_EQ(places.size(), 2u);
    EXPECT_EQ(places[0].country, "私有网络");
    EXPECT_TRUE(places[1].Empty());
}

namespace {

// An Exec value as a desktop reads it: the string value's escapes first,
// then the quoting rule; "%%" is a percent sign.
std::vector<std::string> ReadExec(const std::string& value) {
    std::string unescaped;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char c = value[++i];
            unescaped += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        } else {
            unescaped += value[i];
        }
    }
    std::vector<std::string> args;
    std::string arg;
    bool quoted = false, any = false;
    for (size_t i = 0; i < unescaped.size(); ++i) {
        const char c = unescaped[i];
        if (quoted) {
            if (c == '\\' && i + 1 < unescaped.size())
                arg += unescaped[++i];
            else if (c == '"')
                quoted = false;
            else if (c == '%' && i + 1 < unescaped.size() && unescaped[i + 1] == '%')
                arg += unescaped[++i];
            else
                arg += c;
        } else if (c == '"') {
            quoted = any = true;
        } else if (c == ' ') {
            if (any)
                args.push_back(arg);
            arg.clear();
            any = false;
        } else {
            arg += c;
            any = true;
        }
    }
    if (any)
        args.push_back(arg);
    return args;
}

}  // namespace

TEST(Autostart, ExecReadsBackAsWritten) {
    for (const std::string path :
         {"/usr/bin/quorvelan", "/home/a b/quor velan", "/tmp/\"q\"", "/tmp/$HOME`id`",
          "/tmp/back\\slash", "/tmp/100%", "/tmp/中文/程序", "/tmp/'single';|&<>*?#()~"}) {
        const std::string entry = AutostartEntry(path, "10.0.0.5");
        const size_t at = entry.find("\nExec=");
        ASSERT_NE(at, std::string::npos) << path;
        const std::string value = entry.substr(at + 6, entry.find('\n', at + 1) - at - 6);
        EXPECT_EQ(ReadExec(value),
                  (std::vector<std::string>{path, "--start", "10.0.0.5", "--minimized"}))
            << value;
    }
    // A line break would end the key early: nothing is written.
    EXPECT_EQ(AutostartEntry("/tmp/a\nExec=/bin/evil", "10.0.0.5"), "");
    EXPECT_EQ(DesktopExecArgument("a\tb"), "");
}
