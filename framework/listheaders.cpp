#include "framework/listheaders.h"

#include <QAbstractItemModel>
#include <QEvent>

namespace detail {

RowHeader::RowHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {}

QSize RowHeader::sizeHint() const {
    return {0, defaultSectionSize()};
}

QSize RowHeader::sectionSizeFromContents(int) const {
    return {0, defaultSectionSize()};
}

ColumnHeader::ColumnHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
    connect(this, &QHeaderView::sectionCountChanged, this, [this] { hint_ = {}; });
}

void ColumnHeader::setModel(QAbstractItemModel* model) {
    QHeaderView::setModel(model);
    if (model) {
        connect(model, &QAbstractItemModel::headerDataChanged, this, [this] { hint_ = {}; });
    }
    hint_ = {};
}

QSize ColumnHeader::sizeHint() const {
    if (!hint_.isValid())
        hint_ = QHeaderView::sizeHint();
    return hint_;
}

void ColumnHeader::changeEvent(QEvent* e) {
    if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange)
        hint_ = {};
    QHeaderView::changeEvent(e);
}

}  // namespace detail
