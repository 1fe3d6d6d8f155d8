#include "places/place.h"

// Most of libloc's headers do not say they are C.
extern "C" {
#include <libloc/as.h>
#include <libloc/country.h>
#include <libloc/database.h>
#include <libloc/libloc.h>
#include <libloc/network.h>
}
#include <netinet/in.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "res/resource.h"
#include "res/string_table.h"
#include "talk/texts.h"

namespace {

// AS names longer than this are cut at a character's edge: the longest real
// ones are well under it.
constexpr size_t kMostAsNameBytes = 256;

// libloc's version 1 layout (big-endian): 8 bytes of magic and version, then
// the creation time, three string references, and five sections as offset
// and length: ASes, networks, network tree, countries, string pool; then two
// signatures of up to 2,048 bytes and 32 bytes of padding.
constexpr size_t kHeaderBytes = 8 + 8 + 3 * 4 + 10 * 4 + 2 * 2 + 2 * 2048 + 32;
constexpr size_t kSectionsAt = 8 + 8 + 3 * 4;
// Each section's record size: AS (number, name), network, tree node,
// country, and the pool of bytes.
constexpr uint32_t kRecordBytes[5] = {8, 12, 12, 8, 1};

uint32_t BigEndian32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// libloc trusts the offsets of the file it maps: a cut or damaged file is
// turned away here first (libloc takes even a file of its magic alone).
bool WholeDatabase(FILE* f, std::string* why) {
    struct stat st {};
    unsigned char header[kHeaderBytes];
    if (::fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) ||
        std::fread(header, 1, sizeof header, f) != sizeof header ||
        std::memcmp(header, "LOCDBXX\x01", 8) != 0) {
        *why = LoadStringUtf8(IDS_PLACE_BAD_FILE);
        return false;
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    for (int s = 0; s < 5; ++s) {
        const uint64_t at = BigEndian32(header + kSectionsAt + s * 8);
        const uint64_t length = BigEndian32(header + kSectionsAt + s * 8 + 4);
        if (at < kHeaderBytes || at + length > size || length % kRecordBytes[s] != 0 ||
            (s == 2 && length == 0)) {
            *why = LoadStringUtf8(IDS_PLACE_BAD_FILE);
            return false;
        }
    }
    std::rewind(f);
    return true;
}

std::string Clipped(const char* text, size_t most) {
    if (text == nullptr)
        return {};
    std::string_view t(text, ::strnlen(text, most + 1));
    if (t.size() > most) {
        size_t end = most;
        while (end > 0 && (static_cast<unsigned char>(t[end]) & 0xC0) == 0x80)
            --end;
        t = t.substr(0, end);
    }
    return DisplayableUtf8(t);
}

// libloc's own messages would repeat ours, once per failed call.
void Silent(loc_ctx*, int, const char*, int, const char*, const char*, va_list) {}

Place Named(PlaceKind kind, int id) {
    Place p;
    p.kind = kind;
    p.country = std::string(LoadStringUtf8(id));
    return p;
}

bool In4(uint32_t a, uint32_t network, int prefix) {
    const uint32_t mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
    return (a & mask) == network;
}

bool In6(const Ipv6Address& a, std::initializer_list<uint8_t> network, int prefix) {
    int bit = 0;
    for (const uint8_t byte : network) {
        const int bits = std::min(8, prefix - bit);
        if (bits <= 0)
            break;
        const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - bits));
        if ((a[static_cast<size_t>(bit / 8)] & mask) != (byte & mask))
            return false;
        bit += bits;
    }
    return true;
}

}  // namespace

std::string Place::NetworkText() const {
    if (asn == 0)
        return {};
    std::string text = "AS" + std::to_string(asn);
    if (!asName.empty())
        text += ' ' + asName;
    return text;
}

