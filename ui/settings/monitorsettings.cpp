#include "ui/settings/monitorsettings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <algorithm>

namespace {

int Clamped(int value, int low, int high) {
    return std::clamp(value, low, high);
}

}  // namespace

QString MonitorSettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/quorvelan/quorvelan.conf");
}

MonitorSettings LoadMonitorSettings() {
    MonitorSettings s;
    const QString path = MonitorSettingsPath();
    if (!QFileInfo(path).isFile())
        return s;
    QSettings file(path, QSettings::IniFormat);
    s.minimizeToTray = file.value(QStringLiteral("tray/minimizeToTray"), false).toBool();
    s.startAtLogin = file.value(QStringLiteral("start/atLogin"), false).toBool();
    s.startAddress = file.value(QStringLiteral("start/address")).toString();
    // A value edited by hand out of range is taken at its nearest bound.
    s.keepDays = Clamped(file.value(QStringLiteral("history/keepDays"), s.keepDays).toInt(), 1,
                         MonitorSettings::kMaxKeepDays);
    s.keepHourDays = Clamped(
        file.value(QStringLiteral("history/keepHourDays"), s.keepHourDays).toInt(), 1, s.keepDays);
    return s;
}

bool SaveMonitorSettings(const MonitorSettings& s) {
    const QString path = MonitorSettingsPath();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return false;
    // Made private before anything is written into it; the rewrite that
    // QSettings does keeps the mode of the file it replaces.
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::fchmod(fd, 0600);
    ::close(fd);
    {
        QSettings file(path, QSettings::IniFormat);
        file.setValue(QStringLiteral("tray/minimizeToTray"), s.minimizeToTray);
        file.setValue(QStringLiteral("start/atLogin"), s.startAtLogin);
        file.setValue(QStringLiteral("start/address"), s.startAddress);
        file.setValue(QStringLiteral("history/keepDays"), s.keepDays);
        file.setValue(QStringLiteral("history/keepHourDays"), s.keepHourDays);
        file.sync();
        if (file.status() != QSettings::NoError)
            return false;
    }
    return ::chmod(name.constData(), 0600) == 0;
}
