#pragma once
// Desktop notifications: through the desktop's notification service
// (org.freedesktop.Notifications on the session bus), else as the tray
// icon's message, else not at all. Never waits for the service: the call is
// sent and its answer read when it comes; a call that fails falls back to
// the tray.
#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <cstdint>
#include <optional>

class DesktopNotifier : public QObject {
    Q_OBJECT
  public:
    enum class Route { kNone, kBus, kTray };
    static constexpr int kExpireMs = 10000;

    // The user's session bus, reached at the first notification, unless
    // given another (tests).
    explicit DesktopNotifier(QObject* parent = nullptr);
    DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);

    // The tray icon whose message is the fall-back; may be null, and may go.
    void SetTray(QSystemTrayIcon* tray) { tray_ = tray; }

    // `body` is plain text: the service may take markup, so it is escaped.
    Route Notify(const QString& summary, const QString& body, int expireMs = kExpireMs);

    // & < > as their entities.
    static QString EscapedBody(const QString& body);
    // Calls the service answered with an error.
    uint64_t Failed() const { return failed_; }

  private:
    bool ServiceThere();
    bool ShowInTray(const QString& summary, const QString& body, int expireMs);

    QDBusConnection& Bus();

    std::optional<QDBusConnection> bus_;
    QPointer<QSystemTrayIcon> tray_;
    uint64_t failed_ = 0;
};
