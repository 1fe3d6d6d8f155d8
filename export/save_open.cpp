#include "export/save_open.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

int OpenForSave(const std::string& path, bool& made) {
    made = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            made = true;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
        fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT)
            return fd;
        // Removed between the two opens: look again.
    }
    // A symbolic link to a missing file: made through the link, as a plain
    // open would, but not counted as made here.
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}
