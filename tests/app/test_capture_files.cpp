// Capture files and capture statistics in the main window, driven as a person
// drives them: the context menu, the file dialog, the buttons, the
// statistics window; the figures on standard error.
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "app/monitordlg.h"
#include "app/socketlib.h"
#include "res/resource.h"
#include "tests/app/dialog_driver.h"
#include "tests/app/stderr_capture.h"
#include "tests/app/user_input.h"
#include "tests/app/window_state.h"
#include "tests/capture/capture_file_writer.h"
#include "tests/capture/packet_builder.h"

using namespace testpkt;

namespace {

const QString kOpenEntry = QStringLiteral("打开捕获文件...");
const QString kStatsEntry = QStringLiteral("捕获统计...");

struct Box {
    QString caption, text;
};
std::vector<Box> g_boxes;

// The figures line with the counts given and any duration.
QRegularExpression FiguresPattern(uint64_t received, uint64_t filtered, uint64_t rows,
                                  uint64_t emptied) {
    return QRegularExpression(
        QString("^quorvelan: %1 received, 0 dropped by the kernel, %2 turned away by the "
                "filter, %3 rows, %4 emptied by the 500-row limit, \\d+\\.\\d s$")
            .arg(received)
            .arg(filtered)
            .arg(rows)
            .arg(emptied));
}

// The capture-file dialog as the tests answer it; counts how often it was asked.
struct ChosenFile {
    std::string path;
    int asked = 0;
};

void AnswerFileDialogWith(CMonitorDlg& dlg, ChosenFile* chosen) {
    dlg.Dialogs().openCaptureFile = [chosen](QWidget*) -> std::optional<QString> {
        ++chosen->asked;
        return QString::fromStdString(chosen->path);
    };
}

std::string WriteFile(const QTemporaryDir& dir, const char* name,
                      const std::vector<std::vector<uint8_t>>& datagrams, bool ng = false,
                      int link = DLT_EN10MB) {
    const std::string path = dir.filePath(name).toStdString();
    std::vector<std::vector<uint8_t>> frames;
    for (const auto& d : datagrams)
        frames.push_back(testfile::Frame(link, d));
    const bool ok =
        ng ? testfile::WritePcapng(path, link, frames) : testfile::WritePcap(path, link, frames);
    return ok ? path : std::string();
}

// A capture file of the test's own, which the capture-file dialog answers.
struct TestFile {
    TestFile(const char* name, const std::vector<std::vector<uint8_t>>& datagrams)
        : chosen{WriteFile(dir, name, datagrams)} {}
    QTemporaryDir dir;
    ChosenFile chosen;
};

std::vector<input::MenuEntry> ChooseFromContextMenu(CMonitorDlg& dlg, const QString& entry) {
    return input::ChooseFromContextMenu(dlg.window(), entry);
}

bool OpenEntryEnabled(CMonitorDlg& dlg) {
    for (const input::MenuEntry& e : ChooseFromContextMenu(dlg, QString()))
        if (e.text == kOpenEntry)
            return e.enabled;
    return false;
}

void ClickAddress(CMonitorDlg& dlg, int entry) {
    auto* box = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LOCAL_ADDRESSES));
    input::Click(box->viewport(), box->visualItemRect(box->item(entry)).center());
}

std::vector<std::vector<uint8_t>> Udp(int n, uint16_t port = 9) {
    std::vector<std::vector<uint8_t>> d;
    const Ip ip = testfile::Between({10, 0, 0, 9}, {10, 0, 0, 5}, 17);
    for (int i = 0; i < n; ++i)
        d.push_back(Datagram(ip, testpkt::Udp(4000, port, Bytes(std::to_string(i)))));
    return d;
}

