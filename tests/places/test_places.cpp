// Places from the installed libloc database and iso-codes: the named ranges,
// public addresses whose answer is stable, the country names' readers over
// whole and cut files, a damaged or missing database, and the service that
// looks up off the caller's thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "places/country_names.h"
#include "places/place.h"
#include "places/place_service.h"

namespace {

IpAddress Ip(const char* text) {
    IpAddress a;
    EXPECT_TRUE(ParseIp(text, &a)) << text;
    return a;
}

std::string FileBytes(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(ReadSmallFile(path, 64u << 20, &bytes)) << path;
    return bytes;
}

// A file of the test's own, removed at the end.
struct TempFile {
    std::string path;
    explicit TempFile(const std::string& bytes) {
        char name[] = "/tmp/qv-places-XXXXXX";
        const int fd = mkstemp(name);
        path = name;
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
    }
    ~TempFile() { unlink(path.c_str()); }
};

bool Installed() {
    return access(PlaceDatabase::kInstalledPath, R_OK) == 0;
}

}  // namespace

// Every special range is named without the database, IPv4-mapped IPv6
// addresses as their IPv4 ones, and the addresses just outside each range
// are not.
TEST(ReservedPlace, NamesTheSpecialRanges) {
    struct Case {
        const char* address;
        PlaceKind kind;
        const char* name;
    };
    const Case cases[] = {
        {"10.0.0.1", PlaceKind::kPrivate, "私有网络"},
        {"10.213.0.2", PlaceKind::kPrivate, "私有网络"},
        {"172.16.0.1", PlaceKind::kPrivate, "私有网络"},
        {"172.31.255.255", PlaceKind::kPrivate, "私有网络"},
        {"192.168.1.1", PlaceKind::kPrivate, "私有网络"},
        {"100.64.0.1", PlaceKind::kPrivate, "私有网络"},
        {"100.127.255.254", PlaceKind::kPrivate, "私有网络"},
        {"127.0.0.1", PlaceKind::kLoopback, "本机回环"},
        {"127.255.0.9", PlaceKind::kLoopback, "本机回环"},
        {"169.254.10.20", PlaceKind::kLinkLocal, "链路本地"},
        {"224.0.0.251", PlaceKind::kMulticast, "组播"},
        {"239.255.255.250", PlaceKind::kMulticast, "组播"},
        {"192.0.2.7", PlaceKind::kTest, "测试地址"},
        {"198.51.100.1", PlaceKind::kTest, "测试地址"},
        {"203.0.113.200", PlaceKind::kTest, "测试地址"},
        {"198.19.0.1", PlaceKind::kTest, "测试地址"},
        {"255.255.255.255", PlaceKind::kBroadcast, "广播"},
        {"0.0.0.0", PlaceKind::kReserved, "保留地址"},
        {"250.1.2.3", PlaceKind::kReserved, "保留地址"},
        {"::", PlaceKind::kReserved, "保留地址"},
        {"::1", PlaceKind::kLoopback, "本机回环"},
        {"fd12:3456::1", PlaceKind::kPrivate, "私有网络"},
        {"fc00::1", PlaceKind::kPrivate, "私有网络"},
        {"fe80::1", PlaceKind::kLinkLocal, "链路本地"},
        {"febf::1", PlaceKind::kLinkLocal, "链路本地"},
        {"ff02::fb", PlaceKind::kMulticast, "组播"},
        {"2001:db8::5", PlaceKind::kTest, "测试地址"},
        {"3fff:fff::1", PlaceKind::kTest, "测试地址"},
        {"::ffff:192.168.0.1", PlaceKind::kPrivate, "私有网络"},
        {"::ffff:127.0.0.1", PlaceKind::kLoopback, "本机回环"},
    };
    for (const Case& c : cases) {
        const std::optional<Place> p = ReservedPlace(Ip(c.address));
        ASSERT_TRUE(p.has_value()) << c.address;
        EXPECT_EQ(p->kind, c.kind) << c.address;
        EXPECT_EQ(p->country, c.name) << c.address;
        EXPECT_TRUE(p->countryCode.empty() && p->asn == 0) << c.address;
    }
    for (const char* outside :
         {"9.255.255.255", "11.0.0.0", "172.15.255.255", "172.32.0.0", "100.63.255.255",
          "100.128.0.0", "169.253.255.255", "223.255.255.255", "192.0.3.0", "198.20.0.0", "8.8.8.8",
          "fe00::1", "fec0::1", "2001:db9::1", "2001:4860:4860::8888", "::2", "::ffff:8.8.8.8"})
        EXPECT_FALSE(ReservedPlace(Ip(outside)).has_value()) << outside;
}

