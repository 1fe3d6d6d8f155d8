#pragma once
// The settings kept between runs, in one file of the user's XDG config folder
// ($XDG_CONFIG_HOME/quorvelan/quorvelan.conf, 0600), read and written with
// QSettings.
#include <QString>

struct MonitorSettings {
    bool minimizeToTray = false;
    bool startAtLogin = false;
    QString startAddress;   // the address the autostart entry starts on
    int keepDays = 365;     // days of day buckets the usage history keeps
    int keepHourDays = 31;  // days of hour buckets
    bool operator==(const MonitorSettings&) const = default;

    static constexpr int kMaxKeepDays = 3650;
};

QString MonitorSettingsPath();
MonitorSettings LoadMonitorSettings();
// False when the file could not be written.
bool SaveMonitorSettings(const MonitorSettings& settings);
