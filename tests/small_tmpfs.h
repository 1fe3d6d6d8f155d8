#pragma once
// A disk that really fills: a small tmpfs over a folder, mounted in a mount
// namespace of this process's own (as root), so that nothing outside sees it.
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

// Mounts a tmpfs of `bytes` over `folder`; empty when it is mounted, else why not.
inline std::string MountSmallTmpfs(const std::string& folder, size_t bytes) {
    if (geteuid() != 0)
        return "needs root to mount a tmpfs";
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("no mount namespace of its own: ") + std::strerror(errno);
    const std::string size = "size=" + std::to_string(bytes);
    if (mount("tmpfs", folder.c_str(), "tmpfs", 0, size.c_str()) != 0)
        return std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    return {};
}

// In CI as root a refused mount is a failure, not a skip.
inline bool MustMountTmpfs() {
    return std::getenv("CI") != nullptr && geteuid() == 0;
}
