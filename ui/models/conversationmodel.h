#pragma once
// The lines of the conversations window as shown: ConversationLines narrowed
// by a text and sorted by any column. Until a column is chosen the lines keep
// the order in which conversations came; lines with equal keys keep it too,
// whichever the direction. Rows here are rows as shown.
#include <QSortFilterProxyModel>
#include <string>
#include <vector>

#include "ui/models/conversationlines.h"

class ConversationModel : public QSortFilterProxyModel, public ConversationColumns {
    Q_OBJECT
  public:
    explicit ConversationModel(const ConversationTracker& tracker, QObject* parent = nullptr);

    // Only lines whose text (any column, as shown; letters in any case) contains `text`.
    void SetFilterText(const QString& text);
    // Takes what changed in the tracker since the last call.
    void Refresh() { lines_.Refresh(); }

    // A line's cell as shown, UTF-8.
    std::string CellText(int row, int column) const;
    // The lines as shown, in their order, for the export.
    std::vector<CsvLine> Lines() const;
    uint64_t IdAt(int row) const;
    int RowOfId(uint64_t id) const;
    int SortColumn() const { return sortColumn(); }

    ConversationLines& Source() { return lines_; }

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

  private:
    int SourceRow(int row) const;

    ConversationLines lines_;
    std::string filter_;  // UTF-8, as typed
};
