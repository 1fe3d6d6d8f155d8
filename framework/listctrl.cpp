#include "framework/listctrl.h"

#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>

#include "framework/gbk.h"

namespace {

// The hidden row header. A table measures its header's size hint on every
// layout, and a stock header measures a hundred sections to answer; rows
// arriving thousands of times a second make that the dominant cost.
class RowHeader : public QHeaderView {
  public:
    explicit RowHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {}
    QSize sizeHint() const override { return {0, defaultSectionSize()}; }

  protected:
    QSize sectionSizeFromContents(int) const override { return {0, defaultSectionSize()}; }
};

// The column header keeps its size hint until its sections change; the stock
// one measures its section texts again on every layout of the table.
class ColumnHeader : public QHeaderView {
  public:
    explicit ColumnHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
        connect(this, &QHeaderView::sectionCountChanged, this, [this] { hint_ = {}; });
    }
    void setModel(QAbstractItemModel* model) override {
        QHeaderView::setModel(model);
        if (model) {
            connect(model, &QAbstractItemModel::headerDataChanged, this, [this] { hint_ = {}; });
        }
        hint_ = {};
    }
    QSize sizeHint() const override {
        if (!hint_.isValid())
            hint_ = QHeaderView::sizeHint();
        return hint_;
    }

  protected:
    void changeEvent(QEvent* e) override {
        if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange)
            hint_ = {};
        QHeaderView::changeEvent(e);
    }

  private:
    mutable QSize hint_;
};

}  // namespace

int ListRowStore::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : published_;
}

int ListRowStore::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers.size());
}

QVariant ListRowStore::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) {
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        // The view's rows are behind ours by the rows not announced yet; after
        // an emptying it has not been told of, they are gone.
        const size_t row = static_cast<size_t>(index.row() + pendingTop_);
        if (clearPending_ || row >= rows.size()) {
            return QString();
        }
        const auto& cells = rows[row].cells;
        const auto col = static_cast<size_t>(index.column());
        return col < cells.size() ? FromGbk(cells[col]) : QString();
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

int ListRowStore::InsertRow(int at, std::string_view text0, bool announce) {
    at = std::clamp(at, 0, static_cast<int>(rows.size()));
    Row row;
    row.cells.resize(std::max<size_t>(headers.size(), 1));
    row.cells[0] = std::string(text0);
    if (!announce && at == 0) {
        rows.push_front(std::move(row));
        if (!clearPending_) {
            ++pendingTop_;
        }
        return 0;
    }
    Publish();
    beginInsertRows({}, at, at);
    rows.insert(rows.begin() + at, std::move(row));
    ++published_;
    endInsertRows();
    return at;
}

void ListRowStore::Clear(bool announce) {
    if (!announce) {
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
        if (r.cells.size() < headers.size())
            r.cells.insert(
                r.cells.begin() + std::min<size_t>(static_cast<size_t>(at), r.cells.size()),
                std::string());
    }
    endInsertColumns();
}

void ListRowStore::CellChanged(int row, int column) {
    const int at = ViewRow(row);
    if (at < 0) {
        return;  // the view will be told of the whole row
    }
    const QModelIndex i = index(at, column);
    Q_EMIT dataChanged(i, i, {Qt::DisplayRole});
}

CListCtrl::CListCtrl() {
    repaint_.setSingleShot(true);
    repaint_.setInterval(33);  // at most about 30 repaints a second while rows stream in
    connect(&repaint_, &QTimer::timeout, this, [this] {
        suspended_ = false;
        store_.Publish();
        if (auto* v = view()) {
            v->setUpdatesEnabled(true);
            // Paint now: a scheduled repaint would find updates held back again
            // by the next row, and the list would never show while rows keep coming.
            v->repaint();
        }
    });
}

CListCtrl::~CListCtrl() {
    if (auto* v = view()) {
        v->setModel(nullptr);
        v->removeEventFilter(this);
        v->viewport()->removeEventFilter(this);
    }
}

void CListCtrl::PreSubclassWindow() {
    QTableView* v = view();
    if (!v)
        return;
    v->setVerticalHeader(new RowHeader(v));
    v->setHorizontalHeader(new ColumnHeader(v));
    v->setModel(&store_);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->setSelectionMode(QAbstractItemView::ExtendedSelection);
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->setTabKeyNavigation(false);  // Tab leaves the list for the next control
    v->setSortingEnabled(false);
    v->setWordWrap(false);
    v->setTextElideMode(Qt::ElideRight);
    v->setShowGrid(false);
    v->verticalHeader()->hide();
    // Uniform row heights: inserting a row never measures the others.
    v->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    v->verticalHeader()->setDefaultSectionSize(v->fontMetrics().height() + 4);
    v->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    v->horizontalHeader()->setStretchLastSection(false);
    v->horizontalHeader()->setSectionsClickable(true);
    v->horizontalHeader()->setHighlightSections(false);
    v->horizontalHeader()->setVisible((style_ & LVS_TYPEMASK) == LVS_REPORT);
    v->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(v->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int section) { Q_EMIT columnClicked(section); });
    v->installEventFilter(this);
    v->viewport()->installEventFilter(this);
}

