#include "ui/models/usagetotalsmodel.h"

#include "res/resource.h"
#include "res/strings.h"
#include "talk/texts.h"
#include "ui/text/plaintext.h"

namespace {

uint64_t Bytes(const UsageCounts& c, int column) {
    switch (column) {
        case UsageTotalsModel::kIn:
            return c.bytesIn;
        case UsageTotalsModel::kOut:
            return c.bytesOut;
        default:
            return c.bytesIn + c.bytesOut;
    }
}

}  // namespace

UsageTotalsModel::UsageTotalsModel(Kind kind, QObject* parent)
    : QAbstractTableModel(parent), kind_(kind) {}

void UsageTotalsModel::SetKind(Kind kind) {
    if (kind == kind_)
        return;
    // Programs have no place columns: the columns change.
    beginResetModel();
    kind_ = kind;
    endResetModel();
}

void UsageTotalsModel::SetTotals(std::vector<UsageTotal> totals, std::vector<Place> places) {
    beginResetModel();
    totals_ = std::move(totals);
    places_ = std::move(places);
    places_.resize(totals_.size());
    endResetModel();
}

int UsageTotalsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(totals_.size());
}

int UsageTotalsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kind_ == kHosts ? kColumns : kCountry;
}

QVariant UsageTotalsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    const UsageTotal& t = totals_[static_cast<size_t>(index.row())];
    const int column = index.column();
    if (role == kKeyRole)
        return QString::fromStdString(t.key);
    const bool bytes = column >= kIn && column <= kTotal;
    const Place& place = places_[static_cast<size_t>(index.row())];
    if (role == kBytesRole)
        return bytes ? QVariant::fromValue<qulonglong>(Bytes(t.counts, column)) : QVariant();
    if (role == Qt::TextAlignmentRole)
        return bytes ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    if (role == Qt::ToolTipRole && kind_ == kHosts && column == kName && !place.Empty()) {
        QString tip = DisplayableText(QString::fromStdString(t.key));
        if (!place.country.empty())
            tip += QLatin1Char('\n') +
                   FormatString(IDS_PLACE_TIP_COUNTRY, QString::fromStdString(place.country));
        if (place.asn != 0)
            tip += QLatin1Char('\n') +
                   FormatString(IDS_PLACE_TIP_NETWORK, QString::fromStdString(place.NetworkText()));
        return PlainTextTip(tip);
    }
    if (role == Qt::ToolTipRole && bytes) {
        // The exact figures behind the rounded ones.
        const uint64_t datagrams = column == kIn    ? t.counts.datagramsIn
                                   : column == kOut ? t.counts.datagramsOut
                                                    : t.counts.datagramsIn + t.counts.datagramsOut;
        return PlainTextTip(
            QStringLiteral("%1 B / %2").arg(Bytes(t.counts, column)).arg(datagrams));
    }
    if (role != Qt::DisplayRole)
        return {};
    switch (column) {
        case kName:
            if (kind_ == kPrograms && t.key.empty())
                return LoadStringText(IDS_USAGE_UNKNOWN);
            if (kind_ == kHosts && t.key == kOtherHosts)
                return LoadStringText(IDS_USAGE_OTHER);
            return DisplayableText(QString::fromStdString(t.key));
        case kDetail:
            return DisplayableText(QString::fromStdString(t.detail));
        case kCountry:
            return QString::fromStdString(place.country);
        case kNetwork:
            return QString::fromStdString(place.NetworkText());
        default:
            return QString::fromStdString(FormatBytes(Bytes(t.counts, column)));
    }
}

QVariant UsageTotalsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
        case kName:
            return LoadStringText(kind_ == kPrograms ? IDS_USAGE_COL_PROGRAM
                                                     : IDS_USAGE_COL_ADDRESS);
        case kDetail:
            return LoadStringText(kind_ == kPrograms ? IDS_USAGE_COL_PATH : IDS_USAGE_COL_HOSTNAME);
        case kIn:
            return LoadStringText(IDS_USAGE_COL_IN);
        case kOut:
            return LoadStringText(IDS_USAGE_COL_OUT);
        case kTotal:
            return LoadStringText(IDS_USAGE_COL_TOTAL);
        case kCountry:
            return LoadStringText(IDS_PLACE_COL_COUNTRY);
        case kNetwork:
            return LoadStringText(IDS_PLACE_COL_NETWORK);
        default:
            return {};
    }
}
