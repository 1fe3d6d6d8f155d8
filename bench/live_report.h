#pragma once

// The tables: each tool alone, or all beside each other, one line a size
// and rate with the median run's figures.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/live_bench.h"
#include "bench/live_beside.h"
#include "bench/live_quorvelan.h"
#include "bench/live_tools.h"

namespace live {

inline std::string RecordedLine(const Recorded& r) {
    char text[256];
    std::snprintf(text, sizeof text, "recorded %llu datagrams (%llu bytes), %llu left out%s%s",
                  static_cast<unsigned long long>(r.datagrams),
                  static_cast<unsigned long long>(r.bytes),
                  static_cast<unsigned long long>(r.missed), r.fault ? ", write failed: " : "",
                  r.fault ? std::strerror(r.fault) : "");
    return text;
}

// "1234" or, for latency that was not measured, "-".
inline std::string Us(double us) {
    if (us < 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", us);
    return text;
}

inline std::string Percent(long part, long whole) {
    if (part < 0 || whole <= 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * double(part) / double(whole));
    return text;
}

inline std::string RateName(long rate) {
    return rate > 0 ? std::to_string(rate) : "unpaced";
}

inline void RunAlone(Bench& b, const std::vector<int>& sizes, const std::vector<long>& rates,
                     double seconds, int runs, const std::string& tools,
                     const std::vector<bool>& records) {
    if (b.busy)
        std::printf("each tool alone on the flood, %d CPU-bound processes beside it\n", b.busy);
    else
        std::printf("each tool alone on the flood\n");
    const char* header = "%-21s %4s %7s %8s %8s %7s %9s %9s %8s %7s %7s %9s %9s %8s\n";
    std::printf(header, "tool", "size", "rate", "offered", "received", "drops", "flood", "in all",
                "after", "flood%", "all%", "lat50", "lat99", "cpu/1k");
    std::printf(header, "", "B", "/s", "", "", "", "shown", "shown", "flood", "", "", "us", "us",
                "ms");
    for (int size : sizes) {
        for (long rate : rates) {
            for (Tool tool :
                 {kTcpdumpWrite, kTcpdumpPrint, kTsharkPrint, kQuorvelan, kQuorvelanRecording}) {
                const bool ours = tool == kQuorvelan || tool == kQuorvelanRecording;
                const bool record = tool == kQuorvelanRecording;
                if ((tool == kTsharkPrint && !b.tshark) ||
                    tools.find("wltqq"[tool]) == std::string::npos ||
                    (ours && std::find(records.begin(), records.end(), record) == records.end()))
                    continue;
                std::vector<ToolResult> results;
                for (int i = 0; i < runs; ++i) {
                    results.push_back(ours ? RunQuorvelan(b, size, rate, seconds, record)
                                           : RunExternalTool(b, tool, size, rate, seconds));
                }
                // The run with the median count: shown while the flood lasted, or
                // for tcpdump -w, received.
                std::sort(results.begin(), results.end(), [](const auto& x, const auto& y) {
                    return x.floodShown != y.floodShown ? x.floodShown < y.floodShown
                                                        : x.received < y.received;
                });
                const ToolResult& m = results[results.size() / 2];
                const long work = m.shown >= 0 ? m.shown : m.received;
                char cpu[32] = "-";
                if (work > 0)
                    std::snprintf(cpu, sizeof cpu, "%.2f",
                                  1e3 * m.cpuSeconds / (static_cast<double>(work) / 1e3));
                auto count = [](long v) { return v < 0 ? std::string("-") : std::to_string(v); };
                const long after = m.shown >= 0 ? m.shown - m.floodShown : -1;
                std::printf("%-21s %4d %7s %8ld %8s %7s %9s %9s %8s %7s %7s %9s %9s %8s\n",
                            kToolNames[tool], size, RateName(rate).c_str(), m.offered,
                            count(m.received).c_str(), count(m.drops).c_str(),
                            count(m.floodShown).c_str(), count(m.shown).c_str(),
                            count(after).c_str(), Percent(m.floodShown, m.offered).c_str(),
                            Percent(m.shown, m.offered).c_str(), Us(m.latencyMedianUs).c_str(),
                            Us(m.latencyP99Us).c_str(), cpu);
                if (ours && m.batches > 0) {
                    std::printf("%-21s rows crossed in %llu batches, %.0f rows each\n", "",
                                static_cast<unsigned long long>(m.batches),
                                static_cast<double>(m.shown) / static_cast<double>(m.batches));
                }
                if (m.recorded.on)
                    std::printf("%-21s %s\n", "", RecordedLine(m.recorded).c_str());
                std::fflush(stdout);
            }
        }
    }
}

// All tools on the same flood, scenario by scenario, then the highest rate
// each went without kernel drops.
inline void RunBeside(Bench& bench, const std::string& scenarios, const std::vector<bool>& records,
                      const std::vector<int>& sizes, const std::vector<long>& rates, double seconds,
                      int runs) {
    if (bench.busy)
        std::printf("%d CPU-bound processes beside the tools\n", bench.busy);
    const char* names[] = {"(a) filter rejects all", "(b) filter passes all",
                           "(c) (b) + sort/200ms"};
    const char* recordingNames[] = {"(a) rejects + record", "(b) passes + record",
                                    "(c) (b)+sort + record"};
    const char* header =
        "%-22s %4s %7s %8s %8s %7s %9s %8s %8s %6s %7s %6s %7s %6s %6s %5s %6s %4s\n";
    const char* line =
        "%-22s %4d %7ld %8ld %8ld %7ld %9llu %8llu %8llu %6s %7.0f %6s %7s %6s %6s "
        "%5.0f %6.2f %3.0f%%\n";
    std::printf(header, "scenario", "size", "rate", "offered", "tcpdump", "tdrops", "quorvelan",
                "rows", "drops", "seen%", "rows/s", "peer%", "tshark%", "lat50", "lat99", "tick+",
                "sortms", "cpu");
    std::printf(header, "", "B", "/s", "", "-w", "", "", "", "", "", "", "", "", "us", "us", "ms",
                "", "");
    std::vector<std::string> summaries;
    for (Scenario sc : {kRejectAll, kPassAll, kPassAllWhileSorting}) {
        if (scenarios.find(static_cast<char>('a' + sc)) == std::string::npos)
            continue;
        for (const bool record : records)
            for (int size : sizes) {
                const char* name = record ? recordingNames[sc] : names[sc];
                long bestOurs = -2, bestTcpdump = -2;  // -2: no rate went without drops
                double bestOursOffered = 0, bestTcpdumpOffered = 0;
                for (long rate : rates) {
                    std::vector<Result> results;
                    for (int i = 0; i < runs; ++i)
                        results.push_back(RunOnce(bench, sc, size, rate, seconds, record));
                    std::sort(results.begin(), results.end(),
                              [](const Result& a, const Result& b) { return a.seen < b.seen; });
                    const Result& m = results[results.size() / 2];
                    const double rowsPerSec =
                        m.floodSeconds > 0 ? double(m.floodRows) / m.floodSeconds : 0;
                    const bool passes = sc != kRejectAll;
                    std::printf(line, name, size, rate, m.offered, m.tcpdumpSeen, m.tcpdumpDrops,
                                static_cast<unsigned long long>(m.seen),
                                static_cast<unsigned long long>(m.rows),
                                static_cast<unsigned long long>(m.drops),
                                Percent(long(m.seen), m.tcpdumpSeen).c_str(), rowsPerSec,
                                passes ? Percent(long(m.rows), m.peerSeen).c_str() : "-",
                                passes ? Percent(long(m.rows), m.tsharkLines).c_str() : "-",
                                Us(m.latencyMedianUs).c_str(), Us(m.latencyP99Us).c_str(),
                                m.worstTickLateMs, m.worstSortMs, 100.0 * m.cpu / m.seconds);
                    if (m.recorded.on)
                        std::printf("%-22s %s\n", "", RecordedLine(m.recorded).c_str());
                    std::fflush(stdout);
                    // Ranked by what the sender managed, since "unpaced" has no nominal rate.
                    const double offeredPerSec = double(m.offered) / seconds;
                    if (m.drops == 0 && offeredPerSec >= bestOursOffered) {
                        bestOurs = rate;
                        bestOursOffered = offeredPerSec;
                    }
                    if (m.tcpdumpDrops == 0 && offeredPerSec >= bestTcpdumpOffered) {
                        bestTcpdump = rate;
                        bestTcpdumpOffered = offeredPerSec;
                    }
                }
                auto best = [](long rate, double offered) {
                    if (rate == -2)
                        return std::string("none");
                    char text[64];
                    std::snprintf(text, sizeof text, "%s (%.0f/s offered)", RateName(rate).c_str(),
                                  offered);
                    return std::string(text);
                };
                char text[256];
                std::snprintf(text, sizeof text, "%-22s %4d B: quorvelan %-28s tcpdump -w %s", name,
                              size, best(bestOurs, bestOursOffered).c_str(),
                              best(bestTcpdump, bestTcpdumpOffered).c_str());
                summaries.push_back(text);
            }
    }
    if (!summaries.empty()) {
        std::printf("\nhighest offered rate without kernel drops (median runs):\n");
        for (const auto& s : summaries)
            std::printf("%s\n", s.c_str());
    }
}

}  // namespace live
