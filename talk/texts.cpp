#include "talk/texts.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "res/resource.h"
#include "res/string_table.h"
#include "talk/owner.h"

namespace {

struct Range {
    char32_t first, last;
};

// Unicode's format characters (category Cf) as of Unicode 15, in order.
constexpr Range kFormat[] = {
    {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},
    {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
    {0x200B, 0x200F},   {0x202A, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
    {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F},
};

// The escape of a character ShownEscaped() names, in ASCII.
template <typename Text>
void AppendEscape(Text& out, char32_t c) {
    if (c == U'\\') {
        out.push_back('\\');
        out.push_back('\\');
        return;
    }
    static const char kHex[] = "0123456789ABCDEF";
    const int digits = c > 0xFFFF ? 8 : 4;
    out.push_back('\\');
    out.push_back(c > 0xFFFF ? 'U' : 'u');
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out.push_back(static_cast<typename Text::value_type>(kHex[(c >> shift) & 0xF]));
}

}  // namespace

bool ShownEscaped(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == U'\\' || c == 0x2028 || c == 0x2029)
        return true;
    if (c < kFormat[0].first)
        return false;
    for (const Range& r : kFormat) {
        if (c < r.first)
            return false;
        if (c <= r.last)
            return true;
    }
    return false;
}

std::string DisplayableUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (ShownEscaped(c))
                AppendEscape(out, c);
            else
                out += static_cast<char>(c);
            ++i;
            continue;
        }
        size_t n = 0;
        uint32_t cp = 0;
        if (c >= 0xC2 && c <= 0xDF) {
            n = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            n = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 4;
            cp = c & 0x07;
        }
        bool ok = n != 0 && i + n <= text.size();
        for (size_t k = 1; ok && k < n; ++k) {
            const auto b = static_cast<unsigned char>(text[i + k]);
            ok = (b & 0xC0) == 0x80;
            cp = (cp << 6) | (b & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        ok = ok && !(n == 3 && cp < 0x800) && !(n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) &&
             !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!ok) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            if (ShownEscaped(cp))
                AppendEscape(out, cp);
            else
                out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::u16string DisplayableUtf16(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        char32_t c = u;
        size_t n = 1;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00);
            n = 2;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out += u'\uFFFD';
            continue;
        }
        if (ShownEscaped(c))
            AppendEscape(out, c);
        else
            out.append(text.substr(i, n));
        i += n - 1;
    }
    return out;
}

std::string OwnerPhrase(const OwnerInfo& o) {
    switch (o.state) {
        case OwnerState::kPending:
            return std::string(LoadStringUtf8(IDS_CONV_PENDING));
        case OwnerState::kFound:
            return FormatUtf8(o.exited ? IDS_OWNER_FOUND_EXITED : IDS_OWNER_FOUND,
                              {o.program, std::to_string(o.pid), o.user});
        case OwnerState::kOtherUser:
            return FormatUtf8(IDS_OWNER_OTHER_USER, {o.user});
        case OwnerState::kHolderUnknown:
            return FormatUtf8(IDS_OWNER_HOLDER_UNKNOWN, {o.user});
        case OwnerState::kClosed:
            if (!o.program.empty())
                return FormatUtf8(o.exited ? IDS_OWNER_CLOSED_WAS_EXITED : IDS_OWNER_CLOSED_WAS,
                                  {o.program, std::to_string(o.pid)});
            return std::string(LoadStringUtf8(IDS_OWNER_CLOSED));
        case OwnerState::kNoSocket:
            return std::string(LoadStringUtf8(IDS_OWNER_NO_SOCKET));
        case OwnerState::kNotLocal:
            return std::string(LoadStringUtf8(IDS_OWNER_NOT_LOCAL));
        case OwnerState::kNotApplicable:
            return std::string(LoadStringUtf8(IDS_OWNER_NOT_APPLICABLE));
        case OwnerState::kFromFile:
            return std::string(LoadStringUtf8(IDS_OWNER_FROM_FILE));
        case OwnerState::kUnavailable:
            return FormatUtf8(IDS_OWNER_UNAVAILABLE, {std::strerror(o.error)});
    }
    return {};
}

std::string OwnerProgramText(const OwnerInfo& o) {
    // A program that has ended is named all the same: its sockets closed with it.
    const bool named = o.state == OwnerState::kFound ||
                       (o.state == OwnerState::kClosed && o.pid != 0 && !o.program.empty());
    if (named && o.exited)
        return FormatUtf8(IDS_OWNER_PROGRAM_EXITED, {o.program});
    return o.state == OwnerState::kFound ? o.program : OwnerPhrase(o);
}

std::string ProtocolName(uint8_t protocol) {
    switch (protocol) {
        case 1:
            return std::string(LoadStringUtf8(IDS_PROTOCOL_ICMP));
        case 2:
            return std::string(LoadStringUtf8(IDS_PROTOCOL_IGMP));
        case 6:
            return std::string(LoadStringUtf8(IDS_PROTOCOL_TCP));
        case 17:
            return std::string(LoadStringUtf8(IDS_PROTOCOL_UDP));
        case 58:
            return std::string(LoadStringUtf8(IDS_PROTOCOL_ICMPV6));
        default:
            return FormatUtf8(IDS_PROTOCOL_NUMBER, {std::to_string(protocol)});
    }
}

std::string FormatLocalTime(int64_t ns) {
    int64_t seconds = ns / 1000000000;
    int64_t rest = ns % 1000000000;
    if (rest < 0) {
        rest += 1000000000;
        --seconds;
    }
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr)
        return {};
    char text[48];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(rest / 1000000));
    return text;
}

std::string FormatBytes(uint64_t bytes) {
    if (bytes < 1024)
        return FormatUtf8(IDS_SIZE_BYTES, {std::to_string(bytes)});
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 5) {
        value /= 1024.0;
        ++unit;
    }
    char number[32];
    std::snprintf(number, sizeof number, "%.1f", value);
    return FormatUtf8(IDS_SIZE_UNIT_FIRST + unit, {number});
}
