#pragma once
// Decides what is worth telling the person about the traffic, and how often.
//
// Fed with samples of the conversations (one per conversation that moved,
// about once a second), it raises four kinds of alert, each on or off:
// a program seen talking for the first time; a remote host (or its network)
// seen for the first time; a program over its daily amount (once per
// program and local day); a host of the block list (once per host and list
// read). "First time" means ever: the engine starts knowing the programs
// and hosts of the usage history, and learns every program and host it
// sees, whether their alert is on or not, so turning one on later does not
// raise every host at once.
//
// Bounded against a flood (a hostile one: 100,000 new hosts a second):
// alerts of one kind are gathered for a second and go out as one, with the
// count of those it stands for; after that, for the rest of a ten-second
// window, the kind's alerts gather into one more that goes out when the
// window ends. So each kind gives at most two alerts per window whatever
// comes, four kinds at most eight. The known hosts and networks are at most
// 200,000 each, the programs 20,000: past that the least recently seen half
// is forgotten at once (a notice says so), and one of them seen again is
// new again.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "alerts/address.h"
#include "alerts/blocklist.h"
#include "alerts/recent_set.h"

enum class AlertKind : uint8_t {
    kNewProgram,
    kNewHost,
    kNewNetwork,
    kDailyAmount,
    kBlocked,
    kNotice,  // about the alerts themselves: a block list with bad lines, memory full
};
inline constexpr int kAlertKinds = 6;

// Each alert on or off, and their parameters; kept by the interface's
// settings (group "alerts").
struct AlertSettings {
    bool newProgram = true;
    bool newHost = false;
    bool byNetwork = false;  // the new-host alert for each new /24 (IPv4) or /48 (IPv6) instead
    bool dailyAmount = false;
    uint64_t dailyBytes = uint64_t{1} << 30;
    bool blocklist = false;
    std::string blocklistPath;

    friend bool operator==(const AlertSettings&, const AlertSettings&) = default;
};

// One conversation's traffic since its last sample.
struct TrafficSample {
    // The program's name as shown (DisplayableUtf8's text, as OwnerInfo has
    // it); empty while the owner is not known or there is none.
    std::string_view program;
    // Its executable's path, when known. Programs are told apart by it, else by name.
    std::string_view executable;
    std::string_view remote;  // the remote address as text, IPv4 or IPv6
    uint64_t bytes = 0;       // both directions
};

struct Alert {
    AlertKind kind = AlertKind::kNotice;
    int64_t timeNs = 0;  // of the first one it stands for, since the epoch
    uint64_t count = 1;  // how many alerts of its kind it stands for
    std::string text;    // the first one's, UTF-8
};

// The alert's text with the count of the others it stands for.
std::string AlertShownText(const Alert& alert);
// "新程序", "新主机", ...
std::string_view AlertKindName(AlertKind kind);

class AlertEngine {
  public:
    struct Limits {
        size_t knownHosts = 200'000;  // and as many networks
        size_t knownPrograms = 20'000;
        size_t dailyPrograms = 20'000;  // programs counted per day; more are not counted
        size_t blockedAlerted = 20'000;
        int64_t gatherNs = 1'000'000'000;
        int64_t windowNs = 10'000'000'000;
    };

    // `knownPrograms`: executables or names (see TrafficSample); `knownHosts`:
    // address texts. In order, the most recent last: past the limits the
    // first are forgotten.
    AlertEngine(AlertSettings settings, const std::vector<std::string>& knownPrograms,
                const std::vector<std::string>& knownHosts);
    AlertEngine(AlertSettings settings, const std::vector<std::string>& knownPrograms,
                const std::vector<std::string>& knownHosts, Limits limits);

    void SetSettings(AlertSettings settings) { settings_ = std::move(settings); }
    const AlertSettings& Settings() const { return settings_; }
    // Known from now on, as if given at construction (the usage history,
    // read once it is open): seen again, they raise nothing.
    void Remember(const std::vector<std::string>& knownPrograms,
                  const std::vector<std::string>& knownHosts);
    // The list in force (null: none). A new list may raise each host again.
    void SetBlocklist(std::shared_ptr<const Blocklist> list);

    // `nowNs`: wall-clock time, since the epoch (the day is the local one).
    void Observe(const TrafficSample& sample, int64_t nowNs);
    // A notice of our own, gathered like the alerts.
    void Notice(std::string text, int64_t nowNs);
    // The alerts due by now, oldest first. Call about once a second.
    std::vector<Alert> TakeDue(int64_t nowNs);

    struct Figures {
        size_t knownHosts = 0;
        size_t knownNetworks = 0;
        size_t knownPrograms = 0;
        uint64_t forgotten = 0;   // hosts, networks and programs forgotten past the limits
        uint64_t raised = 0;      // alerts raised, before gathering
        uint64_t notCounted = 0;  // samples of programs past the day's limit
    };
    Figures Stats() const;

  private:
    struct Gate {
        bool open = false;
        int64_t windowStart = 0;
        int64_t dueNs = 0;
        std::optional<Alert> pending;
    };
    struct Daily {
        uint64_t bytes = 0;
        bool alerted = false;
    };
    void Raise(AlertKind kind, std::string text, int64_t nowNs);
    void Flush(Gate& gate, int64_t nowNs, std::vector<Alert>* out);
    bool WindowOver(const Gate& gate, int64_t nowNs) const;
    void NoteForgetting(uint64_t before, uint64_t after, size_t limit, int64_t nowNs);

    AlertSettings settings_;
    Limits limits_;
    RecentSet<IpAddress, IpAddressHash> hosts_;
    RecentSet<IpAddress, IpAddressHash> networks_;
    RecentSet<std::string, std::hash<std::string>> programs_;
    RecentSet<IpAddress, IpAddressHash> blockedAlerted_;
    std::shared_ptr<const Blocklist> blocklist_;
    std::unordered_map<std::string, Daily> daily_;
    int64_t day_ = 0;  // local date as yyyymmdd of daily_
    std::array<Gate, kAlertKinds> gates_;
    std::vector<Alert> ready_;  // delivered by a gate outside TakeDue
    uint64_t raised_ = 0;
    uint64_t notCounted_ = 0;
};
