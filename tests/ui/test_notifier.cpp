// The desktop notifier against a notification service of the test's own, on
// a private session bus: what the service is sent (the app's name, the
// summary, the body with its markup escaped, the expiry), and nothing sent
// once the service is gone and no tray is there.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

#include "ui/alerts/notifier.h"

namespace {

struct Received {
    QString app, icon, summary, body;
    uint replaces = 0;
    int expire = 0;
};

}  // namespace

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    QList<Received> received;

  public Q_SLOTS:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap&, int expire) {
        received.push_back({app, icon, summary, body, replaces, expire});
        return static_cast<uint>(received.size());
    }
};

class NotifierTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void sentToTheServiceEscaped();
    void nothingWithoutServiceOrTray();

  private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
    FakeNotifications fake_;
};

void NotifierTest::initTestCase() {
    // A bus with no services to start on demand: only what the test registers is there.
    const QString config = dir_.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>unix:dir=" +
        QFile::encodeName(dir_.path()) +
        "</listen><auth>EXTERNAL</auth>"
        "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
        "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    file.close();
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
    QVERIFY(daemon_.waitForStarted());
    QVERIFY(daemon_.waitForReadyRead(10000) || daemon_.canReadLine());
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    QVERIFY(!address_.isEmpty());

    QDBusConnection service = QDBusConnection::connectToBus(address_, QStringLiteral("service"));
    QVERIFY(service.isConnected());
    QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &fake_,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
}

void NotifierTest::cleanupTestCase() {
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    daemon_.kill();
    daemon_.waitForFinished();
}

void NotifierTest::sentToTheServiceEscaped() {
    DesktopNotifier notifier(QDBusConnection::connectToBus(address_, QStringLiteral("client")));
    QCOMPARE(notifier.Notify(QStringLiteral("新主机"),
                             QStringLiteral("首次与主机 <b>x</b> & \"y\" 通信")),
             DesktopNotifier::Route::kBus);
    QTRY_COMPARE(fake_.received.size(), 1);
    const Received& r = fake_.received.front();
    QCOMPARE(r.app, QStringLiteral("quorvelan"));
    QCOMPARE(r.replaces, 0u);
    QCOMPARE(r.summary, QStringLiteral("新主机"));
    QCOMPARE(r.body, QStringLiteral("首次与主机 &lt;b&gt;x&lt;/b&gt; &amp; \"y\" 通信"));
    QCOMPARE(r.expire, DesktopNotifier::kExpireMs);
    QCOMPARE(notifier.Failed(), 0u);
}

void NotifierTest::nothingWithoutServiceOrTray() {
    QDBusConnection service(QStringLiteral("service"));
    QVERIFY(service.unregisterService(QStringLiteral("org.freedesktop.Notifications")));
    DesktopNotifier notifier(QDBusConnection(QStringLiteral("client")));
    const qsizetype before = fake_.received.size();
    QCOMPARE(notifier.Notify(QStringLiteral("a"), QStringLiteral("b")),
             DesktopNotifier::Route::kNone);
    // No bus at all: the same.
    DesktopNotifier nowhere(QDBusConnection(QStringLiteral("never connected")));
    QCOMPARE(nowhere.Notify(QStringLiteral("a"), QStringLiteral("b")),
             DesktopNotifier::Route::kNone);
    QCoreApplication::processEvents();
    QCOMPARE(fake_.received.size(), before);
}

int main(int argc, char** argv) {
    // CTest's skip code: without dbus-daemon there is no bus of our own to test on.
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) {
        std::fprintf(stderr, "SKIP: dbus-daemon is not installed\n");
        return 77;
    }
    QApplication app(argc, argv);
    NotifierTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_notifier.moc"
