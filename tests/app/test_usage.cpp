// The 用量 window, the settings, the tray icon and the command line, driven
// as a person drives them: live traffic counted into the usage history and
// read back in the window (ranges, a program's hosts, a host's programs, the
// CSV export), the autostart entry written and removed through 设置, --start
// on an address the host does not have, and minimising into the tray.
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <sstream>

#include "app/monitorapp.h"
#include "app/monitordlg.h"
#include "app/socketlib.h"
#include "history/usage_history.h"
#include "places/place.h"
#include "res/resource.h"
#include "tests/app/dialog_driver.h"
#include "tests/app/user_input.h"
#include "tests/app/window_state.h"
#include "tests/capture/capture_file_writer.h"
#include "tests/capture/packet_builder.h"
#include "ui/models/usagetotalsmodel.h"
#include "ui/settings/autostart.h"
#include "ui/widgets/usagechart.h"
#include "ui/windows/settingsdlg.h"

using namespace testpkt;

namespace {

struct Box {
    QString caption, text;
    unsigned type;
};
std::vector<Box> g_boxes;

constexpr std::array<uint8_t, 4> kHere{10, 0, 0, 5};
constexpr std::array<uint8_t, 4> kThere{10, 0, 0, 9};

// Ten datagrams in (29 B each) and five out (34 B each) on one UDP conversation.
std::vector<std::vector<uint8_t>> Traffic() {
    const auto in = Datagram(testfile::Between(kThere, kHere, 17), Udp(5000, 9, Bytes("q")));
    const auto out = Datagram(testfile::Between(kHere, kThere, 17), Udp(9, 5000, Bytes("answer")));
    std::vector<std::vector<uint8_t>> d;
    for (int i = 0; i < 5; ++i) {
        d.push_back(in);
        d.push_back(in);
        d.push_back(out);
    }
    return d;
}

// No resolver is asked: no name comes back for any address.
ConversationTracker::Options NoNames() {
    ConversationTracker::Options options;
    options.names.resolve = [](const IpAddress&, std::string*) { return false; };
    return options;
}

void ClickAddress(CMonitorDlg& dlg, int entry) {
    auto* box = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LOCAL_ADDRESSES));
    input::Click(box->viewport(), box->visualItemRect(box->item(entry)).center());
}

std::string ReadFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int64_t LocalMidnight(int daysFromToday) {
    return QDateTime(QDate::currentDate().addDays(daysFromToday), QTime(0, 0)).toSecsSinceEpoch();
}

// Three days ago at noon, curl fetched from example.com: written by a run before this one.
void WriteEarlierRun() {
    UsageHistory history(UsageHistory::Options{});
    QVERIFY(history.Opened().ok);
    UsageSample s;
    s.minute = (LocalMidnight(-3) + 12 * 3600) / 60;
    s.program = "curl";
    s.executable = "/usr/bin/curl";
    s.remoteAddress = "93.184.216.34";
    s.remoteName = "example.com";
    s.localAddress = "10.0.0.5";
    s.protocol = 6;
    s.counts = UsageCounts{5000, 700, 5, 7};
    history.Add(s);
    history.Flush();
}

QString Cell(QTableView* view, int row, int column, int role = Qt::DisplayRole) {
    return view->model()->index(row, column).data(role).toString();
}

// A check box is ticked where its box is drawn (its row may be wider than its text).
void Tick(QCheckBox* box) {
    input::Click(box, QPoint(8, box->height() / 2));
}

void WaitFilled(UsageWindow* w) {
    QTRY_VERIFY(w->Filled());
}

void ChooseInTrayMenu(CMonitorDlg& dlg, const QString& entry, std::vector<input::MenuEntry>* seen) {
    input::ClickInNextMenu(entry, seen);
    dlg.TrayMenu()->exec(QPoint(20, 20));
}

}  // namespace

class UsageTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase() {
        testfile::UseTestTimeZone();
        QVERIFY(xdg_.isValid());
        // The history and the settings live in folders of this test's own.
        qputenv("XDG_DATA_HOME", QFile::encodeName(xdg_.filePath("data")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(xdg_.filePath("config")));
    }

    void init() {
        QDir(xdg_.filePath("data")).removeRecursively();
        QDir(xdg_.filePath("config")).removeRecursively();
        g_boxes.clear();
        SetMessageBoxHookForTesting([](const QString& c, const QString& t, unsigned type) {
            g_boxes.push_back({c, t, type});
            return IDOK;
        });
        FakeHost({"192.168.1.2", "10.0.0.5"});
    }

    // Live traffic reaches the history; the window reads it back with what an
    // earlier run wrote, per range, per program and per host, and exports it.
    void usageWindowShowsAndExportsWhatWasCounted() {
        WriteEarlierRun();
        CMonitorDlg dlg(NoNames());
        ScriptedTraffic traffic;
        traffic.datagrams = Traffic();
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(traffic); });
        QTemporaryDir out;
        RunModalWith(dlg, [&] {
            ClickAddress(dlg, 0);  // 10.0.0.5 (the list is sorted)
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_COMPARE(dlg.Capture().RowsInserted(), uint64_t{15});
            // 停止监控 writes the capture's last minute at once: 用量 shows it
            // without waiting for the history's next minute.
            input::Click(dlg.GetDlgItem(IDC_STOP));

            input::ChooseFromContextMenu(dlg.window(), QStringLiteral("用量..."));
            UsageWindow* w = dlg.UsageWin();
            QVERIFY(w && w->isVisible());
            QCOMPARE(w->windowTitle(), QString("用量"));
            QCOMPARE(w->parentWidget(), dlg.window());
            const QAbstractItemModelTester programsTester(
                w->Programs()->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
            const QAbstractItemModelTester hostsTester(
                w->Hosts()->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
            const QAbstractItemModelTester detailsTester(
                w->Details()->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
            WaitFilled(w);

            // Today, per hour: only this capture, whose program no one could name.
            using M = UsageTotalsModel;
            QTableView* programs = w->Programs();
            QCOMPARE(programs->model()->rowCount(), 1);
            QCOMPARE(Cell(programs, 0, M::kName), QString("未知"));
            QCOMPARE(Cell(programs, 0, M::kIn), QString("290 B"));
            QCOMPARE(Cell(programs, 0, M::kOut), QString("170 B"));
            QCOMPARE(Cell(programs, 0, M::kTotal, M::kBytesRole), QString("460"));
            QCOMPARE(w->Hosts()->model()->rowCount(), 1);
            QCOMPARE(Cell(w->Hosts(), 0, M::kName), QString("10.0.0.9"));
            // Hosts with their place; programs have none.
            QCOMPARE(Cell(w->Hosts(), 0, M::kCountry), QString("私有网络"));
            QCOMPARE(w->Hosts()->model()->columnCount(), int{M::kColumns});
            QCOMPARE(programs->model()->columnCount(), int{M::kCountry});
            QCOMPARE(w->Chart()->Stacks().size(), size_t{24});
            QCOMPARE(w->Chart()->SeriesNames(), std::vector<QString>{QString("未知")});
            uint64_t charted = 0;
            for (const auto& bar : w->Chart()->Stacks())
                for (const uint64_t v : bar)
                    charted += v;
            QCOMPARE(charted, uint64_t{460});

            // The last 7 days, per day: the earlier run's curl too, the most first.
            input::Click(w->RangeButton(UsageWindow::kLast7Days));
            WaitFilled(w);
            QCOMPARE(w->Report().granularity, Granularity::kDay);
            QCOMPARE(programs->model()->rowCount(), 2);
            QCOMPARE(Cell(programs, 0, M::kName), QString("curl"));
            QCOMPARE(Cell(programs, 0, M::kDetail), QString("/usr/bin/curl"));
            QCOMPARE(Cell(programs, 0, M::kTotal), QString("5.6 KB"));
            QCOMPARE(Cell(programs, 1, M::kName), QString("未知"));
            const auto& bars = w->Chart()->Stacks();
            QCOMPARE(bars.size(), size_t{7});
            QCOMPARE(w->Chart()->SeriesNames(), (std::vector<QString>{"curl", "未知"}));
            QCOMPARE(bars[3], (std::vector<uint64_t>{5700, 0}));
            QCOMPARE(bars[6], (std::vector<uint64_t>{0, 460}));

            // A program chosen: its hosts; a host chosen: its programs.
            input::Click(programs->viewport(), input::RowPoint(programs, 0));
            QTRY_COMPARE(w->DetailsCaption()->text(), QString("程序“curl”的主机"));
            WaitFilled(w);
            QCOMPARE(w->Details()->model()->rowCount(), 1);
            QCOMPARE(Cell(w->Details(), 0, M::kName), QString("93.184.216.34"));
            QCOMPARE(Cell(w->Details(), 0, M::kDetail), QString("example.com"));
            const Place example = PlaceOf(IpAddress(0x5DB8D822));  // 93.184.216.34
            QCOMPARE(Cell(w->Details(), 0, M::kNetwork),
                     QString::fromStdString(example.NetworkText()));
            QVERIFY(example.asn != 0 || !QFile::exists(PlaceDatabase::kInstalledPath));
            QTableView* hosts = w->Hosts();
            QCOMPARE(Cell(hosts, 1, M::kName), QString("10.0.0.9"));
            input::Click(hosts->viewport(), input::RowPoint(hosts, 1));
            QTRY_COMPARE(w->DetailsCaption()->text(), QString("主机 10.0.0.9 的程序"));
            WaitFilled(w);
            QVERIFY(programs->selectionModel()->selectedRows().isEmpty());
            QCOMPARE(w->Details()->model()->rowCount(), 1);
            QCOMPARE(Cell(w->Details(), 0, M::kName), QString("未知"));

            // Ctrl+S asks through the window's dialogs and writes the range as CSV.
            int asked = 0;
            const QString written = out.filePath("usage.csv");
            dlg.Dialogs().exportUsage = [&](QWidget* owner, const QString& name) {
                ++asked;
                [&] { QCOMPARE(owner, static_cast<QWidget*>(w)); }();
                [&] { QVERIFY(name.startsWith("quorvelan-usage-")); }();
                return std::optional<QString>(written);
            };
            QVERIFY(input::Activate(w));
            input::Key(w, Qt::Key_S, Qt::ControlModifier);
            QCOMPARE(asked, 1);
            const auto day = [](int d) {
                return QDateTime::fromSecsSinceEpoch(LocalMidnight(d))
                    .toString("yyyy-MM-dd HH:mm")
                    .toStdString();
            };
            const std::string expected =
                "\xEF\xBB\xBF"
                "类别,名称,详情,开始,接收字节,发送字节,接收数据报,发送数据报,国家/地区,网络\r\n"
                "程序,curl,/usr/bin/curl,,5000,700,5,7,,\r\n"
                "程序,未知,,,290,170,10,5,,\r\n"
                "主机,93.184.216.34,example.com,,5000,700,5,7," +
                example.country + "," + example.NetworkText() +
                "\r\n"
                "主机,10.0.0.9,,,290,170,10,5,私有网络,\r\n"
                "时段,curl,," +
                day(-3) +
                ",5000,700,5,7,,\r\n"
                "时段,未知,," +
                day(0) + ",290,170,10,5,,\r\n";
            QCOMPARE(ReadFile(written), expected);
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(written).constData(), &st), 0);
            QCOMPARE(st.st_mode & 07777, 0600u);
            QVERIFY(g_boxes.empty());

            // 导出... from the button asks the same.
            input::Click(w->ExportButton());
            QCOMPARE(asked, 2);
        });
    }

    // 登录时开始监控 writes the autostart entry on the selected address and
    // removes it again; a link planted where it goes is never followed.
    void settingsWriteAndRemoveTheAutostartEntry() {
        CMonitorDlg dlg(NoNames());
        const QString entryPath = xdg_.filePath("config/autostart/quorvelan.desktop");
        const auto toggleAutostart = [&] {
            WhenDialogShows(QStringLiteral("设置"), [](QDialog* d) {
                auto* s = qobject_cast<SettingsDialog*>(d);
                Tick(s->AutostartBox());
                input::Click(s->OkButton());
            });
            input::ChooseFromContextMenu(dlg.window(), QStringLiteral("设置..."));
        };
        RunModalWith(dlg, [&] {
            ClickAddress(dlg, 0);  // 10.0.0.5 (the list is sorted)
            WhenDialogShows(QStringLiteral("设置"), [](QDialog* d) {
                auto* s = qobject_cast<SettingsDialog*>(d);
                QVERIFY(!s->TrayBox()->isChecked());  // off by default
                Tick(s->TrayBox());
                Tick(s->AutostartBox());
                for (const auto& [box, typed] :
                     {std::pair{s->KeepDaysBox(), "90"}, std::pair{s->KeepHourDaysBox(), "120"}}) {
                    input::Click(box);
                    input::Key(box, Qt::Key_A, Qt::ControlModifier);
                    input::Type(box, typed);
                }
                input::Click(s->OkButton());
            });
            input::ChooseFromContextMenu(dlg.window(), QStringLiteral("设置..."));
            const std::string program =
                QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString();
            const std::string entry = ReadFile(entryPath);
            QVERIFY(entry.find("\nExec=\"" + program + "\" --start \"10.0.0.5\" --minimized\n") !=
                    std::string::npos);
            QCOMPARE(entry, AutostartEntry(program, "10.0.0.5"));
            MonitorSettings saved = LoadMonitorSettings();
            QVERIFY(saved.minimizeToTray);
            QVERIFY(saved.startAtLogin);
            QCOMPARE(saved.startAddress, QString("10.0.0.5"));
            QCOMPARE(saved.keepDays, 90);
            QCOMPARE(saved.keepHourDays, 90);
            QCOMPARE(saved, dlg.Settings());
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(MonitorSettingsPath()).constData(), &st), 0);
            QCOMPARE(st.st_mode & 07777, 0600u);

            toggleAutostart();  // off
            QVERIFY(!QFile::exists(entryPath));
            QVERIFY(!LoadMonitorSettings().startAtLogin);
            QVERIFY(LoadMonitorSettings().minimizeToTray);

            const QString victim = xdg_.filePath("victim");
            QVERIFY(QFile(victim).open(QIODevice::WriteOnly));
            QVERIFY(QFile::link(victim, entryPath));
            toggleAutostart();  // on, refused
            QCOMPARE(g_boxes.size(), size_t{1});
            QVERIFY(g_boxes[0].text.startsWith("无法写入自动启动文件“" + entryPath + "”："));
            QCOMPARE(ReadFile(victim), std::string());
            QVERIFY(!LoadMonitorSettings().startAtLogin);
            // Still off: OK removes the link, and what it pointed at stays.
            WhenDialogShows(QStringLiteral("设置"), [](QDialog* d) {
                auto* s = qobject_cast<SettingsDialog*>(d);
                QVERIFY(!s->AutostartBox()->isChecked());
                input::Click(s->OkButton());
            });
            input::ChooseFromContextMenu(dlg.window(), QStringLiteral("设置..."));
            QVERIFY(!QFileInfo(entryPath).isSymLink());
            QVERIFY(QFile::exists(victim));
            QCOMPARE(g_boxes.size(), size_t{1});
        });
    }

    // --start on an address the host does not have (yet: at login the
    // network may come up after the program): the design's start-up
    // meanwhile (stopped, nothing selected, no history), and a message
    // naming it once the wait is over.
    void startOnAMissingAddressSaysSoAndStaysStopped() {
        CMonitorDlg dlg(NoNames());
        dlg.SetStartup(StartupOptions{QStringLiteral("192.0.2.77"), false, 2});
        const auto stopped = [&] {
            return Stopped(dlg) && dlg.LocalAddressList.GetCurSel() < 0 && !dlg.History();
        };
        RunModalWith(dlg, [&] {
            QTest::qWait(300);
            QVERIFY(g_boxes.empty());  // not at once
            QVERIFY(stopped());
            QTRY_COMPARE_WITH_TIMEOUT(g_boxes.size(), size_t{1}, 10000);
            QVERIFY(stopped());
            QTest::qWait(1500);  // said once
        });
        QCOMPARE(g_boxes.size(), size_t{1});
        QCOMPARE(g_boxes[0].text,
                 QString("地址 192.0.2.77 不是本机的 IPv4 地址（或已不存在），没有开始监控。"));
    }

    // The address comes while it is waited for: capture starts on it, with
    // no message; an address the person chose meanwhile is left as chosen.
    void startOnAnAddressThatComesLater() {
        std::vector<std::string> host = {"192.168.1.2", "10.0.0.5"};
        SocketLibrary::Instance().localAddresses = [&host] { return host; };
        ScriptedTraffic traffic;
        traffic.datagrams = Traffic();
        traffic.repeat = true;
        {
            CMonitorDlg dlg(NoNames());
            dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(traffic); });
            dlg.SetStartup(StartupOptions{QStringLiteral("10.0.0.77"), false, 30});
            RunModalWith(dlg, [&] {
                QTest::qWait(1200);
                QVERIFY(Stopped(dlg));
                host.push_back("10.0.0.77");
                QTRY_VERIFY_WITH_TIMEOUT(Capturing(dlg), 10000);
                QCOMPARE(dlg.Capture().SelectedLocalAddress(), std::string("10.0.0.77"));
                QCOMPARE(dlg.LocalAddressList.GetText(dlg.LocalAddressList.GetCurSel()),
                         std::string("10.0.0.77"));
                input::Click(dlg.GetDlgItem(IDC_STOP));
            });
        }
        host.pop_back();
        {
            CMonitorDlg dlg(NoNames());
            dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(traffic); });
            dlg.SetStartup(StartupOptions{QStringLiteral("10.0.0.77"), false, 30});
            RunModalWith(dlg, [&] {
                ClickAddress(dlg, 0);
                const std::string chosen = dlg.LocalAddressList.GetText(0);
                host.push_back("10.0.0.77");
                QTest::qWait(2500);
                QVERIFY(Stopped(dlg));
                QCOMPARE(dlg.LocalAddressList.GetText(dlg.LocalAddressList.GetCurSel()), chosen);
            });
        }
        QVERIFY(g_boxes.empty());
    }

    // 停止监控 on a capture that counted nothing: the history writes its
    // empty minute without a word and goes on recording.
    void stoppingAnIdleCaptureSaysNothing() {
        CMonitorDlg dlg(NoNames());
        ScriptedTraffic nothing;
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(nothing); });
        RunModalWith(dlg, [&] {
            ClickAddress(dlg, 0);
            for (int i = 0; i < 2; ++i) {
                input::Click(dlg.GetDlgItem(IDC_START));
                QTRY_VERIFY(Capturing(dlg));
                input::Click(dlg.GetDlgItem(IDC_STOP));
                QVERIFY(Stopped(dlg));
                QVERIFY(dlg.History());
                QCOMPARE(dlg.History()->State(), HistoryState::kRecording);
            }
            QVERIFY(g_boxes.empty());
        });
    }

    // --start on one of the host's addresses captures at once; --minimized
    // without a tray only minimises.
    void startOnAnAddressOfTheHostCapturesMinimised() {
        CMonitorDlg dlg(NoNames());
        ScriptedTraffic traffic;
        traffic.datagrams = Traffic();
        traffic.repeat = true;
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(traffic); });
        dlg.SetTrayAvailability([] { return false; });
        dlg.SetStartup(StartupOptions{QStringLiteral("10.0.0.5"), true});
        RunModalWith(dlg, [&] {
            QTRY_VERIFY(Capturing(dlg));
            QCOMPARE(dlg.LocalAddressList.GetCurSel(), 0);
            QCOMPARE(dlg.Capture().SelectedLocalAddress(), std::string("10.0.0.5"));
            QTRY_VERIFY(dlg.window()->isMinimized());
            QVERIFY(dlg.window()->isVisible());
            QVERIFY(!dlg.Tray());
            QVERIFY(g_boxes.empty());
            input::Click(dlg.GetDlgItem(IDC_STOP));
        });
    }

    // Without a tray (the offscreen desktop has none) no icon is made and the
    // setting does not hide the window; with one, minimising hides the window
    // into it while capture goes on, and its menu brings it back and exits.
    void minimiseToTray() {
        MonitorSettings settings;
        settings.minimizeToTray = true;
        QVERIFY(SaveMonitorSettings(settings));
        if (!QSystemTrayIcon::isSystemTrayAvailable()) {
            CMonitorDlg plain(NoNames());
            RunModalWith(plain, [&] {
                QVERIFY(!plain.Tray());
                plain.window()->showMinimized();
                QTRY_VERIFY(plain.window()->isMinimized());
                QCoreApplication::processEvents();
                QVERIFY(plain.window()->isVisible());
                QVERIFY(!plain.HiddenInTray());
            });
        }

        CMonitorDlg dlg(NoNames());
        ScriptedTraffic traffic;
        traffic.datagrams = Traffic();
        traffic.repeat = true;
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(traffic); });
        dlg.SetTrayAvailability([] { return true; });
        const int result = RunModalWith(dlg, [&] {
            QVERIFY(dlg.Tray());
            QCOMPARE(dlg.Tray()->toolTip(), QString("quorvelan：未在监控"));
            ClickAddress(dlg, 0);
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_VERIFY(dlg.Capture().RowsInserted() > 0);
            std::vector<input::MenuEntry> seen;
            ChooseInTrayMenu(dlg, QStringLiteral("显示窗口"), &seen);
            const std::vector<input::MenuEntry> offered{{"显示窗口", true}, {"用量", true},
                                                        {"连接", true},     {"开始监控", false},
                                                        {"停止监控", true}, {"退出", true}};
            QCOMPARE(seen, offered);
            QTRY_VERIFY(dlg.Tray()->toolTip().startsWith("quorvelan：监控 10.0.0.5\n接收 "));

            dlg.window()->showMinimized();
            QTRY_VERIFY(!dlg.window()->isVisible());
            QVERIFY(dlg.HiddenInTray());
            const uint64_t before = dlg.Capture().RowsInserted();
            QTRY_VERIFY(dlg.Capture().RowsInserted() > before);  // capture goes on
            QVERIFY(Capturing(dlg));

            ChooseInTrayMenu(dlg, QStringLiteral("显示窗口"), &seen);
            QVERIFY(dlg.window()->isVisible());
            QVERIFY(!dlg.window()->isMinimized());
            QVERIFY(!dlg.HiddenInTray());

            // 退出 ends the program with the window in the tray, as from the window.
            dlg.window()->showMinimized();
            QTRY_VERIFY(dlg.HiddenInTray());
            ChooseInTrayMenu(dlg, QStringLiteral("退出"), &seen);
        });
        QCOMPARE(result, IDOK);
        QVERIFY(g_boxes.empty());
    }

  private:
    QTemporaryDir xdg_;
};

QTEST_MAIN(UsageTest)
#include "test_usage.moc"
