// What a place costs, to decide where it may be looked up: a named range
// (no database), an answer already kept, a lookup of the installed libloc
// database while its pages are in memory, the first lookups after opening
// it (pages read from the page cache or the disk), and the service's
// Lookup as the interface thread calls it.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "places/place.h"
#include "places/place_service.h"

namespace {

// Public IPv4 addresses spread over the whole space, named ranges left out.
std::vector<IpAddress> PublicAddresses(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<IpAddress> out;
    while (out.size() < n) {
        const IpAddress a(static_cast<uint32_t>(rng()));
        if (!ReservedPlace(a))
            out.push_back(a);
    }
    return out;
}

void BM_ReservedRange(benchmark::State& state) {
    const IpAddress a(0xC0A80101);  // 192.168.1.1
    for (auto _ : state)
        benchmark::DoNotOptimize(ReservedPlace(a));
}
BENCHMARK(BM_ReservedRange);

// Every address new to the cache: the database itself, warm.
void BM_FindWarm(benchmark::State& state) {
    PlaceDatabase::Options options;
    options.maxCached = 1;  // nothing kept: every Find asks the database
    const PlaceDatabase db(options);
    const auto addresses = PublicAddresses(4096, 7);
    for (const IpAddress& a : addresses)
        db.Find(a);  // the pages in memory
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(db.Find(addresses[i++ % addresses.size()]));
        // Another address next time, not the one just kept.
    }
}
BENCHMARK(BM_FindWarm);

// The first lookups after the database is opened: each reads pages not yet
// touched by this process (from the page cache, or the disk).
void BM_FindFirstAfterOpen(benchmark::State& state) {
    const auto addresses = PublicAddresses(200, 11);
    for (auto _ : state) {
        state.PauseTiming();
        PlaceDatabase::Options options;
        options.quiet = true;
        auto db = std::make_unique<PlaceDatabase>(options);
        state.ResumeTiming();
        for (const IpAddress& a : addresses)
            benchmark::DoNotOptimize(db->Find(a));
        state.PauseTiming();
        db.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(addresses.size()));
}
BENCHMARK(BM_FindFirstAfterOpen)->Unit(benchmark::kMicrosecond);

void BM_OpenDatabase(benchmark::State& state) {
    for (auto _ : state) {
        PlaceDatabase::Options options;
        options.quiet = true;
        PlaceDatabase db(options);
        benchmark::DoNotOptimize(db.Ok());
    }
}
BENCHMARK(BM_OpenDatabase)->Unit(benchmark::kMillisecond);

// An answer already kept, as the 连接 window reads it.
void BM_Cached(benchmark::State& state) {
    const PlaceDatabase& db = InstalledPlaces();
    const auto addresses = PublicAddresses(4096, 5);
    for (const IpAddress& a : addresses)
        db.Find(a);
    size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(db.Cached(addresses[i++ % addresses.size()]));
}
BENCHMARK(BM_Cached);

// The service's Lookup on the caller's thread, for addresses it has answered.
void BM_ServiceLookupKnown(benchmark::State& state) {
    PlaceService service(PlaceService::Options{&InstalledPlaces(), 8192});
    const auto addresses = PublicAddresses(4096, 5);
    for (const IpAddress& a : addresses)
        service.Lookup(a);
    service.WaitIdle(std::chrono::minutes(1));
    size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(service.Lookup(addresses[i++ % addresses.size()]));
}
BENCHMARK(BM_ServiceLookupKnown);

}  // namespace

BENCHMARK_MAIN();
