#pragma once
// The rows the capture thread has built since its last hand-off, waiting to
// be inserted into the event list as one piece of work.
//
// Inserting at the 500-row cap empties the list, so of any run of rows only
// the last 500 can still be in the list once the run is in: a batch keeps
// those and counts the ones before them, whatever it is handed.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "capture/event_list.h"
#include "capture/packet.h"

// What a row carries beside its eight texts, in the list's attachment bytes:
// when its datagram was captured, and the datagram's bytes when kept.
struct RowAttachment {
    int64_t captureTimeNs = 0;  // since the epoch
    std::span<const uint8_t> datagram;
};
// The attachment bytes of a row; a text too short for one gives zeroes.
RowAttachment ReadRowAttachment(std::string_view bytes);

class RowBatch {
  public:
    static constexpr int kHeld = kMaxEventRows;

    // Copies the row's texts (they point into the capture thread's working
    // areas) and its attachment. Once the batch holds kHeld rows, the oldest
    // is dropped and counted.
    void Add(const EventRow& row, std::string_view attachment = {});
    // The same with the attachment made of a capture time and datagram bytes.
    void Add(const EventRow& row, int64_t captureTimeNs, std::span<const uint8_t> datagram = {});
    void Clear();

    bool Empty() const { return held_ == 0; }
    // Every row added since the last Clear, dropped ones included.
    uint64_t Total() const { return skipped_ + static_cast<uint64_t>(held_); }
    uint64_t Skipped() const { return skipped_; }
    int Held() const { return held_; }
    // The held rows, oldest first (0 .. Held() - 1). Valid until the next Add or Clear.
    EventRow HeldRow(int i) const;
    std::string_view HeldAttachment(int i) const;

  private:
    struct Slot {
        std::string bytes;  // the cells back to back, then the attachment; keeps its capacity
        std::array<uint32_t, kEventColumns + 1> ends{};
    };
    // The slot the next row goes into, with the row's texts in it.
    Slot& Fill(const EventRow& row);
    const Slot& At(int i) const { return slots_[static_cast<size_t>((first_ + i) % kHeld)]; }

    std::vector<Slot> slots_;  // grows to kHeld, then is reused
    int first_ = 0;
    int held_ = 0;
    uint64_t skipped_ = 0;
};

struct InsertOutcome {
    uint64_t inserted = 0;  // rows the list took
    uint64_t emptied = 0;   // rows removed by emptyings at the cap
};

// Puts a built row at the top of the list, emptying it first at the cap.
// Runs on the interface thread as one piece of work.
InsertOutcome InsertEventRow(EventList& list, const EventRow& row,
                             std::string_view attachment = {});

// Inserts a batch as if each of its rows had been inserted by InsertEventRow
// in turn: the same rows end in the list and the same number is emptied, but
// rows that an emptying later in the batch would remove are only counted.
// One piece of work on the interface thread; the list tells its view once.
InsertOutcome InsertEventRows(EventList& list, const RowBatch& batch);
