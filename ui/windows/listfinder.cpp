#include "ui/windows/listfinder.h"

#include <algorithm>

#include "capture/row_batch.h"

ListFinder::ListFinder(CListCtrl& list) : list_(list) {
    ListRowStore* store = &list_.store();
    // Rows arrive on top in batches, and an emptying or Clear resets the
    // model; a sort rewrites rows in place. Only the rows touched are matched
    // again, and only when asked.
    connect(store, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                if (first >= 0 && first <= static_cast<int>(state_.size()) && last >= first) {
                    state_.insert(state_.begin() + first, static_cast<size_t>(last - first + 1),
                                  kUnknown);
                } else {
                    state_.clear();
                }
                Announce();
            });
    connect(store, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                if (first >= 0 && last < static_cast<int>(state_.size()) && last >= first) {
                    state_.erase(state_.begin() + first, state_.begin() + last + 1);
                } else {
                    state_.clear();
                }
                Announce();
            });
    connect(store, &QAbstractItemModel::modelReset, this, [this] {
        state_.clear();
        Announce();
    });
    connect(store, &QAbstractItemModel::layoutChanged, this, [this] {
        state_.clear();
        Announce();
    });
    connect(store, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                Forget(topLeft.row(), bottomRight.row());
                Announce();
            });
}

void ListFinder::SetQuery(const QString& text, SearchOptions options) {
    text_ = text;
    options_ = options;
    query_ = SearchQuery::Compile(text, options);
    std::fill(state_.begin(), state_.end(), kUnknown);
}

void ListFinder::Sync() {
    const size_t rows = static_cast<size_t>(list_.GetItemCount());
    if (state_.size() != rows) {
        state_.assign(rows, kUnknown);
    }
}

void ListFinder::Forget(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, static_cast<int>(state_.size()) - 1);
    for (int r = first; r <= last; ++r) {
        state_[static_cast<size_t>(r)] = kUnknown;
    }
}

void ListFinder::Announce() {
    if (announced_) {
        return;
    }
    announced_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            announced_ = false;
            Q_EMIT rowsChanged();
        },
        Qt::QueuedConnection);
}

RowMatch ListFinder::MatchOf(int row) const {
    if (!query_.ready() || row < 0 || row >= list_.GetItemCount()) {
        return {};
    }
    RowCells cells;
    for (int c = 0; c < kEventColumns; ++c) {
        cells[static_cast<size_t>(c)] = list_.GetItemTextView(row, c);
    }
    return MatchRow(query_, cells, ReadRowAttachment(list_.GetItemAttachment(row)).datagram);
}

bool ListFinder::Matches(int row) {
    int8_t& state = state_[static_cast<size_t>(row)];
    if (state == kUnknown) {
        state = MatchOf(row) ? kYes : kNo;
    }
    return state == kYes;
}

int ListFinder::Count() {
    Sync();
    if (!query_.ready()) {
        return 0;
    }
    int n = 0;
    for (int r = 0; r < static_cast<int>(state_.size()); ++r) {
        n += Matches(r);
    }
    return n;
}

int ListFinder::Ordinal(int row) {
    Sync();
    if (!query_.ready() || row < 0 || row >= static_cast<int>(state_.size()) || !Matches(row)) {
        return 0;
    }
    int n = 0;
    for (int r = 0; r <= row; ++r) {
        n += Matches(r);
    }
    return n;
}

int ListFinder::Find(int from, bool forward) {
    Sync();
    const int n = static_cast<int>(state_.size());
    if (!query_.ready() || n == 0) {
        return -1;
    }
    if (from < 0 || from >= n) {
        // No row to go on from: the whole list, from its top (or bottom).
        from = forward ? n - 1 : 0;
    }
    for (int step = 1; step <= n; ++step) {
        const int r = forward ? (from + step) % n : (from - step + n) % n;
        if (Matches(r)) {
            return r;
        }
    }
    return -1;
}
