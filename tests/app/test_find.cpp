// 查找 driven with real keys on the real window: rows come through the real
// capture thread and hand-off from an endpoint the test feeds, so each row
// keeps the datagram its cells were built from.
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QStringEncoder>
#include <QTableView>
#include <QTest>

#include "app/monitordlg.h"
#include "app/socketlib.h"
#include "res/resource.h"
#include "tests/app/dialog_driver.h"
#include "tests/app/user_input.h"
#include "tests/app/window_state.h"
#include "tests/capture/feed_endpoint.h"
#include "tests/capture/packet_builder.h"

namespace {

std::string Gbk(const QString& s) {
    QStringEncoder e("GBK", QStringEncoder::Flag::Stateless);
    return QByteArray(e.encode(s)).toStdString();
}

std::string Utf8(const QString& s) {
    return s.toUtf8().toStdString();
}

// A UDP datagram whose source port names it.
std::vector<uint8_t> Udp(uint16_t port, const std::string& payload) {
    testpkt::Ip ip;
    ip.protocol = 17;
    return testpkt::Datagram(ip, testpkt::Udp(port, 53, testpkt::Bytes(payload)));
}

// The window with an endpoint the test feeds, capturing.
class Fixture {
  public:
    explicit Fixture(CMonitorDlg& dlg) : dlg_(dlg) {
        dlg.SetEndpointFactory([this] {
            auto e = std::make_unique<FeedEndpoint>();
            feed_ = e.get();
            return e;
        });
    }
    // Picks the first local address and presses Start, with the mouse.
    bool Start() {
        auto* box = qobject_cast<QListWidget*>(dlg_.GetDlgItem(IDC_LOCAL_ADDRESSES));
        input::Click(box->viewport(), box->visualItemRect(box->item(0)).center());
        input::Click(dlg_.GetDlgItem(IDC_START));
        return feed_ != nullptr && dlg_.Capture().CaptureThreadRunning();
    }
    // Feeds the datagrams, oldest first, and waits until their rows are in.
    bool Feed(const std::vector<std::vector<uint8_t>>& datagrams) {
        const uint64_t want = dlg_.Capture().RowsInserted() + datagrams.size();
        for (const auto& d : datagrams)
            feed_->Feed(d);
        return QTest::qWaitFor([&] { return dlg_.Capture().RowsInserted() == want; }, 20000);
    }

  private:
    CMonitorDlg& dlg_;
    FeedEndpoint* feed_ = nullptr;
};

QLineEdit* FindText(CMonitorDlg& dlg) {
    return qobject_cast<QLineEdit*>(dlg.FindWindow().GetDlgItem(IDC_FIND_TEXT));
}

QString Status(CMonitorDlg& dlg) {
    auto* label = qobject_cast<QLabel*>(dlg.FindWindow().GetDlgItem(IDC_FIND_STATUS));
    return label ? label->text() : QString("(closed)");
}

QString Pane(CMonitorDlg& dlg) {
    return qobject_cast<QPlainTextEdit*>(dlg.DataPane.GetSafeHwnd())->toPlainText();
}

// The source port of the selected row: which datagram the find went to.
std::string SelectedPort(CMonitorDlg& dlg) {
    return dlg.m_list.GetItemText(dlg.m_list.GetFirstSelectedItem(), kColSrcPort);
}

// Typed into whichever widget of the window of `w` has the focus, a key a
// character, as an input method hands over Chinese characters.
void Type(QWidget* w, const QString& text) {
    for (const QChar c : text)
        input::KeyWithText(w, Qt::Key_unknown, QString(c));
}

// Ctrl+A then the text: what was in the box is replaced.
void Retype(CMonitorDlg& dlg, const QString& text) {
    input::Key(FindText(dlg), Qt::Key_A, Qt::ControlModifier);
    Type(FindText(dlg), text);
}

// Ctrl+F on the main window: the find window opens with the focus in its box.
bool OpenByKeys(CMonitorDlg& dlg) {
    if (!input::Activate(dlg.window()))
        return false;
    input::Key(dlg.window(), Qt::Key_F, Qt::ControlModifier);
    return dlg.FindWindow().IsOpen() &&
           QTest::qWaitFor([&] { return QApplication::focusWidget() == FindText(dlg); });
}

}  // namespace

class FindTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void init() { FakeHost({"10.0.0.5"}); }

    // Chinese text that only lies past a NUL: the data column cannot show
    // it, the find names where it is and the pane's tooltip shows it.
    void textPastTheNulIsFoundAndShown() {
        CMonitorDlg dlg;
        Fixture f(dlg);
        const int result = RunModalWith(dlg, [&] {
            QVERIFY(f.Start());
            std::vector<std::vector<uint8_t>> rows;
            for (uint16_t i = 0; i < 60; ++i)
                rows.push_back(Udp(2000 + i, "filler " + std::to_string(i)));
            // Second oldest: the second row from the bottom, out of sight.
            rows[1] = Udp(1001, Gbk("用户登录") + std::string("\0\0", 2) + Gbk("密码是 hunter2"));
            QVERIFY(f.Feed(rows));
            QTableView* view = dlg.m_list.view();
            QVERIFY(input::Activate(dlg.window()));
            view->scrollToTop();
            QVERIFY(QApplication::focusWidget() != view);  // the address list, clicked

            QVERIFY(OpenByKeys(dlg));
            QDialog* find = dlg.FindWindow().window();
            QCOMPARE(find->windowTitle(), QString("查找"));
            QVERIFY(!find->isModal());
            QCOMPARE(find->parentWidget(), dlg.window());
            QCOMPARE(MisplacedControls(dlg.FindWindow()), QStringList());
            QCOMPARE(MisplacedControls(dlg), QStringList());  // the main window as it was

            Type(FindText(dlg), "密码");
            QCOMPARE(Status(dlg), QString("- / 1"));
            input::Key(find, Qt::Key_Return);
            QCOMPARE(dlg.m_list.GetFirstSelectedItem(), 58);
            QCOMPARE(SelectedPort(dlg), std::string("1001"));
            QVERIFY(view->viewport()->rect().contains(
                view->visualRect(dlg.m_list.store().index(58, kColData))));
            // The pane as a click shows it: the data column, up to the NUL.
            QCOMPARE(Pane(dlg), QString("用户登录"));
            QCOMPARE(dlg.m_list.GetItemText(58, kColData), Gbk("用户登录"));
            QCOMPARE(Status(dlg), QString("1 / 1，数据偏移 10 处（NUL 之后）"));
            QCOMPARE(dlg.DataPane.GetSafeHwnd()->toolTip(),
                     QString("<p style='white-space:pre-wrap'>数据偏移 10 处：<br>"
                             "用户登录\\u0000\\u0000<b>密码</b>是 hunter2</p>"));
            // The focus stays in the box, for the next Return; the pane's tip
            // shows although the main window does not have the keys.
            QCOMPARE(QApplication::focusWidget(), FindText(dlg));
            QVERIFY(dlg.window()->testAttribute(Qt::WA_AlwaysShowToolTips));

            // Escape closes the find window only; the list has the focus again.
            input::Key(find, Qt::Key_Escape);
            QVERIFY(!dlg.FindWindow().IsOpen());
            QVERIFY(dlg.window()->isVisible());
            QVERIFY(!dlg.window()->testAttribute(Qt::WA_AlwaysShowToolTips));
            QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(view));
            // A click on a row gives the pane that row's data and no stale tip.
            input::Click(view->viewport(), input::RowPoint(view, 0));
            QTRY_COMPARE(Pane(dlg), QString("filler 59"));
            QCOMPARE(dlg.DataPane.GetSafeHwnd()->toolTip(), QString());
            // F3 in the main window finds again with the text kept; Ctrl+F
            // brings the text back in the box.
            input::Key(view, Qt::Key_F3);
            QCOMPARE(SelectedPort(dlg), std::string("1001"));
            QVERIFY(OpenByKeys(dlg));
            QCOMPARE(FindText(dlg)->text(), QString("密码"));
            QCOMPARE(FindText(dlg)->selectedText(), QString("密码"));
            find = dlg.FindWindow().window();
            input::Key(find, Qt::Key_Escape);
            // Elsewhere in the main window Escape still ends it.
            QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(view));
            input::Key(view, Qt::Key_Escape);
            QVERIFY(!dlg.window()->isVisible());
        });
        QCOMPARE(result, IDCANCEL);
        QVERIFY(!dlg.Capture().CaptureThreadRunning());
    }

    // F3 and Shift+F3 walk the matches in list order and wrap; the count
    // follows the options, hex reads bytes, and a text found nowhere says so.
    void keysWalkTheMatchesUnderEachOption() {
        CMonitorDlg dlg;
        Fixture f(dlg);
        RunModalWith(dlg, [&] {
            QVERIFY(f.Start());
            // Oldest first: the list shows them bottom up.
            QVERIFY(f.Feed({
                Udp(1006, Gbk("钥匙在门口")),                // row 6: GBK
                Udp(1005, "ab" + Utf8("钥匙")),              // row 5: UTF-8
                Udp(1004, "monkey business"),                // row 4
                Udp(1003, std::string("x\0y key", 7)),       // row 3: past the NUL
                Udp(1002, "nothing \xDE\xAD\xBE\xEF here"),  // row 2
                Udp(1001, "KEY=1"),                          // row 1
                Udp(1000, "no match here"),                  // row 0
            }));
            QVERIFY(OpenByKeys(dlg));
            QDialog* find = dlg.FindWindow().window();
            input::Type(find, "key");
            QCOMPARE(Status(dlg), QString("- / 3"));
            const std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys = {
                {Qt::Key_Return, Qt::NoModifier}, {Qt::Key_F3, Qt::NoModifier},
                {Qt::Key_F3, Qt::NoModifier},     {Qt::Key_F3, Qt::NoModifier},
                {Qt::Key_F3, Qt::ShiftModifier},  {Qt::Key_Return, Qt::ShiftModifier},
                {Qt::Key_F3, Qt::ShiftModifier},  {Qt::Key_F3, Qt::ShiftModifier}};
            const std::vector<std::string> ports = {"1001", "1003", "1004", "1001",
                                                    "1004", "1003", "1001", "1004"};
            const QStringList statuses = {
                "1 / 3", "2 / 3，数据偏移 4 处（NUL 之后）", "3 / 3", "1 / 3",
                "3 / 3", "2 / 3，数据偏移 4 处（NUL 之后）", "1 / 3", "3 / 3"};
            for (size_t i = 0; i < keys.size(); ++i) {
                input::Key(find, keys[i].first, keys[i].second);
                QCOMPARE(SelectedPort(dlg), ports[i]);
                QCOMPARE(Status(dlg), statuses[static_cast<qsizetype>(i)]);
                QCOMPARE(Pane(dlg), QString::fromStdString(dlg.m_list.GetItemText(
                                        dlg.m_list.GetFirstSelectedItem(), kColData)));
            }
            // The buttons do the same.
            input::Click(dlg.FindWindow().GetDlgItem(IDC_FIND_NEXT));
            QCOMPARE(SelectedPort(dlg), std::string("1001"));
            input::Click(dlg.FindWindow().GetDlgItem(IDC_FIND_PREVIOUS));
            QCOMPARE(SelectedPort(dlg), std::string("1004"));

            // A sort moves the rows under the search: the next match is the
            // next one in the order shown now (ports descending).
            QHeaderView* header = dlg.m_list.view()->horizontalHeader();
            input::ClickHeader(header, kColSrcPort);
            input::ClickHeader(header, kColSrcPort);
            QCOMPARE(dlg.m_list.GetItemText(0, kColSrcPort), std::string("1006"));
            QTRY_COMPARE(Status(dlg), QString("1 / 3"));  // 1004, still selected
            input::Key(find, Qt::Key_F3);
            QCOMPARE(SelectedPort(dlg), std::string("1003"));
            input::Key(find, Qt::Key_F3);
            QCOMPARE(SelectedPort(dlg), std::string("1001"));
            QCOMPARE(Status(dlg), QString("3 / 3"));

            // 区分大小写: KEY no longer matches. Ticked with Space on the box.
            auto* caseBox = qobject_cast<QCheckBox*>(dlg.FindWindow().GetDlgItem(IDC_FIND_CASE));
            caseBox->setFocus();
            input::Key(find, Qt::Key_Space);
            QVERIFY(caseBox->isChecked());
            QCOMPARE(Status(dlg), QString("- / 2"));
            input::Key(find, Qt::Key_Return);  // Return on the box finds too
            QCOMPARE(SelectedPort(dlg), std::string("1004"));
            input::Click(caseBox);
            QCOMPARE(Status(dlg), QString("1 / 3"));

            // Chinese text is looked for as GBK and as UTF-8.
            FindText(dlg)->setFocus();
            Retype(dlg, "钥匙");
            QCOMPARE(Status(dlg), QString("- / 2"));
            input::Key(find, Qt::Key_Return);
            QCOMPARE(SelectedPort(dlg), std::string("1006"));
            input::Key(find, Qt::Key_Return);
            QCOMPARE(SelectedPort(dlg), std::string("1005"));
            QCOMPARE(Status(dlg), QString("2 / 2"));

            // Hex: bytes anywhere in the datagram, spaced or not.
            input::Click(dlg.FindWindow().GetDlgItem(IDC_FIND_HEX));
            FindText(dlg)->setFocus();
            Retype(dlg, "de ad be ef");
            input::Key(find, Qt::Key_Return);
            QCOMPARE(SelectedPort(dlg), std::string("1002"));
            QCOMPARE(Status(dlg), QString("1 / 1，数据报偏移 36 处"));
            Retype(dlg, "0035");  // the destination port: in every row's header
            QCOMPARE(Status(dlg), QString("5 / 7，数据报偏移 22 处"));
            // Invalid hex is said in the window, and finds nothing.
            Retype(dlg, "de ad zz");
            QCOMPARE(Status(dlg), QString("十六进制无效：含非十六进制字符"));
            Retype(dlg, "dea");
            QCOMPARE(Status(dlg), QString("十六进制无效：位数为奇数"));
            input::Key(find, Qt::Key_Return);
            QCOMPARE(SelectedPort(dlg), std::string("1002"));

            // A text found nowhere.
            input::Click(dlg.FindWindow().GetDlgItem(IDC_FIND_HEX));
            FindText(dlg)->setFocus();
            Retype(dlg, "absent");
            QCOMPARE(Status(dlg), QString("未找到"));
            input::Key(find, Qt::Key_F3);
            QCOMPARE(SelectedPort(dlg), std::string("1002"));
            QCOMPARE(Status(dlg), QString("未找到"));
            // Emptied, the box says nothing.
            Retype(dlg, "x");
            input::Key(find, Qt::Key_Backspace);
            QCOMPARE(Status(dlg), QString());
        });
    }

    // While capturing, rows arrive on top: the selected match stays the same
    // row, the count follows, and the next Return goes on from it. After
    // Clear or an emptying at the 500-row limit the search starts at the top.
    void rowsArrivingDuringASearchKeepTheSelectedMatch() {
        CMonitorDlg dlg;
        Fixture f(dlg);
        RunModalWith(dlg, [&] {
            QVERIFY(f.Start());
            auto rows = [](std::initializer_list<std::pair<uint16_t, bool>> plan) {
                std::vector<std::vector<uint8_t>> d;
                for (const auto& [port, hit] : plan)
                    d.push_back(Udp(port, hit ? "a hit" : "a row"));
                return d;
            };
            QVERIFY(f.Feed(rows({{100, 0},
                                 {101, 0},
                                 {102, 1},
                                 {103, 0},
                                 {104, 0},
                                 {105, 1},
                                 {106, 0},
                                 {107, 0},
                                 {108, 1},
                                 {109, 0}})));
            // The menu entry opens the window too.
            QVERIFY(input::Activate(dlg.window()));
            input::ChooseFromNextMenu("查找...", nullptr);
            input::ClickInWindow(dlg.window(), QPoint(3, 3), Qt::RightButton);
            QVERIFY(dlg.FindWindow().IsOpen());
            QDialog* find = dlg.FindWindow().window();
            QVERIFY(input::Activate(find));
            Type(FindText(dlg), "hit");
            input::Key(find, Qt::Key_Return);
            input::Key(find, Qt::Key_Return);
            QCOMPARE(SelectedPort(dlg), std::string("105"));
            QCOMPARE(Status(dlg), QString("2 / 3"));

            QVERIFY(f.Feed(rows({{110, 1}, {111, 0}, {112, 1}, {113, 0}})));
            QCOMPARE(dlg.m_list.GetFirstSelectedItem(), 8);
            QCOMPARE(SelectedPort(dlg), std::string("105"));
            QTRY_COMPARE(Status(dlg), QString("4 / 5"));
            input::Key(find, Qt::Key_Return);
            QCOMPARE(SelectedPort(dlg), std::string("102"));
            QCOMPARE(Status(dlg), QString("5 / 5"));

            // Clear: nothing selected, and the next Return starts at the top.
            input::Click(dlg.GetDlgItem(IDC_CLEAR));
            QTRY_COMPARE(Status(dlg), QString("未找到"));
            QVERIFY(f.Feed(rows({{200, 0}, {201, 1}, {202, 0}, {203, 1}, {204, 0}})));
            QTRY_COMPARE(Status(dlg), QString("- / 2"));
            input::Key(find, Qt::Key_Return);
            QCOMPARE(SelectedPort(dlg), std::string("203"));
            input::Key(find, Qt::Key_Return);
            QCOMPARE(SelectedPort(dlg), std::string("201"));
            QCOMPARE(dlg.m_list.GetFirstSelectedItem(), 3);

            // An emptying at the limit: the five rows and 495 more fill the
            // list; the next row empties it first, and five more follow it.
            std::vector<std::vector<uint8_t>> fill;
            for (int i = 0; i < 495; ++i)
                fill.push_back(Udp(static_cast<uint16_t>(3000 + i), "a row"));
            for (const auto& d : rows({{300, 0}, {301, 1}, {302, 0}, {303, 0}, {304, 1}, {305, 0}}))
                fill.push_back(d);
            QVERIFY(f.Feed(fill));
            QCOMPARE(dlg.m_list.GetItemCount(), 6);
            QCOMPARE(dlg.m_list.GetFirstSelectedItem(), -1);
            QTRY_COMPARE(Status(dlg), QString("- / 2"));
            // From the top (row 1), not on from where the selection was (row 3).
            input::Key(find, Qt::Key_Return);
            QCOMPARE(SelectedPort(dlg), std::string("304"));
            QCOMPARE(Status(dlg), QString("1 / 2"));
            input::Click(dlg.GetDlgItem(IDC_STOP));
        });
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    FindTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_find.moc"
