// The alert engine over scripted traffic: programs, hosts and networks seen
// for the first time against what was known at start, the daily amount
// across local midnight, the block list and a list replaced, a hostile flood
// gathered into one alert with its count, the caps on what it remembers, and
// the 提醒 list's own cap.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <string>
#include <vector>

#include "alerts/alert_log.h"
#include "alerts/engine.h"

namespace {

constexpr int64_t kSecond = 1'000'000'000;

// Local time is China's in these tests (no daylight saving; no time zone files needed).
class LocalChina {
  public:
    LocalChina() {
        setenv("TZ", "CST-8", 1);
        tzset();
    }
};
const LocalChina g_localChina;

// 2026-12-09 hh:mm:ss, local.
int64_t At(int hour, int minute, int second, int day = 9) {
    tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = 0;
    return static_cast<int64_t>(mktime(&t)) * kSecond;
}

TrafficSample Sample(std::string_view program, std::string_view remote, uint64_t bytes = 100,
                     std::string_view executable = {}) {
    TrafficSample s;
    s.program = program;
    s.executable = executable;
    s.remote = remote;
    s.bytes = bytes;
    return s;
}

std::vector<std::string> Texts(const std::vector<Alert>& alerts) {
    std::vector<std::string> texts;
    for (const Alert& a : alerts)
        texts.push_back(std::string(AlertKindName(a.kind)) + ": " + AlertShownText(a));
    return texts;
}

AlertSettings Everything() {
    AlertSettings s;
    s.newProgram = s.newHost = s.dailyAmount = s.blocklist = true;
    s.dailyBytes = 1000;
    return s;
}

TEST(AlertEngine, FirstSeenProgramsHostsAndNetworks) {
    AlertEngine engine(Everything(), {"/usr/bin/firefox", "ssh"}, {"192.0.2.1", "2001:db8:1::1"});
    const int64_t t = At(10, 0, 0);
    // Known at start: by executable, and by name when no executable is known.
    engine.Observe(Sample("firefox", "192.0.2.1", 100, "/usr/bin/firefox"), t);
    engine.Observe(Sample("ssh", "2001:db8:1::1"), t);
    // Owner not known yet: the host counts, the program waits.
    engine.Observe(Sample("", "192.0.2.1"), t);
    EXPECT_TRUE(engine.TakeDue(t + 5 * kSecond).empty());

    // A firefox elsewhere on disk is another program; curl is new; the host is new.
    engine.Observe(Sample("firefox", "198.51.100.7", 100, "/tmp/firefox"), t + 20 * kSecond);
    engine.Observe(Sample("curl", "198.51.100.7"), t + 20 * kSecond);
    engine.Observe(Sample("curl", "198.51.100.7"), t + 20 * kSecond);
    EXPECT_TRUE(engine.TakeDue(t + 20 * kSecond).empty());  // gathered for a second
    EXPECT_EQ(Texts(engine.TakeDue(t + 21 * kSecond)),
              (std::vector<std::string>{
                  "新程序: 程序 firefox 首次通信，对方 198.51.100.7 (另有 1 条同类提醒)",
                  "新主机: 首次与主机 198.51.100.7 通信"}));

    // By network: a host of a network seen already is not new; IPv4 by
    // /24, IPv6 by /48, in their shortest text.
    AlertSettings byNetwork = Everything();
    byNetwork.byNetwork = true;
    engine.SetSettings(byNetwork);
    const int64_t u = t + 60 * kSecond;
    engine.Observe(Sample("", "198.51.100.200"), u);
    engine.Observe(Sample("", "2001:db8:1:ffff::9"), u);
    EXPECT_TRUE(engine.TakeDue(u + 2 * kSecond).empty());
    engine.Observe(Sample("", "2001:db8:2:0:0:0:0:5"), u + 20 * kSecond);
    EXPECT_EQ(
        Texts(engine.TakeDue(u + 21 * kSecond)),
        (std::vector<std::string>{"新网络: 首次与网络 2001:db8:2::/48 通信 (主机 2001:db8:2::5)"}));
    engine.Observe(Sample("", "203.0.113.5"), u + 40 * kSecond);
    EXPECT_EQ(
        Texts(engine.TakeDue(u + 41 * kSecond)),
        (std::vector<std::string>{"新网络: 首次与网络 203.0.113.0/24 通信 (主机 203.0.113.5)"}));

    // Learned while the alert was off: turning it on raises nothing for them.
    AlertSettings quiet;
    quiet.newProgram = quiet.newHost = false;
    engine.SetSettings(quiet);
    engine.Observe(Sample("wget", "203.0.113.99"), u + 60 * kSecond);
    engine.SetSettings(Everything());
    engine.Observe(Sample("wget", "203.0.113.99"), u + 80 * kSecond);
    EXPECT_TRUE(engine.TakeDue(u + 90 * kSecond).empty());

    // Text from outside stays in bounds.
    const std::string longName(5000, 'x');
    engine.Observe(Sample(longName, "not an address\x1b[31m"), u + 100 * kSecond);
    const std::vector<Alert> odd = engine.TakeDue(u + 101 * kSecond);
    ASSERT_EQ(odd.size(), 1u);
    EXPECT_LT(odd[0].text.size(), 600u);
    EXPECT_EQ(odd[0].text.find('\x1b'), std::string::npos);
}

TEST(AlertEngine, DailyAmountOncePerProgramAndLocalDay) {
    AlertSettings settings;
    settings.newProgram = false;
    settings.dailyAmount = true;
    settings.dailyBytes = 1000;
    AlertEngine engine(settings, {}, {});
    engine.Observe(Sample("backup", "192.0.2.1", 600), At(23, 59, 40));
    engine.Observe(Sample("mail", "192.0.2.1", 999), At(23, 59, 40));
    EXPECT_TRUE(engine.TakeDue(At(23, 59, 45)).empty());
    engine.Observe(Sample("backup", "192.0.2.1", 400), At(23, 59, 50));   // 1,000: there
    engine.Observe(Sample("backup", "192.0.2.1", 5000), At(23, 59, 52));  // once a day
    const std::vector<Alert> first = engine.TakeDue(At(23, 59, 55));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].kind, AlertKind::kDailyAmount);
    EXPECT_EQ(first[0].text, "程序 backup 今日流量 1000 B，已超过 1000 B");
    EXPECT_EQ(first[0].timeNs, At(23, 59, 50));

    // After local midnight both start from nothing: mail's 999 bytes of
    // yesterday and one more today do not add up.
    engine.Observe(Sample("mail", "192.0.2.1", 1), At(0, 0, 5, 10));
    engine.Observe(Sample("backup", "192.0.2.1", 900), At(0, 0, 5, 10));
    EXPECT_TRUE(engine.TakeDue(At(0, 0, 30, 10)).empty());
    engine.Observe(Sample("backup", "192.0.2.1", 2u << 20), At(0, 1, 0, 10));
    const std::vector<Alert> second = engine.TakeDue(At(0, 1, 1, 10));
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].text, "程序 backup 今日流量 2.0 MB，已超过 1000 B");
}

