#pragma once
// The block list: addresses and CIDR ranges of both families, from a file the
// person picks, one entry a line ("192.0.2.7", "198.51.100.0/24",
// "2001:db8::/32"; "#" starts a comment; blank lines are skipped). A line
// that is not one of those is counted and skipped, never fatal.
//
// Entries are merged into a sorted table of disjoint ranges, so a lookup is a
// binary search however many entries there are. Both families lie on one
// line of 128 bits, IPv6 as it is and IPv4 at its IPv4-mapped place
// (::ffff:a.b.c.d): an IPv6 range over ::ffff:0:0/96 ("::/0") holds IPv4
// hosts too, and "::ffff:192.0.2.0/120" is 192.0.2.0/24.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "wire/ip_address.h"

class Blocklist {
  public:
    struct Range {  // places on the line, first <= last
        Ipv6Address first;
        Ipv6Address last;
    };
    struct Parsed {
        size_t entries = 0;       // lines that gave an entry
        size_t badLines = 0;      // lines that gave none
        size_t firstBadLine = 0;  // its number from 1; 0 when none
    };

    // Limits on what a file may make us hold.
    static constexpr size_t kMaxEntries = 1'000'000;  // further entries count as bad lines
    static constexpr size_t kMaxLineBytes = 512;      // longer lines are bad lines

    static Blocklist Parse(std::string_view text, Parsed* parsed = nullptr);

    // The range that holds `host`, or null.
    const Range* Find(const IpAddress& host) const;
    bool Empty() const { return ranges_.empty(); }
    const std::vector<Range>& Ranges() const { return ranges_; }

  private:
    std::vector<Range> ranges_;  // sorted, disjoint and not adjacent
};

// A range as people read it: an address, a prefix, else "first - last"; an
// IPv4 place in IPv4 terms.
std::string FormatRange(const Blocklist::Range& range);

// An address's point on the block list's line, and the address at a point.
Ipv6Address PointOnLine(const IpAddress& address);
IpAddress AddressAt(const Ipv6Address& place);
// The place with every bit past the first `bits` cleared (`bits` over the
// 128-bit line: an IPv4 /24 is 96 + 24), and the last place of that prefix.
Ipv6Address MaskedTo(const Ipv6Address& place, int bits);
Ipv6Address LastOf(const Ipv6Address& place, int bits);

// The file the block list is read from, polled by its owner (about once a
// second): read again when its device, inode, size, change or modification
// time moved, so an editor that writes a new file and renames it over the
// old one is seen as readily as one that writes in place. While the name
// names nothing (between an editor's unlink and rename, or a file taken
// away), the list last read stays in force.
class BlocklistFile {
  public:
    enum class State {
        kNone,  // not read yet
        kLoaded,
        kMissing,     // nothing at the path (the last list stays)
        kNotAFile,    // a folder, a pipe, a device
        kTooLarge,    // over kMaxBytes
        kUnreadable,  // open or read failed: `error`
    };
    struct Status {
        State state = State::kNone;
        int error = 0;
        Blocklist::Parsed parsed;
        uint64_t loads = 0;  // how many times a list was read
    };
    static constexpr off_t kMaxBytes = 64 << 20;

    explicit BlocklistFile(std::string path);

    // True when something changed: a list was read, or the state moved.
    bool Poll();
    const std::string& Path() const { return path_; }
    const Status& Last() const { return status_; }
    // The list in force; never null.
    std::shared_ptr<const Blocklist> List() const { return list_; }

  private:
    struct Seen {
        bool present = false;
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        int64_t mtimeNs = 0;
        int64_t ctimeNs = 0;
        friend bool operator==(const Seen&, const Seen&) = default;
    };
    void Read();

    std::string path_;
    Seen seen_;
    bool polled_ = false;
    Status status_;
    std::shared_ptr<const Blocklist> list_;
};