std::optional<Place> ReservedPlace(const IpAddress& address) {
    if (address.IsIpv6()) {
        const Ipv6Address& a = address.v6;
        const IpAddress unmapped = IpAddress::Unmapped(a);
        if (!unmapped.IsIpv6())
            return ReservedPlace(unmapped);
        if (address.IsUnspecified())
            return Named(PlaceKind::kReserved, IDS_PLACE_RESERVED);
        if (In6(a, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 128))
            return Named(PlaceKind::kLoopback, IDS_PLACE_LOOPBACK);
        if (In6(a, {0xFC}, 7))
            return Named(PlaceKind::kPrivate, IDS_PLACE_PRIVATE);
        if (In6(a, {0xFE, 0x80}, 10))
            return Named(PlaceKind::kLinkLocal, IDS_PLACE_LINK_LOCAL);
        if (In6(a, {0xFF}, 8))
            return Named(PlaceKind::kMulticast, IDS_PLACE_MULTICAST);
        // Documentation: 2001:db8::/32 and 3fff::/20.
        if (In6(a, {0x20, 0x01, 0x0D, 0xB8}, 32) || In6(a, {0x3F, 0xFF, 0x00}, 20))
            return Named(PlaceKind::kTest, IDS_PLACE_TEST);
        return std::nullopt;
    }
    const uint32_t a = address.v4;
    if (a == 0xFFFFFFFFu)
        return Named(PlaceKind::kBroadcast, IDS_PLACE_BROADCAST);
    if (In4(a, 0x0A000000, 8) || In4(a, 0xAC100000, 12) || In4(a, 0xC0A80000, 16) ||
        In4(a, 0x64400000, 10))
        return Named(PlaceKind::kPrivate, IDS_PLACE_PRIVATE);
    if (In4(a, 0x7F000000, 8))
        return Named(PlaceKind::kLoopback, IDS_PLACE_LOOPBACK);
    if (In4(a, 0xA9FE0000, 16))
        return Named(PlaceKind::kLinkLocal, IDS_PLACE_LINK_LOCAL);
    if (In4(a, 0xE0000000, 4))
        return Named(PlaceKind::kMulticast, IDS_PLACE_MULTICAST);
    // Documentation (TEST-NET-1, -2, -3) and benchmarking (198.18/15).
    if (In4(a, 0xC0000200, 24) || In4(a, 0xC6336400, 24) || In4(a, 0xCB007100, 24) ||
        In4(a, 0xC6120000, 15))
        return Named(PlaceKind::kTest, IDS_PLACE_TEST);
    if (In4(a, 0x00000000, 8) || In4(a, 0xF0000000, 4))
        return Named(PlaceKind::kReserved, IDS_PLACE_RESERVED);
    return std::nullopt;
}

struct PlaceDatabase::Libloc {
    loc_ctx* ctx = nullptr;
    loc_database* db = nullptr;
    // libloc's objects are not made for threads: one lookup at a time. A
    // lock of its own, so that Cached() never waits behind a lookup that
    // reads pages from disk.
    std::mutex mutex;
    ~Libloc() {
        if (db != nullptr)
            loc_database_unref(db);
        if (ctx != nullptr)
            loc_unref(ctx);
    }
};

PlaceDatabase::PlaceDatabase() : PlaceDatabase(Options{}) {}

PlaceDatabase::PlaceDatabase(Options options) : options_(std::move(options)) {
    auto libloc = std::make_unique<Libloc>();
    FILE* f = std::fopen(options_.path.c_str(), "re");
    if (f == nullptr) {
        problem_ = std::strerror(errno);
    } else {
        if (WholeDatabase(f, &problem_) && loc_new(&libloc->ctx) == 0) {
            loc_set_log_fn(libloc->ctx, Silent);
            // libloc maps the file: it stays readable after the FILE is closed.
            if (loc_database_new(libloc->ctx, &libloc->db, f) != 0) {
                libloc->db = nullptr;
                problem_ = LoadStringUtf8(IDS_PLACE_BAD_FILE);
            }
        } else if (problem_.empty()) {
            problem_ = std::strerror(ENOMEM);
        }
        std::fclose(f);
    }
    if (libloc->db != nullptr)
        libloc_ = std::move(libloc);
    else if (!options_.quiet)
        std::fprintf(
            stderr, "%s\n",
            FormatUtf8(IDS_PLACE_NO_DATABASE, {DisplayableUtf8(options_.path), problem_}).c_str());
    names_ = CountryNames::Read(options_.countryNames);
}

