#pragma once
// The list operations the capture engine needs from the event list. Every
// call happens on the interface thread; texts are GBK bytes.
#include <string_view>

class EventList {
  public:
    virtual ~EventList() = default;
    virtual int GetItemCount() const = 0;
    virtual bool DeleteAllItems() = 0;
    // Returns the new row's index, or -1 when the list refuses the row.
    virtual int InsertItem(int item, std::string_view textColumn0) = 0;
    virtual bool SetItemText(int item, int subItem, std::string_view text) = 0;
};
