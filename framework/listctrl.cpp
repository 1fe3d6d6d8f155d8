#include "framework/listctrl.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QHoverEvent>
#include <QImage>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStaticText>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cmath>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <unordered_map>

#include "framework/controlfactory.h"
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

// A cell's text laid out for a width, shared by every cell that shows the
// same text at that width.
struct LaidText {
    QString text;       // the whole text, converted from GBK
    QStaticText shown;  // as drawn: its first line, elided to the width
    // `shown` drawn once in `ink` on `paper`, copied to the screen for cells
    // that show it on that paper: cheaper than drawing its glyphs each time.
    mutable QImage sprite;
    mutable QRgb ink = 0, paper = 0;
    mutable qreal spriteTop = 0;
};

struct RowPaint {
    struct Cell {
        std::shared_ptr<const LaidText> laid;
        int width = -1;  // the width it was laid out for
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
        QString text;
        if (row->paint && col < row->paint->cells.size() &&
            row->paint->cells[col].generation == paintGeneration_) {
            text = row->paint->cells[col].laid->text;
        } else {
            text = FromGbk(row->cells.Cell(index.column()));
        }
        if (role == Qt::ToolTipRole && toolTip_) {
            return toolTip_(row->cells, index.column(), text);
        }
        return text;
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

// Qt's raster engine hands a fill or blend of more than about a hundred
// lines to a pool of threads and waits for them: for the list, whose rows
// repaint at every batch, that cost more in wake-ups and switches than the
// painting itself. Its background goes in strips of 64 lines on this thread.
constexpr int kPaintStrip = 64;

// The list's scroll bars are repainted with the rows at every batch (the
// table lays itself out again, and a scroll bar repaints whenever its steps
// are set, changed or not), mostly looking just as before; the horizontal one,
// which the style draws as many lines, cost as much as the rows themselves.
// This one keeps what it painted last and shows it again until something
// that changes its look happens.
class CachedScrollBar final : public QScrollBar {
  public:
    using QScrollBar::QScrollBar;

  protected:
    bool event(QEvent* e) override {
        switch (e->type()) {
            case QEvent::HoverEnter:
            case QEvent::HoverMove:
                hovered_ = HitTest(static_cast<QHoverEvent*>(e)->position().toPoint());
                break;
            case QEvent::HoverLeave:
                hovered_ = QStyle::SC_None;
                break;
            case QEvent::MouseButtonPress:
                pressed_ = HitTest(static_cast<QMouseEvent*>(e)->position().toPoint());
                break;
            case QEvent::MouseButtonRelease:
                pressed_ = QStyle::SC_None;
                break;
            case QEvent::StyleChange:
            case QEvent::PaletteChange:
                cache_.clear();
                break;
            default:
                break;
        }
        return QScrollBar::event(e);
    }
    // Once the list holds several times the rows it shows, the handle has its
    // least length and, at the top, stays where it is while rows come: a new
    // range then changes nothing on screen and is not repainted.
    void sliderChange(SliderChange change) override {
        QStyleOptionSlider opt;
        if (change == SliderValueChange || !shown_ || *shown_ != LookOf(opt)) {
            QScrollBar::sliderChange(change);
        }
    }
    void paintEvent(QPaintEvent*) override {
        QStyleOptionSlider opt;
        const Key key = LookOf(opt);
        shown_ = key;
        auto found = std::find_if(cache_.begin(), cache_.end(),
                                  [&](const auto& entry) { return entry.first == key; });
        if (found == cache_.end()) {
            if (cache_.size() >= kKept) {
                cache_.pop_back();
            }
            cache_.emplace_front(key, Draw(opt, key.ratio));
            found = cache_.begin();
        } else if (found != cache_.begin()) {
            cache_.splice(cache_.begin(), cache_, found);  // most recently used first
            found = cache_.begin();
        }
        QPainter painter(this);
        painter.drawPixmap(0, 0, found->second);
    }

  private:
    struct Key {
        QRect rect;
        QStyle::State state;
        QStyle::SubControls active;
        QRect handle;
        bool atMinimum = false, atMaximum = false;
        qreal ratio = 1;
        bool operator==(const Key&) const = default;
    };
    // A few dozen of a few kilobytes each.
    static constexpr size_t kKept = 48;

    // As QScrollBar paints itself, with the part under the pointer lit and
    // the part held down sunken. What the style draws follows from where the
    // handle lies in pixels and whether it rests at an end, not from the range
    // itself: as rows come, most batches leave the handle where it was, and as
    // the list fills and is emptied at its cap the same places come back.
    Key LookOf(QStyleOptionSlider& opt) const {
        initStyleOption(&opt);
        opt.subControls = QStyle::SC_All;
        opt.activeSubControls = pressed_ != QStyle::SC_None ? pressed_ : hovered_;
        if (pressed_ != QStyle::SC_None && (isSliderDown() || underMouse())) {
            opt.state |= QStyle::State_Sunken;
        }
        return Key{
            opt.rect,
            opt.state,
            opt.activeSubControls,
            style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this),
            opt.sliderPosition == opt.minimum,
            opt.sliderPosition == opt.maximum,
            devicePixelRatioF()};
    }

