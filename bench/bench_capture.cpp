// Cost of one datagram on the capture thread: (a) dropped by the filter,
// (b) turned into a row up to the hand-off. Heap allocations are counted.
// Each also with the counts the capture thread keeps for the statistics
// ("_Counted"), beside the same work without them. (c) the whole of an IPv4
// datagram's way: its frame located, copied, decoded, its row built and its
// conversation counted, over 64 conversations.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "capture/counters.h"
#include "capture/decode.h"
#include "capture/endpoint.h"
#include "capture/session.h"
#include "talk/conversation.h"
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

void BM_FrameToRowAndConversation(benchmark::State& state) {
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 64; ++i) {
        Ip ip;
        ip.dst[3] = static_cast<uint8_t>(i);
        std::vector<uint8_t> f(14, 0x02);
        f[12] = 0x08, f[13] = 0x00;
        const auto d = Datagram(ip, Tcp(static_cast<uint16_t>(40000 + i), 443, 0x18,
                                        Bytes("GET /index.html HTTP/1.1\r\nHost: x\r\n")));
        f.insert(f.end(), d.begin(), d.end());
        frames.push_back(f);
    }
    std::vector<uint8_t> buffer(kReceiveBufferSize);
    PacketText text;
    RowWorkspace ws;
    ConversationDeltas deltas;
    const FilterSettings filter;
    uint64_t rows = 0;
    size_t next = 0;
    int64_t timeNs = 1700000000000000000;
    const uint64_t before = g_allocations.load();
    for (auto _ : state) {
        // A batch's counts are handed over and cleared every so often.
        if ((next & 4095) == 0)
            deltas.Clear();
        const auto& frame = frames[next++ & 63];
        uint32_t offset = 0, length = 0;
        if (!LocateDatagram(1, frame.data(), static_cast<uint32_t>(frame.size()), &offset, &length))
            state.SkipWithError("not located");
        std::memcpy(buffer.data(), frame.data() + offset, length);
        // The session's turn for IPv6, never taken here.
        if ((buffer[0] >> 4) == 6)
            state.SkipWithError("IPv6");
        const int n = static_cast<int>(length);
        DecodePacket(buffer.data(), n, text);
        EventRow row;
        if (BuildEventRow(buffer.data(), n, text, filter, "10.0.0.5", 1700000000, ws, row)) {
            ++rows;
            deltas.AddDatagram(buffer.data(), n, 0x0A000005u, timeNs += 1000);
            if (deltas.HandOverDue())
                deltas.Clear();
        }
        benchmark::DoNotOptimize(row);
    }
    state.counters["allocs_per_datagram"] =
        benchmark::Counter(static_cast<double>(g_allocations.load() - before) /
                           static_cast<double>(state.iterations()));
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_FrameToRowAndConversation);

}  // namespace

BENCHMARK_MAIN();