TEST(AlertEngine, BlockedHostsOncePerHostAndList) {
    AlertSettings settings;
    settings.newProgram = false;
    settings.blocklist = true;
    AlertEngine engine(settings, {}, {});
    const int64_t t = At(12, 0, 0);
    engine.Observe(Sample("curl", "10.1.2.3"), t);  // no list yet
    engine.SetBlocklist(std::make_shared<const Blocklist>(
        Blocklist::Parse("10.1.0.0/16\n2001:db8:bad::/48\n203.0.113.9\n")));
    engine.Observe(Sample("curl", "10.1.2.3"), t + kSecond);
    engine.Observe(Sample("curl", "10.1.2.3"), t + kSecond);
    engine.Observe(Sample("curl", "203.0.113.10"), t + kSecond);
    EXPECT_EQ(Texts(engine.TakeDue(t + 2 * kSecond)),
              (std::vector<std::string>{
                  "阻止列表: 与阻止列表中的主机 10.1.2.3 通信 (列表项 10.1.0.0/16)"}));
    engine.Observe(Sample("", "2001:db8:bad:7::1"), t + 20 * kSecond);
    EXPECT_EQ(
        Texts(engine.TakeDue(t + 21 * kSecond)),
        (std::vector<std::string>{
            "阻止列表: 与阻止列表中的主机 2001:db8:bad:7::1 通信 (列表项 2001:db8:bad::/48)"}));

    // A list read again: its hosts are told once more, the old ones no longer.
    engine.SetBlocklist(std::make_shared<const Blocklist>(Blocklist::Parse("2001:db8:bad::/48\n")));
    engine.Observe(Sample("curl", "10.1.2.3"), t + 40 * kSecond);
    engine.Observe(Sample("", "2001:db8:bad:7::1"), t + 40 * kSecond);
    const std::vector<Alert> again = engine.TakeDue(t + 41 * kSecond);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_NE(again[0].text.find("2001:db8:bad:7::1"), std::string::npos);

    settings.blocklist = false;
    engine.SetSettings(settings);
    engine.Observe(Sample("", "2001:db8:bad:8::1"), t + 60 * kSecond);
    EXPECT_TRUE(engine.TakeDue(t + 61 * kSecond).empty());
}

