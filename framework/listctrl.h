#pragma once
// A report-view list over QTableView with a row store of our own that keeps
// every cell as GBK bytes plus the per-row attributes of a list control.
#include <QAbstractTableModel>
#include <QTableView>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/cellblock.h"
#include "framework/cwnd.h"

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

// Texts of a row as the view draws them: converted from GBK and laid out
// once, when the row is first painted, not at every paint.
struct RowPaint;

class ListRowStore : public QAbstractTableModel {
    Q_OBJECT
  public:
    struct Row {
        Row();
        explicit Row(CellBlock c);
        Row(Row&&) noexcept;
        Row& operator=(Row&&) noexcept;
        ~Row();
        CellBlock cells;
        unsigned state = 0;  // bits other than selected/focused, which the view keeps
        int image = 0;
        intptr_t param = 0;
        mutable std::unique_ptr<RowPaint> paint;
    };

    // What the view has been told: rows it does not know of yet are left out.
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;

    std::deque<Row> rows;  // every row, the newest on top: O(1) there
    std::vector<std::string> headers;

    int InsertRow(int at, CellBlock cells);
    void Clear();
    // Between these, rows put on top and emptyings are only recorded; the
    // view learns of them in one notification at the end.
    void BeginBatch() { batching_ = true; }
    void EndBatch();
    void InsertHeader(int at, std::string_view text);
    void CellChanged(int row, int column);
    void RowChanged(int row);
    // The row the view shows at `viewRow`, or null.
    const Row* ViewRowData(int viewRow) const;
    // The laid-out texts are stale (a new font): they are made again when painted.
    void ForgetPaint() { ++paintGeneration_; }
    int PaintGeneration() const { return paintGeneration_; }

    // Makes the tooltip of a cell from its row (cells and attachment), its
    // column and its text; asked only when the pointer rests on the cell.
    // Without one, a cell's tooltip is its text.
    using ToolTipProvider =
        std::function<QString(const CellBlock& row, int column, const QString& cellText)>;
    void SetToolTipProvider(ToolTipProvider provider) { toolTip_ = std::move(provider); }

  private:
    void Publish();
    int ModelRow(int viewRow) const;
    int ViewRow(int row) const;

    int published_ = 0;   // rows the view knows of
    int pendingTop_ = 0;  // rows put on top since, not announced yet
    bool clearPending_ = false;
    bool batching_ = false;
    int paintGeneration_ = 0;
    ToolTipProvider toolTip_;
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
    bool ValidRow(int item) const { return item >= 0 && item < GetItemCount(); }

    ListRowStore store_;
    unsigned style_ = LVS_LIST;
    unsigned exStyle_ = 0;
    bool leftDown_ = false;   // a left press in the viewport awaits its release
    bool rangeOnly_ = false;  // the scroll bar's range moves, its visibility stays
};
