#pragma once
// How the program's saves open their files. What they hold (captured traffic,
// the event list) is the user's alone: a new file is made 0600, and a save
// writes only into a regular file of this user's, never through a symbolic
// link (a name others can set in a shared folder), nor into a pipe or a
// device, nor into a file another writer holds locked. An existing file of
// the user's is replaced in place, keeping its mode, since the save dialog
// has already asked.
#include <cstdint>
#include <optional>
#include <string>

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
};

// Opens `path` for a save from its start: made if missing, otherwise checked
// and then emptied, holding an exclusive lock (flock) taken before anything is
// cut, for as long as the descriptor stays open. `busy` names a file that must
// not be written (the recording's).
SaveFile OpenForSave(const std::string& path, const std::optional<FileIdentity>& busy = {});

// Writes past the file-size limit (ulimit -f) fail with EFBIG, and so read as
// a full disk, instead of the signal ending the program with a torn file.
// Called once where the program starts, before any thread.
void KeepRunningPastFileSizeLimit();
