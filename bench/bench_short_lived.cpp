// Short-lived programs against the owner lookups, in the 连接 window as a
// person sees it: the real main window (offscreen Qt, in this process)
// captures on the test network's local address with its 连接 window open,
// and the share is read from that window's cells, program and PID. Probes
// run as nobody, each sending one UDP datagram or opening one TCP connection
// to a server in the peer namespace, over IPv4 or IPv6, holding the socket
// L ms after its first datagram, then closing it and exiting. Reports, per
// family, protocol and lifetime, the share named, and where the time went:
// from the datagram's capture stamp to the tap (the capture's delivery), and
// to the owner found.
//
//   bench_short_lived [--tracker] [--no-hints] [--each N] [--gap-ms G] [--busy N]
//
// --tracker reads the conversation tracker without the window (the capture
// loop and batches driven here as the window wires them); --no-hints (with
// --tracker) leaves the capture thread's hints out: conversations are looked
// up only when the interface thread's batch asks. --busy N runs N CPU-bound
// processes beside it, as a machine that works while its user watches.
// Root (namespaces, capture); results in bench/results.
#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>

#include <QApplication>
#include <QEventLoop>
#include <QListWidget>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "app/monitordlg.h"
#include "capture/endpoint.h"
#include "res/resource.h"
#include "talk/conversation_tap.h"
#include "talk/texts.h"
#include "tests/app/dialog_driver.h"
#include "tests/app/user_input.h"
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

// Work beside the benchmark: CPU-bound processes, as `yes > /dev/null`.
std::vector<pid_t> StartBusy(int n) {
    std::vector<pid_t> busy;
    for (int i = 0; i < n; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_NAME, "qvbusy");
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (;;)
                asm volatile("");
        }
        if (pid > 0)
            busy.push_back(pid);
    }
    return busy;
}

void EndBusy(const std::vector<pid_t>& busy) {
    for (const pid_t pid : busy) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
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
    uint64_t News() const override { return inner_->News(); }
    std::vector<int64_t> delaysNs_;

  private:
    BatchTap* inner_;
};

struct Family {
    bool v6 = false;
    std::string local, peer;  // addresses, as text
    IpAddress localIp, peerIp;
};

struct ProbeRun {
    bool tcp = false;
    bool v6 = false;
    int holdMs = 0;
    pid_t pid = 0;
    ConversationKey key;
    int64_t foundNs = 0;  // when the owner service first had it found
    int64_t firstNs = 0;  // its conversation's first datagram, as captured
};

