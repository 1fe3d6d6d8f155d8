#include "ui/alerts/alertmodel.h"

#include <algorithm>

#include "framework/gbk.h"
#include "res/resource.h"
#include "res/strings.h"
#include "talk/texts.h"
#include "ui/text/plaintext.h"

AlertModel::AlertModel(const AlertLog& log, QObject* parent)
    : QAbstractTableModel(parent), log_(log), first_(log.Dropped()), end_(log.Added()) {}

void AlertModel::Refresh() {
    // Dropped by the log: the oldest, at the bottom.
    const uint64_t keptFrom = std::min(std::max(first_, log_.Dropped()), end_);
    if (keptFrom > first_) {
        const int rows = rowCount();
        const int gone = static_cast<int>(keptFrom - first_);
        beginRemoveRows({}, rows - gone, rows - 1);
        first_ = keptFrom;
        endRemoveRows();
    }
    if (first_ == end_)
        first_ = end_ = std::max(end_, log_.Dropped());
    // Added since: the newest, on top.
    if (log_.Added() > end_) {
        const int added = static_cast<int>(log_.Added() - end_);
        beginInsertRows({}, 0, added - 1);
        end_ = log_.Added();
        endInsertRows();
    }
}

int AlertModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(end_ - first_);
}

int AlertModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QString AlertModel::CellText(int row, int column) const {
    if (row < 0 || row >= rowCount())
        return {};
    const uint64_t n = end_ - 1 - static_cast<uint64_t>(row);
    // Rows on their way out may be asked for while the log has already let them go.
    if (n < log_.Dropped() || n >= log_.Added())
        return {};
    const Alert& alert = log_.At(n);
    switch (column) {
        case kTime:
            return QString::fromStdString(FormatLocalTime(alert.timeNs)).left(19);
        case kKind:
            return QString::fromUtf8(AlertKindName(alert.kind));
        case kText:
            // Already as shown: names from outside went through DisplayableUtf8.
            return QString::fromStdString(AlertShownText(alert));
        default:
            return {};
    }
}

QVariant AlertModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumns)
        return {};
    if (role == Qt::DisplayRole)
        return CellText(index.row(), index.column());
    if (role == Qt::ToolTipRole && index.column() == kText)
        return PlainTextTip(CellText(index.row(), index.column()));
    return {};
}

QVariant AlertModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < kColumns)
        return FromGbk(LoadStringGbk(IDS_ALERTS_HEADING_FIRST + section));
    return QAbstractTableModel::headerData(section, orientation, role);
}
