#include "capture/privileges.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/if_ether.h>
#include <linux/securebits.h>
#include <pwd.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <ostream>

namespace {

constexpr uint64_t kNetRawBit = uint64_t{1} << CAP_NET_RAW;

// Owns a libcap state for one block.
class Caps {
  public:
    explicit Caps(cap_t caps) : caps_(caps) {}
    ~Caps() {
        if (caps_ != nullptr)
            cap_free(caps_);
    }
    Caps(const Caps&) = delete;
    Caps& operator=(const Caps&) = delete;
    cap_t get() const { return caps_; }

  private:
    cap_t caps_;
};

bool HasFlag(cap_t caps, cap_value_t cap, cap_flag_t flag) {
    cap_flag_value_t value = CAP_CLEAR;
    return caps != nullptr && cap_get_flag(caps, cap, flag, &value) == 0 && value == CAP_SET;
}

// A uid or gid from sudo's environment. Anything but a plain decimal number of
// an ordinary id counts as absent.
bool IdFromEnvironment(const char* name, unsigned long& id) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text < '0' || *text > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    if (value >= std::numeric_limits<uid_t>::max())
        return false;  // -1 means "unchanged"
    id = value;
    return true;
}

// The invoking user when root was reached through sudo from another account.
bool InvokingUser(uid_t& uid, gid_t& gid) {
    unsigned long u = 0;
    unsigned long g = 0;
    if (!IdFromEnvironment("SUDO_UID", u) || u == 0)
        return false;
    uid = static_cast<uid_t>(u);
    if (IdFromEnvironment("SUDO_GID", g)) {
        gid = static_cast<gid_t>(g);
    } else if (const passwd* pw = getpwuid(uid)) {
        gid = pw->pw_gid;
    } else {
        return false;
    }
    return true;
}

// Becomes uid/gid with the user's own groups, carrying the permitted set
// across the change (the kernel would clear it otherwise).
bool BecomeUser(uid_t uid, gid_t gid) {
    const passwd* pw = getpwuid(uid);
    std::string home = pw != nullptr ? pw->pw_dir : "";
    std::string name = pw != nullptr ? pw->pw_name : "";
    if (!name.empty() ? initgroups(name.c_str(), gid) != 0 : setgroups(1, &gid) != 0) {
        return false;
    }
    if (prctl(PR_SET_KEEPCAPS, 1L, 0L, 0L, 0L) != 0)
        return false;
    const bool switched = setresgid(gid, gid, gid) == 0 && setresuid(uid, uid, uid) == 0;
    prctl(PR_SET_KEEPCAPS, 0L, 0L, 0L, 0L);
    if (!switched)
        return false;
    // Settings and caches belong in the user's home, not root's.
    if (!home.empty()) {
        setenv("HOME", home.c_str(), 1);
        setenv("USER", name.c_str(), 1);
        setenv("LOGNAME", name.c_str(), 1);
    }
    return true;
}

// Root keeps CAP_NET_RAW only, including for whatever it starts later.
bool NarrowRoot() {
    bool ok = true;
    for (cap_value_t cap = 0; cap <= CAP_LAST_CAP; ++cap) {
        if (cap == CAP_NET_RAW || !CAP_IS_SUPPORTED(cap))
            continue;
        if (cap_drop_bound(cap) != 0)
            ok = false;
    }
    // Without this, a root process regains every capability left in the
    // bounding set when it executes a program.
    const int bits = prctl(PR_GET_SECUREBITS, 0L, 0L, 0L, 0L);
    const int wanted = SECBIT_NOROOT | SECBIT_NOROOT_LOCKED;
    if (bits < 0 ||
        ((bits & wanted) != wanted &&
         prctl(PR_SET_SECUREBITS, static_cast<unsigned long>(bits | wanted), 0L, 0L, 0L) != 0)) {
        ok = false;
    }
    return ok;
}

bool SetNetRawEffective(bool on) {
    Caps caps(cap_get_proc());
    if (caps.get() == nullptr)
        return false;
    const cap_value_t cap = CAP_NET_RAW;
    if (cap_set_flag(caps.get(), CAP_EFFECTIVE, 1, &cap, on ? CAP_SET : CAP_CLEAR) != 0) {
        return false;
    }
    return cap_set_proc(caps.get()) == 0;
}

// A capability mask line ("CapEff:\t0000...") of this thread's status.
uint64_t StatusMask(const char* key) {
    std::ifstream status("/proc/thread-self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            return std::strtoull(line.c_str() + prefix.size(), nullptr, 16);
        }
    }
    return ~uint64_t{0};
}

bool RawSocketOpens() {
    const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_IP));
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

std::string Hex(uint64_t mask) {
    static const char digits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i, mask >>= 4)
        text[static_cast<size_t>(i)] = digits[mask & 15];
    return text;
}

}  // namespace

