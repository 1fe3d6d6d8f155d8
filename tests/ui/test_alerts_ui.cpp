// The alerts' interface pieces below the window: the 提醒 model kept in step
// with a log that drops its oldest (checked by Qt's model tester at every
// step), the settings' round trip through QSettings, and the feed from the
// conversations tracker (live traffic fed once per change, a capture file's
// not at all).
#include <QAbstractItemModelTester>
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <random>

#include "tests/capture/capture_file_writer.h"
#include "tests/capture/packet_builder.h"
#include "ui/alerts/alertfeed.h"
#include "ui/alerts/alertmodel.h"
#include "ui/alerts/alertsettings.h"

using namespace testpkt;

namespace {

constexpr int64_t kSecond = 1'000'000'000;

Alert Numbered(uint64_t n) {
    return Alert{AlertKind::kNewHost, static_cast<int64_t>(n) * kSecond, 1,
                 "alert " + std::to_string(n)};
}

void AddDatagram(ConversationDeltas& deltas, std::array<uint8_t, 4> src, std::array<uint8_t, 4> dst,
                 size_t payload, int64_t timeNs) {
    const auto d = Datagram(testfile::Between(src, dst, 17),
                            Udp(40000, 53, std::vector<uint8_t>(payload, 'x')));
    deltas.AddDatagram(d.data(), static_cast<int>(d.size()), 0x0A000005, timeNs);
}

}  // namespace

class AlertsUiTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    // Random runs of additions between refreshes, past the log's cap and
    // more than a whole log at once: the rows are always the log's, newest first.
    void modelFollowsTheLog() {
        AlertLog log(50);
        AlertModel model(log);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        std::mt19937 random(7);
        uint64_t next = 0;
        for (int round = 0; round < 200; ++round) {
            const int adds = round % 17 == 0 ? 120 : static_cast<int>(random() % 30);
            for (int i = 0; i < adds; ++i)
                log.Add(Numbered(next++));
            model.Refresh();
            QCOMPARE(model.rowCount(), static_cast<int>(log.Size()));
            for (int r = 0; r < model.rowCount(); ++r)
                QCOMPARE(model.CellText(r, AlertModel::kText),
                         QString::fromStdString("alert " + std::to_string(next - 1 - r)));
        }
        QCOMPARE(model.CellText(0, AlertModel::kKind), QStringLiteral("新主机"));
        QCOMPARE(model.headerData(AlertModel::kText, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("内容"));
        // Markup from outside is a tooltip's plain text, not markup.
        log.Add(Alert{AlertKind::kNewProgram, 0, 1, "程序 <b>x</b> 首次通信"});
        model.Refresh();
        QVERIFY(!model.data(model.index(0, AlertModel::kText), Qt::ToolTipRole)
                     .toString()
                     .contains(QStringLiteral("<b>x")));
    }

    void settingsRoundTrip() {
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("q.conf")), QSettings::IniFormat);
        const AlertSettings defaults = ReadAlertSettings(settings);
        QVERIFY(defaults == AlertSettings{});
        AlertSettings changed;
        changed.newProgram = false;
        changed.newHost = changed.byNetwork = changed.dailyAmount = changed.blocklist = true;
        changed.dailyBytes = 5'000'000'000ULL;
        changed.blocklistPath = "/home/someone/阻止 列表.txt";
        WriteAlertSettings(settings, changed);
        settings.sync();
        QSettings again(dir.filePath(QStringLiteral("q.conf")), QSettings::IniFormat);
        QVERIFY(ReadAlertSettings(again) == changed);
        QCOMPARE(again.childGroups(), QStringList{QStringLiteral("alerts")});
        // A value spoilt by hand falls back to the default.
        again.setValue(QStringLiteral("alerts/dailyBytes"), QStringLiteral("lots"));
        QCOMPARE(ReadAlertSettings(again).dailyBytes, AlertSettings{}.dailyBytes);
    }

    void feedFromTheConversations() {
        ConversationTracker tracker;
        AlertSettings settings;
        settings.newHost = true;
        AlertEngine engine(settings, {}, {"192.0.2.1"});
        AlertFeed feed;
        const int64_t t = 1'800'000'000 * kSecond;

        tracker.BeginCapture(false, "10.0.0.5");
        ConversationDeltas deltas;
        AddDatagram(deltas, {10, 0, 0, 5}, {192, 0, 2, 1}, 10, t);
        AddDatagram(deltas, {10, 0, 0, 5}, {192, 0, 2, 2}, 10, t);
        AddDatagram(deltas, {198, 51, 100, 3}, {10, 0, 0, 5}, 10, t);
        tracker.Merge(deltas);
        feed.Poll(tracker, engine, t);
        feed.Poll(tracker, engine, t + kSecond / 2);  // nothing moved: nothing fed again
        std::vector<Alert> due = engine.TakeDue(t + kSecond);
        QCOMPARE(due.size(), size_t{1});
        QCOMPARE(due[0].text, std::string("首次与主机 192.0.2.2 通信"));
        QCOMPARE(due[0].count, uint64_t{2});

        // A capture file's conversations raise nothing.
        tracker.BeginCapture(true, "");
        deltas.Clear();
        AddDatagram(deltas, {10, 0, 0, 5}, {203, 0, 113, 1}, 10, t);
        tracker.Merge(deltas);
        feed.Poll(tracker, engine, t + 30 * kSecond);
        QVERIFY(engine.TakeDue(t + 40 * kSecond).empty());
        QCOMPARE(engine.Stats().knownHosts, size_t{3});
    }
};

QTEST_MAIN(AlertsUiTest)
#include "test_alerts_ui.moc"
