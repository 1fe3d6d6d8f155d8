#include "ui/alerts/alertsettings.h"

#include <QFile>

namespace {

const QString kGroup = QStringLiteral("alerts");

}  // namespace

AlertSettings ReadAlertSettings(QSettings& settings) {
    const AlertSettings defaults;
    AlertSettings a;
    settings.beginGroup(kGroup);
    a.newProgram = settings.value(QStringLiteral("newProgram"), defaults.newProgram).toBool();
    a.newHost = settings.value(QStringLiteral("newHost"), defaults.newHost).toBool();
    a.byNetwork = settings.value(QStringLiteral("byNetwork"), defaults.byNetwork).toBool();
    a.dailyAmount = settings.value(QStringLiteral("dailyAmount"), defaults.dailyAmount).toBool();
    bool ok = false;
    const qulonglong bytes = settings.value(QStringLiteral("dailyBytes")).toULongLong(&ok);
    a.dailyBytes = ok && bytes > 0 ? bytes : defaults.dailyBytes;
    a.blocklist = settings.value(QStringLiteral("blocklist"), defaults.blocklist).toBool();
    a.blocklistPath =
        QFile::encodeName(settings.value(QStringLiteral("blocklistPath")).toString()).toStdString();
    settings.endGroup();
    return a;
}

void WriteAlertSettings(QSettings& settings, const AlertSettings& a) {
    settings.beginGroup(kGroup);
    settings.setValue(QStringLiteral("newProgram"), a.newProgram);
    settings.setValue(QStringLiteral("newHost"), a.newHost);
    settings.setValue(QStringLiteral("byNetwork"), a.byNetwork);
    settings.setValue(QStringLiteral("dailyAmount"), a.dailyAmount);
    settings.setValue(QStringLiteral("dailyBytes"), static_cast<qulonglong>(a.dailyBytes));
    settings.setValue(QStringLiteral("blocklist"), a.blocklist);
    settings.setValue(QStringLiteral("blocklistPath"),
                      QFile::decodeName(QByteArray::fromStdString(a.blocklistPath)));
    settings.endGroup();
}
