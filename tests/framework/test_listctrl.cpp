// The list control's painting as rows come in batches, newest on top.
#include <QHeaderView>
#include <QPaintEvent>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <string>
#include <utility>

#include "framework/listctrl.h"

namespace {

constexpr int kCap = 500;  // the event list's, where it is emptied

struct Fixture {
    QTableView view;
    CListCtrl list;
    int next = 0;

    Fixture() {
        view.resize(840, 300);
        list.Attach(&view);
        list.ModifyStyle(LVS_TYPEMASK, LVS_REPORT);
        list.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
        for (int c = 0; c < 4; ++c) {
            list.InsertColumn(c, "col", LVCFMT_LEFT, 180);
        }
    }
    // Rows numbered on from the last, newest on top, emptied at the cap as
    // the capture inserts them; one row alone is not a batch.
    void Batch(int rows) {
        if (rows > 1)
            list.BeginBatch();
        for (int i = 0; i < rows; ++i, ++next) {
            if (list.GetItemCount() >= kCap)
                list.DeleteAllItems();
            const std::string n = std::to_string(next);
            const std::string address = "10.0.0." + std::to_string(next % 256);
            const std::string wide(static_cast<size_t>(next % 40), 'x');
            const std::string data = "data " + n;
            const std::string_view cells[] = {n, address, wide, data};
            list.InsertItem(0, cells);  // copied into the row
        }
        if (rows > 1)
            list.EndBatch();
    }
    // The view's delayed layout, then the layouts it queues in turn.
    static void Settle() {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents();
        }
    }
};

struct Paints : QObject {
    QRegion region;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint)
            region += static_cast<QPaintEvent*>(e)->region();
        return false;
    }
};

}  // namespace

class ListCtrlTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // New rows on top of a list shown from its top move what is already
    // drawn and paint only themselves. Wherever the list stands, with a row
    // picked by a click (selected, the focus frame on it), with alternate
    // row colours (which do not move with the rows), what reaches the screen
    // after each batch is what a full repaint of the same rows draws.
    void rowsOnTopMoveWhatIsDrawn() {
        for (const bool alternate : {false, true}) {
            Fixture f;
            f.view.setAlternatingRowColors(alternate);
            f.view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&f.view));
            QWidget* port = f.view.viewport();
            const int height = f.view.verticalHeader()->defaultSectionSize();
            const int fit = port->height() / height;
            QVERIFY(fit > 3);
            Paints paints;
            port->installEventFilter(&paints);
            auto onScreen = [&] {
                // What was flushed to the screen, not painted afresh.
                const QRect at(port->mapTo(&f.view, QPoint()), port->size());
                return f.view.screen()
                    ->grabWindow(f.view.winId())
                    .toImage()
                    .copy(at)
                    .convertToFormat(QImage::Format_RGB32);
            };
            auto repainted = [&] {
                return port->grab().toImage().convertToFormat(QImage::Format_RGB32);
            };
            f.Batch(3 * fit);
            Fixture::Settle();
            QTest::mouseClick(port, Qt::LeftButton, {}, QPoint(30, 2 * height + height / 2));
            Fixture::Settle();
            QCOMPARE(f.list.GetFirstSelectedItem(), 2);
            int moved = 0;
            // Around the rows on show, one at a time, and on past the cap
            // (emptied there, and the selection with it).
            const int sizes[] = {1,  2, 1, 3,  fit - 1, fit, fit + 1, 7, 1, 2 * fit, 5, 1, 4,
                                 40, 1, 2, 60, 1,       9,   100,     1, 3, 200,     1, 2};
            // From the top, from the middle of the list and from its end.
            const std::pair<Qt::Key, Qt::KeyboardModifier> starts[] = {
                {Qt::Key_Home, Qt::ControlModifier},
                {Qt::Key_PageDown, Qt::NoModifier},
                {Qt::Key_End, Qt::ControlModifier}};
            for (auto [key, modifier] : starts) {
                if (!f.view.currentIndex().isValid()) {
                    // Without a current row the first key only makes the top row current.
                    QTest::keyClick(&f.view, key, modifier);
                }
                QTest::keyClick(&f.view, key, modifier);
                Fixture::Settle();
                QCOMPARE(f.view.verticalHeader()->offset() == 0, key == Qt::Key_Home);
                for (int rows : sizes) {
                    const int before = f.list.GetItemCount();
                    const bool atTop = f.view.verticalHeader()->offset() == 0;
                    const int selected = f.list.GetFirstSelectedItem();
                    paints.region = {};
                    f.Batch(rows);
                    Fixture::Settle();
                    const QRegion painted = paints.region;  // before the grab paints it all
                    const QString where = QString("%1 rows after a batch of %2, %3%4")
                                              .arg(f.list.GetItemCount())
                                              .arg(rows)
                                              .arg(atTop ? "at the top" : "scrolled")
                                              .arg(alternate ? ", alternate colours" : "");
                    QVERIFY2(onScreen() == repainted(), qPrintable(where));
                    if (before + rows > kCap) {
                        continue;
                    }
                    // The selected row went down with the rows put above it.
                    QCOMPARE(f.list.GetFirstSelectedItem(), selected < 0 ? -1 : selected + rows);
                    if (atTop && !alternate && rows * height < port->height()) {
                        // Painted: the new rows, and the row with the focus frame.
                        ++moved;
                        QRegion fresh(0, 0, port->width(), rows * height);
                        if (const int current = f.view.currentIndex().row(); current >= 0) {
                            fresh += QRect(0, f.view.rowViewportPosition(current), port->width(),
                                           height);
                        }
                        QVERIFY2((painted - fresh).isEmpty(), qPrintable(where));
                    }
                }
            }
            QVERIFY(alternate || moved > 10);
        }
    }
};

QTEST_MAIN(ListCtrlTest)
#include "test_listctrl.moc"
