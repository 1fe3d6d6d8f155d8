#pragma once
// A table of usage totals (programs or hosts) for the 用量 window: name,
// detail (executable or host name), bytes received, sent and both, most first
// as the history gives them; hosts also with their country and network.
// Names from outside are shown escaped.
#include <QAbstractTableModel>
#include <vector>

#include "history/usage_history.h"
#include "places/place.h"

class UsageTotalsModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Kind { kPrograms, kHosts };
    enum Column { kName, kDetail, kIn, kOut, kTotal, kCountry, kNetwork, kColumns };
    // The key (program or address) as recorded.
    static constexpr int kKeyRole = Qt::UserRole;
    // Bytes as a plain number (columns kIn, kOut, kTotal).
    static constexpr int kBytesRole = Qt::UserRole + 1;

    explicit UsageTotalsModel(Kind kind, QObject* parent = nullptr);
    void SetKind(Kind kind);
    Kind GetKind() const { return kind_; }
    // `places`: of each total, for hosts (looked up off the interface thread).
    void SetTotals(std::vector<UsageTotal> totals, std::vector<Place> places = {});
    const std::vector<UsageTotal>& Totals() const { return totals_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    Kind kind_;
    std::vector<UsageTotal> totals_;
    std::vector<Place> places_;
};
