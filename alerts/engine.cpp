#include "alerts/engine.h"

#include <algorithm>
#include <ctime>

#include "res/resource.h"
#include "res/string_table.h"
#include "talk/conversation.h"
#include "talk/texts.h"
#include "wire/ip_address.h"

namespace {

// A name from outside is cut to this many bytes, at a character's start.
constexpr size_t kShownNameBytes = 200;

std::string Bounded(std::string_view text) {
    if (text.size() <= kShownNameBytes)
        return std::string(text);
    size_t cut = kShownNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return std::string(text.substr(0, cut)) + "...";
}

int64_t LocalDay(int64_t nowNs) {
    const time_t seconds = static_cast<time_t>(nowNs / 1'000'000'000);
    tm local{};
    localtime_r(&seconds, &local);
    return (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
}

}  // namespace

std::string_view AlertKindName(AlertKind kind) {
    return LoadStringUtf8(IDS_ALERT_KIND_FIRST + static_cast<int>(kind));
}

std::string AlertShownText(const Alert& alert) {
    if (alert.count <= 1)
        return alert.text;
    return FormatUtf8(IDS_ALERT_MORE, {alert.text, std::to_string(alert.count - 1)});
}

AlertEngine::AlertEngine(AlertSettings settings, const std::vector<std::string>& knownPrograms,
                         const std::vector<std::string>& knownHosts)
    : AlertEngine(std::move(settings), knownPrograms, knownHosts, Limits{}) {}

AlertEngine::AlertEngine(AlertSettings settings, const std::vector<std::string>& knownPrograms,
                         const std::vector<std::string>& knownHosts, Limits limits)
    : settings_(std::move(settings)),
      limits_(limits),
      hosts_(limits.knownHosts),
      networks_(limits.knownHosts),
      programs_(limits.knownPrograms),
      blockedAlerted_(limits.blockedAlerted) {
    Remember(knownPrograms, knownHosts);
}

void AlertEngine::Remember(const std::vector<std::string>& knownPrograms,
                           const std::vector<std::string>& knownHosts) {
    for (const std::string& p : knownPrograms) {
        if (!p.empty())
            programs_.Insert(p);
    }
    for (const std::string& h : knownHosts) {
        IpAddress key;
        if (ParseHost(h, &key)) {
            hosts_.Insert(key);
            networks_.Insert(NetworkOf(key));
        }
    }
}

void AlertEngine::SetBlocklist(std::shared_ptr<const Blocklist> list) {
    blocklist_ = std::move(list);
    blockedAlerted_.Clear();
}

void AlertEngine::Observe(const TrafficSample& sample, int64_t nowNs) {
    IpAddress host;
    const bool haveHost = ParseHost(sample.remote, &host);
    const std::string remoteText =
        haveHost ? FormatIp(host) : Bounded(DisplayableUtf8(sample.remote));
    if (haveHost) {
        const uint64_t forgottenBefore = hosts_.Forgotten() + networks_.Forgotten();
        const bool newHost = hosts_.Insert(host);
        const IpAddress network = NetworkOf(host);
        const bool newNetwork = networks_.Insert(network);
        NoteForgetting(forgottenBefore, hosts_.Forgotten() + networks_.Forgotten(),
                       hosts_.Capacity(), nowNs);
        if (settings_.newHost && settings_.byNetwork && newNetwork)
            Raise(AlertKind::kNewNetwork,
                  FormatUtf8(IDS_ALERT_NEW_NETWORK, {FormatNetwork(network), remoteText}), nowNs);
        else if (settings_.newHost && !settings_.byNetwork && newHost)
            Raise(AlertKind::kNewHost, FormatUtf8(IDS_ALERT_NEW_HOST, {remoteText}), nowNs);
        if (settings_.blocklist && blocklist_) {
            if (const Blocklist::Range* range = blocklist_->Find(host);
                range && blockedAlerted_.Insert(host))
                Raise(AlertKind::kBlocked,
                      FormatUtf8(IDS_ALERT_BLOCKED, {remoteText, FormatRange(*range)}), nowNs);
        }
    }

    const std::string_view key = sample.executable.empty() ? sample.program : sample.executable;
    if (key.empty())
        return;
    const std::string name = Bounded(sample.program.empty() ? sample.executable : sample.program);
    const std::string keyText(key);
    const uint64_t forgottenBefore = programs_.Forgotten();
    const bool newProgram = programs_.Insert(keyText);
    NoteForgetting(forgottenBefore, programs_.Forgotten(), programs_.Capacity(), nowNs);
    if (newProgram && settings_.newProgram)
        Raise(AlertKind::kNewProgram, FormatUtf8(IDS_ALERT_NEW_PROGRAM, {name, remoteText}), nowNs);

    // Counted per local day: a new day (or a clock set back over midnight) starts afresh.
    const int64_t day = LocalDay(nowNs);
    if (day != day_) {
        daily_.clear();
        day_ = day;
    }
    auto it = daily_.find(keyText);
    if (it == daily_.end()) {
        if (daily_.size() >= limits_.dailyPrograms) {
            ++notCounted_;
            return;
        }
        it = daily_.emplace(keyText, Daily{}).first;
    }
    it->second.bytes += sample.bytes;
    if (settings_.dailyAmount && !it->second.alerted && it->second.bytes >= settings_.dailyBytes) {
        it->second.alerted = true;
        Raise(AlertKind::kDailyAmount,
              FormatUtf8(IDS_ALERT_DAILY,
                         {name, FormatBytes(it->second.bytes), FormatBytes(settings_.dailyBytes)}),
              nowNs);
    }
}

void AlertEngine::NoteForgetting(uint64_t before, uint64_t after, size_t limit, int64_t nowNs) {
    if (after == before)
        return;
    Notice(FormatUtf8(IDS_ALERT_FORGOTTEN, {std::to_string(limit), std::to_string(after - before)}),
           nowNs);
}

void AlertEngine::Notice(std::string text, int64_t nowNs) {
    Raise(AlertKind::kNotice, std::move(text), nowNs);
}

bool AlertEngine::WindowOver(const Gate& gate, int64_t nowNs) const {
    // A clock set back ends the window too.
    return nowNs < gate.windowStart || nowNs - gate.windowStart >= limits_.windowNs;
}

void AlertEngine::Raise(AlertKind kind, std::string text, int64_t nowNs) {
    ++raised_;
    Gate& gate = gates_[static_cast<size_t>(kind)];
    if (!gate.open || WindowOver(gate, nowNs)) {
        // A gathered alert nobody took yet goes before the new window's first.
        if (gate.pending)
            ready_.push_back(std::move(*gate.pending));
        gate.open = true;
        gate.windowStart = nowNs;
        gate.dueNs = nowNs + limits_.gatherNs;
        gate.pending = Alert{kind, nowNs, 1, std::move(text)};
        return;
    }
    if (gate.pending) {
        ++gate.pending->count;
        return;
    }
    gate.dueNs = gate.windowStart + limits_.windowNs;
    gate.pending = Alert{kind, nowNs, 1, std::move(text)};
}

void AlertEngine::Flush(Gate& gate, int64_t nowNs, std::vector<Alert>* out) {
    if (gate.pending && (nowNs >= gate.dueNs || nowNs < gate.windowStart)) {
        const bool closesWindow = gate.dueNs - gate.windowStart >= limits_.windowNs;
        out->push_back(std::move(*gate.pending));
        gate.pending.reset();
        // A flood that goes on gathers into one alert per window.
        if (closesWindow)
            gate.windowStart = nowNs;
    }
    if (gate.open && !gate.pending && WindowOver(gate, nowNs))
        gate.open = false;
}

std::vector<Alert> AlertEngine::TakeDue(int64_t nowNs) {
    std::vector<Alert> out = std::move(ready_);
    ready_.clear();
    for (Gate& gate : gates_)
        Flush(gate, nowNs, &out);
    std::stable_sort(out.begin(), out.end(),
                     [](const Alert& a, const Alert& b) { return a.timeNs < b.timeNs; });
    return out;
}

AlertEngine::Figures AlertEngine::Stats() const {
    Figures f;
    f.knownHosts = hosts_.Size();
    f.knownNetworks = networks_.Size();
    f.knownPrograms = programs_.Size();
    f.forgotten = hosts_.Forgotten() + networks_.Forgotten() + programs_.Forgotten();
    f.raised = raised_;
    f.notCounted = notCounted_;
    return f;
}
