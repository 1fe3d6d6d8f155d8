#pragma once
// Network namespaces made by a live test itself: a lone one (a loopback
// device only), and the usual pair of them, "local" and "peer", joined by a
// veth pair with test addresses on both ends. The calling thread (and every
// thread it starts later) may move into the local one; the peer is reached
// by running commands in it. Everything made is removed again.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

// Runs a shell command with its output thrown away; whether it succeeded.
inline bool RunQuietly(const std::string& command) {
    return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0;
}

// One namespace, with its loopback device up; deleted with the object.
class Namespace {
  public:
    static std::optional<Namespace> Make(const std::string& name) {
        Namespace n;
        if (!RunQuietly("ip netns add " + name))
            return std::nullopt;
        n.name_ = name;
        if (!n.Ip("link set lo up"))
            return std::nullopt;
        return n;
    }
    Namespace(Namespace&& o) noexcept : name_(std::exchange(o.name_, {})) {}
    Namespace& operator=(Namespace&& o) noexcept {
        std::swap(name_, o.name_);
        return *this;
    }
    ~Namespace() {
        if (!name_.empty())
            RunQuietly("ip netns del " + name_);
    }

    const std::string& Name() const { return name_; }
    // `ip -n NAME ARGS`, quietly; whether it succeeded.
    bool Ip(const std::string& args) const { return RunQuietly("ip -n " + name_ + " " + args); }
    // Runs a shell command inside; returns its exit status as system() does.
    int Run(const std::string& command) const {
        return std::system(("ip netns exec " + name_ + " " + command).c_str());
    }

  private:
    Namespace() = default;
    std::string name_;
};

// Files that `ip netns exec NAME` puts in place of the system's own
// (/etc/netns/NAME/resolv.conf, hosts, ...); removed with the object.
class NamespaceFiles {
  public:
    explicit NamespaceFiles(std::string ns) : dir_("/etc/netns/" + std::move(ns)) {
        made_ = RunQuietly("mkdir -p " + dir_);
    }
    NamespaceFiles(const NamespaceFiles&) = delete;
    NamespaceFiles& operator=(const NamespaceFiles&) = delete;
    ~NamespaceFiles() { RunQuietly("rm -rf " + dir_ + "; rmdir /etc/netns"); }

    bool Write(const std::string& name, const std::string& text) {
        std::ofstream out(dir_ + "/" + name);
        out << text;
        return made_ && out.flush().good();
    }

  private:
    std::string dir_;
    bool made_ = false;
};

class TestNetwork {
  public:
    struct Options {
        // The ends' addresses: PREFIX + ID + ".1" (local) and ".2" (peer), /24.
        std::string ipv4Prefix = "10.213.";
        // With `ipv6`, or once AddIpv6 is asked: PREFIX + ID + "::1" and "::2", /64.
        std::string ipv6Prefix = "2001:db8:213:";
        bool ipv6 = false;
        // TCP timestamps, SACK and window scaling off on both sides, so that
        // every segment's header size is known.
        bool plainTcp = false;
        // The calling thread moves into the local namespace.
        bool enter = true;
        // In the names of the namespaces and devices: qv<tag>l<pid>, qv<tag>p<pid>,
        // qv<tag><pid>a and b.
        std::string tag;
    };

