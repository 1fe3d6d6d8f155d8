#pragma once
// The 提醒 list as a table: time, kind, text; the newest on top. Refresh()
// brings it up to the log: alerts added since come in at the top, those the
// log dropped go from the bottom, each as rows inserted or removed, so the
// selection and the place scrolled to stay with their alerts.
#include <QAbstractTableModel>
#include <cstdint>

#include "alerts/alert_log.h"

class AlertModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { kTime, kKind, kText, kColumns };

    explicit AlertModel(const AlertLog& log, QObject* parent = nullptr);

    void Refresh();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The cell as shown (tests).
    QString CellText(int row, int column) const;

  private:
    const AlertLog& log_;
    // Entries shown, numbered as the log numbers them: [first_, end_).
    uint64_t first_ = 0;
    uint64_t end_ = 0;
};
