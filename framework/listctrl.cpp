#include "framework/listctrl.h"

#include <QEvent>
#include <QHeaderView>
#include <QHoverEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <algorithm>
#include <utility>
#include <vector>

#include "framework/cachedscrollbar.h"
#include "framework/cellpainter.h"
#include "framework/listheaders.h"
#include "framework/paintstrip.h"
#include "framework/plainrowsstyle.h"
#include "framework/rowpaint.h"

CListCtrl::CListCtrl() = default;

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
    v->setVerticalHeader(new detail::RowHeader(v));
    v->setHorizontalHeader(new detail::ColumnHeader(v));
    v->setModel(&store_);
    v->setItemDelegate(new detail::CellPainter(
        store_, [this] { return (exStyle_ & LVS_EX_GRIDLINES) != 0; }, v));
    // The view's own style only: its header and scroll bars keep theirs.
    auto* rows = new detail::PlainRowsStyle(v->style()->name());
    rows->setParent(v);
    v->setStyle(rows);
    v->setVerticalScrollBar(new detail::CachedScrollBar(Qt::Vertical, v));

    v->setHorizontalScrollBar(new detail::CachedScrollBar(Qt::Horizontal, v));
    // Qt's scroll area raises both scroll bars' containers at each layout,
    // which a batch's new row count brings about; opaque, their repaint
    // stops at themselves instead of reaching the table and the dialog.
    for (QScrollBar* bar : {v->verticalScrollBar(), v->horizontalScrollBar()}) {
        bar->setAttribute(Qt::WA_OpaquePaintEvent);
        bar->parentWidget()->setAttribute(Qt::WA_OpaquePaintEvent);
    }
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
    TakeOverRowCounts(*v);
    v->installEventFilter(this);
    v->viewport()->installEventFilter(this);
    // The viewport's background is painted by us, in strips (see eventFilter);
    // opaque, so that nothing beneath it is painted first either.
    v->viewport()->setAutoFillBackground(false);
    v->viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
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
    if (v && watched == v && event->type() == QEvent::FontChange) {
        store_.ForgetPaint();
    }
    if (v && watched == v->viewport()) {
        if (event->type() == QEvent::Paint) {
            PaintBackground(*v, static_cast<QPaintEvent*>(event)->region());
        } else if (event->type() == QEvent::HoverEnter || event->type() == QEvent::HoverMove) {
            hover_ = v->indexAt(static_cast<QHoverEvent*>(event)->position().toPoint());
        } else if (event->type() == QEvent::HoverLeave) {
            hover_ = QPersistentModelIndex();
        }
        ViewportMouseEvent(*v, event);
    }
    return CWnd::eventFilter(watched, event);
}

void CListCtrl::PaintBackground(QTableView& v, const QRegion& region) const {
    QWidget* port = v.viewport();
    QPainter painter(port);
    const QBrush base = port->palette().brush(port->backgroundRole());
    // The limit is in lines of the device, which a high-density screen doubles.
    const int strip =
        std::max(1, static_cast<int>(detail::kPaintStrip / port->devicePixelRatioF()));
    auto fill = [&](const QRect& r, const QBrush& brush) {
        for (int y = r.top(); y <= r.bottom(); y += strip) {
            painter.fillRect(QRect(r.left(), y, r.width(), std::min(strip, r.bottom() + 1 - y)),
                             brush);
        }
    };
    for (const QRect& r : region) {
        fill(r, base);
    }
    if (!(exStyle_ & LVS_EX_GRIDLINES) || store_.rowCount() == 0) {
        return;
    }
    // The grid as the view would draw it, a line at the right and bottom edge
    // of every cell, down to the last row; filled as rectangles one pixel
    // wide, which costs far less than drawing them as lines.
    QStyleOptionViewItem opt;
    opt.initFrom(&v);
    const QColor color(
        static_cast<QRgb>(v.style()->styleHint(QStyle::SH_Table_GridLineColor, &opt, &v)));
    const QBrush grid(color);
    QHeaderView* rowsHeader = v.verticalHeader();
    QHeaderView* columnsHeader = v.horizontalHeader();
    const int lastRow = store_.rowCount() - 1;
    const int bottom =
        rowsHeader->sectionViewportPosition(lastRow) + rowsHeader->sectionSize(lastRow);
    const int lastColumn = columnsHeader->count() - 1;
    const int right = lastColumn < 0 ? 0
                                     : columnsHeader->sectionViewportPosition(lastColumn) +
                                           columnsHeader->sectionSize(lastColumn);
    for (QRect r : region) {
        r.setBottom(std::min(r.bottom(), bottom - 1));
        r.setRight(std::min(r.right(), right - 1));
        if (r.isEmpty()) {
            continue;
        }
        const int first = std::max(rowsHeader->visualIndexAt(r.top()), 0);
        int last = rowsHeader->visualIndexAt(r.bottom());
        last = last < 0 ? lastRow : last;
        for (int row = first; row <= last; ++row) {
            const int y =
                rowsHeader->sectionViewportPosition(row) + rowsHeader->sectionSize(row) - 1;
            if (y >= r.top() && y <= r.bottom()) {
                painter.fillRect(QRect(r.left(), y, r.width(), 1), grid);
            }
        }
        for (int c = 0; c <= lastColumn; ++c) {
            const int x =
                columnsHeader->sectionViewportPosition(c) + columnsHeader->sectionSize(c) - 1;
            if (x >= r.left() && x <= r.right()) {
                fill(QRect(x, r.top(), 1, r.height()), grid);
            }
        }
    }
}

