// The event detail window and the about box.
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QTextBrowser>
#include <QTextEdit>

#include "app/monitordlg.h"
#include "app/socketlib.h"
#include "framework/gbk.h"
#include "res/dialogs.h"
#include "res/resource.h"
#include "tests/app/dialog_driver.h"
#include "tests/app/user_input.h"
#include "ui/windows/aboutdlg.h"
#include "ui/windows/eventdetaildlg.h"

namespace {

void AddRow(CListCtrl& list, std::vector<std::string> cells) {
    const int r = list.InsertItem(0, cells[0]);
    for (int c = 1; c < 8; ++c)
        list.SetItemText(r, c, cells[static_cast<size_t>(c)]);
}

struct Shown {
    QString text;
    QColor arrowColor, timeColor, lastColor;
    bool readOnly = false;
};

// Double-clicks (by handler) and reads what the detail window shows.
Shown ShowDetail(CMonitorDlg& dlg, std::function<void()> whileOpen = {}) {
    Shown s;
    WhenDialogShows("Dialog", [&](QDialog* d) {
        auto* edit = d->findChild<QTextEdit*>();
        QVERIFY(edit);
        if (whileOpen)
            whileOpen();
        s.text = edit->toPlainText();
        s.readOnly = edit->isReadOnly();
        QTextCursor c(edit->document());
        const int arrow = s.text.indexOf("======>");
        c.setPosition(arrow + 1);
        s.arrowColor = c.charFormat().foreground().color();
        c.setPosition(s.text.indexOf("时  间") + 1);
        s.timeColor = c.charFormat().foreground().color();
        c.setPosition(s.text.size());
        s.lastColor = c.charFormat().foreground().color();
        // Typing changes nothing.
        edit->setFocus();
        QTest::keyClicks(edit, "typed");
        QCOMPARE(edit->toPlainText(), s.text);
        d->reject();
    });
    dlg.OnListDoubleClick();
    return s;
}

QPushButton* Button(QDialog* d, const QString& text) {
    for (auto* b : d->findChildren<QPushButton*>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

// Centre of the first character of a link's text on an HTML page, in viewport pixels.
QPoint LinkPoint(QTextBrowser* page, const QString& text) {
    QTextCursor c(page->document());
    c.setPosition(page->toPlainText().indexOf(text) + 1);
    const QRect r = page->cursorRect(c);
    return QPoint(r.left() - 3, r.center().y());
}

// The ways a person closes a dialog: its button, Enter, Escape, the close box.
std::vector<std::function<void(QDialog*)>> Closers(const QString& button) {
    return {
        [button](QDialog* d) { input::Click(Button(d, button)); },
        [](QDialog* d) { input::Key(d, Qt::Key_Return); },
        [](QDialog* d) { input::Key(d, Qt::Key_Escape); },
        [](QDialog* d) { QVERIFY(d->windowHandle()->close()); },
    };
}

const QString kHead = "\t\t\t监控事件\n" + QString(50, '=') + "\n\n";

}  // namespace

class DetailAboutTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase() {
        SocketLibrary::Instance().localAddresses = [] { return std::vector<std::string>{}; };
    }

    void detailShowsTheSelectedRowInOrder() {
        CMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            AddRow(dlg.m_list,
                   {"2024-03-05 14:03:27", "10.0.0.9", "80", "(\xB1\xBE\xBB\xFA)10.0.0.5", "1025",
                    "--", "<b>line1</b>\nline2", "ACK-PSH-"});
            AddRow(dlg.m_list, {"t2", "a", "", "b", "", "--", "", ""});
            dlg.m_list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
            dlg.m_list.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
            // Several selected: the lowest-numbered row, with empty data and flags.
            Shown empty = ShowDetail(dlg);
            QCOMPARE(empty.text,
                     kHead +
                         "时  间:\tt2\n源地址: a\n源端口: \n目的地址: b\n目的端口: \n协议: --\n"
                         "TCP标志: \n数据: \n======>");
            QCOMPARE(empty.arrowColor, QColor(0, 0, 255));
            QCOMPARE(empty.timeColor, QColor(0, 0, 0));
            QVERIFY(empty.readOnly);

            dlg.m_list.SetItemState(0, 0, LVIS_SELECTED);
            // Rows arriving while the window is open do not change it.
            Shown full = ShowDetail(dlg, [&] {
                dlg.m_list.DeleteAllItems();
                AddRow(dlg.m_list, {"x", "x", "x", "x", "x", "x", "x", "x"});
            });
            QCOMPARE(full.text, kHead +
                                    "时  间:\t2024-03-05 14:03:27\n源地址: 10.0.0.9\n源端口: 80\n"
                                    "目的地址: (本机)10.0.0.5\n目的端口: 1025\n协议: --\n"
                                    "TCP标志: ACK-PSH-\n数据: \n======><b>line1</b>\nline2");
            QCOMPARE(full.lastColor, QColor(0, 0, 255));  // the data stays blue over its lines

            // No selection: every value empty, labels still there.
            dlg.m_list.view()->clearSelection();
            Shown none = ShowDetail(dlg);
            QCOMPARE(none.text,
                     kHead +
                         "时  间:\t\n源地址: \n源端口: \n目的地址: \n目的端口: \n协议: \n"
                         "TCP标志: \n数据: \n======>");
        });
    }

    void detailByDoubleClickAndItsWaysOut() {
        CMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            AddRow(dlg.m_list, {"t1", "a1", "1", "b1", "11", "--", "d1", "f1"});
            AddRow(dlg.m_list, {"t0", "a0", "0", "b0", "10", "--", "d0", "f0"});
            QTableView* view = dlg.m_list.view();
            for (const auto& close : Closers("返回")) {
                QString text;
                std::vector<int> tabs;
                bool closed = false;
                WhenDialogShows("Dialog", [&](QDialog* d) {
                    text = d->findChild<QTextEdit*>()->toPlainText();
                    if (input::Activate(d)) {
                        tabs = input::WalkTabs(d, 2);  // the text area is no tab stop
                        close(d);
                    }
                    closed = !d->isVisible();
                    if (!closed)
                        d->reject();
                });
                input::DoubleClick(view->viewport(), input::RowPoint(view, 1));
                QTRY_VERIFY(!text.isEmpty());
                QVERIFY(text.startsWith(kHead + "时  间:\tt1\n源地址: a1\n"));
                QVERIFY(text.endsWith("======>d1"));
                QCOMPARE(tabs, (std::vector<int>{IDOK, IDOK}));
                QVERIFY(closed);
            }
            // Below the rows, which clears the selection: a window with every value empty.
            QString text;
            WhenDialogShows("Dialog", [&](QDialog* d) {
                text = d->findChild<QTextEdit*>()->toPlainText();
                d->reject();
            });
            input::DoubleClick(view->viewport(), input::BelowRows(view));
            QTRY_VERIFY(!text.isEmpty());
            QCOMPARE(text, kHead +
                               "时  间:\t\n源地址: \n源端口: \n目的地址: \n目的端口: \n协议: \n"
                               "TCP标志: \n数据: \n======>");
        });
    }

    void aboutBoxByMouseAndKeys() {
        CMonitorDlg dlg;
        dlg.SetLinkOpener(NoteOpened());
        RunModalWith(dlg, [&] {
            int shown = 0;
            bool first = true;
            for (const auto& close : Closers("确定")) {
                WhenDialogShows("关于 quorvelan", [&](QDialog* d) {
                    ++shown;
                    auto* page = d->findChild<QTextBrowser*>();
                    QVERIFY(page && page->toPlainText().contains("quorvelan 1.05 版(待续...)"));
                    if (!input::Activate(d)) {
                        d->reject();
                        QFAIL("the about box did not take the keys");
                    }
                    QCOMPARE(input::FocusId(), IDOK);
                    QCOMPARE(input::WalkTabs(d, 1), std::vector<int>{IDOK});
                    if (first) {
                        // The page's links leave the program; the box stays.
                        first = false;
                        opened.clear();
                        input::Click(page->viewport(), LinkPoint(page, "support@"));
                        input::Click(page->viewport(), LinkPoint(page, "www."));
                        QCOMPARE(opened, (std::vector<QString>{
                                             "mailto:support@quorvelan.org?subject=quorvelan",
                                             "https://www.quorvelan.org/"}));
                        QVERIFY(d->isVisible());
                        QCOMPARE(input::FocusId(), IDOK);
                    }
                    close(d);
                    if (d->isVisible()) {
                        d->reject();
                        QFAIL("the about box stayed open");
                    }
                });
                input::Click(dlg.GetDlgItem(IDC_ABOUT));  // pressed again each time
            }
            QCOMPARE(shown, 4);
            // The window's context menu opens the box as well.
            WhenDialogShows("关于 quorvelan", [&](QDialog* d) {
                ++shown;
                input::Click(Button(d, "确定"));
            });
            input::ChooseFromNextMenu("关于 quorvelan(&A)...", nullptr);
            input::ClickInWindow(dlg.window(), QPoint(3, 3), Qt::RightButton);
            QCOMPARE(shown, 5);
        });
    }

    void detailAndAboutControlsStandAtTheirTemplateRectangles() {
        CEventDetailDlg detail;
        RunModalWith(detail, [&] {
            QCOMPARE(MisplacedControls(detail), QStringList());
            QCOMPARE(detail.window()->findChild<QTextEdit*>()->geometry(),
                     detail.GetDlgItem(IDC_DETAIL_AREA)->geometry());
        });
        CAboutDlg about;
        RunModalWith(about, [&] {
            // The picture takes its bitmap's size where the template puts it.
            QCOMPARE(MisplacedControls(about, {IDB_ABOUT}), QStringList());
            const DialogUnits du = UnitsForFont(TemplateFont("宋体", 9));
            QCOMPARE(about.GetDlgItem(IDB_ABOUT)->geometry(),
                     QRect(du.Map(7, 7, 32, 32).topLeft(), QSize(122, 154)));
        });
    }

    void detailWithoutItsTextAreaStillOpens() {
        CEventDetailDlg detail;
        detail.SetTextAreaMaker([](CEventRichEdit&, const QRect&, QWidget*) {});  // fails
        detail.m_data.assign(1, 'x');  // not = "x": GCC 12 warns falsely (-Wrestrict) at -O2
        const int r = RunModalWith(detail, [&] {
            QVERIFY(!detail.window()->findChild<QTextEdit*>());
            QVERIFY(detail.GetDlgItem(IDOK));
        });
        QCOMPARE(r, IDCANCEL);
    }

    void aboutBoxLinks() {
        CAboutDlg box;
        box.m_page.SetExternalOpener(NoteOpened());
        for (int run = 0; run < 2; ++run) {  // the same object shows the page again
            const int r = RunModalWith(box, [&] {
                auto* page = box.window()->findChild<QTextBrowser*>();
                QVERIFY(page);
                QVERIFY(page->toPlainText().contains("quorvelan 1.05 版(待续...)"));
                QCOMPARE(page->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
                QCOMPARE(page->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
                QCOMPARE(page->palette().color(QPalette::Link), QColor("#02B7B7"));
                QCOMPARE(page->palette().color(QPalette::LinkVisited), QColor("#02B7B7"));
                opened.clear();
                box.m_page.Navigate("app:okay");
                box.m_page.Navigate("app:ok/");
                QVERIFY(box.window()->isVisible());
                QVERIFY(opened.empty());  // swallowed, not followed
                box.m_page.Navigate("mailto:support@quorvelan.org?subject=quorvelan");
                QCOMPARE(opened.size(), size_t(1));
                if (run == 0) {
                    box.m_page.Navigate("APP:OK");
                    return;
                }
                // A link to app:Ok on a page, clicked.
                page->setHtml("<p><a href=\"app:Ok\">close</a></p>");
                input::Click(page->viewport(), LinkPoint(page, "close"));
            });
            QCOMPARE(r, IDOK);
        }
    }

    void plainHtmlControlCancelsEveryAppLink() {
        CDialog dlg(DialogTemplateById(IDD_ABOUTBOX));
        CHtmlCtrl plain;
        plain.SetExternalOpener(NoteOpened());
        RunModalWith(dlg, [&] {
            QVERIFY(plain.CreateFromPlaceholder(IDC_ABOUT_PAGE, &dlg));
            QVERIFY(!dlg.GetDlgItem(IDC_ABOUT_PAGE) ||
                    dlg.GetDlgItem(IDC_ABOUT_PAGE) == plain.GetSafeHwnd());
            opened.clear();
            plain.Navigate("app:ok");
            QVERIFY(dlg.window()->isVisible());
            QVERIFY(opened.empty());
            QVERIFY(!plain.CreateFromPlaceholder(4242, &dlg));
        });
    }

    void aboutFromTheWindow() {
        CMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            int shown = 0;
            for (int i = 0; i < 2; ++i) {
                WhenDialogShows("关于 quorvelan", [&](QDialog* d) {
                    ++shown;
                    d->reject();
                });
                i == 0 ? dlg.OnAbout() : dlg.OnSysCommand(0x0012);
            }
            QCOMPARE(shown, 2);
        });
    }

  private:
    // Links that would leave the program, noted instead.
    CHtmlView::UrlOpener NoteOpened() {
        return [this](const QUrl& u) {
            opened.push_back(u.toString());
            return true;
        };
    }
    std::vector<QString> opened;
};

QTEST_MAIN(DetailAboutTest)
#include "test_detail_about.moc"
