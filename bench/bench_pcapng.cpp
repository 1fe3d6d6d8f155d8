// The recorder's cost on the capture thread, to a file on disk and on tmpfs:
//  - BM_Append: ns per Append of a 64- and a 512-byte datagram, in batches
//    that fit the recorder's chunks (the writer thread writes meanwhile;
//    between batches, untimed, the recording is closed and resumed so that
//    every batch starts with free chunks). Heap allocations are counted.
//  - BM_PacedRecording: 100,000 datagrams a second for two seconds, in bursts
//    of 100 each millisecond as a busy capture thread delivers them: the
//    capture thread's CPU per datagram, the slowest burst (wall time), the
//    writer thread's CPU, and datagrams missed.
//  - BM_InlineWrite: what the capture thread would pay per chunk if it wrote
//    the file itself: the time of one 1 MiB write, mean and slowest, one
//    every 50 ms (20 MB/s) for two seconds.
// The disk file goes to $QV_BENCH_DIR, or else the current directory.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "capture/clock.h"
#include "export/pcapng_recorder.h"
#include "tests/allocation_count.h"
#include "tests/capture/packet_builder.h"

namespace {

using namespace testpkt;

enum Where { kDisk, kTmpfs };

std::string FilePath(Where where) {
    std::string dir = where == kTmpfs ? "/dev/shm" : ".";
    if (const char* d = std::getenv("QV_BENCH_DIR"); d != nullptr && where == kDisk)
        dir = d;
    return dir + "/qv-bench-" + std::to_string(getpid()) + ".pcapng";
}

std::vector<uint8_t> SampleDatagram(size_t length) {
    auto d = Datagram(Ip{}, Udp(40000, 53, std::vector<uint8_t>(length - 28, 'q')));
    d.resize(length);
    return d;
}

int64_t ThreadCpuNs(clockid_t clock = CLOCK_THREAD_CPUTIME_ID) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

void BM_Append(benchmark::State& state) {
    const auto d = SampleDatagram(static_cast<size_t>(state.range(0)));
    const auto where = static_cast<Where>(state.range(1));
    const std::string path = FilePath(where);
    ::unlink(path.c_str());
    PcapngRecorder rec;
    const PcapngInterface iface = LocalInterface("127.0.0.1");
    if (!rec.Start(path, iface).ok()) {
        state.SkipWithError("cannot make the file");
        return;
    }
    // Six of the eight chunks: never full, whatever the disk does.
    const int64_t batch = static_cast<int64_t>(6 * PcapngRecorder::kChunkBytes /
                                               pcapng::PacketBlockSize(uint32_t(d.size())));
    uint64_t allocations = 0;
    int64_t inBatch = 0;
    int64_t t = 1700000000'000000000;
    uint64_t before = g_allocations.load();
    for (auto _ : state) {
        rec.Append(t++, d.data(), static_cast<uint32_t>(d.size()));
        if (++inBatch == batch) {
            state.PauseTiming();
            allocations += g_allocations.load() - before;
            rec.Close();
            rec.Resume(iface);
            inBatch = 0;
            before = g_allocations.load();
            state.ResumeTiming();
        }
    }
    allocations += g_allocations.load() - before;
    rec.Close();
    state.counters["allocs_per_append"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations());
    state.counters["missed"] = static_cast<double>(rec.DatagramsMissed());
    state.counters["written"] = static_cast<double>(rec.DatagramsWritten());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(d.size()));
    ::unlink(path.c_str());
}
// A few hundred megabytes per run, no more: the disk is shared.
BENCHMARK(BM_Append)->ArgPair(64, kDisk)->ArgPair(64, kTmpfs)->Iterations(1'000'000);
BENCHMARK(BM_Append)->ArgPair(512, kDisk)->ArgPair(512, kTmpfs)->Iterations(300'000);

void BM_PacedRecording(benchmark::State& state) {
    const auto d = SampleDatagram(static_cast<size_t>(state.range(0)));
    const auto where = static_cast<Where>(state.range(1));
    constexpr int64_t kPerSecond = 100'000;
    constexpr int64_t kSeconds = 2;
    constexpr int64_t kTickNs = 1'000'000;  // the kernel hands over bursts too
    const std::string path = FilePath(where);
    for (auto _ : state) {
        ::unlink(path.c_str());
        PcapngRecorder rec;
        if (!rec.Start(path, LocalInterface("127.0.0.1")).ok()) {
            state.SkipWithError("cannot make the file");
            return;
        }
        const int64_t processBefore = ThreadCpuNs(CLOCK_PROCESS_CPUTIME_ID);
        const int64_t ownBefore = ThreadCpuNs();
        int64_t appendCpu = 0, slowest = 0, sent = 0;
        const uint64_t allocBefore = g_allocations.load();
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        for (int64_t tick = 0; tick < kSeconds * 1'000'000'000 / kTickNs; ++tick) {
            const int64_t due = (tick + 1) * kPerSecond * kTickNs / 1'000'000'000;
            const int64_t cpu0 = ThreadCpuNs();
            const int64_t t0 = SteadyClockNs();
            const int64_t now = WallClockNs();
            for (; sent < due; ++sent) {
                rec.Append(now + sent, d.data(), static_cast<uint32_t>(d.size()));
            }
            slowest = std::max(slowest, SteadyClockNs() - t0);
            appendCpu += ThreadCpuNs() - cpu0;
            next.tv_nsec += kTickNs;
            if (next.tv_nsec >= 1'000'000'000) {
                next.tv_nsec -= 1'000'000'000;
                ++next.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        }
        const uint64_t allocs = g_allocations.load() - allocBefore;
        rec.Close();
        // The writer thread's share: the process's time less this thread's.
        const int64_t writerCpu =
            (ThreadCpuNs(CLOCK_PROCESS_CPUTIME_ID) - processBefore) - (ThreadCpuNs() - ownBefore);
        state.counters["writer_cpu_ms_per_s"] = static_cast<double>(writerCpu) / 1e6 / kSeconds;
        state.counters["append_cpu_ns"] = static_cast<double>(appendCpu) / double(sent);
        state.counters["burst_of_100_max_us"] = static_cast<double>(slowest) / 1000.0;
        state.counters["allocs"] = static_cast<double>(allocs);
        state.counters["missed"] = static_cast<double>(rec.DatagramsMissed());
        state.counters["written"] = static_cast<double>(rec.DatagramsWritten());
        ::unlink(path.c_str());
    }
}
BENCHMARK(BM_PacedRecording)
    ->ArgPair(64, kDisk)
    ->ArgPair(64, kTmpfs)
    ->ArgPair(512, kDisk)
    ->ArgPair(512, kTmpfs)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_InlineWrite(benchmark::State& state) {
    const auto where = static_cast<Where>(state.range(0));
    const std::string path = FilePath(where);
    std::vector<uint8_t> chunk(PcapngRecorder::kChunkBytes, 0x45);
    for (auto _ : state) {
        ::unlink(path.c_str());
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            state.SkipWithError("cannot make the file");
            return;
        }
        int64_t total = 0, slowest = 0;
        constexpr int kWrites = 40;
        for (int i = 0; i < kWrites; ++i) {
            if (i > 0)
                usleep(50'000);
            const int64_t t0 = SteadyClockNs();
            if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) {
                state.SkipWithError("write failed");
                break;
            }
            const int64_t took = SteadyClockNs() - t0;
            total += took;
            slowest = std::max(slowest, took);
        }
        ::close(fd);
        ::unlink(path.c_str());
        state.counters["write_1MiB_mean_us"] = static_cast<double>(total) / kWrites / 1000.0;
        state.counters["write_1MiB_max_us"] = static_cast<double>(slowest) / 1000.0;
    }
}
BENCHMARK(BM_InlineWrite)->Arg(kDisk)->Arg(kTmpfs)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
