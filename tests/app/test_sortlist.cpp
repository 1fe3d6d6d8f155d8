// Sorting the event list by the text of a clicked column.
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QHoverEvent>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTableView>
#include <QTest>
#include <deque>
#include <set>
#include <tuple>

#include "capture/row_batch.h"
#include "framework/gbk.h"
#include "ui/text/gbkcompare.h"
#include "ui/widgets/sortlistctrl.h"

namespace {

struct Fixture {
    QTableView view;
    CSortListCtrl list;
    Fixture() {
        view.resize(840, 300);
        list.Attach(&view);
    }
    // Rows top to bottom with the given texts in `column`; item value = original position.
    void Fill(int column, std::initializer_list<const char*> texts) {
        int i = 0;
        for (const char* t : texts) {
            const int row = list.InsertItem(list.GetItemCount(), "x");
            list.SetItemText(row, column, t);
            list.SetItemText(row, 7, "row" + std::to_string(i));
            LVITEM it;
            it.mask = LVIF_PARAM | LVIF_IMAGE;
            it.iItem = row;
            it.lParam = i;
            it.iImage = 100 + i;
            list.SetItem(it);
            ++i;
        }
    }
    // A batch of `rows` rows numbered on from the last, through the capture's insertion.
    InsertOutcome Batch(int rows) { return Batch(rows, 1, 0); }
    // The same with texts that repeat, as traffic repeats itself: the time
    // column's for `timeRun` rows in a row, the data column's every
    // `dataCycle` rows (0: never).
    InsertOutcome Batch(int rows, int timeRun, int dataCycle) {
        RowBatch b;
        for (int i = 0; i < rows; ++i, ++next) {
            texts.push_back(std::to_string(next / timeRun));
            texts.push_back("data " + std::to_string(dataCycle > 0 ? next % dataCycle : next));
            EventRow row;
            row.cells[kColTime] = texts[texts.size() - 2];
            row.cells[kColData] = texts.back();
            b.Add(row);
        }
        return InsertEventRows(list, b);
    }
    // The view's delayed layout, then the layouts it queues in turn.
    static void Settle() {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents();
        }
    }
    int next = 0;
    std::deque<std::string> texts;  // kept alive (and in place) for the rows' views
    std::vector<std::string> Column(int c) const {
        std::vector<std::string> out;
        for (int r = 0; r < list.GetItemCount(); ++r)
            out.push_back(list.GetItemText(r, c));
        return out;
    }
};

using V = std::vector<std::string>;

}  // namespace

class SortTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void gbkUnits() {
        QVERIFY(CompareGbk("abc", "abc") == 0);
        QVERIFY(CompareGbk("ab", "abc") < 0);  // a prefix sorts first
        QVERIFY(CompareGbk("", "a") < 0);
        QVERIFY(CompareGbk("Z", "a") < 0);  // case-sensitive
        // A double-byte unit is worth lead·256 + trail, above every single byte.
        QVERIFY(CompareGbk("\xB0\xA1", "z") > 0);
        QVERIFY(CompareGbk("\xB0\xA1", "\xB0\xA2") < 0);
        // A lead byte right before the end counts as the end.
        QVERIFY(CompareGbk("ab\xB0", "ab") == 0);
        QVERIFY(CompareGbk("ab\xB0", "ab!") < 0);
        // Long texts that differ only at their very end, or not at all.
        const std::string payload(600, 'q');
        QVERIFY(CompareGbk(payload, payload) == 0);
        QVERIFY(CompareGbk(payload + "\xB0\xA1", payload + "z") > 0);
        QVERIFY(CompareGbk(payload + "a", payload + "b") < 0);
    }

    void portsAndAddressesSortAsText() {
        Fixture f;
        f.Fill(2, {"80", "443", "1024", "443"});
        f.list.OnColumnClick(2);
        QCOMPARE(f.Column(2), (V{"1024", "443", "443", "80"}));
        Fixture g;
        g.Fill(1, {"9.1.1.1", "10.0.0.2", "(\xB1\xBE\xBB\xFA)10.0.0.1"});
        g.list.OnColumnClick(1);
        QCOMPARE(g.Column(1), (V{"(\xB1\xBE\xBB\xFA)10.0.0.1", "10.0.0.2", "9.1.1.1"}));
    }

    void clicksSetAndFlipTheDirection() {
        Fixture f;
        f.Fill(0, {"2024-03-05 14:03:29", "2024-03-05 14:03:27", "2024-03-05 14:03:28"});
        QCOMPARE(f.list.Ascending(), 0);
        f.list.OnColumnClick(0);  // first click: oldest first
        QCOMPARE(f.Column(0)[0], std::string("2024-03-05 14:03:27"));
        f.list.OnColumnClick(0);  // second click: newest first
        QCOMPARE(f.Column(0)[0], std::string("2024-03-05 14:03:29"));
        // Another header sorts ascending whatever the first one's direction.
        f.list.OnColumnClick(7);
        QCOMPARE(f.list.Ascending(), 1);
        QCOMPARE(f.list.SortColumn(), 7);
        QCOMPARE(f.Column(7), (V{"row0", "row1", "row2"}));
        // Whole rows travel: cells, image and item value.
        for (int r = 0; r < 3; ++r) {
            LVITEM it;
            it.mask = LVIF_PARAM | LVIF_IMAGE;
            it.iItem = r;
            f.list.GetItem(it);
            QCOMPARE(f.list.GetItemText(r, 7), "row" + std::to_string(it.lParam));
            QCOMPARE(it.iImage, 100 + static_cast<int>(it.lParam));
        }
    }

    void emptyAndSingleRowListsStillFlip() {
        Fixture f;
        f.list.OnColumnClick(3);
        QCOMPARE(f.list.Ascending(), 1);
        QVERIFY(!f.list.SortByColumnText(3, 1));
        f.Fill(3, {"b"});
        f.list.OnColumnClick(3);
        QCOMPARE(f.list.Ascending(), 0);
        QCOMPARE(f.Column(3), (V{"b"}));
        f.Fill(3, {"a", "c"});
        f.list.OnColumnClick(3);  // now ascending again
        QCOMPARE(f.Column(3), (V{"a", "b", "c"}));
        QVERIFY(!f.list.SortByColumnText(8, 1));  // no such column
    }

    void selectionAndStateTravelWithTheRow() {
        Fixture f;
        f.Fill(5, {"c", "a", "b"});
        f.list.SetItemState(0, LVIS_SELECTED | LVIS_CUT, LVIS_SELECTED | LVIS_CUT);
        f.list.OnColumnClick(5);
        QCOMPARE(f.Column(5), (V{"a", "b", "c"}));
        QCOMPARE(f.list.GetFirstSelectedItem(), 2);
        QCOMPARE(f.list.GetItemState(2, 0xFF0F), LVIS_SELECTED | LVIS_CUT);
        QCOMPARE(f.list.GetItemState(0, 0xFF0F), 0u);
    }

    void equalTextsAreNeverSwapped() {
        Fixture f;
        f.Fill(4, {"53", "53", "53", "53", "53"});
        f.list.OnColumnClick(4);
        f.list.OnColumnClick(4);
        QCOMPARE(f.Column(7), (V{"row0", "row1", "row2", "row3", "row4"}));
    }

    void rowStoreStaysAConsistentModel() {
        Fixture f;
        QAbstractItemModelTester tester(&f.list.store(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int i = 0; i < 600; ++i) {
            if (f.list.GetItemCount() >= 500)
                f.list.DeleteAllItems();
            const int r = f.list.InsertItem(0, std::to_string(i));
            QCOMPARE(r, 0);
            for (int c = 1; c < 8; ++c)
                f.list.SetItemText(r, c, "v");
        }
        QCOMPARE(f.list.GetItemCount(), 100);
        QCOMPARE(f.list.InsertItem(1000, "end"), 100);  // past the end appends
        QCOMPARE(f.list.InsertItem(-1, "no"), -1);
        QVERIFY(!f.list.SetItemText(500, 1, "missing row"));
        QVERIFY(!f.list.SetItemText(0, 8, "missing column"));
        QCOMPARE(f.list.GetItemText(500, 1), std::string());
        QCOMPARE(f.list.GetItemText(0, 9), std::string());
        QVERIFY(f.list.SortByColumnText(0, 1));
    }

    // Rows that come in a batch are told to the view once, at its end, also
    // across an emptying inside the batch; between batches the shown model is
    // consistent and the view's rows, selection and row numbers are the list's.
    void batchesKeepTheShownModelConsistent() {
        Fixture f;
        f.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.view));
        QAbstractItemModelTester tester(&f.list.store(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        f.Batch(3);
        QCOMPARE(f.list.store().rowCount(), 3);
        f.list.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);  // "1"
        f.Batch(5);
        QCOMPARE(f.list.store().rowCount(), 8);
        QCOMPARE(f.list.GetFirstSelectedItem(), 6);  // moved down with its row
        QCOMPARE(f.list.GetItemText(6, 0), std::string("1"));
        QTest::qWait(20);  // painted between batches

        const InsertOutcome crossing = f.Batch(1192);  // two emptyings inside the batch
        QCOMPARE(crossing.emptied, uint64_t{1000});
        QCOMPARE(f.list.GetItemCount(), 200);
        QCOMPARE(f.list.store().rowCount(), 200);
        QCOMPARE(f.list.store().index(0, 0).data().toString(), QString("1199"));
        QCOMPARE(f.list.store().index(199, 6).data().toString(), QString("data 1000"));
        QCOMPARE(f.list.GetFirstSelectedItem(), -1);  // the emptying took the selection
        QTest::qWait(20);
        f.Batch(4);
        QVERIFY(f.list.SortByColumnText(0, 1));
        const auto sorted = f.Column(0);
        QCOMPARE(static_cast<int>(sorted.size()), 204);
        QVERIFY(std::is_sorted(sorted.begin(), sorted.end(),
                               [](const auto& a, const auto& b) { return CompareGbk(a, b) < 0; }));
        f.list.DeleteAllItems();
        QCOMPARE(f.list.store().rowCount(), 0);
    }

    // A batch that leaves the vertical scroll bar shown changes only the bar's
    // range and the rows' offset, without Qt's layout of the whole view; what
    // is on the screen must be what that layout and a full repaint would
    // show, wherever the list stands scrolled, as rows come, the bar appears
    // and the list is emptied.
    void batchesLeaveTheViewAsAFullLayoutWould() {
        Fixture f;
        f.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.view));
        QScrollBar* bar = f.view.verticalScrollBar();
        int restacks = 0;  // Qt's scroll area raises the bars' holders at each of its layouts
        struct Restacks : QObject {
            int* count;
            explicit Restacks(int* c) : count(c) {}
            bool eventFilter(QObject*, QEvent* e) override {
                *count += e->type() == QEvent::ZOrderChange;
                return false;
            }
        } counter(&restacks);
        bar->parentWidget()->installEventFilter(&counter);
        auto state = [&] {
            Fixture::Settle();
            return std::tuple{bar->isVisible(), bar->minimum(), bar->maximum(), bar->value(),
                              bar->pageStep(), f.view.verticalHeader()->offset(),
                              f.view.viewport()->geometry(),
                              // What was flushed to the screen, not painted afresh.
                              f.view.screen()->grabWindow(f.view.winId()).toImage()};
        };
        const int fit = f.view.viewport()->height() / f.view.verticalHeader()->defaultSectionSize();
        QVERIFY(fit > 3);
        int quiet = 0;  // batches with the bar shown before and after
        // Counts around the bar's appearance, many small batches, and two
        // emptyings at the list's cap.
        for (int rows : {1, fit - 2, 1, 1, 2, 5, 1, 30, 7, 100, 3, 300, 60, 4, 500, 9, 2}) {
            // A table's Home and End move along the row; with Ctrl to the
            // first and the last row: the list at its top, its bottom, between.
            for (auto [key, modifier] : {std::pair{Qt::Key_Home, Qt::ControlModifier},
                                         {Qt::Key_End, Qt::ControlModifier},
                                         {Qt::Key_PageUp, Qt::NoModifier}}) {
                QTest::keyClick(&f.view, key, modifier);
                // The screen as a full repaint leaves it before the rows come:
                // what the batch paints, and what it keeps, is then its own.
                f.view.viewport()->update();
                Fixture::Settle();
                const bool shownBefore = bar->isVisible();
                const int countBefore = f.list.GetItemCount(), before = restacks;
                f.Batch(rows);
                const auto shown = state();
                // Rows beyond the viewport even without its scroll bars, before and after.
                if (shownBefore && std::min(countBefore, f.list.GetItemCount()) > fit + 2) {
                    ++quiet;
                    QCOMPARE(restacks, before);
                }
                f.view.doItemsLayout();
                f.view.update();  // and everything in it painted again
                QVERIFY2(state() == shown, qPrintable(QString("%1 rows after a batch of %2")
                                                          .arg(f.list.GetItemCount())
                                                          .arg(rows)));
            }
        }
        QVERIFY(quiet > 20);
    }

    // Rows that repeat what is on screen leave those cells as they are: a
    // batch like the rows shown paints nothing, one that differs in its time
    // paints that column's changed cells. What reaches the screen must still
    // be what a full repaint shows, with a selected row, the current row
    // with its focus frame, a row under the pointer and alternate colours
    // moving down with the rows, the list at its top, its bottom or between.
    void repeatedRowsRepaintOnlyWhatChanged() {
        Fixture f;
        f.view.show();
        f.view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f.view));
        f.view.setFocus();
        QWidget* port = f.view.viewport();
        struct Painted : QObject {
            QRegion region;
            bool eventFilter(QObject*, QEvent* e) override {
                if (e->type() == QEvent::Paint) {
                    region += static_cast<QPaintEvent*>(e)->region();
                }
                return false;
            }
        } painted;
        port->installEventFilter(&painted);
        const int height = f.view.verticalHeader()->defaultSectionSize();

        f.Batch(100, 1000, 1);  // time "0", data "data 0" in every row
        Fixture::Settle();
        painted.region = {};
        f.Batch(20, 1000, 1);
        Fixture::Settle();
        QVERIFY2(painted.region.isEmpty(), "rows like those shown were painted again");
        f.next = 1000;
        f.Batch(5, 1000, 1);  // time "1"
        Fixture::Settle();
        const QRect times(f.view.columnViewportPosition(kColTime), 0, f.view.columnWidth(kColTime),
                          5 * height);
        QVERIFY(!painted.region.isEmpty());
        QVERIFY2(times.contains(painted.region.boundingRect()),
                 qPrintable(QString("painted %1,%2 %3x%4")
                                .arg(painted.region.boundingRect().x())
                                .arg(painted.region.boundingRect().y())
                                .arg(painted.region.boundingRect().width())
                                .arg(painted.region.boundingRect().height())));

        auto screen = [&] {
            Fixture::Settle();
            return f.view.screen()->grabWindow(f.view.winId()).toImage();
        };
        auto hover = [&](int row) {
            const QRect cell = f.view.visualRect(f.list.store().index(row, 2));
            const QPointF at = cell.isValid() ? QPointF(cell.center()) : QPointF(1, 1);
            QHoverEvent move(QEvent::HoverMove, at, port->mapToGlobal(at), at);
            QApplication::sendEvent(port, &move);
        };
        int compared = 0;
        for (const bool alternate : {false, true}) {
            f.view.setAlternatingRowColors(alternate);
            for (auto [key, modifier] : {std::pair{Qt::Key_Home, Qt::ControlModifier},
                                         {Qt::Key_End, Qt::ControlModifier},
                                         {Qt::Key_PageUp, Qt::NoModifier}}) {
                QTest::keyClick(&f.view, key, modifier);  // moves the current row too
                const int top = f.view.rowAt(0);
                f.list.SetItemState(top + 2, LVIS_SELECTED, LVIS_SELECTED);
                hover(top + 3);
                // Sizes odd and even; texts that repeat for a few rows or for all.
                for (auto [rows, run, cycle] : {std::tuple{1, 8, 1},
                                                {2, 4, 2},
                                                {3, 8, 1},
                                                {7, 1000, 1},
                                                {20, 4, 2},
                                                {1, 1000, 1},
                                                {4, 8, 2}}) {
                    f.Batch(rows, run, cycle);
                    const QImage shown = screen();
                    port->update();
                    QVERIFY2(screen() == shown,
                             qPrintable(QString("%1 rows after a batch of %2, alternate %3")
                                            .arg(f.list.GetItemCount())
                                            .arg(rows)
                                            .arg(alternate)));
                    ++compared;
                }
                QHoverEvent leave(QEvent::HoverLeave, QPointF(-1, -1), QPointF(-1, -1),
                                  QPointF(-1, -1));
                QApplication::sendEvent(port, &leave);
            }
        }
        QCOMPARE(compared, 42);
    }

    // The view draws each cell from text laid out when the row was first
    // painted; a sort, a changed cell or a new column width must show in the
    // next paint exactly as a list filled that way from the start shows it.
    void paintedTextFollowsSortsAndChanges() {
        auto fill = [](Fixture& f, const std::vector<std::string>& order) {
            f.view.setFocusPolicy(Qt::NoFocus);  // whichever window is active draws no focus frame
            for (const std::string& t : order) {
                const int row = f.list.InsertItem(f.list.GetItemCount(), t);
                // GBK text, a line break and text that looks like markup.
                f.list.SetItemText(row, 6, "\xC4\xE3\xBA\xC3 " + t + "\n<b>second</b>");
                f.list.SetItemText(row, 7, "<i>" + t + "</i>");
            }
        };
        auto shot = [](Fixture& f) {
            f.view.show();
            (void)QTest::qWaitForWindowExposed(&f.view);
            QCoreApplication::processEvents();  // the view's delayed layout
            return f.view.viewport()->grab().toImage();
        };
        Fixture sorted, moved;
        fill(sorted, {"a", "b", "c", "d"});
        fill(moved, {"d", "b", "a", "c"});
        shot(moved);  // every row laid out in its old place
        moved.list.OnColumnClick(0);
        QCOMPARE(moved.Column(0), (V{"a", "b", "c", "d"}));
        QCOMPARE(shot(moved), shot(sorted));

        moved.list.SetItemText(2, 6, "changed");
        sorted.list.SetItemText(2, 6, "changed");
        QCOMPARE(shot(moved), shot(sorted));
        // Narrower (elided now), the whole width kept so that no scroll bar comes or goes.
        const int narrower = moved.list.GetColumnWidth(6) - 30;
        for (Fixture* f : {&moved, &sorted}) {
            f->list.SetColumnWidth(7, f->list.GetColumnWidth(7) + narrower);
            f->list.SetColumnWidth(6, 30);
        }
        QCOMPARE(shot(moved), shot(sorted));
        Fixture fresh;
        fill(fresh, {"a", "b", "c", "d"});
        fresh.list.SetItemText(2, 6, "changed");
        fresh.list.SetColumnWidth(7, fresh.list.GetColumnWidth(7) + narrower);
        fresh.list.SetColumnWidth(6, 30);
        QCOMPARE(shot(moved), shot(fresh));
    }

    // A long first line is elided from its front alone; a cell must show
    // what the whole line elided to the cell's width shows, whether its
    // characters are wide, narrow or Chinese, after a line break or not.
    void longLinesShowTheirWholeLineElided() {
        const std::string dots(3000, '.'), wide(3000, 'W');
        std::string chinese;
        for (int i = 0; i < 1500; ++i)
            chinese += "\xC4\xE3";  // 你
        const std::vector<std::string> lines = {dots,
                                                wide,
                                                chinese,
                                                std::string(700, ' ') + "tail",
                                                "short",
                                                dots + "W" + chinese,
                                                std::string(40, 'q') + "\n" + wide};
        Fixture raw, cut;
        for (Fixture* f : {&raw, &cut}) {
            f->view.setFocusPolicy(Qt::NoFocus);
            f->view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&f->view));
        }
        const QFont font = cut.view.font();
        const int margin =
            cut.view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &cut.view) + 1;
        for (const int width : {40, 160}) {
            for (Fixture* f : {&raw, &cut}) {
                f->list.DeleteAllItems();
                f->list.SetColumnWidth(6, width);
            }
            // The cell's text area: the grid line and a margin on each side off.
            const int room = width - 1 - 2 * margin;
            for (const std::string& line : lines) {
                raw.list.InsertItem(raw.list.GetItemCount(), "x");
                raw.list.SetItemText(raw.list.GetItemCount() - 1, 6, line);
                QString text = FromGbk(line);
                const qsizetype lineEnd = text.indexOf(u'\n');
                if (lineEnd >= 0)
                    text = text.left(lineEnd) + QChar(0x2026);
                const QString shown = QFontMetrics(font).elidedText(text, Qt::ElideRight, room);
                QVERIFY(shown.size() < 200);
                cut.list.InsertItem(cut.list.GetItemCount(), "x");
                cut.list.SetItemText(cut.list.GetItemCount() - 1, 6, ToGbk(shown));
            }
            Fixture::Settle();
            QCOMPARE(raw.view.viewport()->grab().toImage(), cut.view.viewport()->grab().toImage());
        }
    }

    // The list's scroll bars keep images of what they drew; as rows come in
    // batches, the list is emptied at its cap and scrolled, they must look
    // exactly as stock scroll bars do with the same steps.
    void scrollBarsLookAsStockOnes() {
        Fixture f;
        f.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.view));
        QWidget holder(&f.view);  // in the same window: both drawn as active, or inactive
        holder.show();
        int checked = 0;
        auto same = [&](QScrollBar* bar) {
            QScrollBar stock(bar->orientation(), &holder);
            stock.setStyle(bar->style());
            stock.setGeometry(QRect(QPoint(), bar->size()));
            stock.setRange(bar->minimum(), bar->maximum());
            stock.setPageStep(bar->pageStep());
            stock.setValue(bar->value());
            stock.show();
            // Wherever the test's pointer lies, it lights neither bar.
            stock.setAttribute(Qt::WA_UnderMouse, false);
            QHoverEvent away(QEvent::HoverLeave, QPointF(-1, -1), QPointF(-1, -1), QPointF(-1, -1));
            QCoreApplication::sendEvent(&stock, &away);
            // Drawn on an opaque image as the bar's own are: gradients are
            // rounded otherwise on a surface with an alpha channel.
            QImage drawn(bar->size(), QImage::Format_RGB32);
            drawn.fill(stock.palette().color(QPalette::Window));
            stock.render(&drawn, QPoint(), QRegion(), QWidget::DrawChildren);
            ++checked;
            return bar->grab().toImage().convertToFormat(QImage::Format_RGB32) == drawn;
        };
        unsigned seed = 7;
        // Three fillings of the list up to its cap and past it.
        while (f.next < 1600) {
            seed = seed * 1103515245 + 12345;
            f.Batch(1 + static_cast<int>(seed >> 16) % 40);
            switch ((seed >> 20) % 4) {
                case 0:
                    QTest::keyClick(&f.view, Qt::Key_Home, Qt::ControlModifier);
                    break;
                case 1:
                    QTest::keyClick(&f.view, Qt::Key_End, Qt::ControlModifier);
                    break;
                case 2:
                    QTest::keyClick(&f.view, Qt::Key_PageUp);
                    break;
                default:
                    break;
            }
            Fixture::Settle();
            if (f.view.verticalScrollBar()->isVisible()) {
                QVERIFY2(same(f.view.verticalScrollBar()),
                         qPrintable(QString("%1 rows").arg(f.list.GetItemCount())));
            }
        }
        QVERIFY(checked > 60);
        f.list.SetColumnWidth(7, 2000);
        Fixture::Settle();
        QScrollBar* sideways = f.view.horizontalScrollBar();
        QVERIFY(sideways->isVisible());
        for (int at : {0, 1, sideways->maximum() / 2, sideways->maximum()}) {
            sideways->setValue(at);
            QVERIFY2(same(sideways), qPrintable(QString("sideways at %1").arg(at)));
        }
    }

    // A batch that leaves the vertical scroll bar shown paints the rows and
    // at most that bar: neither header, whose texts and widths it does not
    // change, nor the sideways bar.
    void batchesRepaintNoHeader() {
        Fixture f;
        f.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.view));
        f.Batch(100);
        Fixture::Settle();
        f.Batch(1);  // the first after the bar came: its layout may still settle
        Fixture::Settle();
        struct Paints : QObject {
            std::set<QObject*> painted;
            bool eventFilter(QObject* o, QEvent* e) override {
                if (e->type() == QEvent::Paint) {
                    painted.insert(o);
                }
                return false;
            }
        } paints;
        QHeaderView* columns = f.view.horizontalHeader();
        const std::vector<QWidget*> watched = {columns, columns->viewport(),
                                               f.view.verticalHeader(),
                                               f.view.horizontalScrollBar(), f.view.viewport()};
        for (QWidget* w : watched) {
            w->installEventFilter(&paints);
        }
        for (int rows : {1, 3, 1, 30, 2, 60}) {
            paints.painted.clear();
            f.Batch(rows);
            Fixture::Settle();
            QVERIFY(paints.painted.count(f.view.viewport()));
            for (QWidget* w : watched) {
                QVERIFY2(w == f.view.viewport() || !paints.painted.count(w),
                         qPrintable(QString("%1 painted after a batch of %2")
                                        .arg(w->metaObject()->className())
                                        .arg(rows)));
            }
        }
    }

    void largeRandomListSortsCompletely() {
        Fixture f;
        std::srand(7);
        for (int i = 0; i < 500; ++i) {
            const int row = f.list.InsertItem(0, std::to_string(std::rand() % 1000));
            f.list.SetItemText(row, 1, "x");
        }
        QVERIFY(f.list.SortByColumnText(0, 1));
        const auto a = f.Column(0);
        QVERIFY(std::is_sorted(a.begin(), a.end()));
        QVERIFY(f.list.SortByColumnText(0, 0));
        const auto d = f.Column(0);
        QVERIFY(std::is_sorted(d.rbegin(), d.rend()));
    }
};

QTEST_MAIN(SortTest)
#include "test_sortlist.moc"
