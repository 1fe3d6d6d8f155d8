#pragma once
// Counts heap allocations, for the benchmarks and tests that show a path
// never allocates. It replaces the global operator new and delete: include it
// in one source file of a program only.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

inline std::atomic<uint64_t> g_allocations{0};

// Kept out of line: inlined beside a library's own deletes, GCC 12 takes
// them for a mismatched pair.
[[gnu::noinline]] void* operator new(size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