    QStyle::SubControl HitTest(QPoint at) const {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        return style()->hitTestComplexControl(QStyle::CC_ScrollBar, &opt, at, this);
    }

    QPixmap Draw(const QStyleOptionSlider& opt, qreal ratio) const {
        QPixmap drawn(size() * ratio);
        drawn.setDevicePixelRatio(ratio);
        // Opaque: what lies beneath is then never painted first.
        drawn.fill(palette().color(QPalette::Window));
        QPainter painter(&drawn);
        // In strips, as the list's background is painted: each drawn whole
        // on an image only a strip high, which bounds it as the screen does.
        // (Bounded by a clip instead, the style shades the groove otherwise
        // than a stock scroll bar.)
        const int strip = std::max(1, static_cast<int>(kPaintStrip / ratio));
        QImage part(QSize(width(), strip) * ratio, QImage::Format_RGB32);
        part.setDevicePixelRatio(ratio);
        for (int y = 0; y < height(); y += strip) {
            part.fill(palette().color(QPalette::Window));
            QPainter onPart(&part);
            onPart.translate(0, -y);
            style()->drawComplexControl(QStyle::CC_ScrollBar, &opt, &onPart, this);
            onPart.end();
            painter.drawImage(QPoint(0, y), part);
        }
        return drawn;
    }

    std::list<std::pair<Key, QPixmap>> cache_;
    std::optional<Key> shown_;  // what the last paint put on screen
    QStyle::SubControl hovered_ = QStyle::SC_None;
    QStyle::SubControl pressed_ = QStyle::SC_None;
};

// The table asks its style to paint each cell's row panel before the cell;
// for a cell neither selected nor alternate that paints nothing, but the
// style works out its colours first, a good part of a repaint. Those cells
// are not asked.
class PlainRowsStyle final : public QProxyStyle {
  public:
    using QProxyStyle::QProxyStyle;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element == PE_PanelItemViewRow) {
            const auto* item = qstyleoption_cast<const QStyleOptionViewItem*>(option);
            if (item && !(item->state & State_Selected) &&
                !(item->features & QStyleOptionViewItem::Alternate) &&
                item->backgroundBrush.style() == Qt::NoBrush) {
                return;
            }
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

// Draws each cell from text converted and laid out when its row is first
// painted, not at every paint. Texts repeat from row to row (the second, the
// addresses, the ports), so the laid-out texts of recent cells are kept and
// shared, and a plain cell's text is copied from an image of it made once
// rather than drawn glyph by glyph. It looks as the stock delegate does: the
// style's item panel where it shows anything, the text's first line elided on
// the right, the focus frame.
class CellPainter final : public QStyledItemDelegate {
  public:
    CellPainter(const ListRowStore& store, std::function<bool()> showsGrid, QObject* parent)
        : QStyledItemDelegate(parent), store_(store), showsGrid_(std::move(showsGrid)) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const ListRowStore::Row* row = store_.ViewRowData(index.row());
        if (!row) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        const bool selected = option.state & QStyle::State_Selected;
        const bool plain = !selected && !(option.state & QStyle::State_MouseOver);
        // The grid lines at the cell's right and bottom edge stay in view, as
        // a table that draws its own grid leaves them.
        const int grid = showsGrid_() ? 1 : 0;
        const QRect cellRect = option.rect.adjusted(0, 0, -grid, -grid);
        // A plain cell's panel is the viewport's background, already painted.
        if (!plain) {
            QStyleOptionViewItem panel(option);
            panel.features = QStyleOptionViewItem::HasDisplay;
            panel.rect = cellRect;
            style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);
        }
        if (textMargin_ < 0) {
            textMargin_ = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        }
        const QRect textRect = cellRect.adjusted(textMargin_, 0, -textMargin_, 0);
        const LaidText& laid = *Laid(*row, index.column(), textRect.width(), option.font).laid;
        const QPalette::ColorGroup group =
            !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
            : (option.state & QStyle::State_Active) ? QPalette::Normal
                                                    : QPalette::Inactive;
        if (!laid.shown.text().isEmpty()) {
            const QColor ink =
                option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
            const QBrush& paper = option.palette.brush(group, QPalette::Base);
            const qreal y = textRect.top() + (textRect.height() - laid.shown.size().height()) / 2;
            if (plain && paper.style() == Qt::SolidPattern) {
                DrawSprite(*painter, laid, textRect, y - textRect.top(), ink, paper.color(),
                           option.font);
            } else {
                painter->save();
                painter->setPen(ink);
                painter->setFont(option.font);
                painter->setClipRect(textRect, Qt::IntersectClip);
                painter->drawStaticText(QPointF(textRect.left(), y), laid.shown);
                painter->restore();
            }
        }
        if (option.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            QStyleOptionViewItem item(option);
            item.rect = cellRect;
            focus.rect = style->subElementRect(QStyle::SE_ItemViewItemFocusRect, &item, widget);
            focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
            focus.backgroundColor =
                option.palette.color(group, selected ? QPalette::Highlight : QPalette::Window);
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
        }
    }

