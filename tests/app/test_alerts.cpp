// The 提醒 window as a person reaches it: opened from the main window's
// context menu, it shows the alerts that scripted traffic raised through the
// conversations and the adapter (a new host, a host of the block list), the
// newest on top, and follows as they come; its model passes Qt's tester.
#include <QAbstractItemModelTester>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <ctime>

#include "app/monitordlg.h"
#include "framework/gbk.h"
#include "history/usage_history.h"
#include "res/resource.h"
#include "tests/app/dialog_driver.h"
#include "tests/app/user_input.h"
#include "tests/app/window_state.h"
#include "tests/capture/capture_file_writer.h"
#include "tests/capture/packet_builder.h"

using namespace testpkt;

namespace {

constexpr std::array<uint8_t, 4> kHere{10, 0, 0, 5};

std::vector<uint8_t> Between(std::array<uint8_t, 4> src, std::array<uint8_t, 4> dst,
                             const std::vector<uint8_t>& transport) {
    return Datagram(testfile::Between(src, dst, 17), transport);
}

QString Label(const CDialog& dlg, int id) {
    auto* label = qobject_cast<QLabel*>(dlg.GetDlgItem(id));
    return label ? label->text() : QString();
}

}  // namespace

class AlertsTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase() {
        testfile::UseTestTimeZone();
        QVERIFY(xdg_.isValid());
        // A live capture keeps its usage history here, and what it holds
        // counts as known: each test starts with none.
        qputenv("XDG_DATA_HOME", QFile::encodeName(xdg_.filePath("data")));
    }
    void init() {
        FakeHost({"10.0.0.5"});
        QDir(xdg_.filePath("data")).removeRecursively();
    }

    void openedFromTheMenuShowsWhatTheTrafficRaised() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString listPath = dir.filePath(QStringLiteral("block.txt"));
        {
            QFile list(listPath);
            QVERIFY(list.open(QIODevice::WriteOnly));
            list.write("# hosts we never want to talk to\n198.51.100.0/24\nnot an address\n");
        }
        CMonitorDlg dlg;
        AlertSettings settings;
        settings.newHost = true;
        settings.blocklist = true;
        settings.blocklistPath = QFile::encodeName(listPath).toStdString();
        dlg.Alerts().SetSettings(settings);
        // No desktop in the test: the notifier finds no service and no tray.
        dlg.Alerts().SetNotifier(std::make_unique<DesktopNotifier>(
            QDBusConnection(QStringLiteral("no bus in this test"))));

        ScriptedTraffic traffic;
        for (int i = 0; i < 20; ++i) {
            traffic.datagrams.push_back(Between(kHere, {192, 0, 2, 9}, Udp(40000, 53, Bytes("q"))));
            traffic.datagrams.push_back(
                Between({198, 51, 100, 7}, kHere, Udp(443, 40001, Bytes("<b>x</b>"))));
        }
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(traffic); });
        RunModalWith(dlg, [&] {
            QVERIFY(!dlg.AlertsWindow());
            input::ChooseFromContextMenu(dlg.window(), QStringLiteral("提醒..."));
            CAlertsDlg* alerts = dlg.AlertsWindow();
            QVERIFY(alerts && alerts->IsOpen());
            QDialog* w = alerts->window();
            QCOMPARE(w->windowTitle(), QStringLiteral("提醒"));
            QCOMPARE(w->parentWidget(), dlg.window());
            QVERIFY(!w->isModal());
            QCOMPARE(MisplacedControls(*alerts), QStringList());
            AlertModel& m = *alerts->Model();
            // Goes with the model when the window closes.
            new QAbstractItemModelTester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest,
                                         &m);
            QCOMPARE(m.headerData(AlertModel::kKind, Qt::Horizontal, Qt::DisplayRole).toString(),
                     QStringLiteral("类型"));

            // The block list is read at the next second: its bad line is told.
            QTRY_COMPARE_WITH_TIMEOUT(m.rowCount(), 1, 20000);
            QCOMPARE(m.CellText(0, AlertModel::kKind), QStringLiteral("说明"));
            QCOMPARE(m.CellText(0, AlertModel::kText),
                     QStringLiteral("阻止列表“%1”有 1 行无法识别，已跳过 "
                                    "(第一处在第 3 行)")
                         .arg(listPath));

            auto* addresses = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LOCAL_ADDRESSES));
            input::Click(addresses->viewport(),
                         addresses->visualItemRect(addresses->item(0)).center());
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_COMPARE(dlg.Capture().RowsInserted(), uint64_t{40});

            // Both hosts are new, one of them blocked: gathered per kind, newest on top.
            QTRY_COMPARE_WITH_TIMEOUT(m.rowCount(), 3, 20000);
            QStringList texts;
            for (int r = 0; r < m.rowCount(); ++r)
                texts << m.CellText(r, AlertModel::kKind) + ": " + m.CellText(r, AlertModel::kText);
            QVERIFY2(texts.contains(QStringLiteral("阻止列表: 与阻止列表中的主机 198.51.100.7 "
                                                   "通信 (列表项 198.51.100.0/24)")),
                     qPrintable(texts.join('\n')));
            QVERIFY2(texts.contains(QStringLiteral("新主机: 首次与主机 192.0.2.9 通信 (另有 "
                                                   "1 条同类提醒)")),
                     qPrintable(texts.join('\n')));
            QCOMPARE(m.CellText(0, AlertModel::kTime).size(), 19);
            QCOMPARE(Label(*alerts, IDC_ALERTS_SUMMARY),
                     QStringLiteral("共 3 条提醒；阻止列表 1 个地址范围"));
            QCOMPARE(alerts->Lines()->model(), &m);

            input::Click(dlg.GetDlgItem(IDC_STOP));
            // The window closes with its button and opens again with what was kept.
            input::Click(alerts->GetDlgItem(IDOK));
            QVERIFY(!alerts->IsOpen());
            input::ChooseFromContextMenu(dlg.window(), QStringLiteral("提醒..."));
            QVERIFY(alerts->IsOpen());
            QCOMPARE(alerts->Model()->rowCount(), 3);
        });
    }

    // A host an earlier run wrote to the usage history is known once the
    // history opens at the capture's start: only the host never seen before
    // is told, alone.
    void hostsOfTheHistoryAreKnown() {
        {
            UsageHistory earlier(UsageHistory::Options{});
            QVERIFY(earlier.Opened().ok);
            UsageSample s;
            s.minute = static_cast<int64_t>(std::time(nullptr)) / 60 - 5;
            s.remoteAddress = "192.0.2.9";
            s.localAddress = "10.0.0.5";
            s.protocol = 17;
            s.counts = {0, 100, 0, 1};
            earlier.Add(s);
        }
        CMonitorDlg dlg;
        AlertSettings settings;
        settings.newHost = true;
        dlg.Alerts().SetSettings(settings);
        dlg.Alerts().SetNotifier(std::make_unique<DesktopNotifier>(
            QDBusConnection(QStringLiteral("no bus in this test"))));
        ScriptedTraffic traffic;
        // The known host first: were it raised, the new one would be gathered
        // into its alert.
        for (int i = 0; i < 10; ++i) {
            traffic.datagrams.push_back(Between(kHere, {192, 0, 2, 9}, Udp(40000, 53, Bytes("q"))));
            traffic.datagrams.push_back(
                Between(kHere, {192, 0, 2, 10}, Udp(40002, 53, Bytes("q"))));
        }
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(traffic); });
        RunModalWith(dlg, [&] {
            auto* addresses = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LOCAL_ADDRESSES));
            input::Click(addresses->viewport(),
                         addresses->visualItemRect(addresses->item(0)).center());
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_COMPARE(dlg.Capture().RowsInserted(), uint64_t{20});
            const AlertLog& log = dlg.Alerts().Log();
            QTRY_COMPARE_WITH_TIMEOUT(log.Size(), size_t{1}, 20000);
            QCOMPARE(log.At(0).kind, AlertKind::kNewHost);
            QCOMPARE(log.At(0).count, uint64_t{1});
            QCOMPARE(QString::fromStdString(log.At(0).text),
                     QStringLiteral("首次与主机 192.0.2.10 通信"));
            input::Click(dlg.GetDlgItem(IDC_STOP));
        });
    }

  private:
    QTemporaryDir xdg_;
};

QTEST_MAIN(AlertsTest)
#include "test_alerts.moc"
