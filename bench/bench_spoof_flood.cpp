// A flood from spoofed sources into the real window: every datagram comes
// from a source address never seen before (100.64.0.0/10, counting up),
// ICMP echo requests and UDP in turn, evenly paced, from the peer end of a
// veth pair of the benchmark's own namespaces. The window captures on the
// local end, with its 连接 window closed and then open. Measured: the
// kernel's drops, the program's RSS at the start, the middle and the end of
// the flood, how long the clock went without a new second, and how long Stop
// takes afterwards. Needs root; nothing leaves the namespaces (the local one
// has no route to the sources, so its answers go nowhere).
//
//   bench_spoof_flood [--count N (1000000)] [--rate R (20000)] [--window closed|open|both]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListWidget>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/monitordlg.h"
#include "res/resource.h"
#include "tests/app/dialog_driver.h"
#include "tests/app/user_input.h"
#include "tests/support/network.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kFirstSource = 0x64400000;  // 100.64.0.0
constexpr uint32_t kSources = 1u << 22;        // the /10

uint16_t Checksum(const uint8_t* p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < n; i += 2)
        sum += static_cast<uint32_t>(p[i] << 8 | p[i + 1]);
    if (n % 2)
        sum += static_cast<uint32_t>(p[n - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void Put32(uint8_t* p, uint32_t v) {
    Put16(p, static_cast<uint16_t>(v >> 16));
    Put16(p + 2, static_cast<uint16_t>(v));
}

// Datagram i: ICMP echo request when even, UDP to port 9999 when odd, from
// source kFirstSource + i. 60 bytes either way.
size_t Build(uint8_t* out, uint32_t i, uint32_t target) {
    constexpr size_t kSize = 60;
    std::memset(out, 0, kSize);
    const bool icmp = i % 2 == 0;
    out[0] = 0x45;
    Put16(out + 2, kSize);
    out[8] = 64;
    out[9] = icmp ? 1 : 17;
    Put32(out + 12, kFirstSource + i % kSources);
    Put32(out + 16, target);
    Put16(out + 10, Checksum(out, 20));
    uint8_t* l4 = out + 20;
    std::memcpy(l4 + 8, "quorvelan spoofed flood", 23);
    if (icmp) {
        l4[0] = 8;  // echo request
        Put16(l4 + 4, static_cast<uint16_t>(i >> 16));
        Put16(l4 + 6, static_cast<uint16_t>(i));
        Put16(l4 + 2, Checksum(l4, kSize - 20));
    } else {
        Put16(l4, static_cast<uint16_t>(1024 + i % 60000));
        Put16(l4 + 2, 9999);
        Put16(l4 + 4, kSize - 20);  // no checksum: allowed over IPv4
    }
    return kSize;
}

// The sender, inside the peer namespace. Prints how many it sent.
int Send(const char* targetText, long count, long rate) {
    in_addr target{};
    if (inet_pton(AF_INET, targetText, &target) != 1)
        return 2;
    const int s = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (s < 0) {
        std::perror("bench_spoof_flood: raw socket");
        return 1;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr = target;
    constexpr long kBatch = 32;
    uint8_t packets[kBatch][64];
    mmsghdr msgs[kBatch] = {};
    iovec iov[kBatch];
    for (long k = 0; k < kBatch; ++k) {
        msgs[k].msg_hdr.msg_iov = &iov[k];
        msgs[k].msg_hdr.msg_iovlen = 1;
        msgs[k].msg_hdr.msg_name = &to;
        msgs[k].msg_hdr.msg_namelen = sizeof to;
    }
    const auto start = Clock::now();
    long sent = 0;
    while (sent < count) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const long due = std::min(count, static_cast<long>(elapsed * static_cast<double>(rate)));
        if (sent >= due) {
            std::this_thread::sleep_until(
                start + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(static_cast<double>(sent + 1) / rate)));
            continue;
        }
        const long batch = std::min(kBatch, due - sent);
        for (long k = 0; k < batch; ++k)
            iov[k] = {packets[k],
                      Build(packets[k], static_cast<uint32_t>(sent + k), ntohl(target.s_addr))};
        const int n = sendmmsg(s, msgs, static_cast<unsigned>(batch), 0);
        if (n > 0)
            sent += n;
    }
    close(s);
    std::printf("%ld\n", sent);
    return 0;
}

long RssKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

// Runs the event loop for `ms`.
void Pump(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Run {
    bool window = false;
    long sent = 0;
    uint64_t received = 0, kernelDrops = 0;
    double floodSeconds = 0;
    long rssStart = 0, rssHalf = 0, rssEnd = 0, rssPeak = 0;
    long clockGapMs = 0;  // the longest time the clock showed one second
    double stopMs = 0;
    size_t conversations = 0;
};

Run Flood(const TestNetwork& net, const std::string& self, bool window, long count, long rate) {
    Run r;
    r.window = window;
    CMonitorDlg dlg;
    RunModalWith(dlg, [&] {
        if (window)
            input::ChooseFromContextMenu(dlg.window(), QStringLiteral("连接..."));
        auto* box = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LOCAL_ADDRESSES));
        for (int i = 0; i < box->count(); ++i) {
            if (box->item(i)->text().toStdString() == net.localAddress)
                input::Click(box->viewport(), box->visualItemRect(box->item(i)).center());
        }
        input::Click(dlg.GetDlgItem(IDC_START));
        if (!dlg.Capture().CaptureThreadRunning()) {
            std::fprintf(stderr, "bench_spoof_flood: the capture did not start\n");
            return;
        }
        Pump(1000);
        r.rssStart = RssKiB();
        const std::string command = "ip netns exec " + net.PeerName() + " " + self + " --send " +
                                    net.localAddress + " " + std::to_string(count) + " " +
                                    std::to_string(rate);
        FILE* sender = popen(command.c_str(), "r");
        const int fd = fileno(sender);
        QElapsedTimer flood;
        flood.start();
        QElapsedTimer sameSecond;
        sameSecond.start();
        const auto clockText = [&] { return dlg.m_clock.GetWindowText(); };
        std::string shown = clockText();
        const double halfway = static_cast<double>(count) / static_cast<double>(rate) / 2;
        for (;;) {
            Pump(50);
            const std::string now = clockText();
            if (now != shown) {
                r.clockGapMs = std::max<long>(r.clockGapMs, sameSecond.restart());
                shown = now;
            }
            const long rss = RssKiB();
            r.rssPeak = std::max(r.rssPeak, rss);
            if (r.rssHalf == 0 && flood.elapsed() >= halfway * 1000)
                r.rssHalf = rss;
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 0) > 0)
                break;  // the count is out: it has finished
        }
        r.floodSeconds = static_cast<double>(flood.elapsed()) / 1000;
        char line[64] = {};
        if (std::fgets(line, sizeof line, sender) != nullptr)
            r.sent = std::atol(line);
        pclose(sender);
        // What is still on its way in: until nothing more comes for a second.
        uint64_t last = ~uint64_t{0};
        while (dlg.Capture().Figures().received != last) {
            last = dlg.Capture().Figures().received;
            Pump(1000);
        }
        r.rssEnd = RssKiB();
        if (window && dlg.ConversationsWindow())
            r.conversations = static_cast<size_t>(dlg.ConversationsWindow()->Model()->rowCount());
        QElapsedTimer stop;
        stop.start();
        input::Click(dlg.GetDlgItem(IDC_STOP));
        r.stopMs = static_cast<double>(stop.nsecsElapsed()) / 1e6;
        const CaptureFigures f = dlg.Capture().Figures();
        r.received = f.received;
        r.kernelDrops = f.kernelDrops;
    });
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--send") == 0)
        return Send(argv[2], std::atol(argv[3]), std::atol(argv[4]));
    long count = 1000000, rate = 20000;
    std::string windows = "both";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--count")
            count = std::atol(argv[i + 1]);
        else if (a == "--rate")
            rate = std::atol(argv[i + 1]);
        else if (a == "--window")
            windows = argv[i + 1];
    }
    if (count <= 0 || rate <= 0 ||
        (windows != "open" && windows != "closed" && windows != "both")) {
        std::fprintf(
            stderr,
            "usage: bench_spoof_flood [--count N] [--rate R] [--window closed|open|both]\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string why;
    auto net = TestNetwork::Create(&why);
    if (!net) {
        std::fprintf(stderr, "bench_spoof_flood: %s\n", why.c_str());
        return 1;
    }
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return 1;
    QApplication app(argc, argv);
    std::printf("%ld datagrams at %ld/s from as many new sources, ICMP and UDP in turn\n\n", count,
                rate);
    std::printf(
        "| 连接 window | sent | received | kernel drops | flood s | RSS start / half / end / "
        "peak MiB | longest second of the clock | Stop | lines |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    for (const bool window : {false, true}) {
        if ((window && windows == "closed") || (!window && windows == "open"))
            continue;
        const Run r = Flood(*net, self, window, count, rate);
        std::printf(
            "| %s | %ld | %llu | %llu | %.1f | %.1f / %.1f / %.1f / %.1f | %ld ms | %.1f ms "
            "| %zu |\n",
            window ? "open" : "closed", r.sent, static_cast<unsigned long long>(r.received),
            static_cast<unsigned long long>(r.kernelDrops), r.floodSeconds, r.rssStart / 1024.0,
            r.rssHalf / 1024.0, r.rssEnd / 1024.0, r.rssPeak / 1024.0, r.clockGapMs, r.stopMs,
            r.conversations);
        std::fflush(stdout);
    }
    return 0;
}
