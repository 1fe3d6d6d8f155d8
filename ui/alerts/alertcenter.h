#pragma once
// The alerts of the running program: the engine, fed from the conversations
// once a second; the block list file, polled as often; the 提醒 list; and
// the desktop notifications, one per alert the engine lets through.
#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "alerts/alert_log.h"
#include "alerts/blocklist.h"
#include "alerts/engine.h"
#include "ui/alerts/alertfeed.h"
#include "ui/alerts/notifier.h"

class ConversationTracker;

class AlertCenter : public QObject {
    Q_OBJECT
  public:
    // `knownPrograms`, `knownHosts`: what the usage history already knows.
    explicit AlertCenter(AlertSettings settings = {},
                         const std::vector<std::string>& knownPrograms = {},
                         const std::vector<std::string>& knownHosts = {},
                         QObject* parent = nullptr);
    ~AlertCenter() override;

    // A new block list path is read at the next Tick.
    void SetSettings(const AlertSettings& settings);
    const AlertSettings& Settings() const { return engine_.Settings(); }

    // Interface thread, about once a second; `nowNs` since the epoch.
    void Tick(const ConversationTracker& tracker);
    void Tick(const ConversationTracker& tracker, int64_t nowNs);

    const AlertLog& Log() const { return log_; }
    AlertEngine& Engine() { return engine_; }
    // The notifier; another may be put in (tests: a bus of their own).
    DesktopNotifier& Notifier() { return *notifier_; }
    void SetNotifier(std::unique_ptr<DesktopNotifier> notifier);
    // The block list file in use, or null.
    const BlocklistFile* Blocklist() const { return blocklist_.get(); }

  Q_SIGNALS:
    void alertsAdded();

  private:
    void PollBlocklist(int64_t nowNs);

    AlertEngine engine_;
    AlertFeed feed_;
    AlertLog log_;
    std::unique_ptr<BlocklistFile> blocklist_;
    std::unique_ptr<DesktopNotifier> notifier_;
};
