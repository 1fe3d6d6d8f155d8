#pragma once
// A report-view list over QTableView with a row store of our own that keeps
// every cell as GBK bytes plus the per-row attributes of a list control.
#include <QPersistentModelIndex>
#include <QTableView>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "framework/cwnd.h"
#include "framework/listrowstore.h"

inline constexpr unsigned LVIF_TEXT = 0x1, LVIF_IMAGE = 0x2, LVIF_PARAM = 0x4, LVIF_STATE = 0x8;
inline constexpr unsigned LVIS_FOCUSED = 0x1, LVIS_SELECTED = 0x2, LVIS_CUT = 0x4,
                          LVIS_DROPHILITED = 0x8, LVIS_OVERLAYMASK = 0x0F00,
                          LVIS_STATEIMAGEMASK = 0xF000;
inline constexpr unsigned LVS_TYPEMASK = 0x3, LVS_REPORT = 0x1, LVS_LIST = 0x3;
inline constexpr unsigned LVS_EX_GRIDLINES = 0x1, LVS_EX_FULLROWSELECT = 0x20;
inline constexpr int LVCFMT_LEFT = 0;
inline constexpr int LVNI_SELECTED = 0x2;

struct LVITEM {
    unsigned mask = 0;
    int iItem = 0;
    int iSubItem = 0;
    unsigned state = 0;
    unsigned stateMask = 0;
    int iImage = 0;
    intptr_t lParam = 0;
};

class CListCtrl : public CWnd {
    Q_OBJECT
  public:
    CListCtrl();
    ~CListCtrl() override;

    int GetItemCount() const;
    std::string GetItemText(int item, int subItem) const;
    // The same text without a copy; valid until that item's text changes.
    std::string_view GetItemTextView(int item, int subItem) const;
    bool SetItemText(int item, int subItem, std::string_view text);
    int InsertItem(int item, std::string_view text);
    // A row with all its cells, and bytes it carries without showing them.
    int InsertItem(int item, std::span<const std::string_view> cells,
                   std::string_view attachment = {});
    std::string_view GetItemAttachment(int item) const;
    // Exchanges the texts and attachments of two rows (not their states).
    bool SwapItemTexts(int a, int b);
    bool DeleteAllItems();
    // Rows inserted and emptyings between these reach the view at once, at the end.
    void BeginBatch() { store_.BeginBatch(); }
    void EndBatch() { store_.EndBatch(); }
    bool GetItem(LVITEM& item) const;
    bool SetItem(const LVITEM& item);
    unsigned GetItemState(int item, unsigned mask) const;
    bool SetItemState(int item, unsigned state, unsigned mask);
    int GetFirstSelectedItem() const;
    int GetNextItem(int start, int flags) const;

    int GetHeaderColumnCount() const;
    int InsertColumn(int col, std::string_view heading, int format = LVCFMT_LEFT, int width = -1);
    bool SetColumnWidth(int col, int cx);
    int GetColumnWidth(int col) const;

    unsigned GetStyle() const { return style_; }
    void ModifyStyle(unsigned remove, unsigned add);
    unsigned GetExtendedStyle() const { return exStyle_; }
    void SetExtendedStyle(unsigned exStyle);

    QTableView* view() const { return qobject_cast<QTableView*>(GetSafeHwnd()); }
    ListRowStore& store() { return store_; }

  Q_SIGNALS:
    void itemClicked();
    void itemDoubleClicked();
    // Before the view acts on the key: 0x26 Up, 0x28 Down, 0 for any other key.
    void keyDown(int vk);
    void columnClicked(int column);

  protected:
    void PreSubclassWindow() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ViewportMouseEvent(QTableView& v, QEvent* event);
    // The viewport's background and, with LVS_EX_GRIDLINES, the grid.
    void PaintBackground(QTableView& v, const QRegion& region) const;
    // A new row count reaches the view's scroll bar; see TakeOverRowCounts.
    void TakeOverRowCounts(QTableView& v);
    void RowCountChanged(int before, int now);
    // Rows came on top of a list whose scroll bar stays: repaints only the
    // cells whose text or look changed where they stand on screen.
    void UpdateShiftedRows(QTableView& v, int before, int now);
    bool ValidRow(int item) const { return item >= 0 && item < GetItemCount(); }

    ListRowStore store_;
    unsigned style_ = LVS_LIST;
    unsigned exStyle_ = 0;
    bool leftDown_ = false;   // a left press in the viewport awaits its release
    bool rangeOnly_ = false;  // the scroll bar's range moves, its visibility stays
    // What the viewport showed before rows were inserted: the row count, where
    // the new rows went and how many, the first row on show and its place.
    struct ShownBefore {
        int count = -1, at = -1, added = 0, first = -1, firstY = 0;
    } shownBefore_;
    // The row under the pointer as the view tracks it, which it draws hovered.
    QPersistentModelIndex hover_;
};
