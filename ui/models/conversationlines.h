#pragma once
// Every conversation of the tracker's table as a line, in the table's order
// (the order in which they came), with its owner and host name. The window
// shows them through ConversationModel, which sorts and narrows them.
//
// A copy of the table taken at each Refresh (about once a second), never
// the table itself, which changes with every batch: what a view asks between
// two refreshes stays consistent. A refresh tells the lines that went, then
// those that came, then those whose values changed, so that views and
// proxies keep their selections on the conversations.
#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "talk/csv.h"
#include "ui/models/conversationtracker.h"

struct ConversationColumns {
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
        kApplication,
        kCountry,  // where the remote address is
        kNetwork,  // its autonomous system
        kColumns
    };
};

class ConversationLines : public QAbstractTableModel, public ConversationColumns {
    Q_OBJECT
  public:
    explicit ConversationLines(const ConversationTracker& tracker, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Takes what changed in the tracker since the last call.
    void Refresh();

    // A line's cell as shown, UTF-8.
    std::string CellText(int row, int column) const;
    // Whether the line's text (any column, as shown; Latin letters in any
    // case) contains `text` (UTF-8).
    bool Contains(int row, const std::string& text) const;
    // Orders two lines by `column`: numbers as numbers, text as text. < 0, 0 or > 0.
    int Compare(int rowA, int rowB, int column) const;
    uint64_t IdAt(int row) const;
    CsvLine Export(int row) const;

  private:
    struct Line {
        Conversation conversation;
        OwnerInfo owner;
        std::string host;  // the remote host's name, or empty
        NameSource hostSource = NameSource::kNone;
        bool hostPending = false;
        AppProtocol app = AppProtocol::kUnknown;
        std::optional<Place> place;  // the remote address's, once looked up
    };
    std::string Text(const Line& line, int column) const;
    // What a numeric column sorts by.
    static uint64_t NumberKey(const Line& line, int column);
    // The lines of the table now; owners and names as known at the last
    // refresh unless they changed since.
    std::vector<Line> Collect();
    // Brings the lines to `lines` (both in the order of their ids): the runs
    // that went, those that came, then the changed values; one reset when
    // that would take many steps.
    void Show(std::vector<Line> lines);

    const ConversationTracker& tracker_;
    std::vector<Line> lines_;
    uint64_t version_ = UINT64_MAX;
    uint64_t ownerChanges_ = UINT64_MAX;
    uint64_t nameChanges_ = UINT64_MAX;
};
