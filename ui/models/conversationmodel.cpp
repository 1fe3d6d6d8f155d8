#include "ui/models/conversationmodel.h"

ConversationModel::ConversationModel(const ConversationTracker& tracker, QObject* parent)
    : QSortFilterProxyModel(parent), lines_(tracker) {
    setSourceModel(&lines_);
    // Lines that come, go or change are placed (and narrowed) as they do.
    setDynamicSortFilter(true);
}

void ConversationModel::SetFilterText(const QString& text) {
    std::string filter = text.toStdString();
    if (filter == filter_)
        return;
    filter_ = std::move(filter);
    invalidateRowsFilter();
}

bool ConversationModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    return lines_.Contains(sourceRow, filter_);
}

bool ConversationModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const int c = lines_.Compare(left.row(), right.row(), left.column());
    if (c != 0)
        return c < 0;
    // Equal keys in the order in which conversations came, whichever the
    // direction: descending asks lessThan(right, left).
    return sortOrder() == Qt::AscendingOrder ? left.row() < right.row() : left.row() > right.row();
}

int ConversationModel::SourceRow(int row) const {
    return row >= 0 && row < rowCount() ? mapToSource(index(row, 0)).row() : -1;
}

std::string ConversationModel::CellText(int row, int column) const {
    return lines_.CellText(SourceRow(row), column);
}

std::vector<CsvLine> ConversationModel::Lines() const {
    std::vector<CsvLine> lines;
    lines.reserve(static_cast<size_t>(rowCount()));
    for (int r = 0; r < rowCount(); ++r)
        lines.push_back(lines_.Export(SourceRow(r)));
    return lines;
}

uint64_t ConversationModel::IdAt(int row) const {
    return lines_.IdAt(SourceRow(row));
}

int ConversationModel::RowOfId(uint64_t id) const {
    for (int r = 0; r < rowCount(); ++r) {
        if (IdAt(r) == id)
            return r;
    }
    return -1;
}
