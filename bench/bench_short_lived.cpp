// Short-lived programs against the owner lookups, as the window wires them:
// a live capture feeds the conversation tracker's tap on a capture thread,
// the batches reach the tracker every 80 ms on this thread, and its owner
// service looks the conversations up. Probes run as nobody, each sending one
// UDP datagram or opening one TCP connection to a server in the peer
// namespace, holding the socket L ms after its first datagram, then closing
// it and exiting. Reports, per protocol and lifetime, the share named with
// program and PID, and where the time went: from the datagram's capture
// stamp to the tap (the capture's delivery), and to the owner found.
//
//   bench_short_lived [--no-hints] [--each N] [--gap-ms G]
//
// --no-hints leaves the capture thread's hints out: conversations are looked
// up only when the interface thread's batch asks (the path before them).
// Root (namespaces, capture); results in bench/results.
#include <dirent.h>
#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "capture/endpoint.h"
#include "talk/conversation_tap.h"
#include "talk/texts.h"
#include "tests/support/network.h"
#include "tests/support/socket_roles.h"
#include "ui/models/conversationtracker.h"

namespace {

using namespace roles;

constexpr uint16_t kServerTcp = 7401;
constexpr uint16_t kServerUdp = 7402;
constexpr uint32_t kNobody = 65534;
constexpr const char* kProbeName = "qvshortprobe";

int64_t RealNs() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

// The probe: as nobody, one datagram or one connection, held `holdMs`, then gone.
int ShortProbe(const char* protocol, const char* server, int holdMs) {
    prctl(PR_SET_NAME, kProbeName);
    if (!BecomeUid(kNobody))
        return 2;
    const bool tcp = std::strcmp(protocol, "tcp") == 0;
    AnyAddr sa = SockAddrOf(server, tcp ? kServerTcp : kServerUdp);
    const int fd = socket(sa.family, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
    AnyAddr any = AnyOf(sa.family, 0);
    if (fd < 0 || bind(fd, any.get(), any.size) != 0)
        return 2;
    Say(std::to_string(LocalPort(fd)));
    const bool sent =
        tcp ? connect(fd, sa.get(), sa.size) == 0 : sendto(fd, "q", 1, 0, sa.get(), sa.size) == 1;
    const timespec hold{holdMs / 1000, (holdMs % 1000) * 1000000L};
    clock_nanosleep(CLOCK_MONOTONIC, 0, &hold, nullptr);
    close(fd);
    return sent ? 0 : 2;
}

// Passes the datagrams on and notes how late each reached the tap after its capture stamp.
class TimedTap final : public BatchTap {
  public:
    explicit TimedTap(BatchTap* inner) : inner_(inner) { delaysNs_.reserve(1 << 16); }
    void Begin(std::string_view local) override { inner_->Begin(local); }
    bool Add(int batch, std::span<const uint8_t> datagram, int64_t timeNs) override {
        if (delaysNs_.size() < delaysNs_.capacity())
            delaysNs_.push_back(RealNs() - timeNs);
        return inner_->Add(batch, datagram, timeNs);
    }
    void Inserted(int batch) override { inner_->Inserted(batch); }
    void Clear(int batch) override { inner_->Clear(batch); }
    std::vector<int64_t> delaysNs_;

  private:
    BatchTap* inner_;
};

struct ProbeRun {
    bool tcp = false;
    int holdMs = 0;
    pid_t pid = 0;
    ConversationKey key;
    int64_t foundNs = 0;  // when the owner service first had it found
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--serve") == 0)
        return Serve(argv[2], kServerTcp, kServerUdp);
    if (argc == 5 && std::strcmp(argv[1], "--probe") == 0)
        return ShortProbe(argv[2], argv[3], std::atoi(argv[4]));
    bool hints = true;
    int each = 20;
    int gapMs = 20;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-hints") == 0)
            hints = false;
        else if (std::strcmp(argv[i], "--each") == 0 && i + 1 < argc)
            each = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--gap-ms") == 0 && i + 1 < argc)
            gapMs = std::atoi(argv[++i]);
    }
    const std::string self = SelfPath(argv[0]);
    std::string why;
    auto net = TestNetwork::Create(&why);
    if (!net) {
        std::fprintf(stderr, "bench_short_lived: %s\n", why.c_str());
        return 1;
    }
    const uint32_t local = Addr(net->localAddress);
    const uint32_t peer = Addr(net->peerAddress);

    std::mutex runsMutex;
    std::vector<ProbeRun> runs;
    ConversationTracker* trackerPtr = nullptr;
    std::atomic<bool> trackerReady{false};
    ConversationTracker::Options options;
    options.owners.changed = [&] {
        if (!trackerReady.load())
            return;
        const int64_t now = RealNs();
        std::lock_guard lock(runsMutex);
        for (ProbeRun& r : runs) {
            if (r.foundNs == 0 && trackerPtr->Owners().Result(r.key).state == OwnerState::kFound)
                r.foundNs = now;
        }
    };
    ConversationTracker tracker(options);
    trackerPtr = &tracker;
    trackerReady = true;
    ConversationTap plainTap([&](const ConversationDeltas& d) { tracker.Merge(d); });
    TimedTap tap(hints ? static_cast<BatchTap*>(&tracker.Tap()) : &plainTap);

    Child server = Spawn(self, {"--serve", net->peerAddress}, net->PeerName());
    if (server.Line() != "ready") {
        std::fprintf(stderr, "bench_short_lived: no server\n");
        return 1;
    }
    auto endpoint = MakeLiveEndpoint();
    if (endpoint->Open(net->localAddress) != 0) {
        std::fprintf(stderr, "bench_short_lived: cannot capture\n");
        return 1;
    }
    tracker.BeginCapture(false, net->localAddress);
    tap.Begin(net->localAddress);
    std::mutex batchMutex;
    std::thread capture([&] {
        std::vector<uint8_t> buffer(70000);
        for (;;) {
            const int n = endpoint->Receive(buffer.data(), static_cast<int>(buffer.size()));
            if (n < 0)
                return;
            std::lock_guard lock(batchMutex);
            tap.Add(0, {buffer.data(), static_cast<size_t>(n)}, endpoint->LastCaptureTimeNs());
        }
    });

    // The plan: every lifetime, both protocols, `each` of each, in a fixed shuffled order.
    const int holds[] = {1, 10, 20, 50, 100, 200};
    std::vector<std::pair<bool, int>> plan;
    for (const int h : holds)
        for (int i = 0; i < each; ++i) {
            plan.emplace_back(false, h);
            plan.emplace_back(true, h);
        }
    std::mt19937 random(20261209);
    std::shuffle(plan.begin(), plan.end(), random);

    using Clock = std::chrono::steady_clock;
    auto nextBatch = Clock::now() + std::chrono::milliseconds(80);
    auto nextTick = Clock::now() + std::chrono::seconds(1);
    const auto pump = [&](Clock::time_point until) {
        for (;;) {
            const auto now = Clock::now();
            if (now >= nextBatch) {
                std::lock_guard lock(batchMutex);
                tap.Inserted(0);
                tap.Clear(0);
                nextBatch = now + std::chrono::milliseconds(80);
            }
            if (now >= nextTick) {
                tracker.Tick();
                nextTick = now + std::chrono::seconds(1);
            }
            if (now >= until)
                return;
            std::this_thread::sleep_until(std::min({until, nextBatch, nextTick}));
        }
    };
    std::vector<Child> probes;
    probes.reserve(plan.size());
    for (const auto& [tcp, hold] : plan) {
        const auto started = Clock::now();
        probes.push_back(
            Spawn(self, {"--probe", tcp ? "tcp" : "udp", net->peerAddress, std::to_string(hold)}));
        const uint16_t port = static_cast<uint16_t>(std::atoi(probes.back().Line().c_str()));
        {
            std::lock_guard lock(runsMutex);
            ProbeRun r;
            r.tcp = tcp;
            r.holdMs = hold;
            r.pid = probes.back().pid;
            r.key = ConversationKey{tcp ? kProtocolTcp : kProtocolUdp, local, port, peer,
                                    tcp ? kServerTcp : kServerUdp};
            runs.push_back(r);
        }
        pump(started + std::chrono::milliseconds(gapMs));
    }
    // The last ones end, and the service notices that their programs did.
    pump(Clock::now() + std::chrono::seconds(3));
    for (Child& p : probes)
        p.End();
    pump(Clock::now() + std::chrono::milliseconds(1500));

    endpoint->Interrupt();
    capture.join();
    endpoint->Close();

    // The socket-to-process step alone: a probe holding its socket, looked
    // up by a lookup object that knows no holder yet (sock_diag, then /proc).
    std::vector<double> lookupMs;
    uint64_t walksFull = 0;
    for (int i = 0; i < 15; ++i) {
        Child held = Spawn(self, {"--probe", "udp", net->peerAddress, "300"});
        const uint16_t port = static_cast<uint16_t>(std::atoi(held.Line().c_str()));
        OwnerQuery q;
        q.key = ConversationKey{kProtocolUdp, local, port, peer, kServerUdp};
        q.localSent = true;
        usleep(20000);  // the datagram is sent
        OwnerLookup lookup;
        const auto t0 = std::chrono::steady_clock::now();
        const OwnerInfo o = lookup.Round(std::span(&q, 1))[0];
        const auto t1 = std::chrono::steady_clock::now();
        if (o.state == OwnerState::kFound && o.pid == held.pid)
            lookupMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        walksFull += lookup.FullScans();
        held.End();
    }
    int processes = 0;
    if (DIR* d = opendir("/proc")) {
        while (const dirent* e = readdir(d))
            processes += e->d_name[0] >= '1' && e->d_name[0] <= '9';
        closedir(d);
    }
    server.Kill();

    struct Share {
        int named = 0, exited = 0, total = 0;
        std::vector<double> latencyMs;
    };
    std::map<std::pair<bool, int>, Share> shares;
    Share pooled;
    std::lock_guard lock(runsMutex);
    for (const ProbeRun& r : runs) {
        const OwnerInfo o = tracker.Owners().Result(r.key);
        const Conversation* c = tracker.Table().Find(r.key);
        const bool named = o.pid == r.pid && o.program == kProbeName &&
                           (o.state == OwnerState::kFound || o.state == OwnerState::kClosed);
        Share& s = shares[{r.tcp, r.holdMs}];
        ++s.total;
        s.named += named;
        s.exited += named && o.exited;
        if (r.foundNs != 0 && c != nullptr)
            s.latencyMs.push_back(static_cast<double>(r.foundNs - c->counts.firstNs) / 1e6);
        if (r.holdMs >= 10) {
            ++pooled.total;
            pooled.named += named;
        }
        if (!named && r.holdMs >= 50)
            std::printf("missed: %s held %d ms, pid %d: %s%s\n", r.tcp ? "TCP" : "UDP", r.holdMs,
                        static_cast<int>(r.pid), OwnerPhrase(o).c_str(),
                        c == nullptr ? " (no conversation)" : "");
    }
    std::printf("mode: %s; %d probes of each protocol and lifetime, one every %d ms\n",
                hints ? "hints from the capture thread" : "interface thread's batches only", each,
                gapMs);
    std::printf("%-5s %8s %8s %8s %22s\n", "proto", "held ms", "named", "已退出",
                "first datagram to found (ms, median / p90)");
    for (const auto& [what, s] : shares) {
        std::printf("%-5s %8d %5d/%-3d %5d/%-3d %10.1f / %.1f\n", what.first ? "TCP" : "UDP",
                    what.second, s.named, s.total, s.exited, s.named, Percentile(s.latencyMs, 0.5),
                    Percentile(s.latencyMs, 0.9));
    }
    std::printf("10-200 ms pooled: %d/%d named (%.1f %%)\n", pooled.named, pooled.total,
                100.0 * pooled.named / std::max(1, pooled.total));
    std::vector<double> delays;
    for (const int64_t d : tap.delaysNs_)
        delays.push_back(static_cast<double>(d) / 1e6);
    std::printf("capture stamp to tap (ms): median %.2f, p90 %.2f, max %.2f over %zu datagrams\n",
                Percentile(delays, 0.5), Percentile(delays, 0.9), Percentile(delays, 1.0),
                delays.size());
    std::printf(
        "one lookup of a new socket (sock_diag + /proc walk, %d processes): median %.2f ms, "
        "p90 %.2f ms over %zu; walks that visited every process: %llu\n",
        processes, Percentile(lookupMs, 0.5), Percentile(lookupMs, 0.9), lookupMs.size(),
        static_cast<unsigned long long>(walksFull));
    std::printf("hints dropped: %llu\n",
                static_cast<unsigned long long>(tracker.Owners().HintsDropped()));
    return 0;
}