// What was shown for one probe.
struct Outcome {
    bool named = false;   // its program and PID
    bool exited = false;  // and that it has ended
    std::string shown;    // the program's cell (or phrase), for a miss
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

void Pump(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

using Clock = std::chrono::steady_clock;

struct Bench {
    std::string self;
    TestNetwork* net = nullptr;
    std::vector<Family> families;
    int each = 20;
    int gapMs = 20;

    std::mutex runsMutex;
    std::vector<ProbeRun> runs;
    std::atomic<ConversationTracker*> tracker{nullptr};
    uint64_t hintsDropped = 0;

    // For the tracker's owner service: when each probe's owner was first found.
    void OwnersChanged() {
        ConversationTracker* t = tracker.load();
        if (t == nullptr)
            return;
        const int64_t now = RealNs();
        std::lock_guard lock(runsMutex);
        for (ProbeRun& r : runs) {
            if (r.foundNs == 0 && t->Owners().Result(r.key).state == OwnerState::kFound)
                r.foundNs = now;
        }
    }

    ConversationTracker::Options Options() {
        ConversationTracker::Options options;
        options.owners.changed = [this] { OwnersChanged(); };
        return options;
    }

    // Every lifetime, both protocols, each family, `each` of each, in a fixed
    // shuffled order, one started every `gapMs`; `pump` keeps the interface
    // thread's work going meanwhile. Then the last ones end.
    std::vector<Child> RunProbes(const std::function<void(Clock::time_point)>& pump) {
        const int holds[] = {1, 10, 20, 50, 100, 200};
        struct Planned {
            bool tcp;
            size_t family;
            int hold;
        };
        std::vector<Planned> plan;
        for (const int h : holds)
            for (size_t f = 0; f < families.size(); ++f)
                for (int i = 0; i < each; ++i) {
                    plan.push_back({false, f, h});
                    plan.push_back({true, f, h});
                }
        std::mt19937 random(20261209);
        std::shuffle(plan.begin(), plan.end(), random);
        std::vector<Child> probes;
        probes.reserve(plan.size());
        for (const Planned& p : plan) {
            const Family& fam = families[p.family];
            const auto started = Clock::now();
            probes.push_back(
                Spawn(self, {"--probe", p.tcp ? "tcp" : "udp", fam.peer, std::to_string(p.hold)}));
            const uint16_t port = static_cast<uint16_t>(std::atoi(probes.back().Line().c_str()));
            {
                std::lock_guard lock(runsMutex);
                ProbeRun r;
                r.tcp = p.tcp;
                r.v6 = fam.v6;
                r.holdMs = p.hold;
                r.pid = probes.back().pid;
                r.key = ConversationKey{p.tcp ? kProtocolTcp : kProtocolUdp, fam.localIp, port,
                                        fam.peerIp, p.tcp ? kServerTcp : kServerUdp};
                runs.push_back(r);
            }
            pump(started + std::chrono::milliseconds(gapMs));
        }
        // The last ones end, and the service notices that their programs did.
        pump(Clock::now() + std::chrono::seconds(3));
        for (Child& p : probes)
            p.End();
        pump(Clock::now() + std::chrono::milliseconds(1500));
        return probes;
    }

    // Before the tracker goes: when each probe's conversation began.
    void NoteFirstDatagrams(ConversationTracker& t) {
        std::lock_guard lock(runsMutex);
        for (ProbeRun& r : runs) {
            if (const Conversation* c = t.Table().Find(r.key))
                r.firstNs = c->counts.firstNs;
        }
        hintsDropped = t.Owners().HintsDropped();
    }
};

bool Judged(const OwnerInfo& o, pid_t pid) {
    return o.pid == pid && o.program == kProbeName &&
           (o.state == OwnerState::kFound || o.state == OwnerState::kClosed);
}

// The capture loop and the batches driven here, as the window wires them,
// without the window: the tracker's own answer.
std::map<size_t, Outcome> RunTracker(Bench& b, bool hints, std::vector<double>* delaysMs) {
    ConversationTracker tracker(b.Options());
    b.tracker = &tracker;
    ConversationTap plainTap([&](const ConversationDeltas& d) { tracker.Merge(d); });
    TimedTap tap(hints ? static_cast<BatchTap*>(&tracker.Tap()) : &plainTap);
    auto endpoint = MakeLiveEndpoint();
    if (endpoint->Open(b.net->localAddress) != 0) {
        std::fprintf(stderr, "bench_short_lived: cannot capture: %s\n",
                     endpoint->ErrorText().c_str());
        std::exit(1);
    }
    tracker.BeginCapture(false, b.net->localAddress);
    tap.Begin(b.net->localAddress);
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
    b.RunProbes(pump);
    endpoint->Interrupt();
    capture.join();
    endpoint->Close();
    b.tracker = nullptr;
    b.NoteFirstDatagrams(tracker);

    std::map<size_t, Outcome> outcomes;
    std::lock_guard lock(b.runsMutex);
    for (size_t i = 0; i < b.runs.size(); ++i) {
        const OwnerInfo o = tracker.Owners().Result(b.runs[i].key);
        outcomes[i] = {Judged(o, b.runs[i].pid), Judged(o, b.runs[i].pid) && o.exited,
                       OwnerPhrase(o)};
    }
    for (const int64_t d : tap.delaysNs_)
        delaysMs->push_back(static_cast<double>(d) / 1e6);
    return outcomes;
}

// The real window: Start on the local address with 连接 open; what its cells say.
std::map<size_t, Outcome> RunWindow(Bench& b, std::vector<double>* delaysMs) {
    std::map<size_t, Outcome> outcomes;
    CMonitorDlg dlg(b.Options());
    b.tracker = &dlg.Conversations();
    // The window's own tap, timed on the way.
    TimedTap tap(&dlg.Conversations().Tap());
    dlg.Capture().SetBatchTap(&tap);
    bool ran = false;
    RunModalWith(dlg, [&] {
        input::ChooseFromContextMenu(dlg.window(), QStringLiteral("连接..."));
        CConversationsDlg* conv = dlg.ConversationsWindow();
        auto* box = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LOCAL_ADDRESSES));
        for (int i = 0; i < box->count(); ++i) {
            if (box->item(i)->text().toStdString() == b.net->localAddress)
                input::Click(box->viewport(), box->visualItemRect(box->item(i)).center());
        }
        input::Click(dlg.GetDlgItem(IDC_START));
        if (conv == nullptr || !conv->IsOpen() || !dlg.Capture().CaptureThreadRunning()) {
            std::fprintf(stderr, "bench_short_lived: the window did not start capturing\n");
            return;
        }
        b.RunProbes([](Clock::time_point until) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            Pump(static_cast<int>(std::max<int64_t>(left.count(), 0)));
        });
        conv->Refresh();
        using M = ConversationModel;
        const ConversationModel& m = *conv->Model();
        // The probes' lines, by local port and remote address and port.
        std::map<std::tuple<uint16_t, std::string, uint16_t>, int> rows;
        for (int r = 0; r < m.rowCount(); ++r) {
            rows[{static_cast<uint16_t>(std::atoi(m.CellText(r, M::kLocalPort).c_str())),
                  m.CellText(r, M::kRemoteAddr),
                  static_cast<uint16_t>(std::atoi(m.CellText(r, M::kRemotePort).c_str()))}] = r;
        }
        std::lock_guard lock(b.runsMutex);
        for (size_t i = 0; i < b.runs.size(); ++i) {
            const ProbeRun& run = b.runs[i];
            const auto it =
                rows.find({run.key.localPort, FormatIp(run.key.remoteAddr), run.key.remotePort});
            Outcome o;
            if (it == rows.end()) {
                o.shown = "(no line)";
            } else {
                o.shown = m.CellText(it->second, M::kProgram);
                o.named = m.CellText(it->second, M::kPid) == std::to_string(run.pid) &&
                          o.shown.find(kProbeName) != std::string::npos;
                o.exited = o.named && o.shown.find("已退出") != std::string::npos;
            }
            outcomes[i] = o;
        }
        ran = true;
        input::Click(dlg.GetDlgItem(IDC_STOP));
    });
    b.tracker = nullptr;
    b.NoteFirstDatagrams(dlg.Conversations());
    if (!ran)
        std::exit(1);
    for (const int64_t d : tap.delaysNs_)
        delaysMs->push_back(static_cast<double>(d) / 1e6);
    return outcomes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--serve") == 0)
        return Serve(argv[2], kServerTcp, kServerUdp);
    if (argc == 5 && std::strcmp(argv[1], "--probe") == 0)
        return ShortProbe(argv[2], argv[3], std::atoi(argv[4]));
    bool hints = true;
    bool window = true;
    int busyCount = 0;
    Bench b;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-hints") == 0)
            hints = false;
        else if (std::strcmp(argv[i], "--tracker") == 0)
            window = false;
        else if (std::strcmp(argv[i], "--each") == 0 && i + 1 < argc)
            b.each = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--gap-ms") == 0 && i + 1 < argc)
            b.gapMs = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--busy") == 0 && i + 1 < argc)
            busyCount = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr,
                         "usage: bench_short_lived [--tracker] [--no-hints] [--each N] "
                         "[--gap-ms G] [--busy N]\n");
            return 2;
        }
    }
    if (!hints && window) {
        std::fprintf(stderr, "bench_short_lived: --no-hints needs --tracker\n");
        return 2;
    }
    b.self = SelfPath(argv[0]);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The window keeps its settings and usage history: in a folder of this run's own.
    char home[] = "/tmp/qvshortlived.XXXXXX";
    if (mkdtemp(home) == nullptr)
        return 1;
    for (const char* v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        setenv(v, home, 1);

    std::string why;
    auto net = TestNetwork::Create(&why);
    if (!net) {
        std::fprintf(stderr, "bench_short_lived: %s\n", why.c_str());
        return 1;
    }
    b.net = &*net;
    {
        Family f;
        f.local = net->localAddress;
        f.peer = net->peerAddress;
        ParseIp(f.local, &f.localIp);
        ParseIp(f.peer, &f.peerIp);
        b.families.push_back(f);
    }
    if (net->AddIpv6(&why)) {
        Family f;
        f.v6 = true;
        f.local = net->localAddress6;
        f.peer = net->peerAddress6;
        ParseIp(f.local, &f.localIp);
        ParseIp(f.peer, &f.peerIp);
        b.families.push_back(f);
    } else {
        std::fprintf(stderr, "bench_short_lived: IPv4 only: %s\n", why.c_str());
    }
    std::vector<Child> servers;
    for (const Family& f : b.families) {
        servers.push_back(Spawn(b.self, {"--serve", f.peer}, net->PeerName()));
        if (servers.back().Line() != "ready") {
            std::fprintf(stderr, "bench_short_lived: no server on %s\n", f.peer.c_str());
            return 1;
        }
    }
    const std::vector<pid_t> busy = StartBusy(busyCount);
    QApplication app(argc, argv);

    std::vector<double> delays;
    const std::map<size_t, Outcome> outcomes =
        window ? RunWindow(b, &delays) : RunTracker(b, hints, &delays);

    // The socket-to-process step alone: a probe holding its socket, looked
    // up by a lookup object that knows no holder yet (sock_diag, then /proc).
    std::vector<double> lookupMs;
    uint64_t walksFull = 0;
    for (int i = 0; i < 15; ++i) {
        Child held = Spawn(b.self, {"--probe", "udp", net->peerAddress, "300"});
        const uint16_t port = static_cast<uint16_t>(std::atoi(held.Line().c_str()));
        OwnerQuery q;
        q.key = ConversationKey{kProtocolUdp, b.families[0].localIp, port, b.families[0].peerIp,
                                kServerUdp};
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
    EndBusy(busy);
    for (Child& s : servers)
        s.Kill();
    std::system((std::string("rm -rf ") + home).c_str());

    struct Share {
        int named = 0, exited = 0, total = 0;
        std::vector<double> latencyMs;
    };
    // By family (IPv6?), protocol (TCP?), lifetime; and pooled over 10-200 ms.
    std::map<std::tuple<bool, bool, int>, Share> shares;
    std::map<bool, Share> pooled, quick;  // by family: 10-200 ms, 1 ms
    Share allPooled, allQuick;
    std::lock_guard lock(b.runsMutex);
    for (size_t i = 0; i < b.runs.size(); ++i) {
        const ProbeRun& r = b.runs[i];
        const Outcome& o = outcomes.at(i);
        Share& s = shares[{r.v6, r.tcp, r.holdMs}];
        ++s.total;
        s.named += o.named;
        s.exited += o.exited;
        if (r.foundNs != 0 && r.firstNs != 0)
            s.latencyMs.push_back(static_cast<double>(r.foundNs - r.firstNs) / 1e6);
        Share* const family = r.holdMs >= 10 ? &pooled[r.v6] : &quick[r.v6];
        Share* const both = r.holdMs >= 10 ? &allPooled : &allQuick;
        for (Share* p : {family, both}) {
            ++p->total;
            p->named += o.named;
        }
        if (!o.named && r.holdMs >= 50)
            std::printf("missed: %s %s held %d ms, pid %d: %s\n", r.v6 ? "IPv6" : "IPv4",
                        r.tcp ? "TCP" : "UDP", r.holdMs, static_cast<int>(r.pid), o.shown.c_str());
    }
    std::printf(
        "mode: %s; %d probes of each family, protocol and lifetime, one every %d ms; "
        "%d CPU-bound processes beside\n",
        window  ? "the 连接 window's cells"
        : hints ? "tracker, hints from the capture thread"
                : "tracker, interface thread's batches only",
        b.each, b.gapMs, busyCount);
    std::printf("%-5s %-5s %8s %8s %8s %22s\n", "fam", "proto", "held ms", "named", "已退出",
                "first datagram to found (ms, median / p90)");
    for (const auto& [what, s] : shares) {
        std::printf("%-5s %-5s %8d %5d/%-3d %5d/%-3d %10.1f / %.1f\n",
                    std::get<0>(what) ? "IPv6" : "IPv4", std::get<1>(what) ? "TCP" : "UDP",
                    std::get<2>(what), s.named, s.total, s.exited, s.named,
                    Percentile(s.latencyMs, 0.5), Percentile(s.latencyMs, 0.9));
    }
    const auto share = [](const char* what, const Share& s) {
        std::printf("%s: %d/%d named (%.1f %%)\n", what, s.named, s.total,
                    100.0 * s.named / std::max(1, s.total));
    };
    for (const auto& [v6, s] : pooled)
        share(v6 ? "IPv6 10-200 ms pooled" : "IPv4 10-200 ms pooled", s);
    share("both families 10-200 ms pooled", allPooled);
    for (const auto& [v6, s] : quick)
        share(v6 ? "IPv6 1 ms" : "IPv4 1 ms", s);
    share("both families 1 ms", allQuick);
    std::printf("capture stamp to tap (ms): median %.2f, p90 %.2f, max %.2f over %zu datagrams\n",
                Percentile(delays, 0.5), Percentile(delays, 0.9), Percentile(delays, 1.0),
                delays.size());
    std::printf(
        "one lookup of a new socket (sock_diag + /proc walk, %d processes): median %.2f ms, "
        "p90 %.2f ms over %zu; walks that visited every process: %llu\n",
        processes, Percentile(lookupMs, 0.5), Percentile(lookupMs, 0.9), lookupMs.size(),
        static_cast<unsigned long long>(walksFull));
    std::printf("hints dropped: %llu\n", static_cast<unsigned long long>(b.hintsDropped));
    return 0;
}
