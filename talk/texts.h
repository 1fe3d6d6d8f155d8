#pragma once
// The texts of the conversations window and its tooltips, in UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

struct OwnerInfo;

// Whether a character of a text from outside (a payload, a host, program or
// user name) is shown as an escape instead of itself: one that would hide,
// reorder or break the text around it, so that what is shown could lie about
// what was received. Controls (C0, DEL, C1), format characters (bidi
// overrides, embeddings, isolates and marks, zero-width spaces and joiners,
// the byte-order mark, tags, the soft hyphen...), the line and paragraph
// separators; and the backslash, which opens every escape.
bool ShownEscaped(char32_t c);

// `text` as it is shown: each character ShownEscaped() names as its escape,
// "\u202E" (four hex digits, upper case; "\U000E0041" past U+FFFF), the
// backslash as "\\", so an escape never reads as received text. Every byte
// sequence that is not UTF-8 becomes U+FFFD. Program, user and host names are
// whatever their makers chose.
std::string DisplayableUtf8(std::string_view text);
// The same for UTF-16 (text decoded from a payload); an unpaired surrogate
// becomes U+FFFD.
std::u16string DisplayableUtf16(std::u16string_view text);

// The owner as one phrase: "curl (PID 1234, 用户 alice)",
// "用户 bob 的进程 (另一用户)", "套接字已关闭", "无本机套接字", "查找中…", "来自文件", ...
std::string OwnerPhrase(const OwnerInfo& owner);
// The program column: the program's name (with 已退出 once it has ended), or
// the phrase when there is none.
std::string OwnerProgramText(const OwnerInfo& owner);

// "TCP", "UDP", "ICMP", "IGMP", else "协议 47".
std::string ProtocolName(uint8_t protocol);

// A datagram time (nanoseconds since the epoch) in local time:
// "2024-05-01 12:34:56.789".
std::string FormatLocalTime(int64_t ns);

// A byte count for people: "999 B", "1.5 KB", "12.3 MB" (1 KB = 1024 B).
std::string FormatBytes(uint64_t bytes);