std::string FloodAddress(uint32_t i) {
    return "10." + std::to_string((i >> 16) & 255) + "." + std::to_string((i >> 8) & 255) + "." +
           std::to_string(i & 255);
}

// 100,000 new hosts in a second, and as many again in the nine after: one
// alert for the first second with its count, one for the rest of the window.
TEST(AlertEngine, AFloodGivesOneAlertPerWindowWithItsCount) {
    AlertSettings settings;
    settings.newHost = true;
    AlertEngine::Limits roomy;  // the cap has a test of its own
    roomy.knownHosts = 500'000;
    AlertEngine engine(settings, {}, {}, roomy);
    const int64_t t = At(8, 0, 0);
    for (uint32_t i = 0; i < 100'000; ++i) {
        engine.Observe(Sample("", FloodAddress(i)), t + i * 9'000);
        if (i % 1000 == 0) {
            ASSERT_TRUE(engine.TakeDue(t + i * 9'000).empty());
        }
    }
    std::vector<Alert> due = engine.TakeDue(t + kSecond);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].count, 100'000u);
    EXPECT_EQ(due[0].timeNs, t);
    EXPECT_EQ(AlertShownText(due[0]), "首次与主机 10.0.0.0 通信 (另有 99999 条同类提醒)");

    for (uint32_t i = 100'000; i < 200'000; ++i)
        engine.Observe(Sample("", FloodAddress(i)), t + kSecond + (i - 100'000) * 80'000);
    EXPECT_TRUE(engine.TakeDue(t + 9 * kSecond).empty());
    due = engine.TakeDue(t + 10 * kSecond);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].count, 100'000u);

    // Quiet: the window ends, and the next new host is told on its own.
    EXPECT_TRUE(engine.TakeDue(t + 25 * kSecond).empty());
    engine.Observe(Sample("", "192.0.2.44"), t + 30 * kSecond);
    due = engine.TakeDue(t + 31 * kSecond);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].count, 1u);
    EXPECT_EQ(engine.Stats().raised, 200'001u);
}

// Past its cap the engine forgets the least recently seen half at once, says
// so once, and keeps what it saw lately.
TEST(AlertEngine, WhatItRemembersIsCapped) {
    AlertSettings settings;
    settings.newHost = true;
    AlertEngine::Limits limits;
    limits.knownHosts = 1000;
    std::vector<std::string> known;
    for (uint32_t i = 0; i < 3000; ++i)
        known.push_back(FloodAddress(i));
    AlertEngine engine(settings, {}, known, limits);
    EXPECT_LE(engine.Stats().knownHosts, 1000u);

    const int64_t t = At(9, 0, 0);
    engine.Observe(Sample("", FloodAddress(2999)), t);  // recent: still known
    EXPECT_TRUE(engine.TakeDue(t + 2 * kSecond).empty());
    engine.Observe(Sample("", FloodAddress(0)), t + 20 * kSecond);  // forgotten: new again
    EXPECT_EQ(engine.TakeDue(t + 21 * kSecond).size(), 1u);

    for (uint32_t i = 10'000; i < 60'000; ++i)
        engine.Observe(Sample("", FloodAddress(i)), t + 40 * kSecond);
    const AlertEngine::Figures figures = engine.Stats();
    EXPECT_LE(figures.knownHosts, 1000u);
    EXPECT_LE(figures.knownNetworks, 1000u);
    EXPECT_GT(figures.forgotten, 49'000u);
    const std::vector<Alert> due = engine.TakeDue(t + 41 * kSecond);
    ASSERT_EQ(due.size(), 2u);
    EXPECT_EQ(due[0].kind, AlertKind::kNewHost);
    EXPECT_EQ(due[0].count, 50'000u);
    EXPECT_EQ(due[1].kind, AlertKind::kNotice);
    EXPECT_NE(due[1].text.find("1000"), std::string::npos);
}

TEST(AlertLog, KeepsTheNewestAndCountsTheRest) {
    AlertLog log(1000);
    for (int i = 0; i < 2500; ++i)
        log.Add(Alert{AlertKind::kNewHost, i, 1, std::to_string(i)});
    EXPECT_EQ(log.Size(), 1000u);
    EXPECT_EQ(log.Dropped(), 1500u);
    EXPECT_EQ(log.Added(), 2500u);
    EXPECT_EQ(log.At(log.Dropped()).text, "1500");
    EXPECT_EQ(log.At(log.Added() - 1).text, "2499");
}

}  // namespace
