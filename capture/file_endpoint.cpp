// A capture file played as a source: one handle on the file, read to its end
// or to its first fault.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture/counters.h"
#include "capture/endpoint.h"
#include "capture/pcap_handle.h"

namespace {

const char* KindOf(mode_t mode) {
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a regular file";
}

class FileEndpoint final : public CaptureEndpoint {
  public:
    explicit FileEndpoint(std::string path) : path_(std::move(path)) {}
    ~FileEndpoint() override { Close(); }

    int Open(std::string_view) override {
        fault_ = SourceFault{};
        // Opened here rather than by libpcap: the cause of a failure is then
        // errno itself, and the file's size is known for the progress.
        // O_NONBLOCK: a named pipe would hold this thread in open() until a
        // writer came, a device in its first read; both are refused below,
        // on the very file opened, whatever the path names by then.
        const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0) {
            return Fail(SourceFault::kCannotOpen, errno, std::strerror(errno));
        }
        struct stat st {};
        const int refused = fstat(fd, &st) != 0    ? errno
                            : S_ISDIR(st.st_mode)  ? EISDIR
                            : !S_ISREG(st.st_mode) ? kNotRegularFileCode
                                                   : 0;
        FILE* file = refused == 0 ? fdopen(fd, "rb") : nullptr;
        if (file == nullptr) {
            const int code = refused != 0 ? refused : errno;
            close(fd);
            return Fail(SourceFault::kCannotOpen, code,
                        code == kNotRegularFileCode ? KindOf(st.st_mode) : std::strerror(code));
        }
        fileBytes_ = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
        if (!handle_.OpenFile(file)) {
            std::fclose(file);
            return Fail(SourceFault::kNotACaptureFile, 0, handle_.Error());
        }
        file_ = file;  // the handle's from here on
        if (!LinkTypeSupported(handle_.LinkType())) {
            const char* name = pcap_datalink_val_to_name(handle_.LinkType());
            return Fail(SourceFault::kUnsupportedLinkType, handle_.LinkType(),
                        name ? name : std::to_string(handle_.LinkType()));
        }
        NotePosition();
        return 0;
    }

    int Receive(uint8_t* buffer, int capacity) override {
        while (!exhausted_ && handle_.IsOpen() && !interrupted_.load(std::memory_order_acquire)) {
            int length = 0;
            const PcapHandle::Read read = handle_.Next(buffer, capacity, &length);
            if (read == PcapHandle::Read::kDatagram || read == PcapHandle::Read::kNotIp) {
                // Asking the position costs a system call: not for every frame.
                if (++frames_ % kFramesPerPosition == 0) {
                    NotePosition();
                }
                if (read == PcapHandle::Read::kDatagram) {
                    received_.Add();
                    return length;
                }
                continue;  // a frame without an IPv4 datagram
            }
            // The end of the file is kEnd; anything else is a fault.
            exhausted_ = true;
            NotePosition();
            if (read != PcapHandle::Read::kEnd) {
                const std::string why = handle_.Error();
                fault_.kind = why.find("truncated") != std::string::npos ? SourceFault::kTruncated
                                                                         : SourceFault::kReadError;
                fault_.detail = why;
                fault_.framesBefore = frames_;
                lastError_ = why;
            }
        }
        return -1;
    }

    void Interrupt() override {
        interrupted_.store(true, std::memory_order_release);
        handle_.BreakLoop();
    }

    void Close() override {
        handle_.Close();
        file_ = nullptr;
    }

    CaptureStats Stats() const override {
        CaptureStats s;
        s.received = received_.Get();
        s.bytesRead = bytesRead_.Get();
        s.fileBytes = fileBytes_;
        return s;
    }

    int64_t LastCaptureTimeNs() const override { return handle_.LastTimeNs(); }
    bool Exhausted() const override { return exhausted_; }
    SourceFault Fault() const override { return fault_; }
    std::string ErrorText() const override { return lastError_; }

  private:
    static constexpr uint64_t kFramesPerPosition = 1024;

    void NotePosition() {
        bytesRead_.Set(static_cast<uint64_t>(std::max<long>(std::ftell(file_), 0)));
    }

    int Fail(SourceFault::Kind kind, int code, std::string detail) {
        fault_.kind = kind;
        fault_.code = code;
        fault_.detail = detail;
        lastError_ = path_ + ": " + detail;
        return code != 0 && kind == SourceFault::kCannotOpen ? code : PCAP_ERROR;
    }

    std::string path_;
    PcapHandle handle_;
    FILE* file_ = nullptr;    // libpcap's, for the position reached
    uint64_t fileBytes_ = 0;  // set by Open, before the capture thread starts
    std::atomic<bool> interrupted_{false};
    bool exhausted_ = false;
    uint64_t frames_ = 0;
    // Written by the capture thread only.
    SingleWriterCount received_;
    SingleWriterCount bytesRead_;
    SourceFault fault_;
    std::string lastError_;
};

}  // namespace

std::unique_ptr<CaptureEndpoint> MakeFileEndpoint(std::string path) {
    return std::make_unique<FileEndpoint>(std::move(path));
}
