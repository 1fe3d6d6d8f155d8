#include "ui/alerts/notifier.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
constexpr int kCallTimeoutMs = 5000;

}  // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {}

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), bus_(bus) {}

QString DesktopNotifier::EscapedBody(const QString& body) {
    QString out;
    out.reserve(body.size());
    for (const QChar c : body) {
        if (c == QLatin1Char('&'))
            out += QStringLiteral("&amp;");
        else if (c == QLatin1Char('<'))
            out += QStringLiteral("&lt;");
        else if (c == QLatin1Char('>'))
            out += QStringLiteral("&gt;");
        else
            out += c;
    }
    return out;
}

QDBusConnection& DesktopNotifier::Bus() {
    if (!bus_)
        bus_.emplace(QDBusConnection::sessionBus());
    return *bus_;
}

bool DesktopNotifier::ServiceThere() {
    if (!Bus().isConnected())
        return false;
    QDBusConnectionInterface* bus = Bus().interface();
    if (!bus)
        return false;
    if (bus->isServiceRegistered(kService).value())
        return true;
    // Many services start on the first call: named by the bus as activatable.
    const QDBusReply<QStringList> activatable = bus->activatableServiceNames();
    return activatable.isValid() && activatable.value().contains(kService);
}

bool DesktopNotifier::ShowInTray(const QString& summary, const QString& body, int expireMs) {
    if (!tray_ || !tray_->isVisible() || !QSystemTrayIcon::supportsMessages())
        return false;
    tray_->showMessage(summary, body, QSystemTrayIcon::Information, expireMs);
    return true;
}

DesktopNotifier::Route DesktopNotifier::Notify(const QString& summary, const QString& body,
                                               int expireMs) {
    if (!ServiceThere())
        return ShowInTray(summary, body, expireMs) ? Route::kTray : Route::kNone;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    call << QStringLiteral("quorvelan") << uint{0} << QStringLiteral("quorvelan") << summary
         << EscapedBody(body) << QStringList{} << QVariantMap{} << expireMs;
    auto* watcher = new QDBusPendingCallWatcher(Bus().asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, summary, body, expireMs] {
                if (watcher->isError()) {
                    ++failed_;
                    ShowInTray(summary, body, expireMs);
                }
                watcher->deleteLater();
            });
    return Route::kBus;
}
