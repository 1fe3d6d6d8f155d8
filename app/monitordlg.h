#pragma once
// The main window: the event list, the data pane, the local address list,
// the filter labels, the clock and the buttons, owning the capture state.
#include <QIcon>
#include <QMenu>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <optional>

#include "capture/handoff.h"
#include "capture/session.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/htmlview.h"
#include "history/usage_history.h"
#include "ui/alerts/alertcenter.h"
#include "ui/capturefiles/capturefiles.h"
#include "ui/capturefiles/capturerecording.h"
#include "ui/models/conversationtracker.h"
#include "ui/models/usagefeed.h"
#include "ui/settings/monitorsettings.h"
#include "ui/widgets/sortlistctrl.h"
#include "ui/windows/aboutdlg.h"
#include "ui/windows/alertsdlg.h"
#include "ui/windows/capturestatsdlg.h"
#include "ui/windows/conversationsdlg.h"
#include "ui/windows/filedialogs.h"
#include "ui/windows/finddlg.h"
#include "ui/windows/usagewindow.h"

// What the command line asks of start-up.
struct StartupOptions {
    QString startAddress;    // --start: capture on this address at once
    bool minimized = false;  // --minimized
    // At login the network may not have given the host its address yet: it
    // is waited for this long, looked for at each tick of the clock.
    int addressWaitSeconds = 60;
};

class CMonitorDlg : public CDialog {
    Q_OBJECT
  public:
    explicit CMonitorDlg(CWnd* parent = nullptr);
    // `talk`: the tracker's capacity and lookups; `dialogs`: where the
    // window asks for files (Qt's own dialogs unless given stand-ins).
    explicit CMonitorDlg(ConversationTracker::Options talk, FileDialogs dialogs = {},
                         CWnd* parent = nullptr);
    ~CMonitorDlg() override;

    // Seams: the file dialogs (a stand-in may be put in at any time) and
    // where capture endpoints come from.
    FileDialogs& Dialogs() { return m_dialogs; }
    // Where the about box's mail and web links go.
    void SetLinkOpener(CHtmlView::UrlOpener open) { m_openLink = std::move(open); }
    void SetEndpointFactory(CaptureSession::EndpointFactory f) {
        m_capture.SetEndpointFactory(std::move(f));
    }

    // Bound controls, in declaration order.
    CEdit DataPane;
    CStatic m_ignoredPortLabel;
    CStatic m_monitoredPortLabel;
    CStatic m_srcAddrLabel;
    CStatic m_dstAddrLabel;
    CListBox LocalAddressList;
    CStatic m_clock;
    CSortListCtrl m_list;
    QIcon m_hIcon;
    FilterSettings m_filter;

    CaptureSession& Capture() { return m_capture; }

    // Before DoModal: what the command line asked for.
    void SetStartup(StartupOptions startup) { m_startup = std::move(startup); }
    // Whether the desktop has a tray (Qt's answer unless a test says otherwise).
    void SetTrayAvailability(std::function<bool()> available) {
        m_trayAvailable = std::move(available);
    }
    const MonitorSettings& Settings() const { return m_settings; }

    bool OnInitDialog() override;
    void DoDataExchange() override;
    void OnOK() override { OnExit(); }
    void OnDestroy() override;
    void OnTimer(int id) override;
    void OnSysCommand(unsigned command) override;
    void OnCommand(int id) override;

