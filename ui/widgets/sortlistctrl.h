#pragma once
// The event list: eight columns set up when the control is bound, sorting by
// the text of a clicked column, and the list operations the capture engine
// inserts rows through.
#include <string>
#include <string_view>
#include <vector>

#include "capture/event_list.h"
#include "framework/listctrl.h"

class CSortListCtrl : public CListCtrl, public EventList {
    Q_OBJECT
  public:
    CSortListCtrl();

    void SetupColumns();
    // Sorts rows low..high (high -1 = the last row) in place by the text of
    // `column`; false when there was nothing to do.
    bool SortByColumnText(int column, int ascending, int low = 0, int high = -1);
    int OnColumnClick(int column);

    int SortColumn() const { return m_sortColumn; }
    int Ascending() const { return m_ascending; }

    // EventList, for the capture engine's row insertions.
    int GetItemCount() const override { return CListCtrl::GetItemCount(); }
    bool DeleteAllItems() override { return CListCtrl::DeleteAllItems(); }
    int InsertItem(int item, std::string_view text) override {
        return CListCtrl::InsertItem(item, text);
    }
    bool SetItemText(int item, int subItem, std::string_view text) override {
        return CListCtrl::SetItemText(item, subItem, text);
    }
    int InsertRow(int item, const EventRow& row, std::string_view attachment = {}) override {
        return CListCtrl::InsertItem(item, row.cells, attachment);
    }
    void BeginBatch() override { CListCtrl::BeginBatch(); }
    void EndBatch() override { CListCtrl::EndBatch(); }

  protected:
    void PreSubclassWindow() override;

  private:
    void SwapRows(int a, int b);

    int m_ascending = 0;
    int m_sortColumn = 0;
};