PlaceDatabase::~PlaceDatabase() = default;

bool PlaceDatabase::Ok() const {
    return libloc_ != nullptr;
}

std::string PlaceDatabase::Problem() const {
    return problem_;
}

std::string PlaceDatabase::CountryName(const std::string& code) const {
    std::string name = names_.Name(code);
    if (!name.empty() || code.empty())
        return name;
    // Not in the ISO list (a code of the database's own): its English name.
    if (libloc_ != nullptr) {
        std::lock_guard lock(libloc_->mutex);
        loc_country* country = nullptr;
        if (loc_database_get_country(libloc_->db, &country, code.c_str()) == 0 &&
            country != nullptr) {
            name = Clipped(loc_country_get_name(country), 128);
            loc_country_unref(country);
        }
    }
    return name.empty() ? DisplayableUtf8(code) : name;
}

Place PlaceDatabase::Ask(const IpAddress& address) const {
    Place place;
    if (libloc_ == nullptr)
        return place;
    in6_addr a{};
    if (address.IsIpv6()) {
        std::memcpy(a.s6_addr, address.v6.data(), 16);
    } else {
        a.s6_addr[10] = 0xFF;
        a.s6_addr[11] = 0xFF;
        a.s6_addr[12] = static_cast<uint8_t>(address.v4 >> 24);
        a.s6_addr[13] = static_cast<uint8_t>(address.v4 >> 16);
        a.s6_addr[14] = static_cast<uint8_t>(address.v4 >> 8);
        a.s6_addr[15] = static_cast<uint8_t>(address.v4);
    }
    std::string code;
    {
        std::lock_guard lock(libloc_->mutex);
        loc_network* network = nullptr;
        if (loc_database_lookup(libloc_->db, &a, &network) != 0 || network == nullptr)
            return place;
        const char* cc = loc_network_get_country_code(network);
        if (cc != nullptr && std::strlen(cc) == 2)
            code = cc;
        place.asn = loc_network_get_asn(network);
        loc_network_unref(network);
        loc_as* as = nullptr;
        if (place.asn != 0 && loc_database_get_as(libloc_->db, &as, place.asn) == 0 &&
            as != nullptr) {
            place.asName = Clipped(loc_as_get_name(as), kMostAsNameBytes);
            loc_as_unref(as);
        }
    }
    place.countryCode = code;
    place.country = CountryName(code);
    if (!place.Empty())
        place.kind = PlaceKind::kPublic;
    return place;
}

std::optional<Place> PlaceDatabase::CachedLocked(const IpAddress& address) const {
    if (const auto it = young_.find(address); it != young_.end())
        return it->second;
    const auto it = old_.find(address);
    if (it == old_.end())
        return std::nullopt;
    Place place = it->second;
    young_.emplace(address, place);
    old_.erase(it);
    return place;
}

std::optional<Place> PlaceDatabase::Cached(const IpAddress& address) const {
    if (std::optional<Place> reserved = ReservedPlace(address))
        return reserved;
    std::lock_guard lock(mutex_);
    return CachedLocked(address);
}

Place PlaceDatabase::Find(const IpAddress& address) const {
    if (std::optional<Place> reserved = ReservedPlace(address))
        return *reserved;
    {
        std::lock_guard lock(mutex_);
        if (std::optional<Place> known = CachedLocked(address))
            return *known;
    }
    Place place = Ask(address);
    std::lock_guard lock(mutex_);
    if (young_.size() >= options_.maxCached) {
        old_ = std::move(young_);
        young_.clear();
    }
    young_.insert_or_assign(address, place);
    return place;
}

const PlaceDatabase& InstalledPlaces() {
    static const PlaceDatabase installed;
    return installed;
}

Place PlaceOf(const IpAddress& address) {
    return InstalledPlaces().Find(address);
}