  private:
    // Copies the image of `laid` in `ink` on `paper`, making it first when the
    // one kept is for other colours, another height or another screen.
    static void DrawSprite(QPainter& painter, const LaidText& laid, const QRect& textRect,
                           qreal textTop, const QColor& ink, const QColor& paper,
                           const QFont& font) {
        const qreal ratio = painter.device()->devicePixelRatioF();
        const int width =
            std::min(static_cast<int>(std::ceil(laid.shown.size().width())) + 1, textRect.width());
        const QSize size(std::max(width, 1), std::max(textRect.height(), 1));
        if (laid.sprite.isNull() || laid.ink != ink.rgba() || laid.paper != paper.rgba() ||
            laid.spriteTop != textTop || laid.sprite.devicePixelRatio() != ratio ||
            laid.sprite.size() != size * ratio) {
            QImage sprite(size * ratio, QImage::Format_RGB32);
            sprite.setDevicePixelRatio(ratio);
            sprite.fill(paper);
            QPainter p(&sprite);
            p.setPen(ink);
            p.setFont(font);
            p.drawStaticText(QPointF(0, textTop), laid.shown);
            p.end();
            laid.sprite = std::move(sprite);
            laid.ink = ink.rgba();
            laid.paper = paper.rgba();
            laid.spriteTop = textTop;
        }
        painter.drawImage(textRect.topLeft(), laid.sprite);
    }

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
        if (cell.generation == generation && cell.width == width) {
            return cell;
        }
        if (generation != generation_) {
            recent_.clear();
            generation_ = generation;
        }
        const std::string_view bytes = row.cells.Cell(column);
        std::string& key = key_;
        key.assign(reinterpret_cast<const char*>(&width), sizeof width);
        key.append(bytes);
        auto found = recent_.find(key);
        if (found == recent_.end()) {
            if (recent_.size() >= kRecent) {
                recent_.clear();  // a crude bound: texts of the rows on show come back at once
            }
            found = recent_.emplace(key, Make(bytes, width, font)).first;
        }
        cell.laid = found->second;
        cell.width = width;
        cell.generation = generation;
        return cell;
    }

    static std::shared_ptr<const LaidText> Make(std::string_view bytes, int width,
                                                const QFont& font) {
        auto made = std::make_shared<LaidText>();
        made->text = FromGbk(bytes);
        // One line is shown; more lines are hinted at by the ellipsis.
        qsizetype end = made->text.size();
        for (qsizetype i = 0; i < made->text.size(); ++i) {
            const QChar c = made->text.at(i);
            if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator ||
                c == QChar::ParagraphSeparator) {
                end = i;
                break;
            }
        }
        QString line = made->text.left(end);
        if (end < made->text.size()) {
            line += QChar(0x2026);
        }
        QStaticText shown(line);
        shown.setTextFormat(Qt::PlainText);  // a payload may look like markup
        shown.prepare(QTransform(), font);
        if (shown.size().width() > width) {
            // Laid out again only when it does not fit, which few cells do.
            shown.setText(QFontMetrics(font).elidedText(line, Qt::ElideRight, std::max(width, 0)));
            shown.prepare(QTransform(), font);
        }
        made->shown = std::move(shown);
        return made;
    }

    // With their images a few kilobytes each: 1,024 texts at most.
    static constexpr size_t kRecent = 1024;
    const ListRowStore& store_;
    std::function<bool()> showsGrid_;
    mutable int textMargin_ = -1;
    mutable int generation_ = -1;
    mutable std::unordered_map<std::string, std::shared_ptr<const LaidText>> recent_;
    mutable std::string key_;
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
    v->setItemDelegate(new CellPainter(
        store_, [this] { return (exStyle_ & LVS_EX_GRIDLINES) != 0; }, v));
    // The view's own style only: its header and scroll bars keep theirs.
    auto* rows = new PlainRowsStyle(v->style()->name());
    rows->setParent(v);
    v->setStyle(rows);
    v->setVerticalScrollBar(new CachedScrollBar(Qt::Vertical, v));

    v->setHorizontalScrollBar(new CachedScrollBar(Qt::Horizontal, v));
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
    const int strip = std::max(1, static_cast<int>(kPaintStrip / port->devicePixelRatioF()));
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
    v->viewport()->update();
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