// Each batch of rows changes the row count. QTableView answers that with a
// layout of the whole area a moment later, and the range it then gives the
// scroll bar makes Qt's scroll area lay out its children again, restacking
// both scroll bars and so repainting both: at a low rate of traffic most of
// what a batch costs. While the vertical bar is shown before and after and
// every row has the one fixed height, nothing but the bar's range and the
// rows' offset can change; those are set here as QTableView sets them
// (scrolling by item), and everything else takes Qt's own way.
void CListCtrl::TakeOverRowCounts(QTableView& v) {
    QHeaderView* rows = v.verticalHeader();
    if (QObject::disconnect(rows, SIGNAL(sectionCountChanged(int, int)), &v,
                            SLOT(rowCountChanged(int, int)))) {
        connect(rows, &QHeaderView::sectionCountChanged, this,
                [this](int before, int now) { RowCountChanged(before, now); });
    }
    connect(&store_, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this, &v](const QModelIndex& parent, int first, int last) {
                shownBefore_ = {};
                if (parent.isValid()) {
                    return;
                }
                shownBefore_.count = store_.rowCount();
                shownBefore_.at = first;
                shownBefore_.added = last - first + 1;
                shownBefore_.first = v.rowAt(0);
                if (shownBefore_.first >= 0) {
                    shownBefore_.firstY =
                        v.verticalHeader()->sectionViewportPosition(shownBefore_.first);
                }
            });
    QScrollBar* bar = v.verticalScrollBar();
    if (QObject::disconnect(bar, SIGNAL(rangeChanged(int, int)), &v,
                            SLOT(_q_showOrHideScrollBars()))) {
        connect(bar, &QScrollBar::rangeChanged, this, [this, &v] {
            if (!rangeOnly_) {
                // Queued, as Qt's scroll area connects it.
                QMetaObject::invokeMethod(&v, "_q_showOrHideScrollBars", Qt::QueuedConnection);
            }
        });
    }
}

void CListCtrl::RowCountChanged(int before, int now) {
    QTableView* v = view();
    if (!v) {
        return;
    }
    QHeaderView* rows = v->verticalHeader();
    QScrollBar* bar = v->verticalScrollBar();
    const int height = rows->defaultSectionSize();
    // Taller than the whole table, before and after: the bar stays shown
    // (and the scroll area as it is laid out). The table's height bounds
    // what the viewport could ever have without asking the style.
    const int64_t room = v->height();
    const bool barStays = v->verticalScrollMode() == QAbstractItemView::ScrollPerItem &&
                          rows->sectionResizeMode(0) == QHeaderView::Fixed && height > 0 &&
                          rows->hiddenSectionCount() == 0 && bar->isVisible() &&
                          int64_t{before} * height > room && int64_t{now} * height > room &&
                          rows->sectionSize(0) == height && rows->sectionSize(now - 1) == height;
    if (!barStays) {
        shownBefore_ = {};
        QMetaObject::invokeMethod(v, "rowCountChanged", Qt::DirectConnection, Q_ARG(int, before),
                                  Q_ARG(int, now));
        return;
    }
    const int shown = std::max(1, v->viewport()->height() / height);
    rangeOnly_ = true;
    bar->setRange(0, now - shown);
    rangeOnly_ = false;
    bar->setPageStep(shown);
    bar->setSingleStep(1);
    if (bar->maximum() > 0 && bar->value() == bar->maximum()) {
        rows->setOffsetToLastSection();
    } else {
        rows->setOffsetToSectionPosition(bar->value());
    }
    UpdateShiftedRows(*v, before, now);
}

