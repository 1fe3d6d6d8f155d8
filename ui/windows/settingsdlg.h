#pragma once
// The 设置 window: 最小化到托盘, 登录时开始监控 (on the address selected in the
// main window when it is turned on) and how long the usage history keeps its
// day and hour buckets. Modal; the caller applies what was chosen.
#include <QDialog>

#include "ui/settings/monitorsettings.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

class SettingsDialog : public QDialog {
    Q_OBJECT
  public:
    // `selectedAddress`: the main window's selected address, or empty.
    SettingsDialog(const MonitorSettings& current, const QString& selectedAddress,
                   QWidget* parent = nullptr);

    MonitorSettings Chosen() const;

    QCheckBox* TrayBox() const { return tray_; }
    QCheckBox* AutostartBox() const { return autostart_; }
    QSpinBox* KeepDaysBox() const { return keepDays_; }
    QSpinBox* KeepHourDaysBox() const { return keepHourDays_; }
    QPushButton* OkButton() const { return ok_; }

  private:
    void ShowWhere();

    MonitorSettings current_;
    QString selected_;
    QCheckBox* tray_ = nullptr;
    QCheckBox* autostart_ = nullptr;
    QLabel* where_ = nullptr;
    QSpinBox* keepDays_ = nullptr;
    QSpinBox* keepHourDays_ = nullptr;
    QPushButton* ok_ = nullptr;
};
