// Live capture under load, beside or against tcpdump and tshark: two
// namespaces joined by a veth pair, a bounded UDP flood from the peer, and
// quorvelan's real capture path (live endpoint, capture thread, decoding,
// filter, hand-off, the real event list shown offscreen) on the same
// interface. Needs root.
//
//   bench_gui_live [--mode beside|alone] [--busy N (0)] [--seconds S (2)] [--runs N (5)]
//                  [--rates r1,r2,... (0 = as fast as the sender goes)] [--sizes 64,512]
//                  [--scenarios abc] [--idle S (3; 0 skips)] [--peers yes|no]
//                  [--tools wltq (alone: which of tcpdump -w, tcpdump -l, tshark, quorvelan)]
//                  [--record no|yes|both (quorvelan records every datagram to a pcapng file)]
//                  [--talk on|off|window (on)] [--conversations N (1)]
//                  [--ipv6 on|off (on)]
//
// beside: every tool captures the same flood at once, quorvelan among them.
// alone:  each tool in turn has the flood to itself (tcpdump -w /dev/null,
//         tcpdump -n -l, tshark -n -l, quorvelan), same sender, rates and
//         kernel buffer size.
// --busy N keeps N CPU-bound processes of ordinary priority running beside
// whichever tool is measured, from before its flood to the end of its run.
// --record yes: quorvelan's capture also records every datagram it receives,
// as 记录到文件... does, into a file in $QV_BENCH_DIR or the current directory
// (removed after each run); both: each quorvelan run without, then with it.
// --talk: quorvelan counts conversations and looks up their owners and host
// names as the program does (on), not at all (off), or also shows them in
// its 连接 window, refreshed twice a second (window). --conversations N
// spreads the flood over N destination ports: as many conversations.
// --ipv6 off: quorvelan's capture opens its IPv4 handle alone, without the
// IPv6 one beside it, to measure what the second handle costs the IPv4 path.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "bench/bench_list.h"
#include "bench/live_bench.h"
#include "bench/live_beside.h"
#include "bench/live_children.h"
#include "bench/live_report.h"
#include "bench/udp_flood.h"
#include "tests/support/network.h"

// Where a recording run writes: $QV_BENCH_DIR or the current directory.
std::string RecordPath() {
    const char* dir = std::getenv("QV_BENCH_DIR");
    return std::string(dir && *dir ? dir : ".") + "/quorvelan-bench-" + std::to_string(getpid()) +
           ".pcapng";
}

