#include "talk/texts.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "talk/owner.h"

std::string DisplayableUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
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
        if (ok) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

std::string OwnerPhrase(const OwnerInfo& o) {
    switch (o.state) {
        case OwnerState::kPending:
            return "查找中…";
        case OwnerState::kFound:
            return o.program + " (PID " + std::to_string(o.pid) + ", 用户 " + o.user + ")";
        case OwnerState::kOtherUser:
            return "用户 " + o.user + " 的进程 (另一用户)";
        case OwnerState::kHolderUnknown:
            return "持有进程未知 (用户 " + o.user + ")";
        case OwnerState::kClosed:
            if (!o.program.empty())
                return "套接字已关闭 (原属 " + o.program + ", PID " + std::to_string(o.pid) + ")";
            return "套接字已关闭";
        case OwnerState::kNoSocket:
            return "无本机套接字";
        case OwnerState::kNotLocal:
            return "非本机地址";
        case OwnerState::kNotApplicable:
            return "不适用";
        case OwnerState::kFromFile:
            return "来自文件";
        case OwnerState::kUnavailable:
            return "无法查询 (" + std::string(std::strerror(o.error)) + ")";
    }
    return {};
}

std::string OwnerProgramText(const OwnerInfo& o) {
    return o.state == OwnerState::kFound ? o.program : OwnerPhrase(o);
}

std::string ProtocolName(uint8_t protocol) {
    switch (protocol) {
        case 1:
            return "ICMP";
        case 2:
            return "IGMP";
        case 6:
            return "TCP";
        case 17:
            return "UDP";
        default:
            return "协议 " + std::to_string(protocol);
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
        return std::to_string(bytes) + " B";
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 5) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}