bool DropPrivilegesAtStart() {
    bool ok = true;
    bool keepNetRaw = false;
    {
        Caps now(cap_get_proc());
        keepNetRaw = HasFlag(now.get(), CAP_NET_RAW, CAP_PERMITTED);
    }
    if (geteuid() == 0) {
        ok = NarrowRoot();
        uid_t uid = 0;
        gid_t gid = 0;
        if (InvokingUser(uid, gid) && !BecomeUser(uid, gid))
            ok = false;
    }
    Caps wanted(cap_init());  // every set empty
    if (wanted.get() == nullptr)
        return false;
    if (keepNetRaw) {
        const cap_value_t cap = CAP_NET_RAW;
        cap_set_flag(wanted.get(), CAP_PERMITTED, 1, &cap, CAP_SET);
    }
    if (cap_set_proc(wanted.get()) != 0)
        ok = false;
    // Empty inheritable set already empties the ambient one; say so anyway in
    // case an older kernel keeps it.
    if (CAP_AMBIENT_SUPPORTED())
        cap_reset_ambient();
    return ok;
}

CaptureCapabilityScope::CaptureCapabilityScope() {
    Caps now(cap_get_proc());
    if (HasFlag(now.get(), CAP_NET_RAW, CAP_PERMITTED) &&
        !HasFlag(now.get(), CAP_NET_RAW, CAP_EFFECTIVE)) {
        raised_ = SetNetRawEffective(true);
    }
}

CaptureCapabilityScope::~CaptureCapabilityScope() {
    if (raised_)
        SetNetRawEffective(false);
}

namespace {

std::string UserName(uid_t uid) {
    const passwd* pw = getpwuid(uid);
    return pw != nullptr ? pw->pw_name : "uid " + std::to_string(uid);
}

// Who a file belongs to; if a folder on its way cannot be searched, whose
// folder that is (/run/user/1000/... is user 1000's).
bool OwnerOf(std::string path, uid_t& owner) {
    struct stat st {};
    while (stat(path.c_str(), &st) != 0) {
        const auto slash = path.rfind('/');
        if (slash == std::string::npos || slash == 0)
            return false;
        path.resize(slash);
    }
    owner = st.st_uid;
    return true;
}

}  // namespace

std::string RootDisplayProblem() {
    if (getuid() != 0 && geteuid() != 0)
        return {};
    auto env = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value != nullptr ? value : "");
    };
    const std::string platform = env("QT_QPA_PLATFORM");
    if (!platform.empty() && platform.rfind("xcb", 0) != 0)
        return {};
    if (platform.empty() && !env("WAYLAND_DISPLAY").empty() && env("XDG_SESSION_TYPE") == "wayland")
        return {};  // Qt takes the Wayland socket then
    const std::string display = env("DISPLAY");
    if (display.empty())
        return {};
    // Where libXau looks for the display's cookie.
    std::string authority = env("XAUTHORITY");
    if (authority.empty()) {
        std::string home = env("HOME");
        if (home.empty()) {
            if (const passwd* pw = getpwuid(getuid()))
                home = pw->pw_dir;
        }
        if (home.empty())
            return {};
        authority = home + "/.Xauthority";
    }
    const int fd = open(authority.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return {};
    }
    if (errno != EACCES && errno != EPERM)
        return {};

    uid_t owner = 0;
    const bool known = OwnerOf(authority, owner) && owner != 0;
    const std::string who = known ? UserName(owner) : "the desktop user";
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string exe = n > 0 ? std::string(self, static_cast<size_t>(n)) : "quorvelan";
    std::string text = "quorvelan: started as root on the display " + display +
                       ", whose X authority (" + authority +
                       ") root cannot read: the program keeps only the right to capture.\n";
    text += "quorvelan: start it from " + who +
            "'s desktop session through sudo (it then runs as " + who + "):\n    sudo " + exe +
            "\n";
    text += "quorvelan: or as " + who + (known ? ", e.g. runuser -u " + who + " -- " + exe : "") +
            ", once the program holds the capture right (setcap cap_net_raw+ep " + exe +
            ", or membership of the quorvelan group for the installed package).\n";
    return text;
}

std::string CapabilityStatusText() {
    std::string text = "uid " + std::to_string(getuid()) + " euid " + std::to_string(geteuid()) +
                       " gid " + std::to_string(getgid()) + ", capabilities ";
    Caps now(cap_get_proc());
    char* caps = now.get() != nullptr ? cap_to_text(now.get(), nullptr) : nullptr;
    text += caps != nullptr ? caps : "unknown";
    if (caps != nullptr)
        cap_free(caps);
    return text;
}

int RunCapabilitySelfTest(std::ostream& out) {
    bool ok = true;
    auto report = [&](const char* when, bool inside) {
        const uint64_t prm = StatusMask("CapPrm");
        const uint64_t eff = StatusMask("CapEff");
        const bool raw = RawSocketOpens();
        out << when << ": CapPrm=" << Hex(prm) << " CapEff=" << Hex(eff)
            << " raw-socket=" << (raw ? "ok" : "denied") << '\n';
        if ((prm & ~kNetRawBit) != 0 || (eff & ~kNetRawBit) != 0)
            ok = false;
        if (!inside && eff != 0)
            ok = false;
    };
    report("outside", false);
    {
        CaptureCapabilityScope scope;
        report("inside", true);
    }
    report("after", false);
    out << "status: " << CapabilityStatusText() << '\n';
    return ok ? 0 : 1;
}