namespace {
// Only the keys that the list's handlers tell apart have a code; every other key
// arrives as 0, which names no key.
int VirtualKey(int qtKey) {
    switch (qtKey) {
        case Qt::Key_Up:
            return 0x26;  // VK_UP
        case Qt::Key_Down:
            return 0x28;  // VK_DOWN
        default:
            return 0;
    }
}
}  // namespace

bool CListCtrl::eventFilter(QObject* watched, QEvent* event) {
    QTableView* v = view();
    if (v && watched == v && event->type() == QEvent::KeyPress) {
        Q_EMIT keyDown(VirtualKey(static_cast<QKeyEvent*>(event)->key()));
    }
    if (v && watched == v->viewport()) {
        ViewportMouseEvent(*v, event);
    }
    return CWnd::eventFilter(watched, event);
}

void CListCtrl::ViewportMouseEvent(QTableView& v, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseButtonDblClick) {
        return;
    }
    const auto* me = static_cast<QMouseEvent*>(event);
    // Both notifications are the left button's, sent after the view has updated its
    // selection; the release that ends a double click sends no click.
    if (type == QEvent::MouseButtonPress) {
        if (me->button() == Qt::LeftButton) {
            leftDown_ = true;
        }
        // A click below the last row clears the selection, as a list control does.
        if (me->button() != Qt::MiddleButton && !v.indexAt(me->position().toPoint()).isValid()) {
            v.clearSelection();
        }
    } else if (me->button() != Qt::LeftButton) {
        return;
    } else if (type == QEvent::MouseButtonRelease && leftDown_) {
        leftDown_ = false;
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT itemClicked(); }, Qt::QueuedConnection);
    } else if (type == QEvent::MouseButtonDblClick) {
        leftDown_ = false;
        // Anywhere in the viewport: below the rows too, where the view itself reports nothing.
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT itemDoubleClicked(); }, Qt::QueuedConnection);
    }
}

void CListCtrl::ScheduleRepaint() {
    QTableView* v = view();
    if (!v || !v->isVisible())
        return;
    if (!suspended_) {
        suspended_ = true;
        v->setUpdatesEnabled(false);  // viewport, scroll bars and header alike
        repaint_.start();
    }
}

int CListCtrl::GetItemCount() const {
    return static_cast<int>(store_.rows.size());
}

std::string CListCtrl::GetItemText(int item, int subItem) const {
    return std::string(GetItemTextView(item, subItem));
}

std::string_view CListCtrl::GetItemTextView(int item, int subItem) const {
    if (!ValidRow(item) || subItem < 0)
        return {};
    const auto& cells = store_.rows[static_cast<size_t>(item)].cells;
    return static_cast<size_t>(subItem) < cells.size()
               ? std::string_view(cells[static_cast<size_t>(subItem)])
               : std::string_view();
}

bool CListCtrl::SetItemText(int item, int subItem, std::string_view text) {
    if (!ValidRow(item) || subItem < 0 || subItem >= std::max(1, GetHeaderColumnCount())) {
        return false;
    }
    auto& cells = store_.rows[static_cast<size_t>(item)].cells;
    if (cells.size() <= static_cast<size_t>(subItem))
        cells.resize(static_cast<size_t>(subItem) + 1);
    cells[static_cast<size_t>(subItem)].assign(text.data(), text.size());
    ScheduleRepaint();
    // While repaints are held back the whole view is painted when they resume;
    // telling the view about each cell would only cost time per row.
    if (!suspended_) {
        store_.CellChanged(item, subItem);
    }
    return true;
}

int CListCtrl::InsertItem(int item, std::string_view text) {
    if (item < 0)
        return -1;
    ScheduleRepaint();
    return store_.InsertRow(item, text, !suspended_);
}

bool CListCtrl::DeleteAllItems() {
    ScheduleRepaint();
    store_.Clear(!suspended_);
    return true;
}

bool CListCtrl::GetItem(LVITEM& it) const {
    Publish();
    if (!ValidRow(it.iItem))
        return false;
    const auto& row = store_.rows[static_cast<size_t>(it.iItem)];
    if (it.mask & LVIF_IMAGE)
        it.iImage = row.image;
    if (it.mask & LVIF_PARAM)
        it.lParam = row.param;
    if (it.mask & LVIF_STATE)
        it.state = GetItemState(it.iItem, it.stateMask);
    return true;
}

