#include "wire/hello_names.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr uint8_t kHandshakeRecord = 0x16;
constexpr uint8_t kClientHello = 1;
constexpr uint16_t kServerNameExtension = 0;
constexpr uint8_t kHostName = 0;
constexpr int kMaxExtensions = 64;
constexpr int kMaxServerNames = 16;
constexpr size_t kMaxHostName = 253;
constexpr size_t kHttpHeadScanned = 8192;
constexpr int kMaxHeaderLines = 100;

bool HostByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

}  // namespace

bool NormalizeHostName(std::string_view text, std::string* out) {
    if (text.empty() || text.size() > kMaxHostName)
        return false;
    std::string name;
    name.reserve(text.size());
    for (const char c : text) {
        const char l = Lower(c);
        if (!HostByte(l))
            return false;
        name += l;
    }
    if (name.back() == '.')
        name.pop_back();
    if (name.empty() || name.front() == '.')
        return false;
    *out = std::move(name);
    return true;
}

bool ParseTlsServerName(const PacketBytes& p, std::string* name) {
    // Record: type, version (3.x), length; handshake: type, 3-byte length.
    if (p.U8(0) != kHandshakeRecord || p.U8(1) != 3 || p.U8(5) != kClientHello)
        return false;
    // Past the handshake header, the client's version (2) and random (32).
    size_t pos = 9 + 2 + 32;
    bool ok = false;
    pos += 1u + p.U8(pos, &ok);  // session id
    if (!ok)
        return false;
    pos += 2u + p.BeU16(pos, &ok);  // cipher suites
    if (!ok)
        return false;
    pos += 1u + p.U8(pos, &ok);  // compression methods
    if (!ok)
        return false;
    const uint16_t extensionsLength = p.BeU16(pos, &ok);
    if (!ok)
        return false;
    pos += 2;
    const size_t extensionsEnd = pos + extensionsLength;
    for (int e = 0; e < kMaxExtensions && pos + 4 <= extensionsEnd; ++e) {
        const uint16_t type = p.BeU16(pos, &ok);
        const uint16_t length = p.BeU16(pos + 2);
        if (!ok || !p.Has(pos + 2, 2))
            return false;
        const size_t data = pos + 4;
        pos = data + length;
        if (type != kServerNameExtension)
            continue;
        // A list (2-byte length) of entries: type, 2-byte length, name.
        const size_t listEnd = data + 2 + p.BeU16(data, &ok);
        if (!ok)
            return false;
        size_t at = data + 2;
        for (int n = 0; n < kMaxServerNames && at + 3 <= listEnd; ++n) {
            const uint8_t kind = p.U8(at, &ok);
            const uint16_t nameLength = p.BeU16(at + 1);
            if (!ok || !p.Has(at + 1, 2) || !p.Has(at + 3, nameLength) ||
                at + 3 + nameLength > listEnd)
                return false;
            if (kind == kHostName) {
                const std::string_view text(reinterpret_cast<const char*>(p.data() + at + 3),
                                            nameLength);
                return NormalizeHostName(text, name);
            }
            at += 3u + nameLength;
        }
        return false;
    }
    return false;
}

bool ParseHttpHost(const PacketBytes& p, std::string* host) {
    const size_t size = std::min(p.size(), kHttpHeadScanned);
    if (size == 0)
        return false;
    const std::string_view head(reinterpret_cast<const char*>(p.data()), size);
    // The request line: a method of capitals, a target, an HTTP/1 version.
    size_t method = 0;
    while (method < head.size() && method < 16 && head[method] >= 'A' && head[method] <= 'Z')
        ++method;
    if (method == 0 || method >= head.size() || head[method] != ' ')
        return false;
    size_t end = head.find('\n');
    if (end == std::string_view::npos)
        return false;
    std::string_view line = head.substr(0, end);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.size() < 9 || line.substr(line.size() - 9, 7) != " HTTP/1")
        return false;
    size_t pos = end + 1;
    for (int n = 0; n < kMaxHeaderLines && pos < head.size(); ++n) {
        end = head.find('\n', pos);
        if (end == std::string_view::npos)
            return false;  // the line goes on past what was received
        line = head.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            return false;  // the end of the head: no Host
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || !SameLetters(line.substr(0, colon), "host"))
            continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.remove_suffix(1);
        if (!value.empty() && value.front() == '[') {
            // An IPv6 literal keeps its brackets; its port goes.
            const size_t close = value.find(']');
            // The longest IPv6 text is 45 bytes (with an IPv4 tail).
            if (close == std::string_view::npos || close < 3 || close - 1 > 45)
                return false;
            const std::string_view inside = value.substr(1, close - 1);
            for (const char c : inside) {
                const char l = Lower(c);
                if (!((l >= '0' && l <= '9') || (l >= 'a' && l <= 'f') || l == ':' || l == '.'))
                    return false;
            }
            std::string text(value.substr(0, close + 1));
            for (char& c : text)
                c = Lower(c);
            *host = std::move(text);
            return true;
        }
        const size_t portColon = value.rfind(':');
        if (portColon != std::string_view::npos) {
            const std::string_view port = value.substr(portColon + 1);
            for (const char c : port) {
                if (c < '0' || c > '9')
                    return false;
            }
            value = value.substr(0, portColon);
        }
        return NormalizeHostName(value, host);
    }
    return false;
}