// Traffic often repeats itself from row to row (one conversation's addresses,
// ports, service and flags; the second), so after rows come on top many cells
// on screen show what they showed before. Each place on screen is compared
// with the row that was there, now further down the list; only the cells that
// differ are painted again. A place whose row is selected, current or under
// the pointer, before or after, is painted whole: those draw differently.
void CListCtrl::UpdateShiftedRows(QTableView& v, int before, int now) {
    const ShownBefore was = std::exchange(shownBefore_, ShownBefore{});
    QWidget* port = v.viewport();
    QHeaderView* rows = v.verticalHeader();
    const int first = v.rowAt(0);
    const int added = now - before;
    // Anything but rows put on top, below rows drawn at the same height as
    // before, is painted whole; so is a shift of alternate colours, which go
    // by the place in the list.
    if (was.count != before || was.at != 0 || was.added != added || added <= 0 || was.first < 0 ||
        first < 0 || rows->sectionViewportPosition(first) != was.firstY ||
        (v.alternatingRowColors() && ((first - was.first) & 1))) {
        port->update();
        return;
    }
    const QItemSelectionModel* selection = v.selectionModel();
    const int current = v.currentIndex().isValid() ? v.currentIndex().row() : -1;
    const int hover = hover_.isValid() ? hover_.row() : -1;
    auto marked = [&](int row) {
        return row == current || row == hover ||
               (selection && selection->rowIntersectsSelection(row, QModelIndex()));
    };
    QHeaderView* columns = v.horizontalHeader();
    const int columnCount = store_.columnCount();
    const int height = rows->defaultSectionSize();
    QRegion changed;
    for (int slot = 0, y = was.firstY; y < port->height(); ++slot, y += height) {
        const int shown = first + slot;
        const int earlier = was.first + slot + added;  // the row that was here, renumbered
        if (shown >= now) {
            break;
        }
        if (shown == earlier) {
            continue;
        }
        const ListRowStore::Row* a = store_.ViewRowData(shown);
        const ListRowStore::Row* b = earlier < now ? store_.ViewRowData(earlier) : nullptr;
        int left = -1, right = -1;  // the first and last column that differ
        if (!a || !b || marked(shown) || marked(earlier)) {
            left = 0;
            right = columnCount - 1;
        } else {
            for (int c = 0; c < columnCount; ++c) {
                if (a->cells.Cell(c) != b->cells.Cell(c)) {
                    left = left < 0 ? c : left;
                    right = c;
                }
            }
        }
        if (left < 0) {
            continue;
        }
        int x0 = port->width(), x1 = 0;
        for (int c = left; c <= right; ++c) {
            if (columns->isSectionHidden(c)) {
                continue;
            }
            const int x = columns->sectionViewportPosition(c);
            x0 = std::min(x0, x);
            x1 = std::max(x1, x + columns->sectionSize(c));
        }
        if (left == 0 && right == columnCount - 1) {
            x0 = 0;
            x1 = port->width();
        }
        if (x1 > x0) {
            changed += QRect(x0, y, x1 - x0, height);
        }
    }
    if (!changed.isEmpty()) {
        port->update(changed);
    }
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

int CListCtrl::GetItemCount() const {
    return static_cast<int>(store_.rows.size());
}

std::string CListCtrl::GetItemText(int item, int subItem) const {
    return std::string(GetItemTextView(item, subItem));
}

std::string_view CListCtrl::GetItemTextView(int item, int subItem) const {
    if (!ValidRow(item) || subItem < 0)
        return {};
    return store_.rows[static_cast<size_t>(item)].cells.Cell(subItem);
}

std::string_view CListCtrl::GetItemAttachment(int item) const {
    return ValidRow(item) ? store_.rows[static_cast<size_t>(item)].cells.Attachment()
                          : std::string_view();
}

bool CListCtrl::SetItemText(int item, int subItem, std::string_view text) {
    if (!ValidRow(item) || subItem < 0 || subItem >= std::max(1, GetHeaderColumnCount())) {
        return false;
    }
    auto& row = store_.rows[static_cast<size_t>(item)];
    row.cells.SetCell(subItem, text);
    row.paint.reset();
    store_.CellChanged(item, subItem);
    return true;
}

int CListCtrl::InsertItem(int item, std::string_view text) {
    const std::string_view cells[] = {text};
    return InsertItem(item, cells);
}

int CListCtrl::InsertItem(int item, std::span<const std::string_view> cells,
                          std::string_view attachment) {
    if (item < 0)
        return -1;
    const size_t columns = static_cast<size_t>(std::max(1, GetHeaderColumnCount()));
    if (cells.size() == columns) {
        return store_.InsertRow(item, CellBlock(cells, attachment));
    }
    // Every row has a cell for each column, empty where none was given.
    std::vector<std::string_view> all(columns);
    std::copy_n(cells.begin(), std::min(cells.size(), columns), all.begin());
    return store_.InsertRow(item, CellBlock(all, attachment));
}

bool CListCtrl::SwapItemTexts(int a, int b) {
    if (!ValidRow(a) || !ValidRow(b))
        return false;
    auto& ra = store_.rows[static_cast<size_t>(a)];
    auto& rb = store_.rows[static_cast<size_t>(b)];
    std::swap(ra.cells, rb.cells);
    std::swap(ra.paint, rb.paint);
    store_.RowChanged(a);
    store_.RowChanged(b);
    return true;
}

bool CListCtrl::DeleteAllItems() {
    store_.Clear();
    return true;
}

bool CListCtrl::GetItem(LVITEM& it) const {
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
        // The grid is drawn with the background (PaintBackground), not by the view.
        v->setShowGrid(false);
        v->viewport()->update();
        v->setSelectionBehavior((exStyle & LVS_EX_FULLROWSELECT) ? QAbstractItemView::SelectRows
                                                                 : QAbstractItemView::SelectItems);
    }
}