int main(int argc, char** argv) {
    if (argc == 7 && std::strcmp(argv[1], "--send") == 0) {
        // The peer's sender; prints the count.
        std::printf("%ld\n", FloodUdp(argv[2], std::atoi(argv[3]), std::atol(argv[4]),
                                      std::atof(argv[5]), Pacing::kBursts, std::atoi(argv[6])));
        return 0;
    }
    double seconds = 2;
    double idleSeconds = 3;
    int runs = 5;  // the median of five runs is reported
    std::string scenarios = "abc";
    bool peers = true;
    std::vector<long> rates = {1000, 10000, 50000, 100000, 400000, 0};
    std::vector<int> sizes = {64, 512};
    bool alone = false;
    int busy = 0;
    std::string tools = "wltq";           // tcpdump -w, tcpdump -l, tshark, quorvelan
    std::vector<bool> records = {false};  // quorvelan without a recording, with one
    live::Talk talk = live::Talk::kOn;
    int conversations = 1;
    bool ipv6 = true;
    auto list_of = [](const char* text, auto& out) {
        out.clear();
        std::stringstream in(text);
        for (std::string item; std::getline(in, item, ',');)
            out.push_back(static_cast<typename std::decay_t<decltype(out)>::value_type>(
                std::atol(item.c_str())));
    };
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        const bool known =
            i + 1 < argc &&
            (name == "--seconds" || name == "--runs" || name == "--idle" || name == "--scenarios" ||
             name == "--rates" || name == "--peers" || name == "--mode" || name == "--busy" ||
             name == "--sizes" || name == "--tools" || name == "--record" || name == "--talk" ||
             name == "--conversations" || name == "--ipv6");
        if (!known) {
            std::fprintf(stderr,
                         "usage: bench_gui_live [--mode beside|alone] [--busy N] [--seconds S] "
                         "[--runs N] [--rates r1,r2,...] [--sizes s1,s2] [--scenarios abc] "
                         "[--idle S] [--peers yes|no] [--tools wltq] [--record no|yes|both] "
                         "[--talk on|off|window] [--conversations N] [--ipv6 on|off]\n");
            return 2;
        }
        const char* value = argv[i + 1];
        if (name == "--seconds")
            seconds = std::atof(value);
        else if (name == "--runs")
            runs = std::max(1, std::atoi(value));
        else if (name == "--idle")
            idleSeconds = std::atof(value);
        else if (name == "--scenarios")
            scenarios = value;
        else if (name == "--peers")
            peers = std::strcmp(value, "no") != 0;
        else if (name == "--mode")
            alone = std::strcmp(value, "alone") == 0;
        else if (name == "--busy")
            busy = std::max(0, std::atoi(value));
        else if (name == "--rates")
            list_of(value, rates);
        else if (name == "--sizes")
            list_of(value, sizes);
        else if (name == "--tools")
            tools = value;
        else if (name == "--record")
            records = std::strcmp(value, "both") == 0  ? std::vector<bool>{false, true}
                      : std::strcmp(value, "yes") == 0 ? std::vector<bool>{true}
                                                       : std::vector<bool>{false};
        else if (name == "--talk")
            talk = std::strcmp(value, "off") == 0      ? live::Talk::kOff
                   : std::strcmp(value, "window") == 0 ? live::Talk::kWindow
                                                       : live::Talk::kOn;
        else if (name == "--conversations")
            conversations = std::clamp(std::atoi(value), 1, 50000);
        else if (name == "--ipv6")
            ipv6 = std::strcmp(value, "off") != 0;
    }
    char selfPath[4096] = {};
    const ssize_t len = readlink("/proc/self/exe", selfPath, sizeof selfPath - 1);
    const std::string self(selfPath, len > 0 ? static_cast<size_t>(len) : 0);
    const bool tshark = live::HaveProgram("tshark");
    if (!tshark)
        std::fprintf(stderr, "bench_gui_live: tshark not found, its column stays empty\n");
    std::string why;
    auto net = TestNetwork::Create(&why);
    if (!net) {
        std::fprintf(stderr, "bench_gui_live: %s\n", why.c_str());
        return 77;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ShownList shown;
    CSortListCtrl& list = shown.list;
    // Room for rows at up to 400,000 a second; later rows go unrecorded.
    live::Bench bench{
        *net,  self, list, tshark,        static_cast<size_t>(std::max(1.0, seconds + 1) * 400000),
        peers, busy, talk, conversations, RecordPath(),
        ipv6};
    const char* talkNames[] = {"off", "on", "shown in the 连接 window"};
    std::printf(
        "conversation table and lookups: %s; %d conversation%s in the flood; IPv6 handle %s\n",
        talkNames[static_cast<int>(talk)], conversations, conversations == 1 ? "" : "s",
        ipv6 ? "on" : "off");
    if (alone) {
        live::RunAlone(bench, sizes, rates, seconds, runs, tools, records);
        rusage ru{};
        getrusage(RUSAGE_SELF, &ru);
        std::printf("peak memory (max RSS): %ld KiB\n", ru.ru_maxrss);
        return 0;
    }
    live::RunBeside(bench, scenarios, records, sizes, rates, seconds, runs);
    if (idleSeconds > 0) {
        std::printf("\n");
        live::IdleAndPaused(bench, idleSeconds);
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("peak memory (max RSS): %ld KiB\n", ru.ru_maxrss);
    return 0;
}
