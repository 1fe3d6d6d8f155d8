#pragma once
// How the program writes every file it writes: the event log, a capture
// file, the recording and the conversations' CSV. What they hold (captured
// traffic, the event list, who talks to whom) is the user's alone: a new file
// is made 0600, and a save writes only into a regular file of this user's,
// never through a symbolic link (a name others can set in a shared folder),
// nor into a pipe or a device, nor into a file another writer holds locked.
// An existing file of the user's is replaced in place, keeping its mode,
// since the save dialog has already asked.
//
// In place rather than a temporary file renamed over the target: the
// recording has to write in place (it appends across captures and resumes
// its file), the lock and the checks hold for the very file written, a
// hard link or a file in a folder the user cannot write to stays what it
// was, and a crash leaves no stray temporary. What a rename would give, a
// failed save leaving nothing behind, a save keeps for the file it made
// itself: it removes that file again (FinishSave). A file it replaced keeps
// what reached it before the failure.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Which file a name led to when it was opened.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Why a save left a file alone. Nothing was written then.
enum class SaveRefusal {
    kNone,
    kSymbolicLink,
    kNotRegularFile,   // a pipe, a device, a socket or a folder
    kOtherUsersFile,   // owned by another user
    kLockedByAnother,  // another writer holds its lock
    kBeingRecorded,    // the file the recording writes to
};

struct SaveFile {
    int fd = -1;    // O_WRONLY | O_CLOEXEC, locked and empty; -1 when not opened
    int error = 0;  // errno of the failing call when neither opened nor refused
    SaveRefusal refusal = SaveRefusal::kNone;
    FileIdentity identity;
    bool created = false;  // the name was free: this save made the file
};

// Opens `path` for a save from its start: made if missing, otherwise checked
// and then emptied, holding an exclusive lock (flock) taken before anything is
// cut, for as long as the descriptor stays open. `busy` names a file that must
// not be written (the recording's).
SaveFile OpenForSave(const std::string& path, const std::optional<FileIdentity>& busy = {});

// Writes all of `size` bytes, at the file's offset or, when `at` is given,
// at that position (pwrite); goes on after a short write or a signal. 0, or
// the errno of the write that failed; `written` counts what reached the file
// either way.
int WriteAll(int fd, const void* data, size_t size, std::optional<uint64_t> at = {},
             size_t* written = nullptr);
inline int WriteAll(int fd, std::string_view bytes) {
    return WriteAll(fd, bytes.data(), bytes.size());
}

// Ends a save of `file` (opened at `path`) that wrote with `error` (0: all
// written): on success the data and the size are flushed to the disk first.
// Closes the descriptor; a failed save removes the file it made, when `path`
// still leads to it. Returns the save's errno, 0 once the file is on the disk.
int FinishSave(const std::string& path, const SaveFile& file, int error);
// Removes the file `file` made at `path`, if it made one and the name still
// leads to it: a save that failed leaves nothing behind.
void RemoveIfMade(const std::string& path, const SaveFile& file);

// How a save ended. Event log and capture file saves, the recording and the
// CSV export all answer with it.
struct SaveResult {
    enum Kind {
        kOk,
        kOpenFailed,  // nothing was written
        kDiskFull,    // the failure came while writing (see FinishSave)
        kIoError,
        kOtherWriteError,
        // Reopening a recording: the path now leads to another file, or the
        // file changed since the recording left it. Nothing was written.
        kNotTheRecordedFile,
        kRefused,  // the file was left as it was, for `refusal`
    };
    Kind kind = kOk;
    int error = 0;  // errno of the failing call
    SaveRefusal refusal = SaveRefusal::kNone;
    uint64_t datagrams = 0;  // capture files: the datagrams the file holds whole
    bool ok() const { return kind == kOk; }
};

// The result of a write that failed with `error`.
SaveResult WriteFailed(int error);
// The result of an OpenForSave that gave no file.
SaveResult NotOpened(const SaveFile& file);

// Saves `bytes` as the whole file at `path`, as every save does (never the
// file `busy` names). Ok only once the file reached the disk.
SaveResult WriteWholeFile(const std::string& path, std::string_view bytes,
                          const std::optional<FileIdentity>& busy = {});

// Writes past the file-size limit (ulimit -f) fail with EFBIG, and so read as
// a full disk, instead of the signal ending the program with a torn file.
// Called once where the program starts, before any thread.
void KeepRunningPastFileSizeLimit();
