// The widget that dialog templates of kind ListView get.
#include <QTableView>
#include <algorithm>

#include "framework/controlfactory.h"

namespace {

class ReportView final : public QTableView {
  public:
    using QTableView::QTableView;

  protected:
    // In the current cell's column, so that the list does not scroll sideways;
    // the key's own modifiers still decide the selection: Shift extends it.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override {
        if ((action != MoveHome && action != MoveEnd) || !model()) {
            return QTableView::moveCursor(action, modifiers);
        }
        const int rows = model()->rowCount(rootIndex());
        if (rows == 0) {
            return {};
        }
        return model()->index(action == MoveHome ? 0 : rows - 1,
                              std::max(currentIndex().column(), 0), rootIndex());
    }
};

}  // namespace

QWidget* CreateListViewWidget(QWidget* parent) {
    return new ReportView(parent);
}
