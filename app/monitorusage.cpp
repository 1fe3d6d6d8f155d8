#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/monitordlg.h"
#include "app/socketlib.h"
#include "res/resource.h"
#include "res/strings.h"
#include "talk/texts.h"
#include "ui/settings/autostart.h"
#include "ui/text/plaintext.h"
#include "ui/windows/settingsdlg.h"

// What the main window keeps beyond the list: the usage history and its
// window, the settings, the tray icon, and what the command line asked for.

void CMonitorDlg::OpenHistory() {
    if (m_history)
        return;
    UsageHistory::Options options;
    options.keepDays = m_settings.keepDays;
    options.keepHourDays = m_settings.keepHourDays;
    m_history = std::make_unique<UsageHistory>(options);
    const UsageHistory::OpenResult& opened = m_history->Opened();
    UsageFeed::Sources sources;
    sources.owner = [this](const ConversationKey& key) { return m_talk.Owners().Result(key); };
    sources.name = [this](const IpAddress& address) { return m_talk.BestAddressName(address); };
    m_usageFeed = std::make_unique<UsageFeed>(std::move(sources),
                                              [this](const UsageSample& s) { m_history->Add(s); });
    if (opened.ok) {
        // What earlier runs saw raises no first-seen alert again; the engine
        // wants the most recent last and forgets from the front.
        const UsageQuery query(m_history->Path());
        std::vector<std::string> hosts = query.KnownHosts(AlertEngine::Limits{}.knownHosts);
        std::reverse(hosts.begin(), hosts.end());
        m_alerts.Engine().Remember(query.KnownPrograms(), hosts);
    }
    // A file moved aside, or another instance writing: said once, capture goes on.
    if (!opened.message.empty())
        AfxMessageBoxUtf8(QString::fromStdString(opened.message));
}

void CMonitorDlg::UsageTick() {
    if (!m_usageFeed)
        return;
    m_usageFeed->Tick(static_cast<int64_t>(std::time(nullptr)));
    // A full disk stops the history, not the capture: one message.
    if (m_history->State() == HistoryState::kStopped && !m_historyStopSaid) {
        m_historyStopSaid = true;
        AfxMessageBoxUtf8(QString::fromStdString(m_history->StateMessage()));
    }
}

void CMonitorDlg::OnUsage() {
    if (!m_usageWin) {
        UsageWindow::Options options;
        options.path = m_history ? m_history->Path() : DefaultHistoryPath();
        // Asks through the window's dialogs as they are when 导出... is pressed.
        options.exportDialog = [this](QWidget* owner, const QString& name) {
            return m_dialogs.exportUsage(owner, name);
        };
        options.busyFile = [this] { return m_recording.File(); };
        m_usageWin = std::make_unique<UsageWindow>(std::move(options), window());
    }
    m_usageWin->show();
    m_usageWin->raise();
    m_usageWin->activateWindow();
    m_usageWin->Reload();
}

void CMonitorDlg::OnSettings() {
    const int sel = LocalAddressList.GetCurSel();
    const QString selected =
        sel >= 0 ? QString::fromStdString(LocalAddressList.GetText(sel)) : QString();
    SettingsDialog dialog(m_settings, selected, window());
    if (dialog.exec() != QDialog::Accepted)
        return;
    MonitorSettings next = dialog.Chosen();
    if (next.startAtLogin) {
        const SaveResult r =
            WriteAutostart(QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString(),
                           next.startAddress.toStdString());
        if (!r.ok()) {
            const QString path = QFile::decodeName(AutostartPath().c_str());
            const QString why = r.kind == SaveResult::kRefused
                                    ? SaveRefusalText(r.refusal, path)
                                    : QString::fromLocal8Bit(std::strerror(r.error));
            AfxMessageBoxUtf8(FormatString(IDP_AUTOSTART_FAILED, path, why), MB_ICONSTOP);
            next.startAtLogin = false;
            next.startAddress.clear();
        }
    } else if (const int error = RemoveAutostart(); error != 0) {
        AfxMessageBoxUtf8(
            FormatString(IDP_AUTOSTART_FAILED, QFile::decodeName(AutostartPath().c_str()),
                         QString::fromLocal8Bit(std::strerror(error))),
            MB_ICONSTOP);
    }
    m_settings = next;
    SaveMonitorSettings(m_settings);
    if (m_history)
        m_history->SetRetention(m_settings.keepDays, m_settings.keepHourDays);
}

void CMonitorDlg::CreateTray() {
    const bool available =
        m_trayAvailable ? m_trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
    if (!available)
        return;
    m_trayMenu = std::make_unique<QMenu>();
    const auto add = [this](int text, std::function<void()> act) {
        QAction* a = m_trayMenu->addAction(LoadStringText(text));
        a->setData(text);
        connect(a, &QAction::triggered, this, std::move(act));
        return a;
    };
    add(IDS_TRAY_SHOW, [this] { ShowFromTray(); });
    add(IDS_TRAY_USAGE, [this] { OnUsage(); });
    add(IDS_TRAY_CONVERSATIONS, [this] { OnConversations(); });
    m_trayMenu->addSeparator();
    add(IDS_TRAY_START, [this] {
        ShowFromTray();
        OnStart();
    });
    add(IDS_TRAY_STOP, [this] { OnStop(); });
    m_trayMenu->addSeparator();
    add(IDS_TRAY_EXIT, [this] { OnExit(); });
    // The capture may have started or ended since the last tick.
    connect(m_trayMenu.get(), &QMenu::aboutToShow, this, [this] { UpdateTray(); });
    m_tray = std::make_unique<QSystemTrayIcon>(m_hIcon);
    m_tray->setContextMenu(m_trayMenu.get());
    // Alerts fall back to the icon's message where no notification service runs.
    m_alerts.Notifier().SetTray(m_tray.get());
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    ShowFromTray();
            });
    // With the window in the tray, closing another window must not end the
    // program: only the main window's end does.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    UpdateTray();
    m_tray->show();
}

