// The main window driven as a user would: start-up, initial state, Start and
// Stop, the data pane and an end-to-end capture from a capture file.
#include <pcap/pcap.h>

#include <QAbstractEventDispatcher>
#include <QAbstractItemModelTester>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <memory>
#include <vector>

#include "app/monitorapp.h"
#include "app/monitordlg.h"
#include "app/socketlib.h"
#include "framework/gbk.h"
#include "res/resource.h"
#include "tests/app/dialog_driver.h"
#include "tests/app/user_input.h"
#include "tests/app/window_state.h"
#include "tests/capture/packet_builder.h"
#include "ui/text/gbkcompare.h"

namespace {

struct Box {
    QString caption, text;
    unsigned type;
};
std::vector<Box> g_boxes;

class TestMonitorDlg : public CMonitorDlg {
  public:
    int aboutRuns = 0;
    int aboutReuses = 0;
    int okCommands = 0;  // Exit's own steps run through here
    void OnOK() override {
        ++okCommands;
        CMonitorDlg::OnOK();
    }

  protected:
    void RunAboutBox(bool reuse) override {
        ++aboutRuns;
        aboutReuses += reuse;
    }
};

QString Text(QWidget* w) {
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* e = qobject_cast<QPlainTextEdit*>(w))
        return e->toPlainText();
    return {};
}

void FillRows(CMonitorDlg& dlg, int n) {
    for (int i = n - 1; i >= 0; --i) {
        const int item = dlg.m_list.InsertItem(0, "t");
        dlg.m_list.SetItemText(item, kColData, "data" + std::to_string(i));
    }
}

void Select(CMonitorDlg& dlg, std::initializer_list<int> rows) {
    dlg.m_list.view()->clearSelection();
    for (int r : rows)
        dlg.m_list.SetItemState(r, LVIS_SELECTED, LVIS_SELECTED);
}

// What the window did to its capture endpoints; it outlives the session that owns them.
struct EndpointLog {
    std::atomic<int> made{0}, interrupts{0}, closes{0};
};

class LoggedEndpoint final : public CaptureEndpoint {
  public:
    LoggedEndpoint(std::shared_ptr<EndpointLog> log, ScriptedTraffic traffic)
        : log_(std::move(log)), inner_(MakeScriptedEndpoint(std::move(traffic))) {
        log_->made.fetch_add(1);
    }
    int Open(std::string_view address) override { return inner_->Open(address); }
    int Receive(uint8_t* buffer, int capacity) override {
        return inner_->Receive(buffer, capacity);
    }
    void Interrupt() override {
        log_->interrupts.fetch_add(1);
        inner_->Interrupt();
    }
    void Close() override {
        log_->closes.fetch_add(1);
        inner_->Close();
    }

  private:
    std::shared_ptr<EndpointLog> log_;
    std::unique_ptr<CaptureEndpoint> inner_;
};

std::shared_ptr<EndpointLog> LogEndpoints(CMonitorDlg& dlg, ScriptedTraffic traffic = {}) {
    auto log = std::make_shared<EndpointLog>();
    dlg.SetEndpointFactory(
        [log, traffic] { return std::make_unique<LoggedEndpoint>(log, traffic); });
    return log;
}

ScriptedTraffic Flood() {
    testpkt::Ip udp;
    udp.protocol = 17;
    ScriptedTraffic t;
    t.repeat = true;
    t.datagrams = {testpkt::Datagram(udp, testpkt::Udp(1000, 53, testpkt::Bytes("q")))};
    return t;
}

bool ClockRuns(CMonitorDlg& dlg) {
    return !QAbstractEventDispatcher::instance()->registeredTimers(&dlg).isEmpty();
}

// Picks an entry of the local address list and presses Start, with the mouse.
void ClickStart(CMonitorDlg& dlg, int entry = 0) {
    auto* box = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LOCAL_ADDRESSES));
    input::Click(box->viewport(), box->visualItemRect(box->item(entry)).center());
    input::Click(dlg.GetDlgItem(IDC_START));
}

std::string WriteCaptureFile(const QString& path) {
    using namespace testpkt;
    Ip udp;
    udp.protocol = 17;
    pcap_t* dead = pcap_open_dead(DLT_RAW, 65535);
    pcap_dumper_t* d = pcap_dump_open(dead, path.toLocal8Bit().constData());
    for (const auto& dg : {Datagram(Ip{}, Tcp(1025, 80, 0x02)),
                           Datagram(udp, testpkt::Udp(5353, 53, Bytes("<b>query</b>")))}) {
        pcap_pkthdr h{};
        h.caplen = h.len = static_cast<bpf_u_int32>(dg.size());
        pcap_dump(reinterpret_cast<u_char*>(d), &h, dg.data());
    }
    pcap_dump_close(d);
    pcap_close(dead);
    return path.toStdString();
}

}  // namespace

class MonitorTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void init() {
        g_boxes.clear();
        SetMessageBoxHookForTesting([](const QString& c, const QString& t, unsigned type) {
            g_boxes.push_back({c, t, type});
            return IDOK;
        });
        FakeHost({"192.168.1.2", "10.0.0.5", "9.1.1.1"});
    }

    void initialState() {
        TestMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            QDialog* w = dlg.window();
            QCOMPARE(w->windowTitle(), QString("quorvelanv1.05"));
            QVERIFY(!dlg.GetDlgItem(IDC_STOP)->isEnabled());
            QVERIFY(dlg.GetDlgItem(IDC_START)->isEnabled());
            QCOMPARE(Text(dlg.GetDlgItem(IDC_SRC_LABEL)), QString("000.000.000.000"));
            QCOMPARE(Text(dlg.GetDlgItem(IDC_DST_LABEL)), QString("000.000.000.000"));
            QCOMPARE(Text(dlg.GetDlgItem(IDC_MONITORED_LABEL)), QString("0"));
            QCOMPARE(Text(dlg.GetDlgItem(IDC_IGNORED_LABEL)), QString("0"));
            QCOMPARE(Text(dlg.GetDlgItem(IDC_CLOCK)), QString("当前时间"));
            QCOMPARE(w->focusWidget(), dlg.GetDlgItem(IDOK));
            // Start is the default button once the focus is off the other buttons.
            w->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(w));
            dlg.m_list.view()->setFocus();
            QTRY_VERIFY(qobject_cast<QPushButton*>(dlg.GetDlgItem(IDC_START))->isDefault());
            QVERIFY(!qobject_cast<QPushButton*>(dlg.GetDlgItem(IDOK))->isDefault());
            // Addresses in text order, nothing selected.
            QCOMPARE(dlg.LocalAddressList.GetCount(), 3);
            QCOMPARE(dlg.LocalAddressList.GetText(0), std::string("10.0.0.5"));
            QCOMPARE(dlg.LocalAddressList.GetText(1), std::string("192.168.1.2"));
            QCOMPARE(dlg.LocalAddressList.GetText(2), std::string("9.1.1.1"));
            QCOMPARE(dlg.LocalAddressList.GetCurSel(), -1);
            QCOMPARE(dlg.Capture().StopFlag.load(), 1);
            // The clock ticks once a second with a zero-padded local time.
            QTRY_VERIFY_WITH_TIMEOUT(Text(dlg.GetDlgItem(IDC_CLOCK)) != "当前时间", 2500);
            QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")
                        .match(Text(dlg.GetDlgItem(IDC_CLOCK)))
                        .hasMatch());
        });
    }

    void startUpChecksTheAgreedVersion() {
        int argc = 1;
        char name[] = "quorvelan";
        char* argv[] = {name, nullptr};
        for (uint16_t agreed : {uint16_t(0x0102), uint16_t(0x0101)}) {
            g_boxes.clear();
            int cleanups = 0;
            SocketLibrary::Instance().startup = [agreed](uint16_t, uint16_t* a) {
                *a = agreed;
                return 0;
            };
            SocketLibrary::Instance().cleanup = [&] { ++cleanups; };
            QVERIFY(!CMonitorApp::InitInstanceFor(argc, argv));
            QCOMPARE(g_boxes.size(), size_t(1));
            QCOMPARE(g_boxes[0].text, QString("Windows 通信端口初始化失败。"));
            QCOMPARE(cleanups, 1);
        }
        SocketLibrary::Instance().cleanup = [] {};
        g_boxes.clear();
        SocketLibrary::Instance().startup = [](uint16_t, uint16_t*) { return 10091; };
        QVERIFY(!CMonitorApp::InitInstanceFor(argc, argv));
        QCOMPARE(g_boxes.size(), size_t(1));
        // 2.2 is agreed: the window opens (and is closed here at once).
        g_boxes.clear();
        SocketLibrary::Instance().startup = [](uint16_t r, uint16_t* a) {
            *a = r;
            return 0;
        };
        bool opened = false;
        QTimer::singleShot(200, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) {
                    opened = d->windowTitle() == "quorvelanv1.05";
                    d->reject();
                }
            }
        });
        QVERIFY(!CMonitorApp::InitInstanceFor(argc, argv));
        QVERIFY(opened);
        QVERIFY(g_boxes.empty());
    }

    void startNeedsASelectionAndAFailedOpenEndsTheWindow() {
        TestMonitorDlg dlg;
        dlg.SetEndpointFactory([] {
            ScriptedTraffic t;
            t.openResult = 13;
            return MakeScriptedEndpoint(t);
        });
        int result = RunModalWith(dlg, [&] {
            dlg.OnStart();
            QCOMPARE(g_boxes.size(), size_t(1));
            QCOMPARE(g_boxes[0].text, QString("请选择侦听的网卡(地址)"));
            QCOMPARE(g_boxes[0].caption, AfxAppName());
            QVERIFY(dlg.GetDlgItem(IDC_START)->isEnabled());
            QVERIFY(!dlg.Capture().SocketOpen());
            dlg.LocalAddressList.SetCurSel(0);
            dlg.OnStart();
            QCOMPARE(g_boxes.size(), size_t(2));
            QCOMPARE(g_boxes[1].text, QString("WinSock启动失败"));
        });
        QCOMPARE(result, IDCANCEL);
        QVERIFY(!dlg.Capture().SocketOpen());  // destruction closed what the open left
    }

    void systemCommandsOpenTheAboutBox() {
        TestMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            for (unsigned cmd = 16; cmd <= 31; ++cmd)
                dlg.OnSysCommand(cmd);
            dlg.OnSysCommand(32);
            dlg.OnSysCommand(0xF060);
            QCOMPARE(dlg.aboutRuns, 16);
            QCOMPARE(dlg.aboutReuses, 0);
            dlg.OnCommand(IDC_ABOUT);
            QCOMPARE(dlg.aboutReuses, 1);
        });
    }

    void columnsAndWidths() {
        TestMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            CSortListCtrl& list = dlg.m_list;
            QCOMPARE(list.GetHeaderColumnCount(), 8);
            const char* headers[] = {"时间",     "源地址", "源端口", "目的地址",
                                     "目的端口", "协议",   "数据",   "TCP标志"};
            const int divisors[] = {7, 6, 12, 6, 10, 12, 7, 8};
            const int w = list.GetWindowRect().width();
            for (int c = 0; c < 8; ++c) {
                QCOMPARE(list.view()->model()->headerData(c, Qt::Horizontal).toString(),
                         QString(headers[c]));
                QCOMPARE(list.GetColumnWidth(c), w / divisors[c]);
            }
            QCOMPARE(list.GetExtendedStyle(), LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
            QCOMPARE(list.GetStyle() & LVS_TYPEMASK, LVS_REPORT);
            // The grid is there on screen: each cell's right and bottom edge.
            list.InsertItem(0, "2024-03-05 14:03:27");
            QTableView* view = list.view();
            QCoreApplication::processEvents();
            const QImage shot = view->viewport()->grab().toImage();
            QStyleOptionViewItem opt;
            opt.initFrom(view);
            const QColor grid(static_cast<QRgb>(
                view->style()->styleHint(QStyle::SH_Table_GridLineColor, &opt, view)));
            const QRect cell = view->visualRect(view->model()->index(0, 0));
            QCOMPARE(shot.pixelColor(cell.right(), cell.center().y()), grid);
            QCOMPARE(shot.pixelColor(cell.center().x(), cell.bottom()), grid);
            QVERIFY(shot.pixelColor(cell.center().x(), cell.bottom() + 10) !=
                    grid);  // none below the rows
        });
    }

    void dataPaneFollowsClicksAndKeys() {
        TestMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            FillRows(dlg, 3);
            auto pane = [&] { return dlg.DataPane.GetWindowText(); };
            Select(dlg, {1});
            dlg.OnListClick();
            QCOMPARE(pane(), std::string("data1"));
            Select(dlg, {2, 0});
            dlg.OnListClick();
            QCOMPARE(pane(), std::string("data0"));  // the lowest selected row
            Select(dlg, {2});
            dlg.OnListKeyDown(0x28);  // Down at the last row
            QCOMPARE(pane(), std::string("data2"));
            dlg.OnListKeyDown(0x26);
            QCOMPARE(pane(), std::string("data1"));
            Select(dlg, {0});
            dlg.OnListKeyDown(0x26);  // Up at the first row
            QCOMPARE(pane(), std::string("data0"));
            for (int vk : {0x21, 0x22, 0x23, 0x24}) {
                Select(dlg, {1});
                dlg.OnListKeyDown(vk);
                QCOMPARE(pane(), std::string("data1"));
            }
            Select(dlg, {});
            dlg.OnListKeyDown(0x28);  // no selection: Down gives the first row
            QCOMPARE(pane(), std::string("data0"));

            // A real key press reaches the handler before the view moves.
            Select(dlg, {0});
            dlg.m_list.view()->setCurrentIndex(dlg.m_list.view()->model()->index(0, 0));
            QTest::keyClick(dlg.m_list.view(), Qt::Key_Down);
            QCOMPARE(pane(), std::string("data1"));

            // A click on the empty area below the rows clears the selection and the pane.
            Select(dlg, {1});
            QWidget* vp = dlg.m_list.view()->viewport();
            QTest::mouseClick(vp, Qt::LeftButton, {}, QPoint(20, vp->height() - 5));
            QTRY_COMPARE(pane(), std::string());
            QCOMPARE(dlg.m_list.GetFirstSelectedItem(), -1);

            // Clear keeps the pane's text.
            Select(dlg, {2});
            dlg.OnListClick();
            dlg.OnClear();
            QCOMPARE(dlg.m_list.GetItemCount(), 0);
            QCOMPARE(pane(), std::string("data2"));
        });
    }

    void packetTextIsShownPlain() {
        TestMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            dlg.m_list.InsertItem(0, "t");
            dlg.m_list.SetItemText(0, kColData, "<img src=x><b>bold</b>");
            dlg.m_list.SetItemText(0, kColFlags,
                                   std::string("\x81\x20"
                                               "ok",
                                               4));
            auto* model = dlg.m_list.view()->model();
            QTRY_COMPARE(model->rowCount(), 1);  // the view learns of new rows when it paints
            QCOMPARE(model->index(0, kColData).data().toString(),
                     QString("<img src=x><b>bold</b>"));
            QCOMPARE(model->index(0, kColFlags).data().toString(), QString("\uFFFD ok"));
            Select(dlg, {0});
            dlg.OnListClick();
            auto* pane = qobject_cast<QPlainTextEdit*>(dlg.GetDlgItem(IDC_DATA_PANE));
            QCOMPARE(pane->toPlainText(), QString("<img src=x><b>bold</b>"));
        });
    }

    void listTakesLeftClicksOnly() {
        TestMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            FillRows(dlg, 3);
            QTableView* view = dlg.m_list.view();
            QWidget* vp = view->viewport();
            auto pane = [&] { return dlg.DataPane.GetWindowText(); };
            DialogCloser details("Dialog");
            input::Click(vp, input::RowPoint(view, 1));
            QTRY_COMPARE(pane(), std::string("data1"));
            // Other buttons neither show a row in the pane nor open the detail window.
            for (Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
                input::Click(vp, input::RowPoint(view, 2), button);
                input::DoubleClick(vp, input::RowPoint(view, 0), button);
                input::Click(vp, input::BelowRows(view), button);
                QCoreApplication::processEvents();
                QCOMPARE(pane(), std::string("data1"));
                QCOMPARE(details.shown, 0);
            }
            // The left button: a row, then the empty area below the rows.
            input::Click(vp, input::RowPoint(view, 2));
            QTRY_COMPARE(pane(), std::string("data2"));
            input::DoubleClick(vp, input::RowPoint(view, 0));
            QTRY_COMPARE(details.shown, 1);
            input::DoubleClick(vp, input::BelowRows(view));
            QTRY_COMPARE(details.shown, 2);
            QCOMPARE(dlg.m_list.GetFirstSelectedItem(), -1);
            QCOMPARE(pane(), std::string());
        });
    }

    void headerClicksSortUnderTheWaitCursor() {
        TestMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            for (const char* t :
                 {"2024-03-05 14:03:28", "2024-03-05 14:03:29", "2024-03-05 14:03:27"}) {
                const int r = dlg.m_list.InsertItem(0, t);
                dlg.m_list.SetItemText(r, kColSrcPort, std::string(t).substr(17));
            }
            Select(dlg, {1});  // :29, which every sort below moves
            QTableView* view = dlg.m_list.view();
            std::vector<Qt::CursorShape> during;
            connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [&] {
                const QCursor* c = QApplication::overrideCursor();
                during.push_back(c ? c->shape() : Qt::ArrowCursor);
            });
            auto column = [&](int c) {
                QStringList out;
                for (int r = 0; r < dlg.m_list.GetItemCount(); ++r)
                    out << QString::fromStdString(dlg.m_list.GetItemText(r, c)).right(2);
                return out;
            };
            QHeaderView* header = view->horizontalHeader();
            input::ClickHeader(header, 0);  // first click: oldest first
            QCOMPARE(column(0), (QStringList{"27", "28", "29"}));
            input::ClickHeader(header, 0);  // second click: newest first
            QCOMPARE(column(0), (QStringList{"29", "28", "27"}));
            input::ClickHeader(header, kColSrcPort);  // another column: ascending
            QCOMPARE(column(kColSrcPort), (QStringList{"27", "28", "29"}));
            QCOMPARE(dlg.m_list.GetItemText(dlg.m_list.GetFirstSelectedItem(), 0),
                     std::string("2024-03-05 14:03:29"));
            QVERIFY(!during.empty());
            for (Qt::CursorShape shape : during)
                QCOMPARE(shape, Qt::WaitCursor);
            QVERIFY(!QApplication::overrideCursor());
        });
    }

    // Rows stream in as batches while a person sorts, saves and clears with
    // the mouse: the shown model stays consistent, a sort leaves the whole list
    // sorted, a save writes exactly the rows the list holds, each record one
    // whole row, and Clear empties the list at once. None of them ever finds
    // a batch half inserted.
    void batchesStreamBesideSortsSavesAndClears() {
        TestMonitorDlg dlg;
        testpkt::Ip udp;
        udp.protocol = 17;
        ScriptedTraffic traffic;
        traffic.repeat = true;
        // Each datagram's number is in its source port and in its data.
        for (int i = 0; i < 3000; ++i) {
            const int port = 10000 + i;
            traffic.datagrams.push_back(
                testpkt::Datagram(udp, testpkt::Udp(static_cast<uint16_t>(port), 53,
                                                    testpkt::Bytes("n" + std::to_string(port)))));
        }
        LogEndpoints(dlg, traffic);
        QTemporaryDir dir;
        int saves = 0;
        dlg.Dialogs().saveEventLog = [&](QWidget*, const QString&) {
            return std::optional<QString>(dir.filePath(QString("s%1.doc").arg(++saves)));
        };
        RunModalWith(dlg, [&] {
            QAbstractItemModelTester tester(&dlg.m_list.store(),
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
            ClickStart(dlg);
            QTRY_VERIFY(dlg.Capture().RowsInserted() > 1000);
            QHeaderView* header = dlg.m_list.view()->horizontalHeader();
            for (int round = 0; round < 24; ++round) {
                input::ClickHeader(header, kColSrcPort);
                const bool up = dlg.m_list.Ascending();
                for (int r = 1; r < dlg.m_list.GetItemCount(); ++r) {
                    const int order = CompareGbk(dlg.m_list.GetItemTextView(r - 1, kColSrcPort),
                                                 dlg.m_list.GetItemTextView(r, kColSrcPort));
                    QVERIFY2(up ? order <= 0 : order >= 0, qPrintable(QString::number(r)));
                }
                const int rows = dlg.m_list.GetItemCount();
                input::Click(dlg.GetDlgItem(IDC_SAVE));
                QFile saved(dir.filePath(QString("s%1.doc").arg(saves)));
                QVERIFY(saved.open(QIODevice::ReadOnly));
                const QList<QByteArray> records = saved.readAll().split('\n');
                int whole = 0;
                for (qsizetype line = 0; line + 7 < records.size(); line += 10) {
                    // Line 3 is the source port, line 7 the data: one datagram's.
                    const QByteArray port = records[line + 2].mid(8);
                    QCOMPARE(records[line + 6].mid(6), "n" + port);
                    ++whole;
                }
                QCOMPARE(whole, rows);
                if (round % 4 == 3) {
                    input::Click(dlg.GetDlgItem(IDC_CLEAR));
                    QCOMPARE(dlg.m_list.GetItemCount(), 0);
                    QCOMPARE(dlg.m_list.store().rowCount(), 0);
                }
                QTest::qWait(40);  // batches go in meanwhile
            }
            input::Click(dlg.GetDlgItem(IDC_STOP));
        });
        QCOMPARE(saves, 24);
    }

    void keysOnTheFocusedList() {
        TestMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            FillRows(dlg, 5);
            QTableView* view = dlg.m_list.view();
            QVERIFY(input::Activate(view));
            auto pane = [&] { return dlg.DataPane.GetWindowText(); };
            // A click selects the row and gives the list the focus.
            auto clickRow = [&](int row) {
                input::Click(view->viewport(), input::RowPoint(view, row));
                QCoreApplication::processEvents();
            };
            clickRow(1);
            QCOMPARE(QApplication::focusWidget(), view);
            input::Key(view, Qt::Key_Down);  // the row about to be selected
            QCOMPARE(pane(), std::string("data2"));
            QCOMPARE(dlg.m_list.GetFirstSelectedItem(), 2);
            input::Key(view, Qt::Key_Up);
            QCOMPARE(pane(), std::string("data1"));
            clickRow(4);
            input::Key(view, Qt::Key_Down);  // at the last row
            QCOMPARE(pane(), std::string("data4"));
            clickRow(0);
            input::Key(view, Qt::Key_Up);  // at the first row
            QCOMPARE(pane(), std::string("data0"));
            auto selected = [&] {
                std::vector<int> rows;
                for (int row = dlg.m_list.GetNextItem(-1, LVNI_SELECTED); row >= 0;
                     row = dlg.m_list.GetNextItem(row, LVNI_SELECTED)) {
                    rows.push_back(row);
                }
                return rows;
            };
            // Home and End select the first and the last row, as in a list
            // control; the pane keeps the row selected before the key,
            // and the list stays where it is sideways.
            QScrollBar* sideways = view->horizontalScrollBar();
            for (Qt::Key key : {Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End,
                                Qt::Key_Left, Qt::Key_Right, Qt::Key_ScrollLock}) {
                clickRow(2);
                const int across = sideways->value();
                input::Key(view, key);
                QVERIFY2(pane() == "data2", QByteArray::number(key, 16));
                if (key == Qt::Key_Home || key == Qt::Key_End) {
                    QCOMPARE(selected(), std::vector<int>{key == Qt::Key_Home ? 0 : 4});
                    QCOMPARE(sideways->value(), across);
                }
            }
            clickRow(1);
            input::Key(view, Qt::Key_End, Qt::ShiftModifier);  // extends the selection
            QCOMPARE(selected(), (std::vector<int>{1, 2, 3, 4}));
            // Characters whose key codes share their low byte with the arrow keys.
            for (char c : {'(', '&'}) {
                clickRow(2);
                QTest::keyClick(view->window()->windowHandle(), c);
                QVERIFY2(pane() == "data2", QByteArray(1, c));
            }
            for (const QString& letter : {QStringLiteral("Ц"), QStringLiteral("Ш")}) {
                clickRow(2);
                input::KeyWithText(view, Qt::Key(letter.at(0).unicode()), letter);
                QVERIFY2(pane() == "data2", letter.toUtf8());
            }
            // With nothing selected, Down shows the first row.
            input::Click(view->viewport(), input::BelowRows(view));
            QCoreApplication::processEvents();
            input::Key(view, Qt::Key_Down);
            QCOMPARE(pane(), std::string("data0"));
        });
    }

    void enterPressesStartUnlessAButtonHasTheFocus() {
        TestMonitorDlg dlg;
        auto log = LogEndpoints(dlg);
        RunModalWith(dlg, [&] {
            QDialog* w = dlg.window();
            QVERIFY(input::Activate(w));
            auto* pane = qobject_cast<QPlainTextEdit*>(dlg.GetDlgItem(IDC_DATA_PANE));
            input::Click(pane->viewport());
            QCOMPARE(QApplication::focusWidget(), pane);
            input::Type(pane, "ab");
            input::Key(pane, Qt::Key_Return);
            QCOMPARE(g_boxes.size(), size_t(1));
            QCOMPARE(g_boxes[0].text, QString("请选择侦听的网卡(地址)"));
            input::Key(pane, Qt::Key_Enter, Qt::KeypadModifier);
            QCOMPARE(g_boxes.size(), size_t(2));
            QCOMPARE(pane->toPlainText(), QString("ab"));
            // Ctrl+Enter breaks the line, as in every edit that leaves Enter to its dialog.
            input::Key(pane, Qt::Key_Return, Qt::ControlModifier);
            QCOMPARE(pane->toPlainText(), QString("ab\n"));
            QCOMPARE(g_boxes.size(), size_t(2));

            // The event list leaves Enter to the window too.
            FillRows(dlg, 2);
            QTableView* view = dlg.m_list.view();
            input::Click(view->viewport(), input::RowPoint(view, 0));
            input::Key(view, Qt::Key_Return);
            QCOMPARE(g_boxes.size(), size_t(3));
            // A push button with the focus takes Enter itself: Clear, not Start.
            input::Key(view, Qt::Key_Tab);
            QCOMPARE(input::FocusId(), IDC_CLEAR);
            input::Key(view, Qt::Key_Return);
            QCOMPARE(dlg.m_list.GetItemCount(), 0);
            QCOMPARE(g_boxes.size(), size_t(3));
            // An address picked in the address list, then Enter: capture starts.
            auto* box = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LOCAL_ADDRESSES));
            input::Click(box->viewport(), box->visualItemRect(box->item(1)).center());
            input::Key(box, Qt::Key_Return);
            QVERIFY(dlg.Capture().CaptureThreadRunning());
            QCOMPARE(dlg.Capture().SelectedLocalAddress(), std::string("192.168.1.2"));
            QCOMPARE(log->made.load(), 1);
            // Start is disabled now, so Enter on the address list does nothing more.
            input::Key(box, Qt::Key_Return);
            QCOMPARE(log->made.load(), 1);
            QCOMPARE(g_boxes.size(), size_t(3));
            // Shift+Tab passes the disabled Start and lands on Stop.
            input::Key(box, Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(input::FocusId(), IDC_STOP);
            input::Key(box, Qt::Key_Return);
            QVERIFY(!dlg.Capture().CaptureThreadRunning());
            QCOMPARE(log->closes.load(), 1);
        });
    }

    void escapeAndTheCloseBoxSkipExitsSteps() {
        for (bool closeBox : {false, true}) {
            TestMonitorDlg dlg;
            auto log = LogEndpoints(dlg);
            bool clockRan = false;
            int closedBeforeDestruction = -1;
            const int result = RunModalWith(dlg, [&] {
                QVERIFY(input::Activate(dlg.window()));
                ClickStart(dlg);
                QVERIFY(dlg.Capture().CaptureThreadRunning());
                if (closeBox) {
                    QVERIFY(dlg.window()->windowHandle()->close());
                } else {
                    input::Key(dlg.window(), Qt::Key_Escape);
                }
                QVERIFY(!dlg.window()->isVisible());
                clockRan = ClockRuns(dlg);
                closedBeforeDestruction = log->closes.load() + log->interrupts.load();
            });
            QCOMPARE(result, IDCANCEL);
            QCOMPARE(dlg.okCommands, 0);
            QVERIFY(clockRan);  // Exit would have stopped it
            QCOMPARE(closedBeforeDestruction, 0);
            // The window's destruction ended capture.
            QVERIFY(!dlg.Capture().CaptureThreadRunning());
            QVERIFY(!dlg.Capture().SocketOpen());
            QCOMPARE(log->closes.load(), 1);
        }
    }

    void exitDuringCaptureStopsTheClockAndClosesOnce() {
        TestMonitorDlg dlg;
        auto log = LogEndpoints(dlg, Flood());
        bool clockRan = true;
        const int result = RunModalWith(dlg, [&] {
            ClickStart(dlg);
            QTRY_VERIFY(dlg.m_list.GetItemCount() > 0);
            input::Click(dlg.GetDlgItem(IDOK));
            clockRan = ClockRuns(dlg);
        });
        QCOMPARE(result, IDOK);
        QCOMPARE(dlg.okCommands, 1);
        QVERIFY(!clockRan);
        QVERIFY(!dlg.Capture().CaptureThreadRunning());
        QVERIFY(!dlg.Capture().SocketOpen());
        QCOMPARE(log->made.load(), 1);
        QCOMPARE(log->closes.load(), 1);
    }

    void startWhileCapturingTouchesNothing() {
        TestMonitorDlg dlg;
        auto log = LogEndpoints(dlg, Flood());
        RunModalWith(dlg, [&] {
            ClickStart(dlg, 0);
            QTRY_VERIFY(dlg.Capture().RowsInserted() > 5);
            // The disabled button keeps a person from it; the handler refuses all the same.
            dlg.LocalAddressList.SetCurSel(1);
            dlg.OnStart();
            QCOMPARE(log->made.load(), 1);
            QCOMPARE(log->interrupts.load(), 0);
            QVERIFY(g_boxes.empty());
            QCOMPARE(dlg.Capture().SelectedLocalAddress(), std::string("10.0.0.5"));
            const uint64_t rows = dlg.Capture().RowsInserted();
            QTRY_VERIFY(dlg.Capture().RowsInserted() > rows);
            input::Click(dlg.GetDlgItem(IDC_STOP));
            QCOMPARE(log->closes.load(), 1);
        });
    }

    void startWithNoHostAddresses() {
        SocketLibrary::Instance().localAddresses = [] { return std::vector<std::string>{}; };
        TestMonitorDlg dlg;
        auto log = LogEndpoints(dlg);
        RunModalWith(dlg, [&] {
            QCOMPARE(dlg.LocalAddressList.GetCount(), 0);
            input::Click(dlg.GetDlgItem(IDC_START));
            input::Click(dlg.GetDlgItem(IDC_START));
            QCOMPARE(g_boxes.size(), size_t(2));
            QCOMPARE(g_boxes[1].text, QString("请选择侦听的网卡(地址)"));
            QVERIFY(dlg.GetDlgItem(IDC_START)->isEnabled());
            QCOMPARE(log->made.load(), 0);
        });
    }

    void tabWalksTheTemplateOrder() {
        TestMonitorDlg dlg;
        LogEndpoints(dlg);
        RunModalWith(dlg, [&] {
            FillRows(dlg, 3);  // a list with rows must still pass Tab on
            dlg.m_list.view()->setCurrentIndex(dlg.m_list.view()->model()->index(0, 0));
            QDialog* w = dlg.window();
            QVERIFY(input::Activate(w));
            QCOMPARE(input::FocusId(), IDOK);
            std::vector<int> stops = input::TemplateTabStops(dlg);
            QCOMPARE(stops, (std::vector<int>{IDOK, IDC_EVENT_LIST, IDC_CLEAR, IDC_START,
                                              IDC_LOCAL_ADDRESSES, IDC_FILTER, IDC_ABOUT, IDC_SAVE,
                                              IDC_DATA_PANE}));
            const int n = static_cast<int>(stops.size());
            std::rotate(stops.begin(), stops.begin() + 1, stops.end());
            QCOMPARE(input::WalkTabs(w, n), stops);  // round to Exit again
            std::vector<int> back(stops.rbegin() + 1, stops.rend());
            back.push_back(IDOK);
            QCOMPARE(input::WalkTabs(w, n, true), back);
            // While capture runs, Stop stands where Start stood.
            ClickStart(dlg);
            dlg.GetDlgItem(IDOK)->setFocus();
            const std::vector<int> capturing = input::WalkTabs(w, 3);
            QCOMPARE(capturing, (std::vector<int>{IDC_EVENT_LIST, IDC_CLEAR, IDC_STOP}));
            input::Click(dlg.GetDlgItem(IDC_STOP));
        });
    }

    void contextMenuOffersTheAboutEntry() {
        TestMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            QDialog* w = dlg.window();
            QVERIFY(input::Activate(w));
            const QString entry = "关于 quorvelan(&A)...";
            QStringList offered;
            input::ChooseFromNextMenu(entry, &offered);
            input::ClickInWindow(w, QPoint(3, 3), Qt::RightButton);  // the window's background
            QCOMPARE(offered, (QStringList{"-", entry, "捕获统计...", "打开捕获文件...",
                                           "保存捕获文件...", "记录到文件...", "连接...", "查找...",
                                           "用量...", "提醒...", "设置..."}));
            QCOMPARE(dlg.aboutRuns, 1);
            QCOMPARE(dlg.aboutReuses, 0);  // a new box for the menu entry
            // The menu key: the window system asks the focus widget for its context menu.
            input::ChooseFromNextMenu(entry, nullptr);
            QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(5, 5),
                                  w->mapToGlobal(QPoint(5, 5)));
            QVERIFY(input::Activate(w));
            QVERIFY(w->focusWidget());
            QApplication::sendEvent(w->focusWidget(), &key);
            QCOMPARE(dlg.aboutRuns, 2);
            // The About button uses the window's own box.
            input::Click(dlg.GetDlgItem(IDC_ABOUT));
            QCOMPARE(dlg.aboutReuses, 1);
        });
    }

    void controlsStandAtTheirTemplateRectangles() {
        TestMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            QCOMPARE(MisplacedControls(dlg), QStringList());
            QVERIFY(!dlg.window()->windowIcon().isNull());
        });
    }

    void endToEndFromACaptureFile() {
        QTemporaryDir dir;
        const std::string path = WriteCaptureFile(dir.filePath("t.pcap"));
        TestMonitorDlg dlg;
        dlg.SetEndpointFactory([path] { return MakeFileEndpoint(path); });
        RunModalWith(dlg, [&] {
            // The user picks 10.0.0.5 and presses Start.
            auto* box = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LOCAL_ADDRESSES));
            QTest::mouseClick(box->viewport(), Qt::LeftButton, {},
                              box->visualItemRect(box->item(0)).center());
            QCOMPARE(dlg.LocalAddressList.GetCurSel(), 0);
            QTest::mouseClick(dlg.GetDlgItem(IDC_START), Qt::LeftButton);
            QVERIFY(!dlg.GetDlgItem(IDC_START)->isEnabled());
            QVERIFY(dlg.GetDlgItem(IDC_STOP)->isEnabled());
            QTRY_COMPARE(dlg.m_list.GetItemCount(), 2);
            QCOMPARE(dlg.m_list.GetItemText(0, kColData), std::string("<b>query</b>"));
            QCOMPARE(dlg.m_list.GetItemText(0, kColService), std::string("dns"));
            QCOMPARE(dlg.m_list.GetItemText(1, kColSrcAddr),
                     std::string("(\xB1\xBE\xBB\xFA)10.0.0.5"));
            QCOMPARE(dlg.m_list.GetItemText(1, kColFlags), std::string("SYN-"));
            QTest::mouseClick(dlg.GetDlgItem(IDC_STOP), Qt::LeftButton);
            QVERIFY(dlg.GetDlgItem(IDC_START)->isEnabled());
            QVERIFY(!dlg.GetDlgItem(IDC_STOP)->isEnabled());
            QTest::qWait(50);
            QCOMPARE(dlg.m_list.GetItemCount(), 2);
            // Exit ends the window with OK and destruction ends capture.
            QTest::mouseClick(dlg.GetDlgItem(IDC_START), Qt::LeftButton);
            QTest::mouseClick(dlg.GetDlgItem(IDOK), Qt::LeftButton);
        });
        QVERIFY(!dlg.Capture().CaptureThreadRunning());
        QVERIFY(!dlg.Capture().SocketOpen());
    }
};

QTEST_MAIN(MonitorTest)
#include "test_monitor.moc"
