#pragma once
// A compiled find query over the rows of a list: which rows match, how many,
// and the next one up or down from a row. Each row is matched once and the
// answer kept until the row changes; rows put on top while capturing are
// matched when next asked about, so a hand-off never waits for a search.
#include <QObject>
#include <QString>
#include <cstdint>
#include <vector>

#include "framework/listctrl.h"
#include "search/query.h"
#include "search/rowsearch.h"

class ListFinder : public QObject {
    Q_OBJECT
  public:
    explicit ListFinder(CListCtrl& list);

    // Compiles the text once; every row is matched afresh.
    void SetQuery(const QString& text, SearchOptions options);
    const SearchQuery& Query() const { return query_; }
    const QString& Text() const { return text_; }
    SearchOptions Options() const { return options_; }

    // Rows of the list that match.
    int Count();
    // The place of `row` among the matching rows, counted from the top from
    // 1; 0 when it does not match.
    int Ordinal(int row);
    // The first matching row below `from` (above it when `forward` is false),
    // wrapping past the end; `from` itself when it is the only one. From -1,
    // the search starts at the top (at the bottom going up). -1 when no row
    // matches.
    int Find(int from, bool forward);
    // Where `row` matches, in full.
    RowMatch MatchOf(int row) const;

  Q_SIGNALS:
    // The list's rows changed: they arrived, went or were sorted. Sent once
    // the change is done, not inside the hand-off that made it.
    void rowsChanged();

  private:
    enum : int8_t { kUnknown = -1, kNo = 0, kYes = 1 };
    bool Matches(int row);
    // Brings the kept answers back in step with the list when a change was
    // not seen (the view not told yet).
    void Sync();
    void Forget(int first, int last);
    void Announce();

    CListCtrl& list_;
    SearchQuery query_;
    QString text_;
    SearchOptions options_;
    std::vector<int8_t> state_;  // per row, in the list's order
    bool announced_ = false;     // a rowsChanged is on its way
};
