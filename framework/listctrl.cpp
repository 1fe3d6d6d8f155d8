#include "framework/listctrl.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStaticText>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>

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

struct RowPaint {
    struct Cell {
        QString text;       // the whole text, converted from GBK
        QStaticText shown;  // as drawn: its first line, elided to the width
        int width = -1;     // the width `shown` was made for
        int generation = -1;
    };
    std::vector<Cell> cells;
};

ListRowStore::Row::Row() = default;
ListRowStore::Row::Row(CellBlock c) : cells(std::move(c)) {}
ListRowStore::Row::Row(Row&&) noexcept = default;
ListRowStore::Row& ListRowStore::Row::operator=(Row&&) noexcept = default;
ListRowStore::Row::~Row() = default;

int ListRowStore::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : published_;
}

int ListRowStore::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers.size());
}

int ListRowStore::ModelRow(int viewRow) const {
    // The view's rows are behind ours by the rows not announced yet; after an
    // emptying it has not been told of, they are gone.
    const int row = viewRow + pendingTop_;
    if (clearPending_ || viewRow < 0 || row >= static_cast<int>(rows.size())) {
        return -1;
    }
    return row;
}

const ListRowStore::Row* ListRowStore::ViewRowData(int viewRow) const {
    const int row = viewRow < published_ ? ModelRow(viewRow) : -1;
    return row < 0 ? nullptr : &rows[static_cast<size_t>(row)];
}

QVariant ListRowStore::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) {
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        const Row* row = ViewRowData(index.row());
        if (!row) {
            return QString();
        }
        const size_t col = static_cast<size_t>(index.column());
        if (row->paint && col < row->paint->cells.size() &&
            row->paint->cells[col].generation == paintGeneration_) {
            return row->paint->cells[col].text;
        }
        return FromGbk(row->cells.Cell(index.column()));
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

int ListRowStore::InsertRow(int at, CellBlock cells) {
    at = std::clamp(at, 0, static_cast<int>(rows.size()));
    if (batching_ && at == 0) {
        rows.emplace_front(std::move(cells));
        if (!clearPending_) {
            ++pendingTop_;
        }
        return 0;
    }
    Publish();
    beginInsertRows({}, at, at);
    rows.emplace(rows.begin() + at, std::move(cells));
    ++published_;
    endInsertRows();
    return at;
}

void ListRowStore::Clear() {
    if (batching_) {
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

void ListRowStore::EndBatch() {
    batching_ = false;
    Publish();
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
        if (r.cells.Count() < static_cast<int>(headers.size())) {
            r.cells.InsertCell(std::min(at, r.cells.Count()));
        }
        r.paint.reset();
    }
    endInsertColumns();
}

void ListRowStore::RowChanged(int row) {
    const int at = ViewRow(row);
    if (at >= 0 && columnCount() > 0) {
        Q_EMIT dataChanged(index(at, 0), index(at, columnCount() - 1), {Qt::DisplayRole});
    }
}

void ListRowStore::CellChanged(int row, int column) {
    const int at = ViewRow(row);
    if (at < 0) {
        return;  // the view will be told of the whole row
    }
    const QModelIndex i = index(at, column);
    Q_EMIT dataChanged(i, i, {Qt::DisplayRole});
}

namespace {

// Draws each cell from its row's laid-out text instead of converting and
// shaping the cell's text again at every paint, which was most of a
// repaint's cost while rows stream in. It looks as the stock delegate does:
// the style's item panel, the text's first line elided on the right, the
// focus frame.
class CellPainter final : public QStyledItemDelegate {
  public:
    CellPainter(const ListRowStore& store, QObject* parent)
        : QStyledItemDelegate(parent), store_(store) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const ListRowStore::Row* row = store_.ViewRowData(index.row());
        if (!row) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        QStyleOptionViewItem opt(option);
        opt.features = QStyleOptionViewItem::HasDisplay;
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect textRect = opt.rect.adjusted(margin, 0, -margin, 0);
        const RowPaint::Cell& cell = Laid(*row, index.column(), textRect.width(), opt.font);
        const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                           : (opt.state & QStyle::State_Active)
                                               ? QPalette::Normal
                                               : QPalette::Inactive;
        const bool selected = opt.state & QStyle::State_Selected;
        painter->save();
        painter->setPen(
            opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->setFont(opt.font);
        painter->setClipRect(textRect, Qt::IntersectClip);
        const qreal y = textRect.top() + (textRect.height() - cell.shown.size().height()) / 2;
        painter->drawStaticText(QPointF(textRect.left(), y), cell.shown);
        painter->restore();

        if (opt.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(opt);
            focus.rect = style->subElementRect(QStyle::SE_ItemViewItemFocusRect, &opt, widget);
            focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
            focus.backgroundColor =
                opt.palette.color(group, selected ? QPalette::Highlight : QPalette::Window);
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
        }
    }

  private:
    const RowPaint::Cell& Laid(const ListRowStore::Row& row, int column, int width,
                               const QFont& font) const {
        if (!row.paint) {
            row.paint = std::make_unique<RowPaint>();
        }
        auto& cells = row.paint->cells;
        if (cells.size() <= static_cast<size_t>(column)) {
            cells.resize(static_cast<size_t>(column) + 1);
        }
        RowPaint::Cell& cell = cells[static_cast<size_t>(column)];
        const int generation = store_.PaintGeneration();
        if (cell.generation != generation) {
            cell.text = FromGbk(row.cells.Cell(column));
            cell.width = -1;
            cell.generation = generation;
        }
        if (cell.width != width) {
            // One line is shown; more lines are hinted at by the ellipsis.
            qsizetype end = cell.text.size();
            for (qsizetype i = 0; i < cell.text.size(); ++i) {
                const QChar c = cell.text.at(i);
                if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator ||
                    c == QChar::ParagraphSeparator) {
                    end = i;
                    break;
                }
            }
            QString line = cell.text.left(end);
            if (end < cell.text.size()) {
                line += QChar(0x2026);
            }
            const QFontMetrics metrics(font);
            QStaticText shown(metrics.elidedText(line, Qt::ElideRight, std::max(width, 0)));
            shown.setTextFormat(Qt::PlainText);  // a payload may look like markup
            shown.prepare(QTransform(), font);
            cell.shown = std::move(shown);
            cell.width = width;
        }
        return cell;
    }

    const ListRowStore& store_;
};

}  // namespace

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
    v->setVerticalHeader(new RowHeader(v));
    v->setHorizontalHeader(new ColumnHeader(v));
    v->setModel(&store_);
    v->setItemDelegate(new CellPainter(store_, v));
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
    if (v && watched == v && event->type() == QEvent::FontChange) {
        store_.ForgetPaint();
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
        v->setShowGrid(exStyle & LVS_EX_GRIDLINES);
        v->setSelectionBehavior((exStyle & LVS_EX_FULLROWSELECT) ? QAbstractItemView::SelectRows
                                                                 : QAbstractItemView::SelectItems);
    }
}
