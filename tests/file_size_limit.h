#pragma once
// A file-size limit (ulimit -f) while in scope: writes past `bytes` fail with
// EFBIG, as a filling disk fails them, instead of the signal ending the test.
#include <signal.h>
#include <sys/resource.h>

#include <cstddef>

class FileSizeLimit {
  public:
    explicit FileSizeLimit(size_t bytes) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &oldAction_);
        getrlimit(RLIMIT_FSIZE, &oldLimit_);
        rlimit small = oldLimit_;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &oldLimit_);
        sigaction(SIGXFSZ, &oldAction_, nullptr);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    struct sigaction oldAction_ {};
    rlimit oldLimit_{};
};
