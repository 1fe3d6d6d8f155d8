#include "ui/windows/settingsdlg.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "res/resource.h"
#include "res/strings.h"

SettingsDialog::SettingsDialog(const MonitorSettings& current, const QString& selectedAddress,
                               QWidget* parent)
    : QDialog(parent), current_(current), selected_(selectedAddress) {
    setWindowTitle(LoadStringText(IDS_SETTINGS_TITLE));
    tray_ = new QCheckBox(LoadStringText(IDS_SETTINGS_TRAY), this);
    tray_->setChecked(current.minimizeToTray);
    autostart_ = new QCheckBox(LoadStringText(IDS_SETTINGS_AUTOSTART), this);
    autostart_->setChecked(current.startAtLogin);
    where_ = new QLabel(this);
    where_->setTextFormat(Qt::PlainText);
    where_->setWordWrap(true);
    connect(autostart_, &QCheckBox::toggled, this, [this] { ShowWhere(); });

    keepDays_ = new QSpinBox(this);
    keepDays_->setRange(1, MonitorSettings::kMaxKeepDays);
    keepDays_->setValue(current.keepDays);
    keepHourDays_ = new QSpinBox(this);
    keepHourDays_->setRange(1, MonitorSettings::kMaxKeepDays);
    keepHourDays_->setValue(current.keepHourDays);
    auto* keep = new QFormLayout;
    keep->addRow(LoadStringText(IDS_SETTINGS_KEEP_DAYS), keepDays_);
    keep->addRow(LoadStringText(IDS_SETTINGS_KEEP_HOURS), keepHourDays_);

    ok_ = new QPushButton(LoadStringText(IDS_SETTINGS_OK), this);
    ok_->setDefault(true);
    auto* cancel = new QPushButton(LoadStringText(IDS_SETTINGS_CANCEL), this);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tray_);
    layout->addWidget(autostart_);
    layout->addWidget(where_);
    layout->addLayout(keep);
    layout->addLayout(buttons);
    ShowWhere();
}

void SettingsDialog::ShowWhere() {
    // The entry starts on the address selected when it is turned on; one
    // turned on before keeps its own address.
    const QString address = !selected_.isEmpty() ? selected_ : current_.startAddress;
    if (!address.isEmpty()) {
        where_->setText(FormatString(IDS_SETTINGS_AUTOSTART_ADDRESS, address));
    } else {
        where_->setText(LoadStringText(IDS_SETTINGS_NO_ADDRESS));
        autostart_->setEnabled(autostart_->isChecked());
    }
}

MonitorSettings SettingsDialog::Chosen() const {
    MonitorSettings s = current_;
    s.minimizeToTray = tray_->isChecked();
    const QString address = !selected_.isEmpty() ? selected_ : current_.startAddress;
    s.startAtLogin = autostart_->isChecked() && !address.isEmpty();
    s.startAddress = s.startAtLogin ? address : QString();
    s.keepDays = keepDays_->value();
    // Hours are kept no longer than days.
    s.keepHourDays = std::min(keepHourDays_->value(), s.keepDays);
    return s;
}
