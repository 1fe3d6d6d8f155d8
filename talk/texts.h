#pragma once
// The texts of the conversations window and its tooltips, in UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

struct OwnerInfo;

// `text` with every byte sequence that is not UTF-8 replaced by U+FFFD and
// control characters by '?': program and user names are whatever their
// makers chose.
std::string DisplayableUtf8(std::string_view text);

// The owner as one phrase: "curl (PID 1234, 用户 alice)",
// "用户 bob 的进程 (另一用户)", "套接字已关闭", "无本机套接字", "查找中…", "来自文件", ...
std::string OwnerPhrase(const OwnerInfo& owner);
// The program column: the program's name, or the phrase when there is none.
std::string OwnerProgramText(const OwnerInfo& owner);

// "TCP", "UDP", "ICMP", "IGMP", else "协议 47".
std::string ProtocolName(uint8_t protocol);

// A datagram time (nanoseconds since the epoch) in local time:
// "2024-05-01 12:34:56.789".
std::string FormatLocalTime(int64_t ns);

// A byte count for people: "999 B", "1.5 KB", "12.3 MB" (1 KB = 1024 B).
std::string FormatBytes(uint64_t bytes);
