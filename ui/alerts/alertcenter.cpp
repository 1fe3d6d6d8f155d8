#include "ui/alerts/alertcenter.h"

#include <chrono>
#include <cstring>

#include "res/resource.h"
#include "res/string_table.h"
#include "talk/texts.h"
#include "ui/models/conversationtracker.h"

AlertCenter::AlertCenter(AlertSettings settings, const std::vector<std::string>& knownPrograms,
                         const std::vector<std::string>& knownHosts, QObject* parent)
    : QObject(parent),
      engine_(AlertSettings{}, knownPrograms, knownHosts),
      notifier_(std::make_unique<DesktopNotifier>()) {
    SetSettings(settings);
}

AlertCenter::~AlertCenter() = default;

void AlertCenter::SetSettings(const AlertSettings& settings) {
    const bool wanted = settings.blocklist && !settings.blocklistPath.empty();
    if (!wanted) {
        blocklist_.reset();
        engine_.SetBlocklist(nullptr);
    } else if (!blocklist_ || blocklist_->Path() != settings.blocklistPath) {
        blocklist_ = std::make_unique<BlocklistFile>(settings.blocklistPath);
        engine_.SetBlocklist(nullptr);
    }
    engine_.SetSettings(settings);
}

void AlertCenter::SetNotifier(std::unique_ptr<DesktopNotifier> notifier) {
    if (notifier)
        notifier_ = std::move(notifier);
}

void AlertCenter::Tick(const ConversationTracker& tracker) {
    Tick(tracker, std::chrono::duration_cast<std::chrono::nanoseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count());
}

void AlertCenter::PollBlocklist(int64_t nowNs) {
    if (!blocklist_ || !blocklist_->Poll())
        return;
    const BlocklistFile::Status& status = blocklist_->Last();
    const std::string path = DisplayableUtf8(blocklist_->Path());
    switch (status.state) {
        case BlocklistFile::State::kLoaded:
            engine_.SetBlocklist(blocklist_->List());
            if (status.parsed.badLines > 0)
                engine_.Notice(FormatUtf8(IDS_BLOCKLIST_BAD_LINES,
                                          {path, std::to_string(status.parsed.badLines),
                                           std::to_string(status.parsed.firstBadLine)}),
                               nowNs);
            break;
        case BlocklistFile::State::kMissing:
            engine_.Notice(FormatUtf8(IDS_BLOCKLIST_MISSING, {path}), nowNs);
            break;
        case BlocklistFile::State::kNotAFile:
            engine_.Notice(FormatUtf8(IDS_BLOCKLIST_NOT_A_FILE, {path}), nowNs);
            break;
        case BlocklistFile::State::kTooLarge:
            engine_.Notice(
                FormatUtf8(IDS_BLOCKLIST_TOO_LARGE, {path, FormatBytes(BlocklistFile::kMaxBytes)}),
                nowNs);
            break;
        case BlocklistFile::State::kUnreadable:
            engine_.Notice(
                FormatUtf8(IDS_BLOCKLIST_UNREADABLE, {path, std::strerror(status.error)}), nowNs);
            break;
        case BlocklistFile::State::kNone:
            break;
    }
}

void AlertCenter::Tick(const ConversationTracker& tracker, int64_t nowNs) {
    PollBlocklist(nowNs);
    feed_.Poll(tracker, engine_, nowNs);
    std::vector<Alert> due = engine_.TakeDue(nowNs);
    if (due.empty())
        return;
    for (Alert& alert : due) {
        notifier_->Notify(QString::fromUtf8(AlertKindName(alert.kind)),
                          QString::fromStdString(AlertShownText(alert)));
        log_.Add(std::move(alert));
    }
    emit alertsAdded();
}
