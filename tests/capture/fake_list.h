#pragma once
// An in-memory event list that records rows the way the real list holds them.
#include <array>
#include <deque>
#include <string>
#include <vector>

#include "capture/event_list.h"
#include "capture/packet.h"

class FakeEventList : public EventList {
  public:
    using Row = std::array<std::string, kEventColumns>;
    int GetItemCount() const override { return static_cast<int>(rows.size()); }
    bool ClearRows() {
        rows.clear();
        ++clears;
        return true;
    }
    int InsertItem(int item, std::string_view text) override {
        if (refuse)
            return -1;
        if (item > GetItemCount())
            item = GetItemCount();
        Row r;
        r[0] = std::string(text);
        rows.insert(rows.begin() + item, r);
        return item;
    }
    bool SetItemText(int item, int sub, std::string_view text) override {
        if (item < 0 || item >= GetItemCount() || sub < 0 || sub >= kEventColumns)
            return false;
        rows[static_cast<size_t>(item)][static_cast<size_t>(sub)] = std::string(text);
        return true;
    }
    int InsertRow(int item, const EventRow& row, std::string_view attachment = {}) override {
        const int at = EventList::InsertRow(item, row, attachment);
        if (at >= 0)
            attachments.insert(attachments.begin() + at, std::string(attachment));
        return at;
    }
    bool DeleteAllItems() override {
        attachments.clear();
        return ClearRows();
    }
    void EndBatch() override { ++batches; }
    std::deque<Row> rows;
    std::deque<std::string> attachments;  // beside each row, in the same order
    int batches = 0;
    int clears = 0;
    bool refuse = false;
};
