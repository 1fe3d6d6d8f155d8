#include "wire/dns_message.h"

#include <algorithm>

namespace {

constexpr size_t kHeader = 12;
constexpr size_t kMaxNameBytes = 255;
constexpr int kMaxLabels = 128;
constexpr int kMaxJumps = 16;
constexpr size_t kMaxRecords = 64;
constexpr size_t kMaxAliases = 8;
constexpr size_t kMaxAddresses = 32;

constexpr uint16_t kTypeA = 1;
constexpr uint16_t kTypeCname = 5;
constexpr uint16_t kTypeAaaa = 28;
constexpr uint16_t kClassIn = 1;

bool NameByte(uint8_t c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

struct Record {
    std::string owner;
    uint16_t type = 0;
    std::string alias;  // CNAME
    IpAddress address;  // A, AAAA
};

}  // namespace

bool ReadDnsName(const PacketBytes& message, size_t offset, std::string* name, size_t* next) {
    std::string text;
    size_t pos = offset;
    size_t runStart = offset;  // a pointer must point before this
    size_t after = 0;
    bool jumped = false;
    int jumps = 0;
    size_t wireBytes = 0;
    for (int labels = 0;; ++labels) {
        if (labels > kMaxLabels)
            return false;
        bool ok = false;
        const uint8_t length = message.U8(pos, &ok);
        if (!ok)
            return false;
        if ((length & 0xC0u) == 0xC0u) {
            const uint8_t low = message.U8(pos + 1, &ok);
            if (!ok)
                return false;
            const size_t target = (size_t{length & 0x3Fu} << 8) | low;
            if (target >= runStart || ++jumps > kMaxJumps)
                return false;
            if (!jumped)
                after = pos + 2;
            jumped = true;
            pos = runStart = target;
            continue;
        }
        if ((length & 0xC0u) != 0)
            return false;  // the extended label types were never deployed
        wireBytes += 1u + length;
        if (wireBytes > kMaxNameBytes)
            return false;
        if (length == 0) {
            if (!jumped)
                after = pos + 1;
            break;
        }
        if (!message.Has(pos + 1, length))
            return false;
        if (!text.empty())
            text += '.';
        for (size_t i = 0; i < length; ++i) {
            uint8_t c = message.U8(pos + 1 + i);
            if (c >= 'A' && c <= 'Z')
                c = static_cast<uint8_t>(c - 'A' + 'a');
            if (!NameByte(c))
                return false;
            text += static_cast<char>(c);
        }
        pos += 1u + length;
    }
    *name = std::move(text);
    *next = after;
    return true;
}

bool ParseDnsResponse(const PacketBytes& m, DnsResponse* out) {
    if (!m.Has(0, kHeader))
        return false;
    const uint16_t flags = m.BeU16(2);
    const bool response = (flags & 0x8000u) != 0;
    const unsigned opcode = (flags >> 11) & 0xFu;
    if (!response || opcode != 0 || m.BeU16(4) != 1)
        return false;
    DnsResponse r;
    size_t pos = 0;
    if (!ReadDnsName(m, kHeader, &r.question, &pos) || !m.Has(pos, 4))
        return false;
    pos += 4;  // type and class of the question

    // The answer section, as far as it arrived whole.
    std::vector<Record> records;
    const size_t count = std::min<size_t>(m.BeU16(6), kMaxRecords);
    for (size_t i = 0; i < count; ++i) {
        Record rec;
        if (!ReadDnsName(m, pos, &rec.owner, &pos) || !m.Has(pos, 10)) {
            r.cut = true;
            break;
        }
        rec.type = m.BeU16(pos);
        const uint16_t cls = m.BeU16(pos + 2);
        const uint16_t length = m.BeU16(pos + 8);
        const size_t data = pos + 10;
        if (!m.Has(data, length)) {
            r.cut = true;
            break;
        }
        pos = data + length;
        if (cls != kClassIn)
            continue;
        if (rec.type == kTypeA && length == 4) {
            rec.address = IpAddress(m.BeU32(data));
        } else if (rec.type == kTypeAaaa && length == 16) {
            Ipv6Address a{};
            m.CopyTo(data, a);
            rec.address = IpAddress::FromIpv6(a);
        } else if (rec.type == kTypeCname) {
            size_t end = 0;
            // An alias must lie within its record's data.
            if (!ReadDnsName(m, data, &rec.alias, &end) || end > pos)
                continue;
        } else {
            continue;
        }
        records.push_back(std::move(rec));
    }

    // question -> alias -> alias ..., each step the first CNAME of the name before.
    const std::string* last = &r.question;
    for (size_t step = 0; step < kMaxAliases; ++step) {
        const auto it = std::find_if(records.begin(), records.end(), [&](const Record& x) {
            return x.type == kTypeCname && x.owner == *last;
        });
        if (it == records.end() || it->alias == r.question ||
            std::find(r.aliases.begin(), r.aliases.end(), it->alias) != r.aliases.end())
            break;
        r.aliases.push_back(it->alias);
        last = &r.aliases.back();
    }
    for (const Record& x : records) {
        if (x.type == kTypeCname || r.addresses.size() == kMaxAddresses)
            continue;
        if (x.owner == r.question ||
            std::find(r.aliases.begin(), r.aliases.end(), x.owner) != r.aliases.end())
            r.addresses.push_back(x.address);
    }
    *out = std::move(r);
    return true;
}

bool ParseDnsResponseOverTcp(const PacketBytes& segment, DnsResponse* out) {
    bool ok = false;
    const uint16_t length = segment.BeU16(0, &ok);
    if (!ok || length < kHeader)
        return false;
    const PacketBytes message = segment.Tail(2);
    // The message's own length bounds it; what the segment lacks reads as cut.
    return ParseDnsResponse(
        message.size() > length ? PacketBytes(message.data(), static_cast<int>(length)) : message,
        out);
}
