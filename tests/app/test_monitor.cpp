// The main window driven as a user would: start-up, initial state, Start and
// Stop, the data pane and an end-to-end capture from a capture file.
#include <pcap/pcap.h>

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "app/monitorapp.h"
#include "app/monitordlg.h"
#include "app/socketlib.h"
#include "dialog_driver.h"
#include "framework/gbk.h"
#include "res/resource.h"
#include "tests/capture/packet_builder.h"

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
        SocketLibrary::Instance().localAddresses = [] {
            return std::vector<std::string>{"192.168.1.2", "10.0.0.5", "9.1.1.1"};
        };
        SocketLibrary::Instance().startup = [](uint16_t r, uint16_t* a) {
            *a = r;
            return 0;
        };
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
            QVERIFY(list.view()->showGrid());
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
