#include "res/strings.h"

#include "res/resource.h"

std::string_view LoadStringGbk(int id) {
    switch (id) {
        case IDS_ABOUTBOX:  // 关于 quorvelan(&A)...
            return "\xB9\xD8\xD3\xDA quorvelan(&A)...";
        case IDP_SOCKETS_INIT_FAILED:  // Windows 通信端口初始化失败。
            return "Windows "
                   "\xCD\xA8\xD0\xC5\xB6\xCB\xBF\xDA\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC\xA1"
                   "\xA3";
        case IDS_CAPTURE_STATS:  // 捕获统计...
            return "\xB2\xB6\xBB\xF1\xCD\xB3\xBC\xC6...";
        case IDS_OPEN_CAPTURE_FILE:  // 打开捕获文件...
            return "\xB4\xF2\xBF\xAA\xB2\xB6\xBB\xF1\xCE\xC4\xBC\xFE...";
        case IDS_OPEN_CAPTURE_TITLE:  // 打开捕获文件
            return "\xB4\xF2\xBF\xAA\xB2\xB6\xBB\xF1\xCE\xC4\xBC\xFE";
        case IDS_CAPTURE_FILE_TYPES:  // 捕获文件 (*.pcap *.pcapng *.cap)
            return "\xB2\xB6\xBB\xF1\xCE\xC4\xBC\xFE (*.pcap *.pcapng *.cap)";
        case IDS_ALL_FILE_TYPES:  // 所有文件 (*)
            return "\xCB\xF9\xD3\xD0\xCE\xC4\xBC\xFE (*)";
        case IDP_FILE_CANNOT_OPEN:  // 无法打开捕获文件“%1”：%2。
            return "\xCE\xDE\xB7\xA8\xB4\xF2\xBF\xAA\xB2\xB6\xBB\xF1\xCE\xC4\xBC\xFE\xA1\xB0%1\xA1"
                   "\xB1\xA3\xBA%2\xA1\xA3";
        case IDP_FILE_NOT_CAPTURE:
            // “%1”不是可以读取的捕获文件：只能读取 pcap 和 pcapng 格式的文件。
            return "\xA1\xB0%"
                   "1\xA1\xB1\xB2\xBB\xCA\xC7\xBF\xC9\xD2\xD4\xB6\xC1\xC8\xA1\xB5\xC4\xB2\xB6"
                   "\xBB\xF1\xCE\xC4\xBC\xFE\xA3\xBA\xD6\xBB\xC4\xDC\xB6\xC1\xC8\xA1 pcap \xBA\xCD "
                   "pcapng "
                   "\xB8\xF1\xCA\xBD\xB5\xC4\xCE\xC4\xBC\xFE\xA1\xA3";
        case IDP_FILE_LINK_TYPE:
            // 捕获文件“%1”的链路类型 %2（编号 %3）不受支持。可以读取的链路类型：
            // 以太网（含 802.1Q 标记）、Linux cooked（SLL 和 SLL2）、原始 IPv4、BSD 环回。
            return "\xB2\xB6\xBB\xF1\xCE\xC4\xBC\xFE\xA1\xB0%1\xA1\xB1\xB5\xC4\xC1\xB4\xC2\xB7\xC0"
                   "\xE0\xD0\xCD %2\xA3\xA8\xB1\xE0\xBA\xC5 "
                   "%3\xA3\xA9\xB2\xBB\xCA\xDC\xD6\xA7\xB3\xD6"
                   "\xA1\xA3\xBF\xC9\xD2\xD4\xB6\xC1\xC8\xA1\xB5\xC4\xC1\xB4\xC2\xB7\xC0\xE0\xD0"
                   "\xCD"
                   "\xA3\xBA\xD2\xD4\xCC\xAB\xCD\xF8\xA3\xA8\xBA\xAC 802.1Q "
                   "\xB1\xEA\xBC\xC7\xA3\xA9"
                   "\xA1\xA2Linux cooked\xA3\xA8SLL \xBA\xCD SLL2\xA3\xA9\xA1\xA2\xD4\xAD\xCA\xBC "
                   "IPv4"
                   "\xA1\xA2"
                   "BSD \xBB\xB7\xBB\xD8\xA1\xA3";
        case IDP_FILE_TRUNCATED:
            // 捕获文件“%1”不完整，在中途被截断：只能读出前 %2 个数据包，其后的内容无法读取。
            return "\xB2\xB6\xBB\xF1\xCE\xC4\xBC\xFE\xA1\xB0%1\xA1\xB1\xB2\xBB\xCD\xEA\xD5\xFB\xA3"
                   "\xAC\xD4\xDA\xD6\xD0\xCD\xBE\xB1\xBB\xBD\xD8\xB6\xCF\xA3\xBA\xD6\xBB\xC4\xDC"
                   "\xB6"
                   "\xC1\xB3\xF6\xC7\xB0 %2 "
                   "\xB8\xF6\xCA\xFD\xBE\xDD\xB0\xFC\xA3\xAC\xC6\xE4\xBA\xF3\xB5"
                   "\xC4\xC4\xDA\xC8\xDD\xCE\xDE\xB7\xA8\xB6\xC1\xC8\xA1\xA1\xA3";
        case IDP_FILE_READ_ERROR:  // 读取捕获文件“%1”时出错：%2
            return "\xB6\xC1\xC8\xA1\xB2\xB6\xBB\xF1\xCE\xC4\xBC\xFE\xA1\xB0%1\xA1\xB1\xCA\xB1\xB3"
                   "\xF6\xB4\xED\xA3\xBA%2";
        case IDS_FILE_MISSING:  // 文件不存在
            return "\xCE\xC4\xBC\xFE\xB2\xBB\xB4\xE6\xD4\xDA";
        case IDS_FILE_NO_RIGHT:  // 没有读取这个文件的权限
            return "\xC3\xBB\xD3\xD0\xB6\xC1\xC8\xA1\xD5\xE2\xB8\xF6\xCE\xC4\xBC\xFE\xB5\xC4\xC8"
                   "\xA8\xCF\xDE";
        case IDS_FILE_IS_FOLDER:  // 这是一个文件夹
            return "\xD5\xE2\xCA\xC7\xD2\xBB\xB8\xF6\xCE\xC4\xBC\xFE\xBC\xD0";
        case IDS_STATS_CAPTURING:  // 正在捕获
            return "\xD5\xFD\xD4\xDA\xB2\xB6\xBB\xF1";
        case IDS_STATS_PLAYING:  // 正在读取捕获文件
            return "\xD5\xFD\xD4\xDA\xB6\xC1\xC8\xA1\xB2\xB6\xBB\xF1\xCE\xC4\xBC\xFE";
        case IDS_STATS_STOPPED:  // 已停止
            return "\xD2\xD1\xCD\xA3\xD6\xB9";
        case IDS_STATS_NEVER:  // 尚未开始捕获
            return "\xC9\xD0\xCE\xB4\xBF\xAA\xCA\xBC\xB2\xB6\xBB\xF1";
        case IDS_STATS_SECONDS:  // %1 秒
            return "%1 \xC3\xEB";
        case IDS_STATS_FILE_PROGRESS:  // 已读 %1 / %2 字节（%3%）
            return "\xD2\xD1\xB6\xC1 %1 / %2 \xD7\xD6\xBD\xDA\xA3\xA8%3%\xA3\xA9";
        case IDS_FIND:  // 查找...
            return "\xB2\xE9\xD5\xD2...";
        case IDS_FIND_COUNT:  // %1 / %2
            return "%1 / %2";
        case IDS_FIND_NOT_FOUND:  // 未找到
            return "\xCE\xB4\xD5\xD2\xB5\xBD";
        case IDS_FIND_PAST_NUL:  // %1，数据偏移 %2 处（NUL 之后）
            return "%1\xA3\xAC\xCA\xFD\xBE\xDD\xC6\xAB\xD2\xC6 %2 \xB4\xA6\xA3\xA8NUL "
                   "\xD6\xAE\xBA\xF3\xA3\xA9";
        case IDS_FIND_IN_DATAGRAM:  // %1，数据报偏移 %2 处
            return "%1\xA3\xAC\xCA\xFD\xBE\xDD\xB1\xA8\xC6\xAB\xD2\xC6 %2 \xB4\xA6";
        case IDS_FIND_CONTEXT:  // 数据偏移 %1 处：
            return "\xCA\xFD\xBE\xDD\xC6\xAB\xD2\xC6 %1 \xB4\xA6\xA3\xBA";
        default:
            return {};
    }
}
