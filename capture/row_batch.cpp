#include "capture/row_batch.h"

#include <algorithm>
#include <cstring>

int EventList::InsertRow(int item, const EventRow& row, std::string_view) {
    const int at = InsertItem(item, row.cells[kColTime]);
    if (at < 0) {
        return at;
    }
    for (int col :
         {kColSrcAddr, kColSrcPort, kColDstAddr, kColDstPort, kColService, kColFlags, kColData}) {
        SetItemText(at, col, row.cells[static_cast<size_t>(col)]);
    }
    return at;
}

RowAttachment ReadRowAttachment(std::string_view bytes) {
    RowAttachment a;
    if (bytes.size() < sizeof a.captureTimeNs) {
        return a;
    }
    std::memcpy(&a.captureTimeNs, bytes.data(), sizeof a.captureTimeNs);
    bytes.remove_prefix(sizeof a.captureTimeNs);
    a.datagram = {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
    return a;
}

void RowBatch::Add(const EventRow& row, std::string_view attachment) {
    Slot& slot = Fill(row);
    slot.bytes.append(attachment);
    slot.ends[kEventColumns] = static_cast<uint32_t>(slot.bytes.size());
}

void RowBatch::Add(const EventRow& row, int64_t captureTimeNs, std::span<const uint8_t> datagram) {
    Slot& slot = Fill(row);
    slot.bytes.append(reinterpret_cast<const char*>(&captureTimeNs), sizeof captureTimeNs);
    slot.bytes.append(reinterpret_cast<const char*>(datagram.data()), datagram.size());
    slot.ends[kEventColumns] = static_cast<uint32_t>(slot.bytes.size());
}

RowBatch::Slot& RowBatch::Fill(const EventRow& row) {
    Slot* slot;
    if (held_ < kHeld) {
        const size_t at = static_cast<size_t>((first_ + held_) % kHeld);
        if (slots_.size() <= at) {
            slots_.resize(at + 1);
        }
        slot = &slots_[at];
        ++held_;
    } else {
        slot = &slots_[static_cast<size_t>(first_)];
        first_ = (first_ + 1) % kHeld;
        ++skipped_;
    }
    slot->bytes.clear();
    for (size_t c = 0; c < row.cells.size(); ++c) {
        slot->bytes.append(row.cells[c]);
        slot->ends[c] = static_cast<uint32_t>(slot->bytes.size());
    }
    return *slot;
}

void RowBatch::Clear() {
    first_ = 0;
    held_ = 0;
    skipped_ = 0;
}

EventRow RowBatch::HeldRow(int i) const {
    const Slot& slot = At(i);
    EventRow row;
    uint32_t begin = 0;
    for (size_t c = 0; c < row.cells.size(); ++c) {
        row.cells[c] = std::string_view(slot.bytes).substr(begin, slot.ends[c] - begin);
        begin = slot.ends[c];
    }
    return row;
}

std::string_view RowBatch::HeldAttachment(int i) const {
    const Slot& slot = At(i);
    const uint32_t begin = slot.ends[kEventColumns - 1];
    return std::string_view(slot.bytes).substr(begin, slot.ends[kEventColumns] - begin);
}

InsertOutcome InsertEventRow(EventList& list, const EventRow& row, std::string_view attachment) {
    InsertOutcome outcome;
    const int count = list.GetItemCount();
    if (count >= kMaxEventRows && list.DeleteAllItems()) {
        outcome.emptied = static_cast<uint64_t>(count);
    }
    if (list.InsertRow(0, row, attachment) >= 0) {
        outcome.inserted = 1;
    }
    return outcome;
}

InsertOutcome InsertEventRows(EventList& list, const RowBatch& batch) {
    InsertOutcome outcome;
    const uint64_t total = batch.Total();
    if (total == 0) {
        return outcome;
    }
    constexpr uint64_t cap = kMaxEventRows;
    const uint64_t count = static_cast<uint64_t>(std::max(list.GetItemCount(), 0));
    // Row i of the batch finds count + i rows before it until the first
    // emptying, which falls on the first row to find the cap reached; after
    // it, one falls every `cap` rows.
    uint64_t firstInList = 0;  // the first row of the batch still in the list at its end
    bool emptiedOnce = false;
    const uint64_t firstEmptying = count >= cap ? 0 : cap - count;
    if (firstEmptying < total) {
        const uint64_t later = (total - 1 - firstEmptying) / cap;
        firstInList = firstEmptying + later * cap;
        outcome.emptied = std::max(count, cap) + later * cap;
        emptiedOnce = true;
    }
    // Rows before `firstInList` would be inserted and emptied again unseen.
    outcome.inserted = firstInList;
    const uint64_t skipped = batch.Skipped();
    list.BeginBatch();
    if (emptiedOnce && !list.DeleteAllItems()) {
        outcome.emptied = 0;
    }
    for (uint64_t i = firstInList; i < total; ++i) {
        // Rows from the last emptying on are never more than the batch holds.
        const int held = static_cast<int>(i - skipped);
        if (list.InsertRow(0, batch.HeldRow(held), batch.HeldAttachment(held)) >= 0) {
            ++outcome.inserted;
        }
    }
    list.EndBatch();
    return outcome;
}
