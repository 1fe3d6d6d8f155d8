// Cost of one datagram on the capture thread: (a) dropped by the filter,
// (b) turned into a row up to the hand-off. Heap allocations are counted.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "capture/decode.h"
#include "capture/session.h"
#include "tests/capture/packet_builder.h"

namespace {
std::atomic<uint64_t> g_allocations{0};
}

void* operator new(size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace {

using namespace testpkt;

std::vector<uint8_t> SampleDatagram() {
    return Datagram(Ip{}, Tcp(40000, 443, 0x18, Bytes("GET /index.html HTTP/1.1\r\nHost: x\r\n")));
}

void Run(benchmark::State& state, const FilterSettings& filter) {
    const auto d = SampleDatagram();
    std::vector<uint8_t> buffer(kReceiveBufferSize);
    PacketText text;
    RowWorkspace ws;
    SharedFilterSettings shared;
    shared.Store(filter);
    uint64_t rows = 0;
    const uint64_t before = g_allocations.load();
    for (auto _ : state) {
        std::memcpy(buffer.data(), d.data(), d.size());  // what the receive does
        DecodePacket(buffer.data(), static_cast<int>(d.size()), text);
        const FilterSettings f = shared.Load();
        EventRow row;
        rows += BuildEventRow(buffer.data(), static_cast<int>(d.size()), text, f, "10.0.0.5",
                              1700000000, ws, row);
        benchmark::DoNotOptimize(row);
    }
    state.counters["allocs_per_datagram"] =
        benchmark::Counter(static_cast<double>(g_allocations.load() - before) /
                           static_cast<double>(state.iterations()));
    state.counters["rows"] = static_cast<double>(rows);
}

void BM_DatagramDroppedByFilter(benchmark::State& state) {
    FilterSettings f;
    f.monitoredPort = 9;  // nobody uses it
    f.RebuildTexts();
    Run(state, f);
}
BENCHMARK(BM_DatagramDroppedByFilter);

void BM_DatagramToRow(benchmark::State& state) {
    Run(state, FilterSettings{});
}
BENCHMARK(BM_DatagramToRow);

}  // namespace

BENCHMARK_MAIN();
