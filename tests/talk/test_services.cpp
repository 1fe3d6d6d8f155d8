// The worker-thread services without namespaces or root: owners of this
// process's own sockets on the loopback address, and names from /etc/hosts.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "talk/names.h"
#include "talk/owner.h"
#include "talk/texts.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

std::string SelfExecutable() {
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    return n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
}

// Polls until `done`, for up to a minute (a bound, not a measure of speed).
bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 6000; ++i) {
        if (done())
            return true;
        usleep(10000);
    }
    return false;
}

uint16_t BoundUdp(int* fd) {
    *fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(kLoopback);
    if (bind(*fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        return 0;
    socklen_t n = sizeof sa;
    getsockname(*fd, reinterpret_cast<sockaddr*>(&sa), &n);
    return ntohs(sa.sin_port);
}

// This process's own socket is found with its name and PID; asking again
// while fresh does not look again; a closed socket reads as closed; what
// cannot be looked up says why at once; Clear forgets.
TEST(OwnerService, FindsOwnSocketAndFollowsIt) {
    char name[16] = {};
    prctl(PR_GET_NAME, name);
    std::atomic<int> rounds{0};
    OwnerService::Options options;
    options.refreshAfter = std::chrono::hours(1);
    options.changed = [&] { rounds.fetch_add(1); };
    OwnerService owners(options);
    int fd = -1;
    const uint16_t port = BoundUdp(&fd);
    ASSERT_NE(port, 0);
    const ConversationKey key{kProtocolUdp, kLoopback, port, 0x7F000002, 9};
    for (int i = 0; i < 50; ++i)
        owners.Request(key, true, true);  // deduplicated: one lookup
    ASSERT_TRUE(Eventually([&] { return owners.Result(key).state != OwnerState::kPending; }));
    OwnerInfo o = owners.Result(key);
    EXPECT_EQ(o.state, OwnerState::kFound);
    EXPECT_EQ(o.program, name);
    EXPECT_EQ(o.pid, getpid());
    EXPECT_EQ(o.executable, SelfExecutable());
    EXPECT_EQ(rounds.load(), 1);

    const ConversationKey icmp{1, kLoopback, 0, 0x7F000002, 0};
    owners.Request(icmp, true, true);
    EXPECT_EQ(owners.Result(icmp).state, OwnerState::kNotApplicable);
    const ConversationKey forwarded{kProtocolTcp, 0x0A000001, 5000, 0x0A000002, 80};
    owners.Request(forwarded, false, true);
    EXPECT_EQ(owners.Result(forwarded).state, OwnerState::kNotLocal);

    // A lookup of its own, with the earlier result: the socket is gone now.
    close(fd);
    OwnerLookup lookup;
    const OwnerQuery q{key, true, &o};
    const OwnerInfo after = lookup.Round(std::span(&q, 1))[0];
    EXPECT_EQ(after.state, OwnerState::kClosed);
    EXPECT_EQ(after.pid, getpid());

    const uint64_t changes = owners.Changes();
    owners.Clear();
    EXPECT_NE(owners.Changes(), changes);
    EXPECT_EQ(owners.Result(key).state, OwnerState::kPending);
}

// A program found from the capture's hint alone, that then ends: it keeps
// its name and PID, marked as ended once it is a zombie (not yet reaped),
// and still once its socket reads as closed. Its PID with another start
// time is not it.
TEST(OwnerService, AProgramThatEndsKeepsItsName) {
    int toChild[2], fromChild[2];
    ASSERT_EQ(pipe2(toChild, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(fromChild, O_CLOEXEC), 0);
    // Started before the service's thread: the child forks a process of one thread.
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_NAME, "qvbrief");
        int fd = -1;
        const uint16_t port = BoundUdp(&fd);
        if (write(fromChild[1], &port, sizeof port) != sizeof port)
            _exit(2);
        char go;
        [[maybe_unused]] const ssize_t n = read(toChild[0], &go, 1);
        _exit(0);  // its socket and its end of the pipe close with it
    }
    close(toChild[0]);
    close(fromChild[1]);
    uint16_t port = 0;
    ASSERT_EQ(read(fromChild[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));
    OwnerService::Options options;
    options.refreshAfter = std::chrono::milliseconds(50);
    options.livenessInterval = std::chrono::milliseconds(20);
    OwnerService owners(options);
    const ConversationKey key{kProtocolUdp, kLoopback, port, 0x7F000002, 9};

    owners.Hint(key, true);  // never asked by the interface thread
    ASSERT_TRUE(Eventually([&] { return owners.Result(key).state != OwnerState::kPending; }));
    const OwnerInfo found = owners.Result(key);
    EXPECT_EQ(found.state, OwnerState::kFound) << OwnerPhrase(found);
    EXPECT_EQ(found.program, "qvbrief");
    EXPECT_EQ(found.executable, SelfExecutable());  // read while it ran
    EXPECT_EQ(found.pid, child);
    EXPECT_FALSE(found.exited);
    ASSERT_NE(found.startTicks, 0u);
    EXPECT_TRUE(ProcessAlive(child, found.startTicks));
    EXPECT_FALSE(ProcessAlive(child, found.startTicks + 1)) << "another process on the same PID";

    ASSERT_EQ(write(toChild[1], "x", 1), 1);
    char rest;
    EXPECT_EQ(read(fromChild[0], &rest, 1), 0);  // its files closed: it is ending
    // A zombie now, left unreaped: it has ended all the same.
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
    EXPECT_FALSE(ProcessAlive(child, found.startTicks));
    ASSERT_TRUE(Eventually([&] { return owners.Result(key).exited; }));
    OwnerInfo o = owners.Result(key);
    EXPECT_EQ(o.state, OwnerState::kFound);
    EXPECT_EQ(o.pid, child);
    const std::string pid = std::to_string(child);
    EXPECT_EQ(OwnerProgramText(o), "qvbrief (已退出)");
    EXPECT_EQ(OwnerPhrase(o), "qvbrief (PID " + pid + ", 用户 " + o.user + ", 已退出)");

    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    // Looked up again: the socket is closed, the program still named as ended.
    ASSERT_TRUE(Eventually([&] {
        owners.Request(key, true, true);
        return owners.Result(key).state == OwnerState::kClosed;
    }));
    o = owners.Result(key);
    EXPECT_EQ(o.pid, child);
    EXPECT_TRUE(o.exited);
    EXPECT_EQ(OwnerProgramText(o), "qvbrief (已退出)");
    EXPECT_EQ(OwnerPhrase(o), "套接字已关闭 (原属 qvbrief, PID " + pid + ", 已退出)");
    EXPECT_EQ(o.executable, SelfExecutable());
    close(toChild[1]);
    close(fromChild[0]);
}

// A program whose file was replaced while it runs (a package upgraded under
// it) is still the program of that path, not a new one: the kernel's
// " (deleted)" is not part of it.
TEST(OwnerService, AnExecutableReplacedUnderItsProgram) {
    char folder[] = "/tmp/qvexeXXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/qvupgraded";
    ASSERT_EQ(std::system(("cp /bin/sleep " + path).c_str()), 0);
    const pid_t child = fork();
    if (child == 0) {
        execl(path.c_str(), path.c_str(), "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    ASSERT_TRUE(Eventually([&] { return ProcessExecutable(child) == path; }));
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_EQ(ProcessExecutable(child), path);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(ProcessExecutable(child), "");  // gone
    rmdir(folder);
}

// Many conversations at once come back in bounded rounds, every one answered.
TEST(OwnerService, ManyRequestsAllAnswered) {
    OwnerService::Options options;
    options.maxPerRound = 16;
    options.roundInterval = std::chrono::milliseconds(1);
    OwnerService owners(options);
    std::vector<int> fds;
    std::vector<ConversationKey> keys;
    for (int i = 0; i < 40; ++i) {
        int fd = -1;
        const uint16_t port = BoundUdp(&fd);
        ASSERT_NE(port, 0);
        fds.push_back(fd);
        keys.push_back({kProtocolUdp, kLoopback, port, 0x7F000002, 9});
        // A TCP socket bound to the same port and never listening: while it
        // is there, no listener can take the port, so nothing holds the pair.
        const int tcp = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(kLoopback);
        sa.sin_port = htons(port);
        fds.push_back(tcp);
        if (bind(tcp, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0)
            keys.push_back({kProtocolTcp, kLoopback, port, 0x7F000002, 9});
    }
    for (const auto& k : keys)
        owners.Request(k, true, false);
    ASSERT_TRUE(Eventually([&] {
        for (const auto& k : keys)
            if (owners.Result(k).state == OwnerState::kPending)
                return false;
        return true;
    }));
    for (const auto& k : keys)
        EXPECT_EQ(owners.Result(k).state,
                  k.protocol == kProtocolUdp ? OwnerState::kFound : OwnerState::kNoSocket);
    for (const int fd : fds)
        close(fd);
}

// A flood from ever new sources, every kind in turn (not TCP or UDP, not of
// the selected address, of it on a port nobody uses): the table never holds
// more than its limit nor the queue more than its own, the newest answers
// are there, the oldest are forgotten, and a socket asked about afterwards
// is still found.
TEST(OwnerService, FloodOfNewSourcesStaysBounded) {
    OwnerService::Options options;
    options.maxResults = 300;
    options.maxQueued = 50;
    options.roundInterval = std::chrono::milliseconds(1);
    OwnerService owners(options);
    const auto key = [](uint32_t i) {
        const uint8_t protocol = i % 3 == 0 ? 1 : kProtocolUdp;
        const uint16_t port = protocol == kProtocolUdp ? 9 : 0;
        return ConversationKey{protocol, kLoopback, port, 0x64400000u + i, port};
    };
    constexpr uint32_t kFlood = 100000;
    for (uint32_t i = 0; i < kFlood; ++i) {
        owners.Request(key(i), i % 3 != 1, false);
        if (i % 997 == 0) {
            ASSERT_LE(owners.Held(), options.maxResults) << i;
            ASSERT_LE(owners.Queued(), options.maxQueued) << i;
        }
    }
    static_assert(kFlood % 3 == 1);
    EXPECT_EQ(owners.Result(key(kFlood - 1)).state, OwnerState::kNotApplicable);
    EXPECT_EQ(owners.Result(key(kFlood - 3)).state, OwnerState::kNotLocal);
    EXPECT_EQ(owners.Result(key(0)).state, OwnerState::kPending);  // forgotten

    int fd = -1;
    const uint16_t port = BoundUdp(&fd);
    ASSERT_NE(port, 0);
    const ConversationKey mine{kProtocolUdp, kLoopback, port, 0x7F000002, 9};
    ASSERT_TRUE(Eventually([&] {
        owners.Request(mine, true, false);  // again while the queue is full
        return owners.Result(mine).state == OwnerState::kFound;
    }));
    EXPECT_EQ(owners.Result(mine).pid, getpid());
    close(fd);
}

// Names of a flood of new addresses, with a resolver that answers at once,
// one that names none, and one that never answers in time: the service holds
// at most its answers, its queue and its threads, keeps the most recently
// asked answers and drops the least recently asked first.
TEST(NameService, FloodOfNewAddressesStaysBounded) {
    for (const int kind : {0, 1, 2}) {
        SCOPED_TRACE(kind);
        NameService::Options o;
        o.maxCached = 200;
        o.maxQueued = 40;
        o.maxThreads = 4;
        o.maxConcurrent = 2;
        o.deadline = std::chrono::milliseconds(kind == 2 ? 1 : 60000);
        o.maxPerSecond = 1e9;
        // Shared: a stuck lookup may outlive the service.
        const auto release = std::make_shared<std::atomic<bool>>(false);
        o.resolve = [kind, release](const IpAddress& address, std::string* name) {
            if (kind == 2) {
                while (!release->load())
                    usleep(1000);
            }
            if (kind == 1)
                return false;
            *name = "h" + std::to_string(address.v4 & 0xFFFF) + ".test";
            return true;
        };
        NameService names(o);
        const size_t bound = o.maxCached + o.maxQueued + static_cast<size_t>(o.maxThreads);
        for (uint32_t i = 1; i <= 20000; ++i) {
            names.Request(0x64400000u + i);
            names.Lookup(0x64400000u + i / 2);  // reads move nothing out of order
            if (i % 101 == 0) {
                ASSERT_LE(names.Held(), bound) << i;
            }
        }
        // Once the resolver answers again, the last address asked is answered
        // (or given up on).
        *release = true;
        const uint32_t last = 0x64400000u + 20001;
        ASSERT_TRUE(Eventually([&] {
            names.Request(last);
            return names.Lookup(last).state != NameService::State::kPending &&
                   names.Lookup(last).state != NameService::State::kNotAsked;
        }));
        EXPECT_LE(names.Held(), bound);
        if (kind == 0) {
            EXPECT_EQ(names.HostText(last), "h" + std::to_string(last & 0xFFFF) + ".test");
            // A name asked again stays while newer ones come; one not asked goes.
            const uint32_t kept = last;
            for (uint32_t i = 1; i <= 1000; ++i) {
                names.Request(kept);
                names.Request(0x65000000u + i);
                Eventually([&] {
                    return names.Lookup(0x65000000u + i).state == NameService::State::kFound;
                });
            }
            EXPECT_EQ(names.Lookup(kept).state, NameService::State::kFound);
            EXPECT_EQ(names.Lookup(0x65000000u + 1).state, NameService::State::kNotAsked);
        }
    }
}

// However fast new addresses come and the resolver answers, lookups start
// no faster than the service's rate, a second's worth at once at most.
TEST(NameService, LookupsArePaced) {
    NameService::Options o;
    o.maxPerSecond = 200;
    const auto calls = std::make_shared<std::atomic<int>>(0);
    o.resolve = [calls](const IpAddress&, std::string*) {
        ++*calls;
        return false;
    };
    const auto start = std::chrono::steady_clock::now();
    {
        NameService names(o);
        for (uint32_t i = 1; i <= 5000; ++i) {
            names.Request(0x64400000u + i);
            if (i % 100 == 0)
                usleep(1000);
        }
        usleep(200000);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(calls->load(), 0);
    // Lookups still under way when the service went end by themselves; the
    // bound holds for every call made by then and a little after.
    usleep(100000);
    EXPECT_LE(calls->load(), 200 + static_cast<int>(200 * (seconds + 0.1)) + o.maxThreads);
}

// /etc/hosts answers without any network.
TEST(NameService, NamesFromTheHostsFile) {
    NameService names;
    EXPECT_EQ(names.Lookup(kLoopback).state, NameService::State::kNotAsked);
    EXPECT_EQ(names.HostText(kLoopback), "127.0.0.1");
    names.Request(kLoopback);
    names.Request(kLoopback);
    names.Request(0);  // never asked
    EXPECT_EQ(names.Lookup(0).state, NameService::State::kNotAsked);
    ASSERT_TRUE(
        Eventually([&] { return names.Lookup(kLoopback).state != NameService::State::kPending; }));
    EXPECT_EQ(names.Lookup(kLoopback).state, NameService::State::kFound);
    EXPECT_EQ(names.HostText(kLoopback), "localhost");
    EXPECT_GT(names.Changes(), 0u);
}

}  // namespace
