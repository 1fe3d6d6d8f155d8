#pragma once
// An in-memory event list that records rows the way the real list holds them.
#include <array>
#include <string>
#include <vector>

#include "capture/event_list.h"
#include "capture/packet.h"

class FakeEventList : public EventList {
  public:
    using Row = std::array<std::string, kEventColumns>;
    int GetItemCount() const override { return static_cast<int>(rows.size()); }
    bool DeleteAllItems() override {
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
    std::vector<Row> rows;
    int clears = 0;
    bool refuse = false;
};