// Public addresses whose country and network have long been the same (large
// public resolvers), in both families, with the Chinese country name; named
// ranges are answered the same way through the database.
TEST(PlaceDatabase, PublicAddressesOfTheInstalledDatabase) {
    if (!Installed())
        GTEST_SKIP() << "no " << PlaceDatabase::kInstalledPath << " (Debian libloc-database)";
    const PlaceDatabase& db = InstalledPlaces();
    ASSERT_TRUE(db.Ok()) << db.Problem();
    struct Case {
        const char* address;
        const char* code;
        const char* country;
        uint32_t asn;
    };
    const Case cases[] = {
        {"8.8.8.8", "US", "美国", 15169},
        {"8.8.4.4", "US", "美国", 15169},
        {"2001:4860:4860::8888", "US", "美国", 15169},
        {"::ffff:8.8.8.8", "US", "美国", 15169},
        {"1.1.1.1", "AU", "澳大利亚", 13335},
        {"2606:4700:4700::1111", "US", "美国", 13335},
        {"9.9.9.9", "CH", "瑞士", 19281},
    };
    for (const Case& c : cases) {
        const Place p = PlaceOf(Ip(c.address));
        EXPECT_EQ(p.kind, PlaceKind::kPublic) << c.address;
        EXPECT_EQ(p.countryCode, c.code) << c.address;
        EXPECT_EQ(p.country, c.country) << c.address;
        EXPECT_EQ(p.asn, c.asn) << c.address;
        EXPECT_FALSE(p.asName.empty()) << c.address;
        EXPECT_EQ(p.NetworkText(), "AS" + std::to_string(c.asn) + " " + p.asName);
        // Kept: the same answer again, and from the cache alone.
        EXPECT_EQ(PlaceOf(Ip(c.address)), p);
        EXPECT_EQ(db.Cached(Ip(c.address)), p);
    }
    EXPECT_EQ(PlaceOf(Ip("8.8.8.8")).asName, "GOOGLE");
    EXPECT_EQ(PlaceOf(Ip("10.1.2.3")).country, "私有网络");
    EXPECT_EQ(db.CountryName("KR"), "韩国");  // the common name's translation
    EXPECT_EQ(db.CountryName("CN"), "中国");
}

// A small cache still answers every address the same, whichever generation
// holds it or after it was dropped.
TEST(PlaceDatabase, SmallCacheAnswersTheSame) {
    if (!Installed())
        GTEST_SKIP() << "no installed database";
    PlaceDatabase::Options options;
    options.maxCached = 3;
    const PlaceDatabase db(options);
    std::vector<Place> first;
    for (uint32_t i = 0; i < 40; ++i)
        first.push_back(db.Find(IpAddress(0x08080800u + i * 0x01000000u)));
    for (uint32_t i = 0; i < 40; ++i)
        EXPECT_EQ(db.Find(IpAddress(0x08080800u + i * 0x01000000u)), first[i]) << i;
    size_t cached = 0;
    for (uint32_t i = 0; i < 40; ++i)
        cached += db.Cached(IpAddress(0x08080800u + i * 0x01000000u)).has_value() ? 1 : 0;
    EXPECT_LE(cached, 2 * options.maxCached + 1);  // 10.8.8.0 is a named range
    EXPECT_GE(cached, 1u);
}