    // Returns nothing, with the reason in `why`, where the machine does not allow it.
    static std::optional<TestNetwork> Create(std::string* why) { return Create(why, Options{}); }
    static std::optional<TestNetwork> Create(std::string* why, Options options) {
        if (geteuid() != 0) {
            *why = "needs root for network namespaces and raw capture";
            return std::nullopt;
        }
        TestNetwork n;
        n.options_ = std::move(options);
        const std::string pid = std::to_string(getpid());
        const std::string qv = "qv" + n.options_.tag;
        n.id_ = std::to_string(getpid() % 200 + 20);
        n.veth_ = qv + pid;
        n.localAddress = n.options_.ipv4Prefix + n.id_ + ".1";
        n.peerAddress = n.options_.ipv4Prefix + n.id_ + ".2";
        n.local_ = Namespace::Make(qv + "l" + pid);
        n.peer_ = n.local_ ? Namespace::Make(qv + "p" + pid) : std::nullopt;
        // What was made goes with `n` on every way out.
        if (!n.peer_ ||
            !RunQuietly("ip link add " + n.LocalDevice() + " netns " + n.LocalName() +
                        " type veth peer name " + n.PeerDevice() + " netns " + n.PeerName()) ||
            !n.local_->Ip("addr add " + n.localAddress + "/24 dev " + n.LocalDevice()) ||
            !n.peer_->Ip("addr add " + n.peerAddress + "/24 dev " + n.PeerDevice()) ||
            !n.local_->Ip("link set " + n.LocalDevice() + " up") ||
            !n.peer_->Ip("link set " + n.PeerDevice() + " up")) {
            *why = "could not create network namespaces with ip netns";
            return std::nullopt;
        }
        if (n.options_.ipv6 && !n.AddIpv6(why))
            return std::nullopt;
        if (n.options_.plainTcp) {
            const std::string off =
                " sh -c 'echo 0 >/proc/sys/net/ipv4/tcp_timestamps && echo 0 "
                ">/proc/sys/net/ipv4/tcp_sack && echo 0 >/proc/sys/net/ipv4/tcp_window_scaling'";
            if (n.local_->Run(off) != 0 || n.peer_->Run(off) != 0) {
                *why = "could not turn TCP options off in the test namespaces";
                return std::nullopt;
            }
        }
        if (n.options_.enter && !n.Enter()) {
            *why = "could not enter the test namespace";
            return std::nullopt;
        }
        return n;
    }

    TestNetwork(TestNetwork&& o) noexcept { *this = std::move(o); }
    TestNetwork& operator=(TestNetwork&& o) noexcept {
        std::swap(options_, o.options_);
        std::swap(local_, o.local_);
        std::swap(peer_, o.peer_);
        std::swap(id_, o.id_);
        std::swap(veth_, o.veth_);
        std::swap(localAddress, o.localAddress);
        std::swap(peerAddress, o.peerAddress);
        std::swap(localAddress6, o.localAddress6);
        std::swap(peerAddress6, o.peerAddress6);
        std::swap(home_, o.home_);
        return *this;
    }
    // Back home before the namespaces go.
    ~TestNetwork() {
        if (home_ >= 0) {
            setns(home_, CLONE_NEWNET);
            close(home_);
        }
    }

    // IPv6 on the pair as well (no duplicate address detection, so the
    // addresses are usable at once). False, with the reason, where the kernel
    // has IPv6 off.
    bool AddIpv6(std::string* why) {
        if (!localAddress6.empty())
            return true;
        const std::string prefix = options_.ipv6Prefix + id_ + "::";
        if (!local_->Ip("addr add " + prefix + "1/64 dev " + LocalDevice() + " nodad") ||
            !peer_->Ip("addr add " + prefix + "2/64 dev " + PeerDevice() + " nodad")) {
            *why = "could not add IPv6 addresses (IPv6 off in this kernel?)";
            return false;
        }
        localAddress6 = prefix + "1";
        peerAddress6 = prefix + "2";
        return true;
    }

    // Runs a shell command inside the peer namespace; returns its exit status.
    int RunInPeer(const std::string& command) const { return peer_->Run(command); }

    const Namespace& Local() const { return *local_; }
    const Namespace& Peer() const { return *peer_; }
    const std::string& LocalName() const { return local_->Name(); }
    const std::string& PeerName() const { return peer_->Name(); }
    std::string LocalDevice() const { return veth_ + "a"; }
    std::string PeerDevice() const { return veth_ + "b"; }
    // This run's number in the addresses (20 to 219), for addresses of a test's own beside them.
    const std::string& Id() const { return id_; }

    std::string localAddress;
    std::string peerAddress;
    std::string localAddress6;  // once AddIpv6 succeeded
    std::string peerAddress6;

  private:
    TestNetwork() = default;
    bool Enter() {
        home_ = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const int fd = open(("/var/run/netns/" + LocalName()).c_str(), O_RDONLY | O_CLOEXEC);
        const bool entered = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0)
            close(fd);
        return entered;
    }

    Options options_;
    std::optional<Namespace> local_, peer_;
    std::string id_, veth_;
    int home_ = -1;
};

// CTest's skip code; in CI as root a refused namespace is a failure, not a skip.
inline int SkipOrFail(const std::string& why) {
    const bool mustRun = std::getenv("CI") != nullptr && geteuid() == 0;
    std::fprintf(stderr, "%s: %s\n", mustRun ? "FAIL" : "SKIP", why.c_str());
    return mustRun ? 1 : 77;
}
