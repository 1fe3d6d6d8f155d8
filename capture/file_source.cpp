#include "capture/file_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <utility>

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

// Checks the file through a descriptor of its own, then hands that very file
// (not whatever the path names by then) to the capture file endpoint.
class RegularFileEndpoint final : public CaptureEndpoint {
  public:
    explicit RegularFileEndpoint(std::string path) : path_(std::move(path)) {}

    int Open(std::string_view address) override {
        // O_NONBLOCK: opening a named pipe returns at once instead of
        // waiting for a writer; a regular file reads as it always does.
        const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            return Refuse(errno, std::strerror(errno));
        struct stat st {};
        const int rc = fstat(fd, &st) != 0    ? Refuse(errno, std::strerror(errno))
                       : S_ISDIR(st.st_mode)  ? Refuse(EISDIR, std::strerror(EISDIR))
                       : !S_ISREG(st.st_mode) ? Refuse(kNotRegularFileCode, KindOf(st.st_mode))
                                              : OpenChecked(fd, address);
        close(fd);
        return rc;
    }
    int Receive(uint8_t* buffer, int capacity) override {
        return file_ ? file_->Receive(buffer, capacity) : -1;
    }
    void Interrupt() override {
        if (file_)
            file_->Interrupt();
    }
    void Close() override {
        if (file_)
            file_->Close();
    }
    CaptureStats Stats() const override { return file_ ? file_->Stats() : CaptureStats{}; }
    int64_t LastCaptureTimeNs() const override { return file_ ? file_->LastCaptureTimeNs() : 0; }
    bool Exhausted() const override { return !file_ || file_->Exhausted(); }
    void CaptureEnded() override {
        if (file_)
            file_->CaptureEnded();
    }
    SourceFault Fault() const override { return file_ ? file_->Fault() : fault_; }
    std::string ErrorText() const override {
        if (!file_)
            return error_;
        // Its words name the descriptor's path; the person chose this one.
        std::string text = file_->ErrorText();
        if (text.rfind(fdPath_, 0) == 0)
            text.replace(0, fdPath_.size(), path_);
        return text;
    }
    void SetWaitHook(WaitHook hook) override {
        hook_ = std::move(hook);
        if (file_)
            file_->SetWaitHook(hook_);
    }

  private:
    int OpenChecked(int fd, std::string_view address) {
        fdPath_ = "/proc/self/fd/" + std::to_string(fd);
        file_ = MakeFileEndpoint(fdPath_);
        if (hook_)
            file_->SetWaitHook(hook_);
        return file_->Open(address);
    }
    int Refuse(int code, const char* why) {
        fault_.kind = SourceFault::kCannotOpen;
        fault_.code = code;
        fault_.detail = why;
        error_ = path_ + ": " + why;
        return code;
    }

    std::string path_;
    std::string fdPath_;
    std::unique_ptr<CaptureEndpoint> file_;
    WaitHook hook_;
    SourceFault fault_;
    std::string error_;
};

}  // namespace

std::unique_ptr<CaptureEndpoint> MakeRegularFileEndpoint(std::string path) {
    return std::make_unique<RegularFileEndpoint>(std::move(path));
}