// A missing file, garbage, and the real database cut short: one message
// naming the file, no place from the database, the named ranges still named.
TEST(PlaceDatabase, MissingOrDamagedDatabaseGivesEmptyPlaces) {
    std::vector<std::string> contents = {std::string(100, '\x5A'), "LOCDBXX\x01"};
    if (Installed()) {
        const std::string whole = FileBytes(PlaceDatabase::kInstalledPath);
        for (const size_t cut :
             {size_t{64}, size_t{4200}, size_t{65536}, whole.size() / 2, whole.size() - 1})
            contents.push_back(whole.substr(0, cut));
    }
    std::vector<std::string> paths = {"/nonexistent/qv-location.db"};
    std::vector<std::unique_ptr<TempFile>> files;
    for (const std::string& bytes : contents) {
        files.push_back(std::make_unique<TempFile>(bytes));
        paths.push_back(files.back()->path);
    }
    for (const std::string& path : paths) {
        PlaceDatabase::Options options;
        options.path = path;
        testing::internal::CaptureStderr();
        const PlaceDatabase db(options);
        const Place google = db.Find(Ip("8.8.8.8"));
        const Place mapped = db.Find(Ip("2001:4860:4860::8888"));
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(db.Ok()) << path;
        EXPECT_FALSE(db.Problem().empty()) << path;
        EXPECT_TRUE(google.Empty() && google.kind == PlaceKind::kUnknown) << path;
        EXPECT_TRUE(mapped.Empty()) << path;
        EXPECT_EQ(db.Find(Ip("192.168.0.1")).country, "私有网络");
        // One line, ours, naming the file; nothing of libloc's own.
        EXPECT_EQ(said.rfind("quorvelan: ", 0), 0u) << said;
        EXPECT_NE(said.find(path), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
}

// The ISO list and its zh_CN catalogue as installed, then every cut of them:
// a cut list gives the countries before the cut (never a wrong pair), a cut
// catalogue gives all of it or nothing.
TEST(CountryNames, InstalledFilesAndEveryCut) {
    const CountryNameFiles files;
    if (access(files.list.c_str(), R_OK) != 0)
        GTEST_SKIP() << "no iso-codes";
    const std::string list = FileBytes(files.list);
    const std::string mo = FileBytes(files.translations);
    const std::vector<IsoCountry> all = ParseIsoCountries(list);
    const auto catalog = ParseMoCatalog(mo);
    ASSERT_GE(all.size(), 240u);
    ASSERT_GE(catalog.size(), 240u);
    const CountryNames names = CountryNames::From(all, catalog);
    EXPECT_EQ(names.Name("US"), "美国");
    EXPECT_EQ(names.Name("TW"), "台湾");
    EXPECT_EQ(names.Name("GB"), "英国");
    EXPECT_EQ(names.Name("ZZ"), "");
    EXPECT_EQ(CountryNames::Read(files).Size(), all.size());

    for (size_t cut = 0; cut < list.size(); cut += 61) {
        const std::vector<IsoCountry> some =
            ParseIsoCountries(std::string_view(list).substr(0, cut));
        ASSERT_LE(some.size(), all.size());
        for (size_t i = 0; i < some.size(); ++i) {
            EXPECT_EQ(some[i].code, all[i].code) << cut;
            EXPECT_EQ(some[i].name, all[i].name) << cut;
        }
    }
    for (size_t cut = 0; cut < mo.size(); cut += 37) {
        const size_t n = ParseMoCatalog(std::string_view(mo).substr(0, cut)).size();
        EXPECT_TRUE(n == 0 || n == catalog.size()) << cut << ": " << n;
    }
}

// Hand-made catalogues in both byte orders, one whose string lies past its
// end, and names from outside shown escaped; the English name without a
// translation; JSON escapes decoded.
TEST(CountryNames, ByteOrdersBoundsAndHostileNames) {
    const auto mo = [](bool big, uint32_t stringAt) {
        std::string b(28, '\0');
        const auto put = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i)
                b[at + i] = static_cast<char>(big ? v >> (24 - 8 * i) : v >> (8 * i));
        };
        put(0, 0x950412DE);
        put(4, 0);
        put(8, 1);    // one string
        put(12, 28);  // originals
        put(16, 36);  // translations
        b.resize(44);
        put(28, 7);
        put(32, stringAt);
        put(36, 9);
        put(40, 52);
        b += "Austria";
        b += '\0';
        b += "\xE5\xA5\xA5\xE5\x9C\xB0\xE5\x88\xA9";  // 奥地利
        b += '\0';
        return b;
    };
    for (const bool big : {false, true}) {
        const auto c = ParseMoCatalog(mo(big, 44));
        ASSERT_EQ(c.size(), 1u) << big;
        EXPECT_EQ(c.at("Austria"), "奥地利");
        EXPECT_TRUE(ParseMoCatalog(mo(big, 60)).empty()) << big;  // past the end
        EXPECT_TRUE(ParseMoCatalog(mo(big, 0xFFFFFFF0u)).empty()) << big;
    }

    const std::vector<IsoCountry> countries = ParseIsoCountries(
        R"({"3166-1": [{"alpha_2": "AT", "name": "Austria"},)"
        R"( {"alpha_2": "XE", "name": "Evil\u202Eland", "numeric": 1, "x": [1, {"a": null}]},)"
        R"( {"alpha_2": "XQ", "name": "Q\"uote\ud83d\ude00"}, {"alpha_2": "TOO", "name": "x"}]})");
    ASSERT_EQ(countries.size(), 3u);
    EXPECT_EQ(countries[2].name, "Q\"uote\xF0\x9F\x98\x80");
    const CountryNames names =
        CountryNames::From(countries, {{"Austria", "\xE5\xA5\xA5\xE5\x9C\xB0\xE5\x88\xA9"}});
    EXPECT_EQ(names.Name("AT"), "奥地利");
    EXPECT_EQ(names.Name("XE"), "Evil\\u202Eland");
    EXPECT_EQ(names.Size(), 3u);
}