bool CListCtrl::SetItem(const LVITEM& it) {
    Publish();
    if (!ValidRow(it.iItem))
        return false;
    auto& row = store_.rows[static_cast<size_t>(it.iItem)];
    if (it.mask & LVIF_IMAGE)
        row.image = it.iImage;
    if (it.mask & LVIF_PARAM)
        row.param = it.lParam;
    if (it.mask & LVIF_STATE)
        SetItemState(it.iItem, it.state, it.stateMask);
    return true;
}

unsigned CListCtrl::GetItemState(int item, unsigned mask) const {
    Publish();
    if (!ValidRow(item))
        return 0;
    unsigned state = store_.rows[static_cast<size_t>(item)].state & ~(LVIS_SELECTED | LVIS_FOCUSED);
    if (QTableView* v = view(); v && v->selectionModel()) {
        if (v->selectionModel()->isRowSelected(item, {}))
            state |= LVIS_SELECTED;
        if (v->selectionModel()->currentIndex().row() == item)
            state |= LVIS_FOCUSED;
    }
    return state & mask;
}

bool CListCtrl::SetItemState(int item, unsigned state, unsigned mask) {
    Publish();
    if (!ValidRow(item))
        return false;
    auto& row = store_.rows[static_cast<size_t>(item)];
    const unsigned kept = mask & ~(LVIS_SELECTED | LVIS_FOCUSED);
    row.state = (row.state & ~kept) | (state & kept);
    QTableView* v = view();
    QItemSelectionModel* sel = v ? v->selectionModel() : nullptr;
    if (!sel)
        return true;
    const QModelIndex index = store_.index(item, 0);
    // Sorting swaps the states of every row it moves; most are unselected, and
    // telling the selection model what it already holds costs time per swap.
    if ((mask & LVIS_SELECTED) && sel->isRowSelected(item, {}) != bool(state & LVIS_SELECTED)) {
        sel->select(index, ((state & LVIS_SELECTED) ? QItemSelectionModel::Select
                                                    : QItemSelectionModel::Deselect) |
                               QItemSelectionModel::Rows);
    }
    if (mask & LVIS_FOCUSED) {
        if (state & LVIS_FOCUSED) {
            sel->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        } else if (sel->currentIndex().row() == item) {
            sel->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
        }
    }
    return true;
}

int CListCtrl::GetFirstSelectedItem() const {
    Publish();
    QTableView* v = view();
    if (!v || !v->selectionModel())
        return -1;
    int first = -1;
    for (const QModelIndex& i : v->selectionModel()->selectedRows()) {
        if (first < 0 || i.row() < first)
            first = i.row();
    }
    return first;
}

int CListCtrl::GetNextItem(int start, int flags) const {
    Publish();
    if (!(flags & LVNI_SELECTED))
        return ValidRow(start + 1) ? start + 1 : -1;
    for (int i = start + 1; i < GetItemCount(); ++i) {
        if (GetItemState(i, LVIS_SELECTED))
            return i;
    }
    return -1;
}

int CListCtrl::GetHeaderColumnCount() const {
    return store_.columnCount();
}

int CListCtrl::InsertColumn(int col, std::string_view heading, int, int width) {
    if (col < 0)
        return -1;
    col = std::min(col, GetHeaderColumnCount());
    store_.InsertHeader(col, heading);
    if (width >= 0)
        SetColumnWidth(col, width);
    return col;
}

bool CListCtrl::SetColumnWidth(int col, int cx) {
    QTableView* v = view();
    if (!v || col < 0 || col >= GetHeaderColumnCount())
        return false;
    v->horizontalHeader()->resizeSection(col, cx);
    return true;
}

int CListCtrl::GetColumnWidth(int col) const {
    QTableView* v = view();
    return v ? v->horizontalHeader()->sectionSize(col) : 0;
}

void CListCtrl::ModifyStyle(unsigned remove, unsigned add) {
    style_ = (style_ & ~remove) | add;
    if (QTableView* v = view()) {
        v->horizontalHeader()->setVisible((style_ & LVS_TYPEMASK) == LVS_REPORT);
    }
}

void CListCtrl::SetExtendedStyle(unsigned exStyle) {
    exStyle_ = exStyle;
    if (QTableView* v = view()) {
        v->setShowGrid(exStyle & LVS_EX_GRIDLINES);
        v->setSelectionBehavior((exStyle & LVS_EX_FULLROWSELECT) ? QAbstractItemView::SelectRows
                                                                 : QAbstractItemView::SelectItems);
    }
}