// Waits, without letting the window run, until the capture thread has left
// its loop: the news of the file's end is then waiting for the window.
bool WaitForTheThreadToEnd(CMonitorDlg& dlg) {
    for (int i = 0; i < 60000 && !dlg.Capture().CaptureThreadEnded(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return dlg.Capture().CaptureThreadEnded();
}

QString LabelText(CDialog& dlg, int id) {
    auto* label = qobject_cast<QLabel*>(dlg.GetDlgItem(id));
    return label ? label->text() : QString();
}

}  // namespace

class CaptureFilesTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase() { testfile::UseTestTimeZone(); }

    void init() {
        g_boxes.clear();
        SetMessageBoxHookForTesting([](const QString& c, const QString& t, unsigned) {
            g_boxes.push_back({c, t});
            return IDOK;
        });
        FakeHost({"192.168.1.2", "10.0.0.5", "9.1.1.1"});
    }

    // The real file dialog, driven with keys: type the file's name, press
    // Enter. It opens where the program was started.
    void theFileDialogOpensAFile() {
        QTemporaryDir dir;
        const std::string path = WriteFile(dir, "mix.pcap", testfile::Mix());
        const QString home = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        CMonitorDlg dlg;
        QStringList filters;
        RunModalWith(dlg, [&] {
            StderrCapture err;
            WhenDialogShows("打开捕获文件", [&](QDialog* d) {
                if (auto* fd = qobject_cast<QFileDialog*>(d))
                    filters = fd->nameFilters();
                QVERIFY(input::Activate(d));
                input::Type(d, "mix.pcap");
                // The first Enter may only take the completion the dialog offers.
                for (int i = 0; i < 3 && d->isVisible(); ++i) {
                    input::Key(d, Qt::Key_Return);
                    QCoreApplication::processEvents();
                }
                if (d->isVisible())
                    d->reject();  // not taken: the rows below will be missing
            });
            ChooseFromContextMenu(dlg, kOpenEntry);
            QTRY_COMPARE(dlg.m_list.GetItemCount(), 7);
            QTRY_VERIFY(Stopped(dlg));  // the file's end ended the capture
            QCOMPARE(dlg.m_list.GetItemText(0, kColData), std::string("tls"));
            QCOMPARE(err.Figures().size(), qsizetype(1));
            QVERIFY(g_boxes.empty());
        });
        QDir::setCurrent(home);
        QCOMPARE(filters, (QStringList{"捕获文件 (*.pcap *.pcapng *.cap)", "所有文件 (*)"}));
    }

    // pcap and pcapng give byte for byte the rows the same datagrams give
    // live, apart from the time column, which shows each one's own time.
    void fileRowsEqualLiveRows() {
        QTemporaryDir dir;
        ChosenFile chosen;
        CMonitorDlg dlg;
        AnswerFileDialogWith(dlg, &chosen);
        ScriptedTraffic traffic;
        traffic.datagrams = testfile::Mix();
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(traffic); });
        RunModalWith(dlg, [&] {
            ClickAddress(dlg, 0);  // 10.0.0.5
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_COMPARE(dlg.m_list.GetItemCount(), 7);
            input::Click(dlg.GetDlgItem(IDC_STOP));
            const Rows live = ListRows(dlg);
            for (bool ng : {false, true}) {
                input::Click(dlg.GetDlgItem(IDC_CLEAR));
                chosen.path = WriteFile(dir, ng ? "mix.pcapng" : "mix.pcap", traffic.datagrams, ng,
                                        ng ? DLT_LINUX_SLL2 : DLT_EN10MB);
                ChooseFromContextMenu(dlg, kOpenEntry);
                QVERIFY(Capturing(dlg));
                QTRY_VERIFY(Stopped(dlg));
                const Rows played = ListRows(dlg);
                QCOMPARE(played.size(), live.size());
                for (size_t r = 0; r < live.size(); ++r) {
                    QCOMPARE(played[r][kColTime],
                             testfile::FileTimeText(static_cast<int>(live.size() - 1 - r)));
                    for (int c = 1; c < kEventColumns; ++c)
                        QCOMPARE(played[r][c], live[r][c]);
                }
            }
            QCOMPARE(chosen.asked, 2);
            QVERIFY(g_boxes.empty());
        });
    }

    void theFilterAndTheMarkerApply() {
        TestFile file("mix.pcap", testfile::Mix());
        CMonitorDlg dlg;
        AnswerFileDialogWith(dlg, &file.chosen);
        RunModalWith(dlg, [&] {
            // No address selected: no marker.
            ChooseFromContextMenu(dlg, kOpenEntry);
            QTRY_VERIFY(Stopped(dlg));
            QCOMPARE(dlg.m_list.GetItemCount(), 7);
            for (const auto& row : ListRows(dlg)) {
                QVERIFY(row[kColSrcAddr].find(kLocalMarker) == std::string::npos);
                QVERIFY(row[kColDstAddr].find(kLocalMarker) == std::string::npos);
            }
            input::Click(dlg.GetDlgItem(IDC_CLEAR));
            ClickAddress(dlg, 0);  // 10.0.0.5
            dlg.Capture().SetFilterSettings(Filter(0, 53));
            ChooseFromContextMenu(dlg, kOpenEntry);
            QTRY_VERIFY(Stopped(dlg));
            const Rows rows = ListRows(dlg);
            QCOMPARE(rows.size(), size_t{6});  // the DNS query is ignored
            for (const auto& row : rows)
                QVERIFY(row[kColSrcPort] != "53" && row[kColDstPort] != "53");
            QCOMPARE(rows[0][kColSrcAddr], std::string("192.168.1.20"));
            QCOMPARE(rows[6 - 1][kColSrcAddr], std::string(kLocalMarker) + "10.0.0.5");
            QCOMPARE(rows[6 - 3][kColDstAddr], std::string(kLocalMarker) + "10.0.0.5");
        });
    }

    void aCutOffFileKeepsWhatWasRead() {
        const auto datagrams = Udp(10);
        TestFile file("cut.pcap", datagrams);
        const long record = static_cast<long>(testfile::Frame(DLT_EN10MB, datagrams[9]).size());
        QVERIFY(testfile::CutFile(file.chosen.path, 24 + (16 + record) * 7 + 20));
        CMonitorDlg dlg;
        AnswerFileDialogWith(dlg, &file.chosen);
        RunModalWith(dlg, [&] {
            StderrCapture err;
            ChooseFromContextMenu(dlg, kOpenEntry);
            QTRY_VERIFY(Stopped(dlg));
            QCOMPARE(dlg.m_list.GetItemCount(), 7);
            QCOMPARE(dlg.m_list.GetItemText(0, kColData), std::string("6"));
            QCOMPARE(g_boxes.size(), size_t{1});
            QCOMPARE(g_boxes[0].caption, AfxAppName());
            QCOMPARE(g_boxes[0].text, QString("捕获文件“%1”不完整，在中途被截断：只能读出前 7 "
                                              "个数据包，其后的内容无法读取。")
                                          .arg(QString::fromStdString(file.chosen.path)));
            const QStringList lines = err.Lines();
            QCOMPARE(lines.size(), 2);
            QVERIFY2(FiguresPattern(7, 0, 7, 0).match(lines[0]).hasMatch(), qPrintable(lines[0]));
            QVERIFY(lines[1].contains("truncated"));
            QVERIFY(OpenEntryEnabled(dlg));
        });
    }

    void filesThatCannotBePlayed() {
        QTemporaryDir dir;
        const std::string wifi = dir.filePath("wifi.pcap").toStdString();
        QVERIFY(testfile::WritePcap(wifi, DLT_IEEE802_11, {std::vector<uint8_t>(60, 0)}));
        const std::string notes = dir.filePath("notes%2.pcap").toStdString();
        std::ofstream(notes) << "not a capture\n";
        const std::string missing = dir.filePath("missing.pcap").toStdString();
        // A named pipe no one writes to, and a device: refused at once, not
        // waited on.
        const std::string pipe = dir.filePath("pipe.pcap").toStdString();
        QCOMPARE(mkfifo(pipe.c_str(), 0600), 0);
        const std::string device = "/dev/null";
        ChosenFile chosen;
        CMonitorDlg dlg;
        AnswerFileDialogWith(dlg, &chosen);
        RunModalWith(dlg, [&] {
            StderrCapture err;
            for (const std::string& path : {wifi, notes, missing, pipe, device}) {
                chosen.path = path;
                ChooseFromContextMenu(dlg, kOpenEntry);
                QVERIFY(Stopped(dlg));
                QVERIFY(!dlg.Capture().SocketOpen());
            }
            QCOMPARE(g_boxes.size(), size_t{5});
            const QString q = QString::fromStdString(wifi);
            QCOMPARE(g_boxes[0].text,
                     QString("捕获文件“%1”的链路类型 IEEE802_11（编号 105）不受支持。可以读取的链路"
                             "类型：以太网（含 802.1Q 标记）、Linux cooked（SLL 和 SLL2）、原始 "
                             "IPv4、BSD 环回。")
                         .arg(q));
            // A "%2" in the name is the name's own.
            QCOMPARE(g_boxes[1].text,
                     "“" + QString::fromStdString(notes) +
                         "”不是可以读取的捕获文件：只能读取 pcap 和 pcapng 格式的文件。");
            QCOMPARE(g_boxes[2].text,
                     "无法打开捕获文件“" + QString::fromStdString(missing) + "”：文件不存在。");
            for (int i : {3, 4})
                QCOMPARE(g_boxes[i].text, "无法打开捕获文件“" +
                                              QString::fromStdString(i == 3 ? pipe : device) +
                                              "”：这不是普通文件，而是管道、套接字或设备。");
            QCOMPARE(dlg.m_list.GetItemCount(), 0);
            QCOMPARE(err.Figures().size(), qsizetype(0));  // no capture ran
            QVERIFY(OpenEntryEnabled(dlg));
        });
    }

    // While a capture runs the entry is greyed out and takes no click; Stop
    // in the middle of a large file ends it like a live capture.
    void stopInTheMiddleOfALargeFile() {
        TestFile file("large.pcap", Udp(200000));
        CMonitorDlg dlg;
        AnswerFileDialogWith(dlg, &file.chosen);
        RunModalWith(dlg, [&] {
            StderrCapture err;
            ChooseFromContextMenu(dlg, kOpenEntry);
            QVERIFY(Capturing(dlg));
            QTRY_VERIFY(dlg.Capture().RowsInserted() > 1000);
            QVERIFY(!OpenEntryEnabled(dlg));
            QCOMPARE(file.chosen.asked, 1);
            // Its progress in the statistics window.
            ChooseFromContextMenu(dlg, kStatsEntry);
            CCaptureStatsDlg* stats = dlg.StatsWindow();
            QVERIFY(stats && stats->IsOpen());
            QCOMPARE(LabelText(*stats, IDC_STATS_STATE), QString("正在读取捕获文件"));
            QCOMPARE(LabelText(*stats, IDC_STATS_SOURCE), QString("large.pcap"));
            const QRegularExpression progress("^已读 (\\d+) / (\\d+) 字节（(\\d+)%）$");
            const auto m = progress.match(LabelText(*stats, IDC_STATS_PROGRESS));
            QVERIFY2(m.hasMatch(), qPrintable(LabelText(*stats, IDC_STATS_PROGRESS)));
            QCOMPARE(m.captured(2).toLongLong(), QFileInfo(file.dir.filePath("large.pcap")).size());
            QVERIFY(m.captured(1).toLongLong() < m.captured(2).toLongLong());

            input::Click(dlg.GetDlgItem(IDC_STOP));
            QVERIFY(Stopped(dlg));
            const int rows = dlg.m_list.GetItemCount();
            const CaptureFigures f = dlg.Capture().Figures();
            QVERIFY(f.received < 200000);
            QVERIFY(f.bytesRead < f.fileBytes);
            QCoreApplication::processEvents();
            QTest::qWait(20);
            QCOMPARE(dlg.m_list.GetItemCount(), rows);
            QCOMPARE(dlg.Capture().Figures().received, f.received);
            QCOMPARE(LabelText(*stats, IDC_STATS_STATE), QString("已停止"));
            QCOMPARE(err.Figures().size(), qsizetype(1));
            QVERIFY(g_boxes.empty());
            QVERIFY(OpenEntryEnabled(dlg));
        });
    }

    void theEntryIsGreyedOutDuringLiveCapture() {
        ChosenFile chosen;
        CMonitorDlg dlg;
        AnswerFileDialogWith(dlg, &chosen);
        ScriptedTraffic flood;
        flood.repeat = true;
        flood.datagrams = Udp(1);
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(flood); });
        RunModalWith(dlg, [&] {
            const auto idle = ChooseFromContextMenu(dlg, QString());
            QCOMPARE(idle, (std::vector<input::MenuEntry>{{"关于 quorvelan(&A)...", true},
                                                          {kStatsEntry, true},
                                                          {kOpenEntry, true},
                                                          {"保存捕获文件...", true},
                                                          {"记录到文件...", true},
                                                          {"连接...", true},
                                                          {"查找...", true},
                                                          {"用量...", true},
                                                          {"提醒...", true},
                                                          {"设置...", true}}));
            ClickAddress(dlg, 0);
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_VERIFY(dlg.Capture().RowsInserted() > 10);
            ChooseFromContextMenu(dlg, kOpenEntry);  // greyed out: nothing happens
            QCOMPARE(chosen.asked, 0);
            QVERIFY(!OpenEntryEnabled(dlg));
            // The handler refuses too, should anything reach it.
            dlg.OnOpenCaptureFile();
            QCOMPARE(chosen.asked, 0);
            input::Click(dlg.GetDlgItem(IDC_STOP));
            QVERIFY(OpenEntryEnabled(dlg));
        });
    }

    // The file's end is told to the window after the capture thread has
    // left; the person's Stop may come first.
    void stopBeforeTheWindowHearsOfTheEnd() {
        // Turned away by the filter, so the thread reaches the end without the window.
        TestFile file("quiet.pcap", Udp(300));
        CMonitorDlg dlg;
        AnswerFileDialogWith(dlg, &file.chosen);
        RunModalWith(dlg, [&] {
            StderrCapture err;
            dlg.Capture().SetFilterSettings(Filter(7, 0));
            // Straight to the handler: a menu would run the event loop, and the
            // window could hear of the end before we look.
            dlg.OnOpenCaptureFile();
            QVERIFY(WaitForTheThreadToEnd(dlg));
            QVERIFY(Capturing(dlg));  // the window has not heard yet
            input::Click(dlg.GetDlgItem(IDC_STOP));
            QVERIFY(Stopped(dlg));
            QCoreApplication::processEvents();  // the news arrives: nothing left to do
            QVERIFY(Stopped(dlg));
            const QStringList lines = err.Lines();
            QCOMPARE(lines.size(), 1);
            QVERIFY2(FiguresPattern(300, 300, 0, 0).match(lines[0]).hasMatch(),
                     qPrintable(lines[0]));

            // The news of an old capture reaches a new one: it is not the new one's end.
            dlg.OnOpenCaptureFile();
            QVERIFY(WaitForTheThreadToEnd(dlg));
            input::Click(dlg.GetDlgItem(IDC_STOP));
            dlg.OnOpenCaptureFile();
            const uint64_t current = dlg.Capture().CaptureNumber();
            dlg.OnCaptureFinished(current - 1);
            QVERIFY(Capturing(dlg));
            QTRY_VERIFY(Stopped(dlg));  // its own end
            QCOMPARE(err.Figures().size(), qsizetype(3));
            QVERIFY(g_boxes.empty());
        });
    }

    void stopAfterTheFileEndedTheCapture() {
        TestFile file("short.pcap", Udp(3));
        CMonitorDlg dlg;
        AnswerFileDialogWith(dlg, &file.chosen);
        RunModalWith(dlg, [&] {
            StderrCapture err;
            ChooseFromContextMenu(dlg, kOpenEntry);
            QTRY_VERIFY(Stopped(dlg));
            QCOMPARE(err.Figures().size(), qsizetype(1));
            input::Click(dlg.GetDlgItem(IDC_STOP));  // disabled: no click
            dlg.OnStop();                            // and the handler has nothing to end
            QCOMPARE(err.Figures().size(), qsizetype(1));
            QCOMPARE(dlg.m_list.GetItemCount(), 3);
        });
    }

    // The window goes while the news of the file's end is on its way.
    void theWindowGoesBeforeTheNewsArrives() {
        TestFile file("quiet.pcap", Udp(300));
        StderrCapture err;
        auto* dlg = new CMonitorDlg;
        AnswerFileDialogWith(*dlg, &file.chosen);
        RunModalWith(*dlg, [&] {
            dlg->Capture().SetFilterSettings(Filter(7, 0));
            ChooseFromContextMenu(*dlg, kOpenEntry);
            QVERIFY(WaitForTheThreadToEnd(*dlg));
            // Escape straight to the window, without a turn of the event loop
            // (which would deliver the news first).
            QTest::keyClick(dlg->window(), Qt::Key_Escape);
        });
        QVERIFY(!dlg->Capture().CaptureThreadRunning());
        delete dlg;
        QCoreApplication::processEvents();
        QCOMPARE(err.Figures().size(), qsizetype(1));  // ended once, by the window's end
    }

    // The window follows a running capture without holding it back, keeps
    // the figures of the last one, and the same figures go to standard error.
    void theStatisticsWindowFollowsTheCapture() {
        CMonitorDlg dlg;
        ScriptedTraffic flood;
        flood.repeat = true;
        for (uint16_t port : {9, 53, 9})
            flood.datagrams.push_back(Udp(1, port)[0]);
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(flood); });
        RunModalWith(dlg, [&] {
            StderrCapture err;
            ChooseFromContextMenu(dlg, kStatsEntry);
            CCaptureStatsDlg* stats = dlg.StatsWindow();
            QVERIFY(stats && stats->IsOpen());
            QDialog* w = stats->window();
            QCOMPARE(w->windowTitle(), QString("捕获统计"));
            QCOMPARE(w->parentWidget(), dlg.window());
            QVERIFY(!w->isModal());
            QCOMPARE(w->font().pointSize(), 9);
            QCOMPARE(MisplacedControls(*stats), QStringList());
            QCOMPARE(LabelText(*stats, IDC_STATS_STATE), QString("尚未开始捕获"));

            dlg.Capture().SetFilterSettings(Filter(0, 53));
            ClickAddress(dlg, 0);
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_COMPARE(LabelText(*stats, IDC_STATS_STATE), QString("正在捕获"));
            QCOMPARE(LabelText(*stats, IDC_STATS_SOURCE), QString("10.0.0.5"));
            // The figures move on while the window is open, and so does capture.
            auto received = [&] { return LabelText(*stats, IDC_STATS_RECEIVED).toULongLong(); };
            QTRY_VERIFY(received() > 0);
            const uint64_t first = received();
            QTRY_VERIFY(received() > first);
            const uint64_t rows = dlg.Capture().RowsInserted();
            QTRY_VERIFY(dlg.Capture().RowsInserted() > rows);

            input::Click(dlg.GetDlgItem(IDC_STOP));
            const CaptureFigures f = dlg.Capture().Figures();
            QCOMPARE(LabelText(*stats, IDC_STATS_STATE), QString("已停止"));
            QCOMPARE(LabelText(*stats, IDC_STATS_RECEIVED).toULongLong(), f.received);
            QCOMPARE(LabelText(*stats, IDC_STATS_FILTERED).toULongLong(), f.filtered);
            QCOMPARE(LabelText(*stats, IDC_STATS_ROWS).toULongLong(), f.rows);
            QCOMPARE(LabelText(*stats, IDC_STATS_EMPTIED).toULongLong(), f.emptied);
            QCOMPARE(LabelText(*stats, IDC_STATS_KERNEL_DROPS), QString("0"));
            QCOMPARE(LabelText(*stats, IDC_STATS_PROGRESS), QString("-"));
            QVERIFY(f.filtered > 0 && f.rows > f.filtered);
            QVERIFY(f.emptied > 0);
            const QStringList lines = err.Lines();
            QCOMPARE(lines.size(), 1);
            QVERIFY2(FiguresPattern(f.received, f.filtered, f.rows, f.emptied)
                         .match(lines[0])
                         .hasMatch(),
                     qPrintable(lines[0]));

            // Closed with its button; opened again, it shows the last capture.
            input::Click(stats->GetDlgItem(IDOK));
            QVERIFY(!stats->IsOpen());
            ChooseFromContextMenu(dlg, kStatsEntry);
            QVERIFY(stats->IsOpen());
            QCOMPARE(LabelText(*stats, IDC_STATS_ROWS).toULongLong(), f.rows);
        });
    }

    // Exit ends the capture; its figures go to standard error too.
    void exitReportsTheFigures() {
        CMonitorDlg dlg;
        ScriptedTraffic traffic;
        traffic.datagrams = Udp(1300);
        for (int i = 0; i < 1300; i += 13)
            traffic.datagrams[static_cast<size_t>(i)] = Udp(1, 53)[0];
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(traffic); });
        StderrCapture err;
        RunModalWith(dlg, [&] {
            dlg.Capture().SetFilterSettings(Filter(0, 53));
            ChooseFromContextMenu(dlg, kStatsEntry);
            ClickAddress(dlg, 0);
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_COMPARE(dlg.Capture().RowsInserted(), uint64_t{1200});
            input::Click(dlg.GetDlgItem(IDOK));
        });
        const QStringList lines = err.Lines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(FiguresPattern(1300, 100, 1200, 1000).match(lines[0]).hasMatch(),
                 qPrintable(lines[0]));
        QVERIFY(!dlg.StatsWindow()->IsOpen());  // it went with the main window
    }

  private:
};

QTEST_MAIN(CaptureFilesTest)
#include "test_capture_files.moc"
