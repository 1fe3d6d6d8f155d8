#include "alerts/blocklist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "alerts/address.h"

namespace {

std::string_view Trimmed(std::string_view s) {
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
    };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

// One entry: an address, or an address and a prefix length of its family.
bool ParseEntry(std::string_view entry, Blocklist::Range* out) {
    std::string_view address = entry;
    int bits = -1;
    if (const size_t slash = entry.find('/'); slash != std::string_view::npos) {
        address = entry.substr(0, slash);
        const std::string_view digits = entry.substr(slash + 1);
        if (digits.empty() || digits.size() > 3)
            return false;
        bits = 0;
        for (const char c : digits) {
            if (c < '0' || c > '9')
                return false;
            bits = bits * 10 + (c - '0');
        }
    }
    IpAddress host;
    if (!ParseHost(address, &host))
        return false;
    // A prefix length counts in the family the address was written in.
    const bool writtenV4 = address.find(':') == std::string_view::npos;
    if (bits < 0)
        bits = 128;
    else if (writtenV4 && bits > 32)
        return false;
    else if (bits > 128)
        return false;
    else if (writtenV4)
        bits += 96;
    const Ipv6Address place = PointOnLine(host);
    out->first = MaskedTo(place, bits);
    out->last = LastOf(place, bits);
    return true;
}

// b == a + 1
bool Follows(const Ipv6Address& a, const Ipv6Address& b) {
    Ipv6Address next = a;
    for (size_t i = next.size(); i-- > 0;) {
        if (++next[i] != 0)
            return next == b;
    }
    return false;  // a was the last place
}

int64_t Nanoseconds(const timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The prefix of `place` and `bits`: its first place, else its last one.
Ipv6Address Prefix(const Ipv6Address& place, int bits, bool last) {
    Ipv6Address out = place;
    for (size_t i = 0; i < out.size(); ++i) {
        const int kept = std::clamp(bits - static_cast<int>(i) * 8, 0, 8);
        const auto host = static_cast<uint8_t>(0xFF >> kept);
        out[i] = last ? static_cast<uint8_t>(out[i] | host) : static_cast<uint8_t>(out[i] & ~host);
    }
    return out;
}

std::string FormatPlace(const Ipv6Address& place) {
    return FormatIp(AddressAt(place));
}

// The prefix length when [first, last] is exactly one prefix; -1 otherwise.
int PrefixBits(const Blocklist::Range& r) {
    for (int bits = 0; bits <= 128; ++bits) {
        if (MaskedTo(r.first, bits) == r.first && LastOf(r.first, bits) == r.last)
            return bits;
    }
    return -1;
}

}  // namespace

Blocklist Blocklist::Parse(std::string_view text, Parsed* parsed) {
    Parsed counts;
    Blocklist list;
    size_t lineNumber = 0;
    const auto bad = [&] {
        ++counts.badLines;
        if (counts.firstBadLine == 0)
            counts.firstBadLine = lineNumber;
    };
    while (!text.empty()) {
        ++lineNumber;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.size() > kMaxLineBytes) {
            bad();
            continue;
        }
        if (const size_t hash = line.find('#'); hash != std::string_view::npos)
            line = line.substr(0, hash);
        line = Trimmed(line);
        if (line.empty())
            continue;
        Range range;
        if (counts.entries >= kMaxEntries || !ParseEntry(line, &range)) {
            bad();
            continue;
        }
        ++counts.entries;
        list.ranges_.push_back(range);
    }
    // Sorted by their first address, then overlapping and touching ranges made one.
    std::sort(list.ranges_.begin(), list.ranges_.end(),
              [](const Range& a, const Range& b) { return a.first < b.first; });
    std::vector<Range> merged;
    merged.reserve(list.ranges_.size());
    for (const Range& r : list.ranges_) {
        if (!merged.empty() &&
            (r.first <= merged.back().last || Follows(merged.back().last, r.first))) {
            merged.back().last = std::max(merged.back().last, r.last);
            continue;
        }
        merged.push_back(r);
    }
    merged.shrink_to_fit();
    list.ranges_ = std::move(merged);
    if (parsed)
        *parsed = counts;
    return list;
}

