#pragma once
// The rows of a list control: every cell as GBK bytes plus the per-row
// attributes, served to a QTableView as its model.
#include <QAbstractTableModel>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/cellblock.h"

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
