#pragma once
// The list view's row and column headers. Used by framework sources only.
#include <QHeaderView>
#include <QSize>

namespace detail {

// The hidden row header. A table measures its header's size hint on every
// layout, and a stock header measures a hundred sections to answer; rows
// arriving thousands of times a second make that the dominant cost.
class RowHeader : public QHeaderView {
  public:
    explicit RowHeader(QWidget* parent);
    QSize sizeHint() const override;

  protected:
    QSize sectionSizeFromContents(int) const override;
};

// The column header keeps its size hint until its sections change; the stock
// one measures its section texts again on every layout of the table.
class ColumnHeader : public QHeaderView {
  public:
    explicit ColumnHeader(QWidget* parent);
    void setModel(QAbstractItemModel* model) override;
    QSize sizeHint() const override;

  protected:
    void changeEvent(QEvent* e) override;

  private:
    mutable QSize hint_;
};

}  // namespace detail
