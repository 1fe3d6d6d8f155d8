#include <QHeaderView>
#include <QStandardItemModel>
#include <QTableView>
#include <QtTest>

#include "framework/textcells.h"

// A table drawn with TextCells must look as the stock delegate draws it,
// selection, elision and alignment included, and a refresh that
// changes texts and widths must not show what was laid out before.
class TestTextCells : public QObject {
    Q_OBJECT

    struct Table {
        QStandardItemModel model{0, 4};
        QTableView view;
        explicit Table(bool lean) {
            view.setModel(&model);
            view.setWordWrap(false);
            view.setTextElideMode(Qt::ElideRight);
            view.setSelectionBehavior(QAbstractItemView::SelectRows);
            view.verticalHeader()->hide();
            view.setFocusPolicy(Qt::NoFocus);  // whichever window is active draws no focus frame
            view.resize(420, 260);
            if (lean)
                view.setItemDelegate(new TextCells(&view));
        }
        void Fill(const QStringList& texts, int firstWidth) {
            model.setRowCount(0);
            for (int r = 0; r < texts.size(); ++r) {
                QList<QStandardItem*> line;
                for (int c = 0; c < 4; ++c) {
                    auto* item = new QStandardItem(c == 3 ? QString::number(r * 1234567)
                                                          : texts[(r + c) % texts.size()]);
                    if (c == 3)
                        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                    line.append(item);
                }
                model.appendRow(line);
            }
            view.setColumnWidth(0, firstWidth);
        }
        QImage Shot() {
            view.show();
            (void)QTest::qWaitForWindowExposed(&view);
            QCoreApplication::processEvents();
            return view.viewport()->grab().toImage();
        }
    };

  private slots:
    void initTestCase() {
        QCursor::setPos(-1000, -1000);  // no cell under the pointer
    }

    void looksAsTheStockDelegate() {
        const QStringList texts = {
            QStringLiteral("192.168.1.20:443"),
            QStringLiteral("<b>markup</b> &amp; more"),
            QStringLiteral("\u5DF2\u9000\u51FA firefox-esr (4242)"),
            QStringLiteral("a long name that cannot fit in its column at all"),
            QString(),
            QStringLiteral("x")};
        Table lean(true), stock(false);
        lean.Fill(texts, 150);
        stock.Fill(texts, 150);
        QCOMPARE(lean.Shot(), stock.Shot());
        for (Table* t : {&lean, &stock})
            t->view.selectRow(2);
        QCOMPARE(lean.Shot(), stock.Shot());
        // Refreshed: other texts in the cells, a narrower column (elided now).
        const QStringList later = {QStringLiteral("10.0.0.1:53"), texts[3], texts[2],
                                   QStringLiteral("y")};
        lean.Fill(later, 60);
        stock.Fill(later, 60);
        QCOMPARE(lean.Shot(), stock.Shot());
    }

    // A hostile name shows its first line only, the rest hinted at.
    void showsOneLineOfPlainText() {
        Table broken(true), first(true);
        broken.Fill({QStringLiteral("evil\n<i>second</i>")}, 150);
        first.Fill({QStringLiteral("evil\u2026")}, 150);
        QCOMPARE(broken.Shot(), first.Shot());
    }
};

QTEST_MAIN(TestTextCells)
#include "test_textcells.moc"