void CMonitorDlg::UpdateTray() {
    if (!m_tray)
        return;
    const bool capturing = m_capture.CaptureThreadRunning() && !m_capture.CaptureThreadEnded();
    for (QAction* a : m_trayMenu->actions()) {
        if (a->data().toInt() == IDS_TRAY_START)
            a->setEnabled(!capturing);
        else if (a->data().toInt() == IDS_TRAY_STOP)
            a->setEnabled(capturing);
    }
    QString tip = LoadStringText(IDS_TRAY_TIP_STOPPED);
    if (capturing) {
        // The last whole second's rate.
        const std::vector<SecondCounts> series =
            m_talk.Rates().Series(static_cast<int64_t>(std::time(nullptr)) - 1);
        const SecondCounts last = series.empty() ? SecondCounts{} : series.back();
        tip = FormatString(IDS_TRAY_TIP_RATE,
                           QString::fromStdString(m_capture.SelectedLocalAddress()),
                           QString::fromStdString(FormatBytes(last.inBytes)),
                           QString::fromStdString(FormatBytes(last.outBytes)));
    }
    if (m_tray->toolTip() != tip)
        m_tray->setToolTip(tip);
}

void CMonitorDlg::ShowFromTray() {
    QDialog* w = window();
    if (!w)
        return;
    m_hiddenInTray = false;
    w->showNormal();
    w->raise();
    w->activateWindow();
}

void CMonitorDlg::MinimizeWindow() {
    QDialog* w = window();
    if (!w)
        return;
    if (m_tray && m_settings.minimizeToTray) {
        m_hiddenInTray = true;
        HideKeepingRun();
        return;
    }
    w->showMinimized();
}

bool CMonitorDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window() && event->type() == QEvent::WindowStateChange && m_tray &&
        m_settings.minimizeToTray && window()->isMinimized()) {
        // Hidden once the state change is done; capture goes on.
        QTimer::singleShot(0, this, [this] {
            if (window() && window()->isMinimized()) {
                m_hiddenInTray = true;
                HideKeepingRun();
            }
        });
    }
    return CDialog::eventFilter(watched, event);
}

int CMonitorDlg::FindLocalAddress(const QString& address) const {
    for (int i = 0; i < LocalAddressList.GetCount(); ++i) {
        if (QString::fromStdString(LocalAddressList.GetText(i)) == address)
            return i;
    }
    return -1;
}

void CMonitorDlg::ApplyStartup() {
    const QString address = m_startup.startAddress;
    if (!address.isEmpty()) {
        const int found = FindLocalAddress(address);
        if (found >= 0) {
            LocalAddressList.SetCurSel(found);
            OnStart();
        } else if (m_startup.addressWaitSeconds > 0) {
            // Stays as the design starts (stopped, nothing selected) meanwhile.
            m_addressWaitLeft = m_startup.addressWaitSeconds;
            std::fprintf(
                stderr, "quorvelan: %s is not an address of this host yet; waiting up to %d s\n",
                DisplayableText(address.left(64)).toLocal8Bit().constData(), m_addressWaitLeft);
        } else {
            SayStartAddressMissing();
        }
    }
    if (m_startup.minimized && window())
        MinimizeWindow();
}

void CMonitorDlg::StartupAddressTick() {
    if (m_addressWaitLeft <= 0)
        return;
    // The person chose meanwhile: their choice stands.
    if (m_capture.CaptureThreadRunning() || LocalAddressList.GetCurSel() >= 0) {
        m_addressWaitLeft = 0;
        return;
    }
    const std::string address = m_startup.startAddress.toStdString();
    const std::vector<std::string> now = SocketLibrary::Instance().localAddresses();
    if (std::find(now.begin(), now.end(), address) == now.end()) {
        if (--m_addressWaitLeft == 0)
            SayStartAddressMissing();
        return;
    }
    m_addressWaitLeft = 0;
    FillLocalAddressList();
    const int found = FindLocalAddress(m_startup.startAddress);
    if (found < 0) {
        SayStartAddressMissing();
        return;
    }
    LocalAddressList.SetCurSel(found);
    OnStart();
}

void CMonitorDlg::SayStartAddressMissing() {
    // Stays as the design starts: stopped, nothing selected.
    LocalAddressList.SetCurSel(-1);
    AfxMessageBoxUtf8(
        FormatString(IDP_START_ADDRESS_MISSING, DisplayableText(m_startup.startAddress.left(64))));
}
