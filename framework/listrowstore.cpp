#include "framework/listrowstore.h"

#include <algorithm>

#include "framework/gbk.h"
#include "framework/rowpaint.h"

ListRowStore::Row::Row() = default;
ListRowStore::Row::Row(CellBlock c) : cells(std::move(c)) {}
ListRowStore::Row::Row(Row&&) noexcept = default;
ListRowStore::Row& ListRowStore::Row::operator=(Row&&) noexcept = default;
ListRowStore::Row::~Row() = default;

int ListRowStore::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : published_;
}

int ListRowStore::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers.size());
}

int ListRowStore::ModelRow(int viewRow) const {
    // The view's rows are behind ours by the rows not announced yet; after an
    // emptying it has not been told of, they are gone.
    const int row = viewRow + pendingTop_;
    if (clearPending_ || viewRow < 0 || row >= static_cast<int>(rows.size())) {
        return -1;
    }
    return row;
}

const ListRowStore::Row* ListRowStore::ViewRowData(int viewRow) const {
    const int row = viewRow < published_ ? ModelRow(viewRow) : -1;
    return row < 0 ? nullptr : &rows[static_cast<size_t>(row)];
}

QVariant ListRowStore::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) {
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        const Row* row = ViewRowData(index.row());
        if (!row) {
            return QString();
        }
        const size_t col = static_cast<size_t>(index.column());
        QString text;
        if (row->paint && col < row->paint->cells.size() &&
            row->paint->cells[col].generation == paintGeneration_) {
            text = row->paint->cells[col].laid->text;
        } else {
            text = FromGbk(row->cells.Cell(index.column()));
        }
        if (role == Qt::ToolTipRole && toolTip_) {
            return toolTip_(row->cells, index.column(), text);
        }
        return text;
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

QVariant ListRowStore::headerData(int section, Qt::Orientation o, int role) const {
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < static_cast<int>(headers.size())) {
        return FromGbk(headers[static_cast<size_t>(section)]);
    }
    if (o == Qt::Horizontal && role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return QAbstractTableModel::headerData(section, o, role);
}

int ListRowStore::InsertRow(int at, CellBlock cells) {
    at = std::clamp(at, 0, static_cast<int>(rows.size()));
    if (batching_ && at == 0) {
        rows.emplace_front(std::move(cells));
        if (!clearPending_) {
            ++pendingTop_;
        }
        return 0;
    }
    Publish();
    beginInsertRows({}, at, at);
    rows.emplace(rows.begin() + at, std::move(cells));
    ++published_;
    endInsertRows();
    return at;
}

void ListRowStore::Clear() {
    if (batching_) {
        rows.clear();
        pendingTop_ = 0;
        clearPending_ = published_ > 0;
        return;
    }
    if (rows.empty() && published_ == 0) {
        return;
    }
    beginResetModel();
    rows.clear();
    published_ = 0;
    pendingTop_ = 0;
    clearPending_ = false;
    endResetModel();
}

void ListRowStore::EndBatch() {
    batching_ = false;
    Publish();
}

void ListRowStore::Publish() {
    if (clearPending_) {
        beginResetModel();
        published_ = static_cast<int>(rows.size());
        pendingTop_ = 0;
        clearPending_ = false;
        endResetModel();
    } else if (pendingTop_ > 0) {
        const int n = pendingTop_;
        beginInsertRows({}, 0, n - 1);
        pendingTop_ = 0;
        published_ += n;
        endInsertRows();
    }
}

int ListRowStore::ViewRow(int row) const {
    if (clearPending_ || row < pendingTop_ || row - pendingTop_ >= published_) {
        return -1;
    }
    return row - pendingTop_;
}

void ListRowStore::InsertHeader(int at, std::string_view text) {
    Publish();
    at = std::clamp(at, 0, columnCount());
    beginInsertColumns({}, at, at);
    headers.insert(headers.begin() + at, std::string(text));
    for (auto& r : rows) {
        if (r.cells.Count() < static_cast<int>(headers.size())) {
            r.cells.InsertCell(std::min(at, r.cells.Count()));
        }
        r.paint.reset();
    }
    endInsertColumns();
}

void ListRowStore::RowChanged(int row) {
    const int at = ViewRow(row);
    if (at >= 0 && columnCount() > 0) {
        Q_EMIT dataChanged(index(at, 0), index(at, columnCount() - 1), {Qt::DisplayRole});
    }
}

void ListRowStore::CellChanged(int row, int column) {
    const int at = ViewRow(row);
    if (at < 0) {
        return;  // the view will be told of the whole row
    }
    const QModelIndex i = index(at, column);
    Q_EMIT dataChanged(i, i, {Qt::DisplayRole});
}