const Blocklist::Range* Blocklist::Find(const IpAddress& host) const {
    const Ipv6Address place = PointOnLine(host);
    // The first range starting after the place; the one before may hold it.
    auto it = std::upper_bound(ranges_.begin(), ranges_.end(), place,
                               [](const Ipv6Address& p, const Range& r) { return p < r.first; });
    if (it == ranges_.begin())
        return nullptr;
    --it;
    return place <= it->last ? &*it : nullptr;
}

std::string FormatRange(const Blocklist::Range& range) {
    if (range.first == range.last)
        return FormatPlace(range.first);
    const int bits = PrefixBits(range);
    if (bits >= 0) {
        const bool v4 = IsIpv4Mapped(range.first) && bits >= 96;
        return FormatPlace(range.first) + "/" + std::to_string(v4 ? bits - 96 : bits);
    }
    return FormatPlace(range.first) + " - " + FormatPlace(range.last);
}

Ipv6Address PointOnLine(const IpAddress& address) {
    if (address.IsIpv6())
        return address.v6;
    Ipv6Address place{};
    place[10] = place[11] = 0xFF;
    for (int i = 0; i < 4; ++i)
        place[static_cast<size_t>(12 + i)] = static_cast<uint8_t>(address.v4 >> (24 - 8 * i));
    return place;
}

IpAddress AddressAt(const Ipv6Address& place) {
    return IpAddress::Unmapped(place);
}

Ipv6Address MaskedTo(const Ipv6Address& place, int bits) {
    return Prefix(place, bits, false);
}

Ipv6Address LastOf(const Ipv6Address& place, int bits) {
    return Prefix(place, bits, true);
}

BlocklistFile::BlocklistFile(std::string path)
    : path_(std::move(path)), list_(std::make_shared<const Blocklist>()) {}

bool BlocklistFile::Poll() {
    struct stat st {};
    Seen now;
    if (::stat(path_.c_str(), &st) == 0) {
        now = Seen{true,
                   st.st_dev,
                   st.st_ino,
                   st.st_size,
                   Nanoseconds(st.st_mtim),
                   Nanoseconds(st.st_ctim)};
    } else if (errno != ENOENT && errno != ENOTDIR) {
        const bool changed = status_.state != State::kUnreadable || status_.error != errno;
        status_.state = State::kUnreadable;
        status_.error = errno;
        polled_ = true;
        seen_ = Seen{};
        return changed;
    }
    if (polled_ && now == seen_)
        return false;
    polled_ = true;
    seen_ = now;
    if (!now.present) {
        const bool changed = status_.state != State::kMissing;
        status_.state = State::kMissing;
        status_.error = ENOENT;
        return changed;
    }
    Read();
    return true;
}

void BlocklistFile::Read() {
    // Without waiting: a pipe put at the path must not hold the caller.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        status_.state = errno == ENOENT ? State::kMissing : State::kUnreadable;
        status_.error = errno;
        return;
    }
    struct stat st {};
    std::string text;
    State state = State::kLoaded;
    int error = 0;
    if (::fstat(fd, &st) != 0) {
        state = State::kUnreadable;
        error = errno;
    } else if (!S_ISREG(st.st_mode)) {
        state = State::kNotAFile;
    } else if (st.st_size > kMaxBytes) {
        state = State::kTooLarge;
    } else {
        // The size may change while we read; never past the limit.
        text.resize(static_cast<size_t>(st.st_size) + 1);
        size_t have = 0;
        for (;;) {
            if (have == text.size()) {
                if (text.size() > static_cast<size_t>(kMaxBytes)) {
                    state = State::kTooLarge;
                    break;
                }
                text.resize(std::min(text.size() * 2, static_cast<size_t>(kMaxBytes) + 1));
            }
            const ssize_t n = ::read(fd, text.data() + have, text.size() - have);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                state = State::kUnreadable;
                error = errno;
                break;
            }
            if (n == 0)
                break;
            have += static_cast<size_t>(n);
        }
        text.resize(have);
    }
    ::close(fd);
    status_.state = state;
    status_.error = error;
    if (state != State::kLoaded)
        return;
    Blocklist::Parsed parsed;
    list_ = std::make_shared<const Blocklist>(Blocklist::Parse(text, &parsed));
    status_.parsed = parsed;
    ++status_.loads;
}
