#pragma once
// The alerts' settings as the interface keeps them: group "alerts" of the
// program's QSettings.
#include <QSettings>

#include "alerts/engine.h"

AlertSettings ReadAlertSettings(QSettings& settings);
void WriteAlertSettings(QSettings& settings, const AlertSettings& alerts);
