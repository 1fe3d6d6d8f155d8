#include "export/eventlog.h"

#include "export/save_open.h"

#include <unistd.h>

#include <cerrno>

namespace {

struct Line {
    std::string_view label;  // GBK
    int column;
    std::string_view end;
};

// Labels in GBK: 时间, 源地址, 源端口, 目的地址, 目的端口, 协议, 数据, TCP标志.
constexpr Line kLines[] = {
    {"\xCA\xB1\xBC\xE4:   ", 0, "\n"},
    {"\xD4\xB4\xB5\xD8\xD6\xB7: ", 1, "\n"},
    {"\xD4\xB4\xB6\xCB\xBF\xDA: ", 2, "\n"},
    {"\xC4\xBF\xB5\xC4\xB5\xD8\xD6\xB7: ", 3, "\n"},
    {"\xC4\xBF\xB5\xC4\xB6\xCB\xBF\xDA: ", 4, "\n"},
    {"\xD0\xAD\xD2\xE9: ", 5, "\n"},
    {"\xCA\xFD\xBE\xDD: ", 6, "\n"},
    {"TCP\xB1\xEA\xD6\xBE: ", 7, "\n\n\n"},
};

EventLogResult::Kind KindOf(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return EventLogResult::kDiskFull;
        case EIO:
            return EventLogResult::kIoError;
        default:
            return EventLogResult::kOtherWriteError;
    }
}

// One line, one write; a short write goes on with the rest of the line.
int WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

std::string Replace(std::string_view pattern, std::string_view path) {
    std::string out(pattern);
    const auto at = out.find("%1");
    if (at != std::string::npos)
        out.replace(at, 2, path);
    return out;
}

}  // namespace

EventLogResult WriteEventLogFile(const std::string& path, const EventLogSource& source,
                                 const std::optional<FileIdentity>& busy) {
    EventLogResult result;
    const SaveFile file = OpenForSave(path, busy);
    if (file.refusal != SaveRefusal::kNone) {
        result.kind = EventLogResult::kRefused;
        result.refusal = file.refusal;
        return result;
    }
    if (file.fd < 0) {
        result.kind = EventLogResult::kOpenFailed;
        result.error = file.error;
        return result;
    }
    const int fd = file.fd;

    std::string line;
    for (int row = source.RowCount() - 1; row >= 0 && result.ok(); --row) {
        for (const Line& l : kLines) {
            line.assign(l.label);
            line += source.CellText(row, l.column);
            line += l.end;
            if (const int err = WriteAll(fd, line)) {
                result.kind = KindOf(err);
                result.error = err;
                break;
            }
        }
    }
    // Saved means on the disk: the rows and the file's new size.
    if (result.ok() && ::fsync(fd) != 0) {
        result.kind = KindOf(errno);
        result.error = errno;
    }
    // A delayed write error (full disk on a network file system) shows at close.
    if (::close(fd) != 0 && result.ok() && errno != EINTR) {
        result.kind = KindOf(errno);
        result.error = errno;
    }
    return result;
}

std::string EventLogErrorMessage(const EventLogResult& result, std::string_view path) {
    switch (result.kind) {
        case EventLogResult::kOk:
            return {};
        case EventLogResult::kDiskFull:
            return Replace("在存取 %1 时磁盘已满。", path);
        case EventLogResult::kIoError:
            return Replace("在存取 %1 时一个硬件输入/输出错误被报告。", path);
        case EventLogResult::kOpenFailed:
            switch (result.error) {
                case EACCES:
                case EPERM:
                case EROFS:
                    return Replace("对 %1 的访问被拒绝。", path);
                case ENOENT:
                case ENOTDIR:
                    return Replace("%1 包含一个无效路径。", path);
                default:
                    break;
            }
            [[fallthrough]];
        case EventLogResult::kOtherWriteError:
        case EventLogResult::kRefused:
            break;
    }
    return Replace("在对 %1 进行访问时发生了一个不明错误。", path);
}
