#pragma once
// The lines of the conversations window: one per conversation of the
// tracker's table, with its owner and host name, narrowed by a text and
// sorted by any column.
//
// The model shows a copy of the table taken at each Refresh (about twice a
// second), never the table itself, which changes with every batch: what the
// view asks between two refreshes stays consistent. Lines are known by their
// conversation's id, so a selection stays on its conversation when lines
// move, come or go.
#include <QAbstractTableModel>
#include <QString>
#include <string>
#include <unordered_map>
#include <vector>

#include "talk/csv.h"
#include "ui/models/conversationtracker.h"

class ConversationModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column {
        kProtocol,
        kLocalAddr,
        kLocalPort,
        kRemoteAddr,
        kRemotePort,
        kRemoteHost,
        kProgram,
        kPid,
        kUser,
        kInDatagrams,
        kInBytes,
        kOutDatagrams,
        kOutBytes,
        kFirstSeen,
        kLastSeen,
        kColumns
    };

    explicit ConversationModel(const ConversationTracker& tracker, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Column -1: the order in which conversations came.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Only lines whose text (any column, as shown; letters in any case) contains `text`.
    void SetFilterText(const QString& text);
    // Takes what changed in the tracker since the last call.
    void Refresh();

    // A line's cell as shown, UTF-8.
    std::string CellText(int row, int column) const;
    // The lines as shown, in their order, for the export.
    std::vector<CsvLine> Lines() const;
    uint64_t IdAt(int row) const;
    int RowOfId(uint64_t id) const;
    int SortColumn() const { return sortColumn_; }

  private:
    struct Line {
        Conversation conversation;
        OwnerInfo owner;
        std::string host;  // the remote host's name, or empty
        bool hostPending = false;
    };
    std::string Text(const Line& line, int column) const;
    bool Matches(const Line& line) const;
    bool Less(const Line& a, const Line& b) const;
    // The lines to show, in their order (filtered and sorted): indices into lines_.
    std::vector<size_t> Order() const;
    // Brings the view from what it shows to `order`: removals, a move, insertions,
    // then the new values; a model reset when that would take many steps.
    void Show(const std::vector<size_t>& order);

    const ConversationTracker& tracker_;
    std::vector<Line> lines_;  // every conversation, as of the last refresh
    // What the view shows, in its order. Values change only after the
    // structure has: during a removal or a move, a line reads as before.
    std::vector<Line> shown_;
    uint64_t version_ = UINT64_MAX;
    uint64_t ownerChanges_ = UINT64_MAX;
    uint64_t nameChanges_ = UINT64_MAX;
    std::string filter_;  // lower case
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};
