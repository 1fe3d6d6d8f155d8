#include "export/save_open.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "export/save_fault.h"

namespace {

// O_NONBLOCK: a pipe without a reader fails at once (ENXIO) instead of
// holding the interface thread until someone reads.
constexpr int kOpenFlags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

SaveFile Failed(int error) {
    SaveFile f;
    f.error = error;
    return f;
}

SaveFile Refused(SaveRefusal why) {
    SaveFile f;
    f.refusal = why;
    return f;
}

SaveRefusal RefusalFor(const struct stat& st) {
    if (S_ISLNK(st.st_mode))
        return SaveRefusal::kSymbolicLink;
    if (!S_ISREG(st.st_mode))
        return SaveRefusal::kNotRegularFile;
    if (st.st_uid != geteuid())
        return SaveRefusal::kOtherUsersFile;
    return SaveRefusal::kNone;
}

// Why opening an existing name failed, when the name itself is the reason.
SaveFile WhyNotOpened(const std::string& path, int error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        const SaveRefusal why = RefusalFor(st);
        if (why != SaveRefusal::kNone)
            return Refused(why);
    }
    // A pipe or socket gone from the name between the two calls still is one.
    if (error == ENXIO)
        return Refused(SaveRefusal::kNotRegularFile);
    return Failed(error);
}

void NothingToDo(int) {}

}  // namespace

SaveFile OpenForSave(const std::string& path, const std::optional<FileIdentity>& busy) {
    int fd = -1;
    bool created = false;
    for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
        fd = ::open(path.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            created = true;
            break;
        }
        if (errno != EEXIST)
            return Failed(errno);
        // Looked at before it is opened: opening a device may act on it.
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            if (const SaveRefusal why = RefusalFor(st); why != SaveRefusal::kNone)
                return Refused(why);
        }
        // Without O_CREAT: fs.protected_regular judges only creating opens,
        // and the owner is checked below before anything changes.
        fd = ::open(path.c_str(), kOpenFlags);
        if (fd < 0 && errno != ENOENT)
            return WhyNotOpened(path, errno);
        // Removed between the two opens: look again.
    }
    if (fd < 0)
        return Failed(ENOENT);

    SaveFile file;
    // Checked on what was opened, whatever the name leads to by now.
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        file = Failed(errno);
    } else if (const SaveRefusal why = RefusalFor(st); why != SaveRefusal::kNone) {
        file = Refused(why);
    } else {
        file.identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
        if (busy && *busy == file.identity) {
            file = Refused(SaveRefusal::kBeingRecorded);
        } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            // Another cooperating writer is at it; a file system without
            // locks has no one to keep out.
            file = Refused(SaveRefusal::kLockedByAnother);
        } else if (st.st_size != 0 && ::ftruncate(fd, 0) != 0) {
            file = Failed(errno);
        } else {
            (void)::fcntl(fd, F_SETFL, 0);  // regular files never wait; nothing to keep
            file.fd = fd;
            file.created = created;
            return file;
        }
    }
    ::close(fd);
    return file;
}

int WriteAll(int fd, const void* data, size_t size, std::optional<uint64_t> at, size_t* written) {
    const auto* bytes = static_cast<const char*>(data);
    size_t done = 0;
    int error = 0;
    while (done < size) {
        const ssize_t n =
            at ? ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(*at + done))
               : ::write(fd, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // Nothing written and no error would loop for ever.
            error = n < 0 ? errno : EIO;
            break;
        }
    }
    if (written != nullptr)
        *written = done;
    return error;
}

int FinishSave(const std::string& path, const SaveFile& file, int error) {
    // Saved means on the disk: the data and the file's new size.
    if (error == 0 && ::fsync(file.fd) != 0)
        error = errno;
    // A delayed write error (full disk on a network file system) shows at close.
    if (::close(file.fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    if (error != 0)
        RemoveIfMade(path, file);
    return error;
}

void RemoveIfMade(const std::string& path, const SaveFile& file) {
    // Only if the name still leads to the file this save made.
    struct stat st {};
    if (file.created && ::lstat(path.c_str(), &st) == 0 &&
        FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)} ==
            file.identity)
        ::unlink(path.c_str());
}

SaveResult WriteFailed(int error) {
    SaveResult r;
    r.error = error;
    switch (SaveFaultOf(error)) {
        case SaveFault::kDiskFull:
            r.kind = SaveResult::kDiskFull;
            break;
        case SaveFault::kIoError:
            r.kind = SaveResult::kIoError;
            break;
        default:
            r.kind = SaveResult::kOtherWriteError;
            break;
    }
    return r;
}

SaveResult NotOpened(const SaveFile& file) {
    SaveResult r;
    if (file.refusal != SaveRefusal::kNone) {
        r.kind = SaveResult::kRefused;
        r.refusal = file.refusal;
    } else {
        r.kind = SaveResult::kOpenFailed;
        r.error = file.error;
    }
    return r;
}

SaveResult WriteWholeFile(const std::string& path, std::string_view bytes,
                          const std::optional<FileIdentity>& busy) {
    const SaveFile file = OpenForSave(path, busy);
    if (file.fd < 0)
        return NotOpened(file);
    const int error = FinishSave(path, file, WriteAll(file.fd, bytes));
    return error != 0 ? WriteFailed(error) : SaveResult{};
}

void KeepRunningPastFileSizeLimit() {
    // A handler rather than SIG_IGN: programs started later (xdg-open) get
    // the default back at exec.
    struct sigaction action {};
    action.sa_handler = NothingToDo;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGXFSZ, &action, nullptr);
}
