// The capture thread's cost of counting a datagram into its conversation
// (ConversationDeltas::AddDatagram: keying the bytes and the map), the same
// through the capture's tap (which also looks at a conversation's first
// payloads and keeps DNS answers), and the interface thread's cost of
// merging one batch into the table.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "talk/conversation.h"
#include "talk/conversation_tap.h"
#include "tests/capture/packet_builder.h"

namespace {

constexpr uint32_t kLocal = 0x0A000001;
constexpr int64_t kStart = 1700000000000000000;

// `conversations` distinct UDP and TCP exchanges, both directions, shuffled.
std::vector<std::vector<uint8_t>> Traffic(int conversations, int datagrams) {
    std::mt19937 rng(3);
    std::vector<std::vector<uint8_t>> out;
    for (int i = 0; i < datagrams; ++i) {
        const int c = static_cast<int>(rng() % static_cast<unsigned>(conversations));
        testpkt::Ip ip;
        const bool outgoing = rng() % 2;
        const uint8_t remote[4] = {93, 184, static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)};
        const uint8_t local[4] = {10, 0, 0, 1};
        for (int k = 0; k < 4; ++k) {
            ip.src[k] = outgoing ? local[k] : remote[k];
            ip.dst[k] = outgoing ? remote[k] : local[k];
        }
        const uint16_t lp = static_cast<uint16_t>(40000 + c % 20000), rp = 443;
        const std::vector<uint8_t> payload(64, 'x');
        ip.protocol = c % 2 ? 6 : 17;
        out.push_back(testpkt::Datagram(
            ip, c % 2 ? testpkt::Tcp(outgoing ? lp : rp, outgoing ? rp : lp, 0x18, payload)
                      : testpkt::Udp(outgoing ? lp : rp, outgoing ? rp : lp, payload)));
    }
    return out;
}

// One batch per iteration, as the capture thread counts it between two
// hand-overs; the clear after it is part of the cost.
void BM_DeltasAdd(benchmark::State& state) {
    const int conversations = static_cast<int>(state.range(0));
    const int batch = 3000;
    const auto traffic = Traffic(conversations, batch);
    ConversationDeltas deltas;
    int64_t t = kStart;
    for (auto _ : state) {
        for (const auto& d : traffic) {
            deltas.AddDatagram(d.data(), static_cast<int>(d.size()), kLocal, t);
            t += 20000;
        }
        benchmark::DoNotOptimize(deltas.Entries().data());
        deltas.Clear();
    }
    state.counters["ns_per_datagram"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * batch * 1e-9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DeltasAdd)->Arg(8)->Arg(3000);

// The same batches through the tap, as the capture thread adds them: the
// payloads (64 bytes of 'x' to port 443, which no application claims) are
// looked at while each conversation is among its first four, then no more.
void BM_TapAdd(benchmark::State& state) {
    const int conversations = static_cast<int>(state.range(0));
    const int batch = 3000;
    const auto traffic = Traffic(conversations, batch);
    ConversationTap tap([](const ConversationDeltas&) {},
                        [](std::string_view) { return std::vector<Ipv6Address>{}; });
    tap.Begin("10.0.0.1");
    int64_t t = kStart;
    for (auto _ : state) {
        for (const auto& d : traffic) {
            tap.Add(0, d, t);
            t += 20000;
        }
        tap.Clear(0);
    }
    state.counters["ns_per_datagram"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * batch * 1e-9,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TapAdd)->Arg(8)->Arg(3000);

// Merging one batch of `conversations` into a table already holding 10,000:
// known ones (only counts move), or all new (each merge drops as many of the
// least recently active).
void BM_Merge(benchmark::State& state) {
    const int conversations = static_cast<int>(state.range(0));
    const bool fresh = state.range(1) != 0;
    ConversationTable table(10000);
    ConversationDeltas deltas;
    int64_t t = kStart;
    uint32_t next = 0;
    const auto fill = [&](uint32_t first, int count) {
        deltas.Clear();
        for (int i = 0; i < count; ++i) {
            KeyedDatagram d;
            d.key = {17, kLocal, static_cast<uint16_t>(40000 + (first + i) % 20000),
                     0x5DB80000u + (first + static_cast<uint32_t>(i)) / 20000, 443};
            d.bytes = 100;
            d.localSelected = true;
            deltas.Add(d, t);
            t += 1000;
        }
    };
    for (; next < 10000; next += 2000) {
        fill(next, 2000);
        table.Merge(deltas);
    }
    fill(0, conversations);
    for (auto _ : state) {
        if (fresh) {
            state.PauseTiming();
            fill(next, conversations);
            next += static_cast<uint32_t>(conversations);
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(table.Merge(deltas));
    }
    state.counters["us_per_merge"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 1e-6,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Merge)->Args({8, 0})->Args({3000, 0})->Args({100, 1})->Args({3000, 1});

}  // namespace

BENCHMARK_MAIN();
