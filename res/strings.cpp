#include "res/resource.h"
#include "res/string_table.h"

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
        case IDS_FILE_NOT_REGULAR:  // 这不是普通文件，而是管道、套接字或设备
            return "\xD5\xE2\xB2\xBB\xCA\xC7\xC6\xD5\xCD\xA8\xCE\xC4\xBC\xFE\xA3\xAC\xB6\xF8\xCA"
                   "\xC7\xB9\xDC\xB5\xC0\xA1\xA2\xCC\xD7\xBD\xD3\xD7\xD6\xBB\xF2\xC9\xE8\xB1\xB8";
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
        case IDS_STATS_IPV6_OFF:  // 未捕获：%1
            return "\xCE\xB4\xB2\xB6\xBB\xF1\xA3\xBA%1";
        case IDS_SAVE_CAPTURE_FILE:  // 保存捕获文件...
            return "\xB1\xA3\xB4\xE6\xB2\xB6\xBB\xF1\xCE\xC4\xBC\xFE...";
        case IDS_SAVE_CAPTURE_TITLE:  // 保存捕获文件
            return "\xB1\xA3\xB4\xE6\xB2\xB6\xBB\xF1\xCE\xC4\xBC\xFE";
        case IDS_RECORD_TO_FILE:  // 记录到文件...
            return "\xBC\xC7\xC2\xBC\xB5\xBD\xCE\xC4\xBC\xFE...";
        case IDS_STOP_RECORDING:  // 停止记录
            return "\xCD\xA3\xD6\xB9\xBC\xC7\xC2\xBC";
        case IDS_RECORD_TITLE:  // 记录到文件
            return "\xBC\xC7\xC2\xBC\xB5\xBD\xCE\xC4\xBC\xFE";
        case IDS_PCAPNG_FILE_TYPES:  // pcapng 捕获文件 (*.pcapng)
            return "pcapng \xB2\xB6\xBB\xF1\xCE\xC4\xBC\xFE (*.pcapng)";
        case IDP_RECORD_FAILED:  // 记录到文件“%1”时出错：%2。记录已停止，捕获仍在继续；文件中已写入的
                                 // %3 个数据报完整可读。
            return "\xBC\xC7\xC2\xBC\xB5\xBD\xCE\xC4\xBC\xFE\xA1\xB0%"
                   "1\xA1\xB1\xCA\xB1\xB3\xF6\xB4\xED\xA3\xBA%"
                   "2\xA1\xA3\xBC\xC7\xC2\xBC\xD2\xD1\xCD\xA3\xD6\xB9\xA3\xAC\xB2\xB6\xBB\xF1\xC8"
                   "\xD4\xD4\xDA\xBC\xCC\xD0\xF8\xA3\xBB\xCE\xC4\xBC\xFE\xD6\xD0\xD2\xD1\xD0\xB4"
                   "\xC8\xEB\xB5\xC4 %3 "
                   "\xB8\xF6\xCA\xFD\xBE\xDD\xB1\xA8\xCD\xEA\xD5\xFB\xBF\xC9\xB6\xC1\xA1\xA3";
        case IDP_RECORD_CANNOT_START:  // 无法记录到文件“%1”：%2。
            return "\xCE\xDE\xB7\xA8\xBC\xC7\xC2\xBC\xB5\xBD\xCE\xC4\xBC\xFE\xA1\xB0%"
                   "1\xA1\xB1\xA3\xBA%2\xA1\xA3";
        case IDP_RECORD_NOT_RESUMED:  // 记录文件“%1”已被替换或改动，记录没有继续。
            return "\xBC\xC7\xC2\xBC\xCE\xC4\xBC\xFE\xA1\xB0%"
                   "1\xA1\xB1\xD2\xD1\xB1\xBB\xCC\xE6\xBB\xBB\xBB\xF2\xB8\xC4\xB6\xAF\xA3\xAC\xBC"
                   "\xC7\xC2\xBC\xC3\xBB\xD3\xD0\xBC\xCC\xD0\xF8\xA1\xA3";
        case IDS_REASON_DISK_FULL:  // 磁盘已满
            return "\xB4\xC5\xC5\xCC\xD2\xD1\xC2\xFA";
        case IDS_REASON_READ_ONLY:  // 文件系统是只读的
            return "\xCE\xC4\xBC\xFE\xCF\xB5\xCD\xB3\xCA\xC7\xD6\xBB\xB6\xC1\xB5\xC4";
        case IDS_REASON_IO_ERROR:  // 发生了输入/输出错误
            return "\xB7\xA2\xC9\xFA\xC1\xCB\xCA\xE4\xC8\xEB/\xCA\xE4\xB3\xF6\xB4\xED\xCE\xF3";
        case IDS_REASON_FILE_GONE:  // 文件已被删除，或它所在的文件夹已不存在
            return "\xCE\xC4\xBC\xFE\xD2\xD1\xB1\xBB\xC9\xBE\xB3\xFD\xA3\xAC\xBB\xF2\xCB\xFC\xCB"
                   "\xF9\xD4\xDA\xB5\xC4\xCE\xC4\xBC\xFE\xBC\xD0\xD2\xD1\xB2\xBB\xB4\xE6\xD4\xDA";
        case IDS_REASON_QUOTA:  // 超出了磁盘配额
            return "\xB3\xAC\xB3\xF6\xC1\xCB\xB4\xC5\xC5\xCC\xC5\xE4\xB6\xEE";
        case IDS_REASON_TOO_LARGE:  // 文件超出了允许的大小
            return "\xCE\xC4\xBC\xFE\xB3\xAC\xB3\xF6\xC1\xCB\xD4\xCA\xD0\xED\xB5\xC4\xB4\xF3\xD0"
                   "\xA1";
        case IDS_REASON_NO_RIGHT:  // 没有写入这个文件的权限
            return "\xC3\xBB\xD3\xD0\xD0\xB4\xC8\xEB\xD5\xE2\xB8\xF6\xCE\xC4\xBC\xFE\xB5\xC4\xC8"
                   "\xA8\xCF\xDE";
        case IDS_STATS_REC_OFF:  // 未记录
            return "\xCE\xB4\xBC\xC7\xC2\xBC";
        case IDS_STATS_REC_WAITING:  // 已开启，开始捕获后记录
            return "\xD2\xD1\xBF\xAA\xC6\xF4\xA3\xAC\xBF\xAA\xCA\xBC\xB2\xB6\xBB\xF1\xBA\xF3\xBC"
                   "\xC7\xC2\xBC";
        case IDS_STATS_REC_ON:  // 正在记录
            return "\xD5\xFD\xD4\xDA\xBC\xC7\xC2\xBC";
        case IDS_STATS_REC_STOPPED:  // 已停止，文件完整
            return "\xD2\xD1\xCD\xA3\xD6\xB9\xA3\xAC\xCE\xC4\xBC\xFE\xCD\xEA\xD5\xFB";
        case IDS_STATS_REC_FAILED:  // 写入失败：%1
            return "\xD0\xB4\xC8\xEB\xCA\xA7\xB0\xDC\xA3\xBA%1";
        case IDS_STATS_REC_MISSED:  // %1（另有 %2 个因磁盘跟不上而未写入）
            return "%1\xA3\xA8\xC1\xED\xD3\xD0 %2 "
                   "\xB8\xF6\xD2\xF2\xB4\xC5\xC5\xCC\xB8\xFA\xB2\xBB\xC9\xCF\xB6\xF8\xCE\xB4\xD0"
                   "\xB4\xC8\xEB\xA3\xA9";
        case IDS_CONVERSATIONS:  // 连接...
            return "\xC1\xAC\xBD\xD3...";
        case IDS_EXPORT_CONVERSATIONS_TITLE:  // 导出连接
            return "\xB5\xBC\xB3\xF6\xC1\xAC\xBD\xD3";
        case IDS_CSV_FILE_TYPES:  // CSV 文件 (*.csv)
            return "CSV \xCE\xC4\xBC\xFE (*.csv)";
        case IDP_CSV_WRITE_FAILED:  // 无法写入文件“%1”：%2。
            return "\xCE\xDE\xB7\xA8\xD0\xB4\xC8\xEB\xCE\xC4\xBC\xFE\xA1\xB0%1\xA1\xB1\xA3\xBA%"
                   "2\xA1\xA3";
        case IDS_CONV_SUMMARY:  // 共 %1 个连接，显示 %2 个
            return "\xB9\xB2 %1 \xB8\xF6\xC1\xAC\xBD\xD3\xA3\xAC\xCF\xD4\xCA\xBE %2 \xB8\xF6";
        case IDS_CONV_DROPPED:  // ；为留在 %1 个的上限内，已移除最久未活动的连接 %2 个
            return "\xA3\xBB\xCE\xAA\xC1\xF4\xD4\xDA %1 "
                   "\xB8\xF6\xB5\xC4\xC9\xCF\xCF\xDE\xC4\xDA\xA3\xAC\xD2\xD1\xD2\xC6\xB3\xFD\xD7"
                   "\xEE\xBE\xC3\xCE\xB4\xBB\xEE\xB6\xAF\xB5\xC4\xC1\xAC\xBD\xD3 %2 \xB8\xF6";
        case IDS_CONV_LOST:  // ；%1 个数据报未能计入连接
            return "\xA3\xBB%1 "
                   "\xB8\xF6\xCA\xFD\xBE\xDD\xB1\xA8\xCE\xB4\xC4\xDC\xBC\xC6\xC8\xEB\xC1\xAC\xBD"
                   "\xD3";
        case IDS_TIP_PROGRAM:  // 程序: %1
            return "\xB3\xCC\xD0\xF2: %1";
        case IDS_TIP_NO_NAME:  // (无主机名)
            return "(\xCE\xDE\xD6\xF7\xBB\xFA\xC3\xFB)";
        case IDS_TIP_PENDING:  // (查找中…)
            return "(\xB2\xE9\xD5\xD2\xD6\xD0\xA1\xAD)";
        case IDS_TIP_TIMED_OUT:  // (查找超时)
            return "(\xB2\xE9\xD5\xD2\xB3\xAC\xCA\xB1)";
        case IDS_CHART_DATAGRAMS:  // 数据报/秒
            return "\xCA\xFD\xBE\xDD\xB1\xA8/\xC3\xEB";
        case IDS_CHART_BYTES:  // 字节/秒
            return "\xD7\xD6\xBD\xDA/\xC3\xEB";
        case IDS_CHART_IN:  // 入
            return "\xC8\xEB";
        case IDS_CHART_OUT:  // 出
            return "\xB3\xF6";
        case IDS_CHART_MINUTES_AGO:  // %1 分钟前
            return "%1 \xB7\xD6\xD6\xD3\xC7\xB0";
        case IDS_CHART_NOW:  // 现在
            return "\xCF\xD6\xD4\xDA";
        case IDS_CONV_PENDING:  // 查找中…
            return "\xB2\xE9\xD5\xD2\xD6\xD0\xA1\xAD";
        case IDS_CONV_HEADING_FIRST + 0:  // 协议
            return "\xD0\xAD\xD2\xE9";
        case IDS_CONV_HEADING_FIRST + 1:  // 本地地址
            return "\xB1\xBE\xB5\xD8\xB5\xD8\xD6\xB7";
        case IDS_CONV_HEADING_FIRST + 2:  // 本地端口
            return "\xB1\xBE\xB5\xD8\xB6\xCB\xBF\xDA";
        case IDS_CONV_HEADING_FIRST + 3:  // 远端地址
            return "\xD4\xB6\xB6\xCB\xB5\xD8\xD6\xB7";
        case IDS_CONV_HEADING_FIRST + 4:  // 远端端口
            return "\xD4\xB6\xB6\xCB\xB6\xCB\xBF\xDA";
        case IDS_CONV_HEADING_FIRST + 5:  // 远端主机
            return "\xD4\xB6\xB6\xCB\xD6\xF7\xBB\xFA";
        case IDS_CONV_HEADING_FIRST + 6:  // 程序
            return "\xB3\xCC\xD0\xF2";
        case IDS_CONV_HEADING_FIRST + 7:  // PID
            return "PID";
        case IDS_CONV_HEADING_FIRST + 8:  // 用户
            return "\xD3\xC3\xBB\xA7";
        case IDS_CONV_HEADING_FIRST + 9:  // 入数据报
            return "\xC8\xEB\xCA\xFD\xBE\xDD\xB1\xA8";
        case IDS_CONV_HEADING_FIRST + 10:  // 入字节
            return "\xC8\xEB\xD7\xD6\xBD\xDA";
        case IDS_CONV_HEADING_FIRST + 11:  // 出数据报
            return "\xB3\xF6\xCA\xFD\xBE\xDD\xB1\xA8";
        case IDS_CONV_HEADING_FIRST + 12:  // 出字节
            return "\xB3\xF6\xD7\xD6\xBD\xDA";
        case IDS_CONV_HEADING_FIRST + 13:  // 首次
            return "\xCA\xD7\xB4\xCE";
        case IDS_CONV_HEADING_FIRST + 14:  // 最近
            return "\xD7\xEE\xBD\xFC";
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
        case IDP_SAVE_SYMLINK:  // %1 是符号链接，没有写入。
            return "%1 "
                   "\xCA\xC7\xB7\xFB\xBA\xC5\xC1\xB4\xBD\xD3\xA3\xAC\xC3\xBB\xD3\xD0\xD0\xB4\xC8"
                   "\xEB\xA1\xA3";
        case IDP_SAVE_NOT_REGULAR:  // %1 不是普通文件，没有写入。
            return "%1 "
                   "\xB2\xBB\xCA\xC7\xC6\xD5\xCD\xA8\xCE\xC4\xBC\xFE\xA3\xAC\xC3\xBB\xD3\xD0\xD0"
                   "\xB4\xC8\xEB\xA1\xA3";
        case IDP_SAVE_OTHER_OWNER:  // %1 属于另一用户，没有写入。
            return "%1 "
                   "\xCA\xF4\xD3\xDA\xC1\xED\xD2\xBB\xD3\xC3\xBB\xA7\xA3\xAC\xC3\xBB\xD3\xD0\xD0"
                   "\xB4\xC8\xEB\xA1\xA3";
        case IDP_SAVE_LOCKED:  // %1 已被另一个程序锁定，没有写入。
            return "%1 "
                   "\xD2\xD1\xB1\xBB\xC1\xED\xD2\xBB\xB8\xF6\xB3\xCC\xD0\xF2\xCB\xF8\xB6\xA8\xA3"
                   "\xAC\xC3\xBB\xD3\xD0\xD0\xB4\xC8\xEB\xA1\xA3";
        case IDP_SAVE_BEING_RECORDED:  // %1 是正在记录的文件，没有写入；记录照常继续。
            return "%1 "
                   "\xCA\xC7\xD5\xFD\xD4\xDA\xBC\xC7\xC2\xBC\xB5\xC4\xCE\xC4\xBC\xFE\xA3\xAC\xC3"
                   "\xBB\xD3\xD0\xD0\xB4\xC8\xEB\xA3\xBB\xBC\xC7\xC2\xBC\xD5\xD5\xB3\xA3\xBC\xCC"
                   "\xD0\xF8\xA1\xA3";
        case IDP_SAVE_DISK_FULL:  // 在存取 %1 时磁盘已满。
            return "\xD4\xDA\xB4\xE6\xC8\xA1 %1 \xCA\xB1\xB4\xC5\xC5\xCC\xD2\xD1\xC2\xFA\xA1\xA3";
        case IDP_SAVE_IO_ERROR:  // 在存取 %1 时一个硬件输入/输出错误被报告。
            return "\xD4\xDA\xB4\xE6\xC8\xA1 %1 "
                   "\xCA\xB1\xD2\xBB\xB8\xF6\xD3\xB2\xBC\xFE\xCA\xE4\xC8\xEB/"
                   "\xCA\xE4\xB3\xF6\xB4\xED\xCE\xF3\xB1\xBB\xB1\xA8\xB8\xE6\xA1\xA3";
        case IDP_SAVE_ACCESS_DENIED:  // 对 %1 的访问被拒绝。
            return "\xB6\xD4 %1 \xB5\xC4\xB7\xC3\xCE\xCA\xB1\xBB\xBE\xDC\xBE\xF8\xA1\xA3";
        case IDP_SAVE_INVALID_PATH:  // %1 包含一个无效路径。
            return "%1 \xB0\xFC\xBA\xAC\xD2\xBB\xB8\xF6\xCE\xDE\xD0\xA7\xC2\xB7\xBE\xB6\xA1\xA3";
        case IDP_SAVE_UNKNOWN_ERROR:  // 在对 %1 进行访问时发生了一个不明错误。
            return "\xD4\xDA\xB6\xD4 %1 "
                   "\xBD\xF8\xD0\xD0\xB7\xC3\xCE\xCA\xCA\xB1\xB7\xA2\xC9\xFA\xC1\xCB\xD2\xBB\xB8"
                   "\xF6\xB2\xBB\xC3\xF7\xB4\xED\xCE\xF3\xA1\xA3";
        case IDP_SAVE_NOT_THE_RECORDING:  // %1 已被替换或改动，记录没有继续。
            return "%1 "
                   "\xD2\xD1\xB1\xBB\xCC\xE6\xBB\xBB\xBB\xF2\xB8\xC4\xB6\xAF\xA3\xAC\xBC\xC7\xC2"
                   "\xBC\xC3\xBB\xD3\xD0\xBC\xCC\xD0\xF8\xA1\xA3";
        case IDS_LOG_LABEL_FIRST + 0:  // "时间:   "
            return "\xCA\xB1\xBC\xE4:   ";
        case IDS_LOG_LABEL_FIRST + 1:  // "源地址: "
            return "\xD4\xB4\xB5\xD8\xD6\xB7: ";
        case IDS_LOG_LABEL_FIRST + 2:  // "源端口: "
            return "\xD4\xB4\xB6\xCB\xBF\xDA: ";
        case IDS_LOG_LABEL_FIRST + 3:  // "目的地址: "
            return "\xC4\xBF\xB5\xC4\xB5\xD8\xD6\xB7: ";
        case IDS_LOG_LABEL_FIRST + 4:  // "目的端口: "
            return "\xC4\xBF\xB5\xC4\xB6\xCB\xBF\xDA: ";
        case IDS_LOG_LABEL_FIRST + 5:  // "协议: "
            return "\xD0\xAD\xD2\xE9: ";
        case IDS_LOG_LABEL_FIRST + 6:  // "数据: "
            return "\xCA\xFD\xBE\xDD: ";
        case IDS_LOG_LABEL_FIRST + 7:  // "TCP标志: "
            return "TCP\xB1\xEA\xD6\xBE: ";
        case IDS_OWNER_FOUND:  // %1 (PID %2, 用户 %3)
            return "%1 (PID %2, \xD3\xC3\xBB\xA7 %3)";
        case IDS_OWNER_OTHER_USER:  // 用户 %1 的进程 (另一用户)
            return "\xD3\xC3\xBB\xA7 %1 \xB5\xC4\xBD\xF8\xB3\xCC "
                   "(\xC1\xED\xD2\xBB\xD3\xC3\xBB\xA7)";
        case IDS_OWNER_HOLDER_UNKNOWN:  // 持有进程未知 (用户 %1)
            return "\xB3\xD6\xD3\xD0\xBD\xF8\xB3\xCC\xCE\xB4\xD6\xAA (\xD3\xC3\xBB\xA7 %1)";
        case IDS_OWNER_CLOSED_WAS:  // 套接字已关闭 (原属 %1, PID %2)
            return "\xCC\xD7\xBD\xD3\xD7\xD6\xD2\xD1\xB9\xD8\xB1\xD5 (\xD4\xAD\xCA\xF4 %1, PID %2)";
        case IDS_OWNER_CLOSED:  // 套接字已关闭
            return "\xCC\xD7\xBD\xD3\xD7\xD6\xD2\xD1\xB9\xD8\xB1\xD5";
        case IDS_OWNER_NO_SOCKET:  // 无本机套接字
            return "\xCE\xDE\xB1\xBE\xBB\xFA\xCC\xD7\xBD\xD3\xD7\xD6";
        case IDS_OWNER_NOT_LOCAL:  // 非本机地址
            return "\xB7\xC7\xB1\xBE\xBB\xFA\xB5\xD8\xD6\xB7";
        case IDS_OWNER_NOT_APPLICABLE:  // 不适用
            return "\xB2\xBB\xCA\xCA\xD3\xC3";
        case IDS_OWNER_FROM_FILE:  // 来自文件
            return "\xC0\xB4\xD7\xD4\xCE\xC4\xBC\xFE";
        case IDS_OWNER_UNAVAILABLE:  // 无法查询 (%1)
            return "\xCE\xDE\xB7\xA8\xB2\xE9\xD1\xAF (%1)";
        case IDS_PROTOCOL_ICMP:  // ICMP
            return "ICMP";
        case IDS_PROTOCOL_IGMP:  // IGMP
            return "IGMP";
        case IDS_PROTOCOL_TCP:  // TCP
            return "TCP";
        case IDS_PROTOCOL_UDP:  // UDP
            return "UDP";
        case IDS_PROTOCOL_NUMBER:  // 协议 %1
            return "\xD0\xAD\xD2\xE9 %1";
        case IDS_PROTOCOL_ICMPV6:  // ICMPv6
            return "ICMPv6";
        case IDS_NAME_FROM_DNS:  // DNS 应答
            return "DNS \xD3\xA6\xB4\xF0";
        case IDS_NAME_FROM_TLS:  // TLS
            return "TLS";
        case IDS_NAME_FROM_HTTP:  // HTTP
            return "HTTP";
        case IDS_NAME_FROM_REVERSE:  // 反向解析
            return "\xB7\xB4\xCF\xF2\xBD\xE2\xCE\xF6";
        case IDS_CONV_HEADING_NAME_SOURCE:  // 名称来源
            return "\xC3\xFB\xB3\xC6\xC0\xB4\xD4\xB4";
        case IDS_CONV_HEADING_APPLICATION:  // 应用
            return "\xD3\xA6\xD3\xC3";
        case IDS_APP_DNS:  // DNS
            return "DNS";
        case IDS_APP_TLS:  // TLS
            return "TLS";
        case IDS_APP_QUIC:  // QUIC
            return "QUIC";
        case IDS_APP_HTTP:  // HTTP
            return "HTTP";
        case IDS_APP_SSH:  // SSH
            return "SSH";
        case IDS_TIP_NAME_SOURCE:  // %1（来源：%2）
            return "%1\xA3\xA8\xC0\xB4\xD4\xB4\xA3\xBA%2\xA3\xA9";
        case IDS_SIZE_BYTES:  // %1 B
            return "%1 B";
        case IDS_SIZE_UNIT_FIRST + 0:  // %1 KB
            return "%1 KB";
        case IDS_SIZE_UNIT_FIRST + 1:  // %1 MB
            return "%1 MB";
        case IDS_SIZE_UNIT_FIRST + 2:  // %1 GB
            return "%1 GB";
        case IDS_SIZE_UNIT_FIRST + 3:  // %1 TB
            return "%1 TB";
        case IDS_SIZE_UNIT_FIRST + 4:  // %1 PB
            return "%1 PB";
        case IDS_SIZE_UNIT_FIRST + 5:  // %1 EB
            return "%1 EB";
        case IDS_SELECT_ADDRESS:  // 请选择侦听的网卡(地址)
            return "\xC7\xEB\xD1\xA1\xD4\xF1\xD5\xEC\xCC\xFD\xB5\xC4\xCD\xF8\xBF\xA8("
                   "\xB5\xD8\xD6\xB7)";
        case IDS_CAPTURE_FAILED:  // WinSock启动失败
            return "WinSock\xC6\xF4\xB6\xAF\xCA\xA7\xB0\xDC";
        case IDS_LIST_HEADING_FIRST + 0:  // 时间
            return "\xCA\xB1\xBC\xE4";
        case IDS_LIST_HEADING_FIRST + 1:  // 源地址
            return "\xD4\xB4\xB5\xD8\xD6\xB7";
        case IDS_LIST_HEADING_FIRST + 2:  // 源端口
            return "\xD4\xB4\xB6\xCB\xBF\xDA";
        case IDS_LIST_HEADING_FIRST + 3:  // 目的地址
            return "\xC4\xBF\xB5\xC4\xB5\xD8\xD6\xB7";
        case IDS_LIST_HEADING_FIRST + 4:  // 目的端口
            return "\xC4\xBF\xB5\xC4\xB6\xCB\xBF\xDA";
        case IDS_LIST_HEADING_FIRST + 5:  // 协议
            return "\xD0\xAD\xD2\xE9";
        case IDS_LIST_HEADING_FIRST + 6:  // 数据
            return "\xCA\xFD\xBE\xDD";
        case IDS_LIST_HEADING_FIRST + 7:  // TCP标志
            return "TCP\xB1\xEA\xD6\xBE";
        case IDS_HISTORY_OTHER_HOSTS:  // 其他
            return "\xC6\xE4\xCB\xFB";
        case IDS_HISTORY_MOVED_ASIDE:  // 用量记录“%1”已损坏或不是本程序的文件，已改名为“%2”，并新建了一个。
            return "\xD3\xC3\xC1\xBF\xBC\xC7\xC2\xBC\xA1\xB0%"
                   "1\xA1\xB1\xD2\xD1\xCB\xF0\xBB\xB5\xBB\xF2\xB2\xBB\xCA\xC7\xB1\xBE\xB3\xCC\xD0"
                   "\xF2\xB5\xC4\xCE\xC4\xBC\xFE\xA3\xAC\xD2\xD1\xB8\xC4\xC3\xFB\xCE\xAA\xA1\xB0%"
                   "2\xA1\xB1\xA3\xAC\xB2\xA2\xD0\xC2\xBD\xA8\xC1\xCB\xD2\xBB\xB8\xF6\xA1\xA3";
        case IDS_HISTORY_READ_ONLY:  // 另一个 quorvelan 正在记录用量；这里只读取，不记录。
            return "\xC1\xED\xD2\xBB\xB8\xF6 quorvelan "
                   "\xD5\xFD\xD4\xDA\xBC\xC7\xC2\xBC\xD3\xC3\xC1\xBF\xA3\xBB\xD5\xE2\xC0\xEF\xD6"
                   "\xBB\xB6\xC1\xC8\xA1\xA3\xAC\xB2\xBB\xBC\xC7\xC2\xBC\xA1\xA3";
        case IDS_HISTORY_DISK_FULL:  // 磁盘已满，用量记录已停止；监控继续。
            return "\xB4\xC5\xC5\xCC\xD2\xD1\xC2\xFA\xA3\xAC\xD3\xC3\xC1\xBF\xBC\xC7\xC2\xBC\xD2"
                   "\xD1\xCD\xA3\xD6\xB9\xA3\xBB\xBC\xE0\xBF\xD8\xBC\xCC\xD0\xF8\xA1\xA3";
        case IDS_HISTORY_WRITE_FAILED:  // 写入用量记录“%1”失败（%2），用量记录已停止；监控继续。
            return "\xD0\xB4\xC8\xEB\xD3\xC3\xC1\xBF\xBC\xC7\xC2\xBC\xA1\xB0%"
                   "1\xA1\xB1\xCA\xA7\xB0\xDC\xA3\xA8%"
                   "2\xA3\xA9\xA3\xAC\xD3\xC3\xC1\xBF\xBC\xC7\xC2\xBC\xD2\xD1\xCD\xA3\xD6\xB9\xA3"
                   "\xBB\xBC\xE0\xBF\xD8\xBC\xCC\xD0\xF8\xA1\xA3";
        case IDS_HISTORY_CANNOT_OPEN:  // 无法打开用量记录“%1”（%2），用量不会被记录。
            return "\xCE\xDE\xB7\xA8\xB4\xF2\xBF\xAA\xD3\xC3\xC1\xBF\xBC\xC7\xC2\xBC\xA1\xB0%"
                   "1\xA1\xB1\xA3\xA8%"
                   "2\xA3\xA9\xA3\xAC\xD3\xC3\xC1\xBF\xB2\xBB\xBB\xE1\xB1\xBB\xBC\xC7\xC2\xBC\xA1"
                   "\xA3";
        case IDS_HISTORY_NEWER:  // 用量记录“%1”由较新版本的 quorvelan
                                 // 写成；本版本不修改它，用量不会被记录。
            return "\xD3\xC3\xC1\xBF\xBC\xC7\xC2\xBC\xA1\xB0%"
                   "1\xA1\xB1\xD3\xC9\xBD\xCF\xD0\xC2\xB0\xE6\xB1\xBE\xB5\xC4 quorvelan "
                   "\xD0\xB4\xB3\xC9\xA3\xBB\xB1\xBE\xB0\xE6\xB1\xBE\xB2\xBB\xD0\xDE\xB8\xC4\xCB"
                   "\xFC\xA3\xAC\xD3\xC3\xC1\xBF\xB2\xBB\xBB\xE1\xB1\xBB\xBC\xC7\xC2\xBC\xA1\xA3";
        case IDS_USAGE:  // 用量...
            return "\xD3\xC3\xC1\xBF...";
        case IDS_USAGE_TITLE:  // 用量
            return "\xD3\xC3\xC1\xBF";
        case IDS_USAGE_TODAY:  // 今天
            return "\xBD\xF1\xCC\xEC";
        case IDS_USAGE_7_DAYS:  // 最近 7 天
            return "\xD7\xEE\xBD\xFC 7 \xCC\xEC";
        case IDS_USAGE_30_DAYS:  // 最近 30 天
            return "\xD7\xEE\xBD\xFC 30 \xCC\xEC";
        case IDS_USAGE_EXPORT:  // 导出...
            return "\xB5\xBC\xB3\xF6...";
        case IDS_USAGE_EXPORT_TITLE:  // 导出用量
            return "\xB5\xBC\xB3\xF6\xD3\xC3\xC1\xBF";
        case IDS_USAGE_PROGRAMS:  // 程序
            return "\xB3\xCC\xD0\xF2";
        case IDS_USAGE_HOSTS:  // 主机
            return "\xD6\xF7\xBB\xFA";
        case IDS_USAGE_UNKNOWN:  // 未知
            return "\xCE\xB4\xD6\xAA";
        case IDS_USAGE_OTHER:  // 其他
            return "\xC6\xE4\xCB\xFB";
        case IDS_USAGE_COL_PROGRAM:  // 程序
            return "\xB3\xCC\xD0\xF2";
        case IDS_USAGE_COL_PATH:  // 可执行文件
            return "\xBF\xC9\xD6\xB4\xD0\xD0\xCE\xC4\xBC\xFE";
        case IDS_USAGE_COL_ADDRESS:  // 地址
            return "\xB5\xD8\xD6\xB7";
        case IDS_USAGE_COL_HOSTNAME:  // 主机名
            return "\xD6\xF7\xBB\xFA\xC3\xFB";
        case IDS_USAGE_COL_IN:  // 接收
            return "\xBD\xD3\xCA\xD5";
        case IDS_USAGE_COL_OUT:  // 发送
            return "\xB7\xA2\xCB\xCD";
        case IDS_USAGE_COL_TOTAL:  // 合计
            return "\xBA\xCF\xBC\xC6";
        case IDS_USAGE_HOSTS_OF:  // 程序“%1”的主机
            return "\xB3\xCC\xD0\xF2\xA1\xB0%1\xA1\xB1\xB5\xC4\xD6\xF7\xBB\xFA";
        case IDS_USAGE_PROGRAMS_OF:  // 主机 %1 的程序
            return "\xD6\xF7\xBB\xFA %1 \xB5\xC4\xB3\xCC\xD0\xF2";
        case IDS_USAGE_PICK:  // 选择一个程序，看它连接的主机；选择一个主机，看连接它的程序。
            return "\xD1\xA1\xD4\xF1\xD2\xBB\xB8\xF6\xB3\xCC\xD0\xF2\xA3\xAC\xBF\xB4\xCB\xFC\xC1"
                   "\xAC\xBD\xD3\xB5\xC4\xD6\xF7\xBB\xFA\xA3\xBB\xD1\xA1\xD4\xF1\xD2\xBB\xB8\xF6"
                   "\xD6\xF7\xBB\xFA\xA3\xAC\xBF\xB4\xC1\xAC\xBD\xD3\xCB\xFC\xB5\xC4\xB3\xCC\xD0"
                   "\xF2\xA1\xA3";
        case IDS_USAGE_LOADING:  // 正在读取用量……
            return "\xD5\xFD\xD4\xDA\xB6\xC1\xC8\xA1\xD3\xC3\xC1\xBF\xA1\xAD\xA1\xAD";
        case IDS_USAGE_SUMMARY:  // 合计：接收 %1，发送 %2
            return "\xBA\xCF\xBC\xC6\xA3\xBA\xBD\xD3\xCA\xD5 %1\xA3\xAC\xB7\xA2\xCB\xCD %2";
        case IDS_USAGE_NO_HISTORY:  // 还没有记录用量。
            return "\xBB\xB9\xC3\xBB\xD3\xD0\xBC\xC7\xC2\xBC\xD3\xC3\xC1\xBF\xA1\xA3";
        case IDS_USAGE_CSV_HEADER:  // 类别,名称,详情,开始,接收字节,发送字节,接收数据报,发送数据报
            return "\xC0\xE0\xB1\xF0,\xC3\xFB\xB3\xC6,\xCF\xEA\xC7\xE9,\xBF\xAA\xCA\xBC,"
                   "\xBD\xD3\xCA\xD5\xD7\xD6\xBD\xDA,\xB7\xA2\xCB\xCD\xD7\xD6\xBD\xDA,"
                   "\xBD\xD3\xCA\xD5\xCA\xFD\xBE\xDD\xB1\xA8,"
                   "\xB7\xA2\xCB\xCD\xCA\xFD\xBE\xDD\xB1\xA8";
        case IDS_USAGE_KIND_PERIOD:  // 时段
            return "\xCA\xB1\xB6\xCE";
        case IDS_TRAY_SHOW:  // 显示窗口
            return "\xCF\xD4\xCA\xBE\xB4\xB0\xBF\xDA";
        case IDS_TRAY_USAGE:  // 用量
            return "\xD3\xC3\xC1\xBF";
        case IDS_TRAY_CONVERSATIONS:  // 连接
            return "\xC1\xAC\xBD\xD3";
        case IDS_TRAY_START:  // 开始监控
            return "\xBF\xAA\xCA\xBC\xBC\xE0\xBF\xD8";
        case IDS_TRAY_STOP:  // 停止监控
            return "\xCD\xA3\xD6\xB9\xBC\xE0\xBF\xD8";
        case IDS_TRAY_EXIT:  // 退出
            return "\xCD\xCB\xB3\xF6";
        case IDS_TRAY_TIP_STOPPED:  // quorvelan：未在监控
            return "quorvelan\xA3\xBA\xCE\xB4\xD4\xDA\xBC\xE0\xBF\xD8";
        case IDS_TRAY_TIP_RATE:  // quorvelan：监控 %1\n接收 %2/秒，发送 %3/秒
            return "quorvelan\xA3\xBA\xBC\xE0\xBF\xD8 %1\n\xBD\xD3\xCA\xD5 "
                   "%2/\xC3\xEB\xA3\xAC\xB7\xA2\xCB\xCD %3/\xC3\xEB";
        case IDS_SETTINGS:  // 设置...
            return "\xC9\xE8\xD6\xC3...";
        case IDS_SETTINGS_TITLE:  // 设置
            return "\xC9\xE8\xD6\xC3";
        case IDS_SETTINGS_TRAY:  // 最小化到托盘
            return "\xD7\xEE\xD0\xA1\xBB\xAF\xB5\xBD\xCD\xD0\xC5\xCC";
        case IDS_SETTINGS_AUTOSTART:  // 登录时开始监控
            return "\xB5\xC7\xC2\xBC\xCA\xB1\xBF\xAA\xCA\xBC\xBC\xE0\xBF\xD8";
        case IDS_SETTINGS_KEEP_DAYS:  // 每天的用量保留（天）：
            return "\xC3\xBF\xCC\xEC\xB5\xC4\xD3\xC3\xC1\xBF\xB1\xA3\xC1\xF4\xA3\xA8\xCC\xEC\xA3"
                   "\xA9\xA3\xBA";
        case IDS_SETTINGS_KEEP_HOURS:  // 每小时的用量保留（天）：
            return "\xC3\xBF\xD0\xA1\xCA\xB1\xB5\xC4\xD3\xC3\xC1\xBF\xB1\xA3\xC1\xF4\xA3\xA8\xCC"
                   "\xEC\xA3\xA9\xA3\xBA";
        case IDS_SETTINGS_AUTOSTART_ADDRESS:  // 登录时在 %1 上开始监控。
            return "\xB5\xC7\xC2\xBC\xCA\xB1\xD4\xDA %1 "
                   "\xC9\xCF\xBF\xAA\xCA\xBC\xBC\xE0\xBF\xD8\xA1\xA3";
        case IDS_SETTINGS_NO_ADDRESS:  // 请先在主窗口选择侦听的网卡(地址)，登录时在它上面开始监控。
            return "\xC7\xEB\xCF\xC8\xD4\xDA\xD6\xF7\xB4\xB0\xBF\xDA\xD1\xA1\xD4\xF1\xD5\xEC\xCC"
                   "\xFD\xB5\xC4\xCD\xF8\xBF\xA8(\xB5\xD8\xD6\xB7)"
                   "\xA3\xAC\xB5\xC7\xC2\xBC\xCA\xB1\xD4\xDA\xCB\xFC\xC9\xCF\xC3\xE6\xBF\xAA\xCA"
                   "\xBC\xBC\xE0\xBF\xD8\xA1\xA3";
        case IDP_AUTOSTART_FAILED:  // 无法写入自动启动文件“%1”：%2
            return "\xCE\xDE\xB7\xA8\xD0\xB4\xC8\xEB\xD7\xD4\xB6\xAF\xC6\xF4\xB6\xAF\xCE\xC4\xBC"
                   "\xFE\xA1\xB0%1\xA1\xB1\xA3\xBA%2";
        case IDP_START_ADDRESS_MISSING:  // 地址 %1 不是本机的 IPv4
                                         // 地址（或已不存在），没有开始监控。
            return "\xB5\xD8\xD6\xB7 %1 \xB2\xBB\xCA\xC7\xB1\xBE\xBB\xFA\xB5\xC4 IPv4 "
                   "\xB5\xD8\xD6\xB7\xA3\xA8\xBB\xF2\xD2\xD1\xB2\xBB\xB4\xE6\xD4\xDA\xA3\xA9\xA3"
                   "\xAC\xC3\xBB\xD3\xD0\xBF\xAA\xCA\xBC\xBC\xE0\xBF\xD8\xA1\xA3";
        case IDS_SETTINGS_OK:  // 确定
            return "\xC8\xB7\xB6\xA8";
        case IDS_SETTINGS_CANCEL:  // 取消
            return "\xC8\xA1\xCF\xFB";
        case IDS_USAGE_CLOSE:  // 关闭
            return "\xB9\xD8\xB1\xD5";
        case IDS_CMD_START:  // 启动后在本机地址 ADDRESS 上开始监控。
            return "\xC6\xF4\xB6\xAF\xBA\xF3\xD4\xDA\xB1\xBE\xBB\xFA\xB5\xD8\xD6\xB7 ADDRESS "
                   "\xC9\xCF\xBF\xAA\xCA\xBC\xBC\xE0\xBF\xD8\xA1\xA3";
        case IDS_CMD_MINIMIZED:  // 启动时最小化（设置了最小化到托盘时进入托盘）。
            return "\xC6\xF4\xB6\xAF\xCA\xB1\xD7\xEE\xD0\xA1\xBB\xAF\xA3\xA8\xC9\xE8\xD6\xC3\xC1"
                   "\xCB\xD7\xEE\xD0\xA1\xBB\xAF\xB5\xBD\xCD\xD0\xC5\xCC\xCA\xB1\xBD\xF8\xC8\xEB"
                   "\xCD\xD0\xC5\xCC\xA3\xA9\xA1\xA3";
        case IDS_CMD_ADDRESS:  // ADDRESS
            return "ADDRESS";
        case IDS_ALERTS:  // 提醒...
            return "\xCC\xE1\xD0\xD1...";
        case IDS_ALERT_KIND_FIRST + 0:  // 新程序
            return "\xD0\xC2\xB3\xCC\xD0\xF2";
        case IDS_ALERT_KIND_FIRST + 1:  // 新主机
            return "\xD0\xC2\xD6\xF7\xBB\xFA";
        case IDS_ALERT_KIND_FIRST + 2:  // 新网络
            return "\xD0\xC2\xCD\xF8\xC2\xE7";
        case IDS_ALERT_KIND_FIRST + 3:  // 每日流量
            return "\xC3\xBF\xC8\xD5\xC1\xF7\xC1\xBF";
        case IDS_ALERT_KIND_FIRST + 4:  // 阻止列表
            return "\xD7\xE8\xD6\xB9\xC1\xD0\xB1\xED";
        case IDS_ALERT_KIND_FIRST + 5:  // 说明
            return "\xCB\xB5\xC3\xF7";
        case IDS_ALERT_NEW_PROGRAM:  // 程序 %1 首次通信，对方 %2
            return "\xB3\xCC\xD0\xF2 %1 \xCA\xD7\xB4\xCE\xCD\xA8\xD0\xC5\xA3\xAC\xB6\xD4\xB7\xBD "
                   "%2";
        case IDS_ALERT_NEW_HOST:  // 首次与主机 %1 通信
            return "\xCA\xD7\xB4\xCE\xD3\xEB\xD6\xF7\xBB\xFA %1 \xCD\xA8\xD0\xC5";
        case IDS_ALERT_NEW_NETWORK:  // 首次与网络 %1 通信 (主机 %2)
            return "\xCA\xD7\xB4\xCE\xD3\xEB\xCD\xF8\xC2\xE7 %1 \xCD\xA8\xD0\xC5 (\xD6\xF7\xBB\xFA "
                   "%2)";
        case IDS_ALERT_DAILY:
            // 程序 %1 今日流量 %2，已超过 %3
            return "\xB3\xCC\xD0\xF2 %1 \xBD\xF1\xC8\xD5\xC1\xF7\xC1\xBF "
                   "%2\xA3\xAC\xD2\xD1\xB3\xAC\xB9\xFD %3";
        case IDS_ALERT_BLOCKED:
            // 与阻止列表中的主机 %1 通信 (列表项 %2)
            return "\xD3\xEB\xD7\xE8\xD6\xB9\xC1\xD0\xB1\xED\xD6\xD0\xB5\xC4\xD6\xF7\xBB\xFA %1 "
                   "\xCD\xA8\xD0\xC5 (\xC1\xD0\xB1\xED\xCF\xEE %2)";
        case IDS_ALERT_MORE:  // %1 (另有 %2 条同类提醒)
            return "%1 (\xC1\xED\xD3\xD0 %2 \xCC\xF5\xCD\xAC\xC0\xE0\xCC\xE1\xD0\xD1)";
        case IDS_ALERT_FORGOTTEN:
            // 记住的主机、网络或程序超过 %1 个：最久未见的 %2 个已忘记，再次见到时会再提醒
            return "\xBC\xC7\xD7\xA1\xB5\xC4\xD6\xF7\xBB\xFA\xA1\xA2\xCD\xF8\xC2\xE7\xBB\xF2\xB3"
                   "\xCC\xD0\xF2\xB3\xAC\xB9\xFD %1 "
                   "\xB8\xF6\xA3\xBA\xD7\xEE\xBE\xC3\xCE\xB4\xBC\xFB\xB5\xC4 %2 "
                   "\xB8\xF6\xD2\xD1\xCD\xFC\xBC\xC7\xA3\xAC\xD4\xD9\xB4\xCE\xBC\xFB\xB5\xBD\xCA"
                   "\xB1\xBB\xE1\xD4\xD9\xCC\xE1\xD0\xD1";
        case IDS_BLOCKLIST_BAD_LINES:
            // 阻止列表“%1”有 %2 行无法识别，已跳过 (第一处在第 %3 行)
            return "\xD7\xE8\xD6\xB9\xC1\xD0\xB1\xED\xA1\xB0%1\xA1\xB1\xD3\xD0 %2 "
                   "\xD0\xD0\xCE\xDE\xB7\xA8\xCA\xB6\xB1\xF0\xA3\xAC\xD2\xD1\xCC\xF8\xB9\xFD "
                   "(\xB5\xDA\xD2\xBB\xB4\xA6\xD4\xDA\xB5\xDA %3 \xD0\xD0)";
        case IDS_BLOCKLIST_UNREADABLE:
            // 无法读取阻止列表“%1”：%2；仍使用上次读取的列表
            return "\xCE\xDE\xB7\xA8\xB6\xC1\xC8\xA1\xD7\xE8\xD6\xB9\xC1\xD0\xB1\xED\xA1\xB0%"
                   "1\xA1\xB1\xA3\xBA%"
                   "2\xA3\xBB\xC8\xD4\xCA\xB9\xD3\xC3\xC9\xCF\xB4\xCE\xB6\xC1\xC8\xA1\xB5\xC4\xC1"
                   "\xD0\xB1\xED";
        case IDS_BLOCKLIST_NOT_A_FILE:
            // 阻止列表“%1”不是普通文件；仍使用上次读取的列表
            return "\xD7\xE8\xD6\xB9\xC1\xD0\xB1\xED\xA1\xB0%"
                   "1\xA1\xB1\xB2\xBB\xCA\xC7\xC6\xD5\xCD\xA8\xCE\xC4\xBC\xFE\xA3\xBB\xC8\xD4\xCA"
                   "\xB9\xD3\xC3\xC9\xCF\xB4\xCE\xB6\xC1\xC8\xA1\xB5\xC4\xC1\xD0\xB1\xED";
        case IDS_BLOCKLIST_TOO_LARGE:
            // 阻止列表“%1”大于 %2，未读取；仍使用上次读取的列表
            return "\xD7\xE8\xD6\xB9\xC1\xD0\xB1\xED\xA1\xB0%1\xA1\xB1\xB4\xF3\xD3\xDA "
                   "%2\xA3\xAC\xCE\xB4\xB6\xC1\xC8\xA1\xA3\xBB\xC8\xD4\xCA\xB9\xD3\xC3\xC9\xCF\xB4"
                   "\xCE\xB6\xC1\xC8\xA1\xB5\xC4\xC1\xD0\xB1\xED";
        case IDS_BLOCKLIST_MISSING:
            // 阻止列表“%1”不存在；仍使用上次读取的列表
            return "\xD7\xE8\xD6\xB9\xC1\xD0\xB1\xED\xA1\xB0%"
                   "1\xA1\xB1\xB2\xBB\xB4\xE6\xD4\xDA\xA3\xBB\xC8\xD4\xCA\xB9\xD3\xC3\xC9\xCF\xB4"
                   "\xCE\xB6\xC1\xC8\xA1\xB5\xC4\xC1\xD0\xB1\xED";
        case IDS_ALERTS_SUMMARY:  // 共 %1 条提醒
            return "\xB9\xB2 %1 \xCC\xF5\xCC\xE1\xD0\xD1";
        case IDS_ALERTS_DROPPED:  // ；较早的 %1 条已移除
            return "\xA3\xBB\xBD\xCF\xD4\xE7\xB5\xC4 %1 \xCC\xF5\xD2\xD1\xD2\xC6\xB3\xFD";
        case IDS_ALERTS_BLOCKLIST:  // ；阻止列表 %1 个地址范围
            return "\xA3\xBB\xD7\xE8\xD6\xB9\xC1\xD0\xB1\xED %1 "
                   "\xB8\xF6\xB5\xD8\xD6\xB7\xB7\xB6\xCE\xA7";
        case IDS_ALERTS_HEADING_FIRST + 0:  // 时间
            return "\xCA\xB1\xBC\xE4";
        case IDS_ALERTS_HEADING_FIRST + 1:  // 类型
            return "\xC0\xE0\xD0\xCD";
        case IDS_ALERTS_HEADING_FIRST + 2:  // 内容
            return "\xC4\xDA\xC8\xDD";
        case IDS_OWNER_PROGRAM_EXITED:  // %1 (已退出)
            return "%1 (\xD2\xD1\xCD\xCB\xB3\xF6)";
        case IDS_OWNER_FOUND_EXITED:  // %1 (PID %2, 用户 %3, 已退出)
            return "%1 (PID %2, \xD3\xC3\xBB\xA7 %3, \xD2\xD1\xCD\xCB\xB3\xF6)";
        case IDS_OWNER_CLOSED_WAS_EXITED:  // 套接字已关闭 (原属 %1, PID %2, 已退出)
            return "\xCC\xD7\xBD\xD3\xD7\xD6\xD2\xD1\xB9\xD8\xB1\xD5 (\xD4\xAD\xCA\xF4 %1, PID %2, "
                   "\xD2\xD1\xCD\xCB\xB3\xF6)";
        case IDS_PLACE_PRIVATE:  // 私有网络
            return "\xCB\xBD\xD3\xD0\xCD\xF8\xC2\xE7";
        case IDS_PLACE_LOOPBACK:  // 本机回环
            return "\xB1\xBE\xBB\xFA\xBB\xD8\xBB\xB7";
        case IDS_PLACE_LINK_LOCAL:  // 链路本地
            return "\xC1\xB4\xC2\xB7\xB1\xBE\xB5\xD8";
        case IDS_PLACE_MULTICAST:  // 组播
            return "\xD7\xE9\xB2\xA5";
        case IDS_PLACE_TEST:  // 测试地址
            return "\xB2\xE2\xCA\xD4\xB5\xD8\xD6\xB7";
        case IDS_PLACE_BROADCAST:  // 广播
            return "\xB9\xE3\xB2\xA5";
        case IDS_PLACE_RESERVED:  // 保留地址
            return "\xB1\xA3\xC1\xF4\xB5\xD8\xD6\xB7";
        case IDS_PLACE_COL_COUNTRY:  // 国家/地区
            return "\xB9\xFA\xBC\xD2/\xB5\xD8\xC7\xF8";
        case IDS_PLACE_COL_NETWORK:  // 网络
            return "\xCD\xF8\xC2\xE7";
        case IDS_PLACE_TIP_COUNTRY:  // 国家/地区: %1
            return "\xB9\xFA\xBC\xD2/\xB5\xD8\xC7\xF8: %1";
        case IDS_PLACE_TIP_NETWORK:  // 网络: %1
            return "\xCD\xF8\xC2\xE7: %1";
        case IDS_PLACE_NO_DATABASE:
            // quorvelan: 无法读取地址位置数据库“%1”（%2），不显示国家/地区和网络
            return "quorvelan: "
                   "\xCE\xDE\xB7\xA8\xB6\xC1\xC8\xA1\xB5\xD8\xD6\xB7\xCE\xBB\xD6\xC3\xCA\xFD\xBE"
                   "\xDD\xBF\xE2\xA1\xB0%1\xA1\xB1\xA3\xA8%"
                   "2\xA3\xA9\xA3\xAC\xB2\xBB\xCF\xD4\xCA\xBE\xB9\xFA\xBC\xD2/"
                   "\xB5\xD8\xC7\xF8\xBA\xCD\xCD\xF8\xC2\xE7";
        case IDS_PLACE_BAD_FILE:  // 不是完整的位置数据库
            return "\xB2\xBB\xCA\xC7\xCD\xEA\xD5\xFB\xB5\xC4\xCE\xBB\xD6\xC3\xCA\xFD\xBE\xDD\xBF"
                   "\xE2";
        default:
            return {};
    }
}
