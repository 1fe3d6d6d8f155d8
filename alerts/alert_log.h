#pragma once
// The alerts kept for the 提醒 window: at most `capacity`, the oldest going
// first (counted). Entries are numbered from the first ever added, so a
// view can tell which it already shows.
#include <cstddef>
#include <cstdint>
#include <deque>

#include "alerts/engine.h"

class AlertLog {
  public:
    explicit AlertLog(size_t capacity = 1000) : capacity_(capacity < 1 ? 1 : capacity) {}

    void Add(Alert alert);

    // Entries held are numbered [Dropped(), Added()).
    uint64_t Added() const { return dropped_ + entries_.size(); }
    uint64_t Dropped() const { return dropped_; }
    size_t Size() const { return entries_.size(); }
    size_t Capacity() const { return capacity_; }
    // The entry numbered `n`, which must be held.
    const Alert& At(uint64_t n) const { return entries_[static_cast<size_t>(n - dropped_)]; }

  private:
    size_t capacity_;
    std::deque<Alert> entries_;
    uint64_t dropped_ = 0;
};
