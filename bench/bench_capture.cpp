// Cost of one datagram on the capture thread: (a) dropped by the filter,
// (b) turned into a row up to the hand-off. Heap allocations are counted.
// Each also with the counts the capture thread keeps for the statistics
// ("_Counted"), beside the same work without them.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "capture/counters.h"
#include "capture/decode.h"
#include "capture/session.h"
#include "tests/allocation_count.h"
#include "tests/capture/packet_builder.h"

namespace {

using namespace testpkt;

std::vector<uint8_t> SampleDatagram() {
    return Datagram(Ip{}, Tcp(40000, 443, 0x18, Bytes("GET /index.html HTTP/1.1\r\nHost: x\r\n")));
}

template <bool kCounted>
void Run(benchmark::State& state, const FilterSettings& filter) {
    const auto d = SampleDatagram();
    std::vector<uint8_t> buffer(kReceiveBufferSize);
    PacketText text;
    RowWorkspace ws;
    SharedFilterSettings shared;
    shared.Store(filter);
    CaptureCounters counters;
    uint64_t rows = 0;
    const uint64_t before = g_allocations.load();
    for (auto _ : state) {
        std::memcpy(buffer.data(), d.data(), d.size());  // what the receive does
        const int length = static_cast<int>(d.size());
        if constexpr (kCounted) {
            counters.received.Add();
        }
        DecodePacket(buffer.data(), length, text);
        const FilterSettings f = shared.Load();
        EventRow row;
        const bool built =
            BuildEventRow(buffer.data(), length, text, f, "10.0.0.5", 1700000000, ws, row);
        // As the capture thread counts: a row once the hand-off has inserted it.
        if constexpr (kCounted) {
            if (built) {
                counters.rows.Add();
            } else if (length >= kMinIpv4Header) {
                counters.filtered.Add();
            }
        }
        rows += built;
        benchmark::DoNotOptimize(row);
        benchmark::DoNotOptimize(counters);
    }
    state.counters["allocs_per_datagram"] =
        benchmark::Counter(static_cast<double>(g_allocations.load() - before) /
                           static_cast<double>(state.iterations()));
    state.counters["rows"] = static_cast<double>(rows);
}

template <bool kCounted>
void BM_DatagramDroppedByFilter(benchmark::State& state) {
    FilterSettings f;
    f.monitoredPort = 9;  // nobody uses it
    f.RebuildTexts();
    Run<kCounted>(state, f);
}
BENCHMARK(BM_DatagramDroppedByFilter<false>)->Name("BM_DatagramDroppedByFilter");
BENCHMARK(BM_DatagramDroppedByFilter<true>)->Name("BM_DatagramDroppedByFilter_Counted");

template <bool kCounted>
void BM_DatagramToRow(benchmark::State& state) {
    Run<kCounted>(state, FilterSettings{});
}
BENCHMARK(BM_DatagramToRow<false>)->Name("BM_DatagramToRow");
BENCHMARK(BM_DatagramToRow<true>)->Name("BM_DatagramToRow_Counted");

}  // namespace

BENCHMARK_MAIN();
