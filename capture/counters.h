#pragma once
// Counts that one thread writes and any thread reads, without a lock.
#include <atomic>
#include <cstdint>

// Only one thread at a time changes it: a relaxed load and store instead of
// a locked read-modify-write, so a count costs what an ordinary increment does.
class SingleWriterCount {
  public:
    void Add(uint64_t n = 1) {
        value_.store(value_.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
    }
    void Set(uint64_t n) { value_.store(n, std::memory_order_relaxed); }
    uint64_t Get() const { return value_.load(std::memory_order_relaxed); }

  private:
    std::atomic<uint64_t> value_{0};
};

// What one capture counts: the capture thread what it receives and filters,
// the interface thread the rows it inserts and empties. Reset by the interface
// thread only while no capture thread runs.
struct CaptureCounters {
    SingleWriterCount received;  // datagrams the endpoint delivered
    SingleWriterCount filtered;  // datagrams the filter turned away
    SingleWriterCount rows;      // rows inserted into the list
    SingleWriterCount emptied;   // rows removed by the 500-row emptying

    void Reset() {
        received.Set(0);
        filtered.Set(0);
        rows.Set(0);
        emptied.Set(0);
    }
};
