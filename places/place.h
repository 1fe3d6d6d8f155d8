#pragma once
// Where an address is and whose network it is in: its country (code and
// name in Chinese) and its autonomous system (number and name), from the
// installed libloc database, offline. Private, loopback, link-local,
// multicast, documentation and other special ranges are named as such
// without asking the database.
//
// The database and the country names come from outside: names are kept as
// displayable UTF-8 (talk/texts.h), bounded in length. A missing or damaged
// database leaves places empty, with one message on stderr.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "places/country_names.h"
#include "wire/ip_address.h"

enum class PlaceKind : uint8_t {
    kUnknown,  // not in the database, or no database
    kPublic,   // what the database says
    kPrivate,  // RFC 1918, 100.64/10, fc00::/7
    kLoopback,
    kLinkLocal,
    kMulticast,
    kTest,  // documentation and benchmarking ranges
    kBroadcast,
    kReserved,  // 0/8, 240/4, the unspecified address
};

struct Place {
    PlaceKind kind = PlaceKind::kUnknown;
    std::string countryCode;  // "US"; empty when none
    std::string country;      // "美国", or the range's name ("私有网络")
    uint32_t asn = 0;         // 0: none known
    std::string asName;

    // "AS15169 GOOGLE", "AS15169" without a name, empty without a number.
    std::string NetworkText() const;
    bool Empty() const { return country.empty() && asn == 0; }
    friend bool operator==(const Place&, const Place&) = default;
};

// The named range an address lies in (an IPv4-mapped IPv6 address as its
// IPv4 one), or nothing for an address the database should be asked about.
std::optional<Place> ReservedPlace(const IpAddress& address);

// One libloc database and the country names. Every call is thread-safe; a
// lookup of the database costs microseconds warm and up to milliseconds
// while its pages are read from disk, so the interface thread asks Cached()
// and leaves Find() to a thread of its own (PlaceService).
class PlaceDatabase {
  public:
    struct Options {
        std::string path = kInstalledPath;
        CountryNameFiles countryNames;
        size_t maxCached = 16384;  // answers kept per generation (two generations)
        // Where the one message goes when the database cannot be read.
        bool quiet = false;
    };
    static constexpr const char* kInstalledPath = "/usr/share/libloc-location/location.db";

    PlaceDatabase();
    explicit PlaceDatabase(Options options);
    ~PlaceDatabase();
    PlaceDatabase(const PlaceDatabase&) = delete;
    PlaceDatabase& operator=(const PlaceDatabase&) = delete;

    // Whether the database was read (the named ranges are answered regardless).
    bool Ok() const;
    // Why not, as shown in the message: empty when Ok().
    std::string Problem() const;
    // The place of `address`, looked up and kept.
    Place Find(const IpAddress& address) const;
    // The place if answered already (a named range always is); never reads
    // the database.
    std::optional<Place> Cached(const IpAddress& address) const;
    // The name of a country code, as shown ("美国"); the code itself when unknown.
    std::string CountryName(const std::string& code) const;

  private:
    struct Libloc;
    std::optional<Place> CachedLocked(const IpAddress& address) const;
    Place Ask(const IpAddress& address) const;

    Options options_;
    std::unique_ptr<Libloc> libloc_;
    CountryNames names_;
    std::string problem_;
    mutable std::mutex mutex_;
    // Two generations: an answer found in the old one moves up; when the
    // young one is full the old one goes at once.
    mutable std::unordered_map<IpAddress, Place, IpAddressHash> young_;
    mutable std::unordered_map<IpAddress, Place, IpAddressHash> old_;
};

// The installed database, opened on first use (its one message then, if any).
const PlaceDatabase& InstalledPlaces();
// The place of `address` in the installed database.
Place PlaceOf(const IpAddress& address);