    void OnStart();
    void OnStop();
    void OnExit();
    void OnClear();
    void OnFilter();
    void OnAbout();
    void OnSave();
    int OnListClick();
    int OnListKeyDown(int vk);
    int OnListDoubleClick();
    void FillLocalAddressList();
    // The context menu's capture entries.
    void OnCaptureStats();
    void OnOpenCaptureFile();
    void OnConversations();
    void OnAlerts();
    // 用量... and 设置...
    void OnUsage();
    void OnSettings();
    // The tray's 显示窗口 (and a click on the icon): the window back from the tray.
    void ShowFromTray();
    bool HiddenInTray() const { return m_hiddenInTray; }
    // 查找: Ctrl+F and the context menu open the find window; F3 and
    // Shift+F3 find again with the text last typed.
    void OnFind();
    void OnFindAgain(bool forward);
    CFindDlg& FindWindow();
    // A played file came to its end (or to a fault) by itself.
    void OnCaptureFinished(uint64_t capture);
    // The context menu's capture-file entries: the list's datagrams saved,
    // and the recording of every datagram turned on or off.
    void OnSaveCaptureFile();
    void OnRecordToFile();
    // The save dialog for a capture file, with this caption and a name of now.
    std::optional<QString> AskCaptureFilePath(int caption);
    CaptureRecording& Recording() { return m_recording; }

    CCaptureStatsDlg* StatsWindow() const { return m_statsDlg.get(); }
    CConversationsDlg* ConversationsWindow() const { return m_convDlg.get(); }
    ConversationTracker& Conversations() { return m_talk; }
    CAlertsDlg* AlertsWindow() const { return m_alertsDlg.get(); }
    AlertCenter& Alerts() { return m_alerts; }
    UsageWindow* UsageWin() const { return m_usageWin.get(); }
    QSystemTrayIcon* Tray() const { return m_tray.get(); }
    QMenu* TrayMenu() const { return m_trayMenu.get(); }
    UsageHistory* History() const { return m_history.get(); }

  protected:
    // The about box: `reuse` for the About button's object that lives as long
    // as the program, a fresh one for the system-menu entry.
    virtual void RunAboutBox(bool reuse);

    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ShowDataOfRow(int row);
    // The usage history is opened by the first live capture.
    void OpenHistory();
    void UsageTick();
    void CreateTray();
    void UpdateTray();
    void ApplyStartup();
    // The start address waited for: found, given up on, or made moot by the person.
    void StartupAddressTick();
    void SayStartAddressMissing();
    int FindLocalAddress(const QString& address) const;
    void MinimizeWindow();
    // The endpoint is open: the capture thread starts, and the window follows.
    void BeginCapture();
    void SetCaptureButtons(bool capturing);
    // Stop's steps; the figures go to standard error when a capture ended.
    void EndCapture();
    void ReportFigures();
    void ShowFileFault(const QString& path, const SourceFault& fault);
    // A recording that could not start, go on, or write: a message naming
    // the file and the reason, once; the menu entry turns it on again. A
    // file the recording refused to write into gives the refusal instead.
    void ShowRecordingProblem(int message, const std::string& path, int error,
                              SaveRefusal refusal = SaveRefusal::kNone);
    void CheckRecordingFault();
    void RecordingChanged();

    FileDialogs m_dialogs;
    CHtmlView::UrlOpener m_openLink = CHtmlView::OpenWithDesktop;
    std::unique_ptr<CAboutDlg> m_aboutBox;  // the About button's, for the program's life
    CaptureRecording m_recording;  // the capture's datagram sink: made before it, gone after it
    UiHandoff m_handoff;
    // Who is talking: fed with each batch the list takes, before the capture exists.
    ConversationTracker m_talk;
    CaptureSession m_capture;
    QString m_filePath;  // the capture file played last
    std::unique_ptr<CCaptureStatsDlg> m_statsDlg;
    std::unique_ptr<CConversationsDlg> m_convDlg;
    std::unique_ptr<CFindDlg> m_findDlg;
    // Fed from m_talk each second; its window after it.
    AlertCenter m_alerts;
    std::unique_ptr<CAlertsDlg> m_alertsDlg;
    MonitorSettings m_settings;
    StartupOptions m_startup;
    int m_addressWaitLeft = 0;  // seconds still to wait for the start address; 0: not waiting
    std::unique_ptr<UsageHistory> m_history;
    std::unique_ptr<UsageFeed> m_usageFeed;
    bool m_historyStopSaid = false;
    std::unique_ptr<UsageWindow> m_usageWin;
    std::function<bool()> m_trayAvailable;
    std::unique_ptr<QMenu> m_trayMenu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    bool m_hiddenInTray = false;
};
