#pragma once
// Two network namespaces joined by a veth pair, made by the test itself: the
// calling thread (and every thread it starts later) moves into the "local"
// one; the peer end is reached by running commands in the other.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

class TestNetwork {
  public:
    // Returns nothing, with the reason in `why`, where the machine does not allow it.
    static std::optional<TestNetwork> Create(std::string* why) {
        if (geteuid() != 0) {
            *why = "needs root for network namespaces and raw capture";
            return std::nullopt;
        }
        TestNetwork n;
        const int id = static_cast<int>(getpid() % 200) + 20;
        n.local_ = "qvl" + std::to_string(getpid());
        n.peer_ = "qvp" + std::to_string(getpid());
        n.localAddress = "10.213." + std::to_string(id) + ".1";
        n.peerAddress = "10.213." + std::to_string(id) + ".2";
        const std::string v = "qv" + std::to_string(getpid());
        const std::string script =
            "set -e; ip netns add " + n.local_ + "; ip netns add " + n.peer_ + "; ip link add " +
            v + "a netns " + n.local_ + " type veth peer name " + v + "b netns " + n.peer_ +
            "; ip -n " + n.local_ + " addr add " + n.localAddress + "/24 dev " + v + "a; ip -n " +
            n.peer_ + " addr add " + n.peerAddress + "/24 dev " + v + "b; ip -n " + n.local_ +
            " link set " + v + "a up; ip -n " + n.peer_ + " link set " + v + "b up; ip -n " +
            n.local_ + " link set lo up; ip -n " + n.peer_ + " link set lo up";
        n.made_ = true;
        if (std::system(("(" + script + ") >/dev/null 2>&1").c_str()) != 0) {
            *why = "could not create network namespaces with ip netns";
            return std::nullopt;  // the destructor of `n` removes what was made
        }
        n.home_ = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const int fd = open(("/var/run/netns/" + n.local_).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
            *why = "could not enter the test namespace";
            if (fd >= 0)
                close(fd);
            return std::nullopt;
        }
        close(fd);
        return n;
    }

    TestNetwork(TestNetwork&& o) noexcept { *this = std::move(o); }
    TestNetwork& operator=(TestNetwork&& o) noexcept {
        std::swap(local_, o.local_);
        std::swap(peer_, o.peer_);
        std::swap(localAddress, o.localAddress);
        std::swap(peerAddress, o.peerAddress);
        std::swap(localAddress6, o.localAddress6);
        std::swap(peerAddress6, o.peerAddress6);
        std::swap(home_, o.home_);
        std::swap(made_, o.made_);
        return *this;
    }
    ~TestNetwork() {
        if (home_ >= 0) {
            setns(home_, CLONE_NEWNET);
            close(home_);
        }
        if (made_) {
            std::system(("ip netns del " + local_ + " >/dev/null 2>&1; ip netns del " + peer_ +
                         " >/dev/null 2>&1")
                            .c_str());
        }
    }

    // IPv6 on the pair as well, from the documentation prefix (no duplicate
    // address detection, so the addresses are usable at once). False, with
    // the reason, where the kernel has IPv6 off.
    bool AddIpv6(std::string* why) {
        if (!localAddress6.empty())
            return true;
        const int id = static_cast<int>(getpid() % 200) + 20;
        const std::string prefix = "2001:db8:213:" + std::to_string(id) + "::";
        const std::string v = "qv" + std::to_string(getpid());
        const std::string script = "set -e; ip -n " + local_ + " addr add " + prefix + "1/64 dev " +
                                   v + "a nodad; ip -n " + peer_ + " addr add " + prefix +
                                   "2/64 dev " + v + "b nodad";
        if (std::system(("(" + script + ") >/dev/null 2>&1").c_str()) != 0) {
            *why = "could not add IPv6 addresses (IPv6 off in this kernel?)";
            return false;
        }
        localAddress6 = prefix + "1";
        peerAddress6 = prefix + "2";
        return true;
    }

    // Runs a shell command inside the peer namespace; returns its exit status.
    int RunInPeer(const std::string& command) const {
        return std::system(("ip netns exec " + peer_ + " " + command).c_str());
    }

    const std::string& PeerName() const { return peer_; }
    std::string LocalDevice() const { return "qv" + std::to_string(getpid()) + "a"; }

    std::string localAddress;
    std::string peerAddress;
    std::string localAddress6;  // once AddIpv6 succeeded
    std::string peerAddress6;

  private:
    TestNetwork() = default;
    std::string local_, peer_;
    int home_ = -1;
    bool made_ = false;
};

// CTest's skip code; in CI as root a refused namespace is a failure, not a skip.
inline int SkipOrFail(const std::string& why) {
    const bool mustRun = std::getenv("CI") != nullptr && geteuid() == 0;
    std::fprintf(stderr, "%s: %s\n", mustRun ? "FAIL" : "SKIP", why.c_str());
    return mustRun ? 1 : 77;
}