// The service answers named ranges at once, queues the rest for its thread
// and answers them once looked up; Changes() moves with each answer.
TEST(PlaceService, LooksUpOffTheCallersThread) {
    if (!Installed())
        GTEST_SKIP() << "no installed database";
    PlaceDatabase::Options options;
    options.quiet = true;
    const PlaceDatabase db(options);
    PlaceService service(PlaceService::Options{&db, 4096});
    EXPECT_EQ(service.Lookup(Ip("192.168.3.4"))->kind, PlaceKind::kPrivate);
    const uint64_t before = service.Changes();
    const char* addresses[] = {"8.8.8.8", "1.1.1.1", "2001:4860:4860::8888"};
    for (const char* a : addresses)
        service.Lookup(Ip(a));
    ASSERT_TRUE(service.WaitIdle(std::chrono::minutes(1)));
    EXPECT_GT(service.Changes(), before);
    for (const char* a : addresses) {
        const std::optional<Place> p = service.Lookup(Ip(a));
        ASSERT_TRUE(p.has_value()) << a;
        EXPECT_EQ(*p, db.Find(Ip(a))) << a;
    }
    // A full queue turns the rest away until asked again.
    PlaceService small(PlaceService::Options{&db, 1});
    for (uint32_t i = 0; i < 50; ++i)
        small.Lookup(IpAddress(0x01010100u + i * 0x00010000u));
    ASSERT_TRUE(small.WaitIdle(std::chrono::minutes(1)));
}
