#include "talk/csv.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "talk/names.h"
#include "talk/texts.h"

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kHeader =
    "协议,本地地址,本地端口,远端地址,远端端口,远端主机,程序,PID,用户,"
    "入数据报,入字节,出数据报,出字节,首次,最近\r\n";

bool PortsApply(uint8_t protocol) {
    return protocol == kProtocolTcp || protocol == kProtocolUdp;
}

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
}

}  // namespace

std::string CsvField(std::string_view text, bool foreign) {
    std::string value;
    if (foreign && !text.empty() &&
        (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' || text[0] == '\t' ||
         text[0] == '\r'))
        value = "'";
    value.append(text);
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string quoted = "\"";
    for (const char c : value) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::vector<CsvLine> CollectCsvLines(const ConversationTable& table, const OwnerService* owners,
                                     const NameService* names, bool fromFile) {
    std::vector<CsvLine> lines;
    lines.reserve(table.Size());
    for (const Conversation& c : table.Rows()) {
        CsvLine line{c, {}, {}};
        if (names != nullptr) {
            const NameService::Result r = names->Lookup(c.key.remoteAddr);
            if (r.state == NameService::State::kFound)
                line.remoteHost = r.name;
        }
        if (fromFile)
            line.owner.state = OwnerState::kFromFile;
        else if (owners != nullptr)
            line.owner = owners->Result(c.key);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string ConversationsCsv(std::span<const CsvLine> lines) {
    std::string out(kBom);
    out += kHeader;
    for (const CsvLine& line : lines) {
        const Conversation& c = line.conversation;
        const OwnerInfo& o = line.owner;
        const bool ports = PortsApply(c.key.protocol);
        const bool pid =
            o.state == OwnerState::kFound || (o.state == OwnerState::kClosed && o.pid != 0);
        const bool user = o.state == OwnerState::kFound || o.state == OwnerState::kOtherUser ||
                          o.state == OwnerState::kHolderUnknown ||
                          (o.state == OwnerState::kClosed && !o.user.empty());
        const std::string fields[] = {
            ProtocolName(c.key.protocol),
            FormatIpv4(c.key.localAddr),
            ports ? std::to_string(c.key.localPort) : std::string(),
            FormatIpv4(c.key.remoteAddr),
            ports ? std::to_string(c.key.remotePort) : std::string(),
            CsvField(line.remoteHost, true),
            CsvField(OwnerProgramText(o), true),
            pid ? std::to_string(o.pid) : std::string(),
            user ? CsvField(o.user, true) : std::string(),
            std::to_string(c.counts.inDatagrams),
            std::to_string(c.counts.inBytes),
            std::to_string(c.counts.outDatagrams),
            std::to_string(c.counts.outBytes),
            FormatLocalTime(c.counts.firstNs),
            FormatLocalTime(c.counts.lastNs),
        };
        for (size_t i = 0; i < std::size(fields); ++i) {
            if (i)
                out += ',';
            out += fields[i];
        }
        out += "\r\n";
    }
    return out;
}

int WriteConversationsCsv(const std::string& path, std::span<const CsvLine> lines) {
    const std::string text = ConversationsCsv(lines);
    std::string target = path;
    struct stat old {};
    const bool exists = stat(path.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        // A device or a pipe is written as it is: a rename would put a plain
        // file in its place.
        // Opened without waiting for a reader; written with waiting, once one reads.
        const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            return errno;
        const int flags = fcntl(fd, F_GETFL);
        if (flags != -1)
            (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        int error = WriteAll(fd, text);
        if (close(fd) != 0 && error == 0 && errno != EINTR)
            error = errno;
        return error;
    }
    if (exists) {
        // Through a symbolic link, the file it names is replaced, not the link.
        if (char* real = realpath(path.c_str(), nullptr)) {
            target = real;
            free(real);
        }
    }
    const std::string temporary = target + ".tmp" + std::to_string(getpid());
    // The conversations name this user's programs and peers: theirs alone.
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    if (exists)
        fchmod(fd, old.st_mode & 07777);
    int error = WriteAll(fd, text);
    if (error == 0 && fsync(fd) != 0)
        error = errno;
    // A delayed write error (a full disk on a network file system) shows at close.
    if (close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    if (error == 0 && rename(temporary.c_str(), target.c_str()) != 0)
        error = errno;
    if (error != 0)
        unlink(temporary.c_str());
    return error;
}
