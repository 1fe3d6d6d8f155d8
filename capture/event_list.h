#pragma once
// The list operations the capture engine needs from the event list. Every
// call happens on the interface thread; texts are GBK bytes.
#include <string_view>

#include "capture/packet.h"

class EventList {
  public:
    virtual ~EventList() = default;
    virtual int GetItemCount() const = 0;
    virtual bool DeleteAllItems() = 0;
    // Returns the new row's index, or -1 when the list refuses the row.
    virtual int InsertItem(int item, std::string_view textColumn0) = 0;
    virtual bool SetItemText(int item, int subItem, std::string_view text) = 0;

    // A whole row at `item` in one step, with bytes the list keeps beside its
    // cells and does not show (`attachment`). By default the row is made
    // cell by cell, column 0 first, then 1 to 5, the flags and the data.
    virtual int InsertRow(int item, const EventRow& row, std::string_view attachment = {});
    // The rows inserted between these calls are one batch: the list may tell
    // its view of them once, at the end.
    virtual void BeginBatch() {}
    virtual void EndBatch() {}
};
