#include "app/monitordlg.h"

#include <QShortcut>
#include <QTimer>

#include "app/socketlib.h"
#include "capture/clock.h"
#include "framework/gbk.h"
#include "res/dialogs.h"
#include "res/resource.h"
#include "res/strings.h"
#include "ui/windows/eventdetaildlg.h"
#include "ui/windows/filterdlg.h"

// The window's wiring, its controls and commands. The capture's lifecycle is
// in monitorcapture.cpp, the saves and the recording in monitorsave.cpp, the
// child windows in monitorwindows.cpp.

namespace {

constexpr int kClockTimer = 1;
constexpr int kVkUp = 0x26;
constexpr int kVkDown = 0x28;

}  // namespace

CMonitorDlg::CMonitorDlg(CWnd* parent) : CMonitorDlg(ConversationTracker::Options{}, {}, parent) {}

CMonitorDlg::CMonitorDlg(ConversationTracker::Options talk, FileDialogs dialogs, CWnd* parent)
    : CDialog(DialogTemplateById(IDD_MONITOR_DIALOG), parent),
      m_hIcon(QStringLiteral(":/quorvelan/icon128.png")),
      m_dialogs(std::move(dialogs)),
      m_talk(std::move(talk)),
      m_capture(m_handoff, m_list) {
    m_capture.SetFinishedHandler([this](uint64_t capture) { OnCaptureFinished(capture); });
    m_capture.SetDatagramSink(&m_recording);
    m_capture.SetBatchTap(&m_talk.Tap());
    // A row's tooltip also names the program behind it and the hosts.
    m_list.store().SetToolTipProvider([this](const CellBlock& row, int, const QString& text) {
        return EventRowToolTip(m_talk, row, text);
    });
    // Live traffic only: what a capture file holds is not this host's usage.
    m_talk.SetLiveObserver([this](const ConversationDeltas& deltas) {
        if (m_usageFeed)
            m_usageFeed->Add(deltas);
    });
    m_settings = LoadMonitorSettings();
    connect(&m_list, &CListCtrl::itemClicked, this, [this] { OnListClick(); });
    connect(&m_list, &CListCtrl::keyDown, this, [this](int vk) { OnListKeyDown(vk); });
    connect(&m_list, &CListCtrl::itemDoubleClicked, this, [this] { OnListDoubleClick(); });
}

CMonitorDlg::~CMonitorDlg() {
    m_capture.Destroy();
}

void CMonitorDlg::DoDataExchange() {
    DDX_Control(IDC_DATA_PANE, DataPane);
    DDX_Control(IDC_IGNORED_LABEL, m_ignoredPortLabel);
    DDX_Control(IDC_MONITORED_LABEL, m_monitoredPortLabel);
    DDX_Control(IDC_SRC_LABEL, m_srcAddrLabel);
    DDX_Control(IDC_DST_LABEL, m_dstAddrLabel);
    DDX_Control(IDC_LOCAL_ADDRESSES, LocalAddressList);
    DDX_Control(IDC_CLOCK, m_clock);
    DDX_Control(IDC_EVENT_LIST, m_list);  // binding the list sets up its columns
}

bool CMonitorDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    const std::string_view about = LoadStringGbk(IDS_ABOUTBOX);
    if (!about.empty()) {
        AppendSystemMenuEntry(IDM_ABOUTBOX, about);
    }
    AppendSystemMenuEntry(IDM_CAPTURE_STATS, LoadStringGbk(IDS_CAPTURE_STATS));
    AppendSystemMenuEntry(IDM_OPEN_CAPTURE_FILE, LoadStringGbk(IDS_OPEN_CAPTURE_FILE));
    AppendSystemMenuEntry(IDM_SAVE_CAPTURE_FILE, LoadStringGbk(IDS_SAVE_CAPTURE_FILE));
    AppendSystemMenuEntry(IDM_RECORD_TO_FILE, LoadStringGbk(IDS_RECORD_TO_FILE));
    AppendSystemMenuEntry(IDM_CONVERSATIONS, LoadStringGbk(IDS_CONVERSATIONS));
    AppendSystemMenuEntry(IDM_FIND, LoadStringGbk(IDS_FIND));
    AppendSystemMenuEntry(IDM_USAGE, LoadStringGbk(IDS_USAGE));
    AppendSystemMenuEntry(IDM_ALERTS, LoadStringGbk(IDS_ALERTS));
    AppendSystemMenuEntry(IDM_SETTINGS, LoadStringGbk(IDS_SETTINGS));
    auto shortcut = [this](QKeySequence keys, std::function<void()> act) {
        connect(new QShortcut(keys, window()), &QShortcut::activated, this, std::move(act));
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_F), [this] { OnFind(); });
    shortcut(QKeySequence(Qt::Key_F3), [this] { OnFindAgain(true); });
    shortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { OnFindAgain(false); });
    SetIcon(m_hIcon, true);
    SetIcon(m_hIcon, false);
    SetTimer(kClockTimer, 1000);
    if (QWidget* stop = GetDlgItem(IDC_STOP))
        stop->setEnabled(false);
    FillLocalAddressList();
    m_filter = FilterSettings{};
    m_capture.SetFilterSettings(m_filter);
    m_capture.StopFlag.store(1);
    window()->installEventFilter(this);
    CreateTray();
    if (!m_startup.startAddress.isEmpty() || m_startup.minimized)
        QTimer::singleShot(0, this, [this] { ApplyStartup(); });
    return true;
}

void CMonitorDlg::FillLocalAddressList() {
    LocalAddressList.ResetContent();
    SocketLibrary& lib = SocketLibrary::Instance();
    uint16_t agreed = 0;
    if (lib.startup(0x0002, &agreed) != 0) {
        return;
    }
    for (const std::string& address : lib.localAddresses()) {
        LocalAddressList.AddString(address);
    }
    lib.cleanup();
}

void CMonitorDlg::OnCommand(int id) {
    switch (id) {
        case IDC_START:
            OnStart();
            break;
        case IDC_STOP:
            OnStop();
            break;
        case IDC_CLEAR:
            OnClear();
            break;
        case IDC_FILTER:
            OnFilter();
            break;
        case IDC_ABOUT:
            OnAbout();
            break;
        case IDC_SAVE:
            OnSave();
            break;
        default:
            break;
    }
}

void CMonitorDlg::OnExit() {
    KillTimer(kClockTimer);
    m_capture.CloseSocket();
    EndDialog(IDOK);
}

void CMonitorDlg::OnDestroy() {
    if (m_statsDlg) {
        m_statsDlg->DestroyWindow();
    }
    if (m_convDlg) {
        m_convDlg->DestroyWindow();
    }
    if (m_findDlg) {
        m_findDlg->DestroyWindow();
    }
    if (m_alertsDlg) {
        m_alertsDlg->DestroyWindow();
    }
    m_usageWin.reset();
    m_tray.reset();
    m_trayMenu.reset();
    const bool ended = m_capture.CaptureThreadRunning();
    m_capture.Destroy();
    m_recording.Close();
    // What the last minutes counted reaches the file before the program ends.
    if (m_usageFeed)
        m_usageFeed->FlushAll();
    m_usageFeed.reset();
    m_history.reset();
    if (ended) {
        ReportFigures();
    }
}

void CMonitorDlg::OnTimer(int) {
    m_clock.SetWindowText(LocalTimeText("%Y-%m-%d %H:%M:%S"));
    CheckRecordingFault();
    m_talk.Tick();
    m_alerts.Tick(m_talk);
    UsageTick();
    UpdateTray();
    StartupAddressTick();
}

void CMonitorDlg::OnSysCommand(unsigned command) {
    switch (command & 0xFFF0) {
        case IDM_ABOUTBOX:
            RunAboutBox(false);
            break;
        case IDM_CAPTURE_STATS:
            OnCaptureStats();
            break;
        case IDM_OPEN_CAPTURE_FILE:
            OnOpenCaptureFile();
            break;
        case IDM_SAVE_CAPTURE_FILE:
            OnSaveCaptureFile();
            break;
        case IDM_RECORD_TO_FILE:
            OnRecordToFile();
            break;
        case IDM_CONVERSATIONS:
            OnConversations();
            break;
        case IDM_FIND:
            OnFind();
            break;
        case IDM_ALERTS:
            OnAlerts();
            break;
        case IDM_USAGE:
            OnUsage();
            break;
        case IDM_SETTINGS:
            OnSettings();
            break;
        default:
            break;
    }
}

void CMonitorDlg::OnAbout() {
    RunAboutBox(true);
}

void CMonitorDlg::RunAboutBox(bool reuse) {
    const auto openLink = [this](const QUrl& url) { return m_openLink(url); };
    if (reuse) {
        if (!m_aboutBox) {
            m_aboutBox = std::make_unique<CAboutDlg>();
            m_aboutBox->m_page.SetExternalOpener(openLink);
        }
        m_aboutBox->DoModal();
    } else {
        CAboutDlg box;
        box.m_page.SetExternalOpener(openLink);
        box.DoModal();
    }
}

void CMonitorDlg::OnClear() {
    m_list.DeleteAllItems();
}

void CMonitorDlg::ShowDataOfRow(int row) {
    DataPane.SetWindowText(m_list.GetItemText(row, kColData));
}

int CMonitorDlg::OnListClick() {
    ShowDataOfRow(m_list.GetFirstSelectedItem());
    return 0;
}

int CMonitorDlg::OnListKeyDown(int vk) {
    int r = m_list.GetFirstSelectedItem();
    if (vk == kVkUp && r > 0) {
        r -= 1;
    }
    if (vk == kVkDown && r + 1 < m_list.GetItemCount()) {
        r += 1;
    }
    ShowDataOfRow(r);
    return 0;
}

int CMonitorDlg::OnListDoubleClick() {
    const int r = m_list.GetFirstSelectedItem();
    CEventDetailDlg dlg;
    // Copies taken now: rows arriving while the window is open do not change it.
    dlg.m_time = m_list.GetItemText(r, kColTime);
    dlg.m_srcAddr = m_list.GetItemText(r, kColSrcAddr);
    dlg.m_srcPort = m_list.GetItemText(r, kColSrcPort);
    dlg.m_dstAddr = m_list.GetItemText(r, kColDstAddr);
    dlg.m_dstPort = m_list.GetItemText(r, kColDstPort);
    dlg.m_service = m_list.GetItemText(r, kColService);
    dlg.m_data = m_list.GetItemText(r, kColData);
    dlg.m_flags = m_list.GetItemText(r, kColFlags);
    dlg.DoModal();
    return 0;
}

void CMonitorDlg::OnFilter() {
    CFilterDlg dlg;
    dlg.m_srcAddr = m_filter.srcAddr;
    dlg.m_dstAddr = m_filter.dstAddr;
    dlg.m_monitoredPort = m_filter.monitoredPort;
    dlg.m_ignoredPort = m_filter.ignoredPort;
    m_capture.RaisePause();
    if (dlg.DoModal() == IDOK) {
        m_filter.srcAddr = dlg.m_srcAddr;
        m_filter.dstAddr = dlg.m_dstAddr;
        m_filter.monitoredPort = dlg.m_monitoredPort;
        m_filter.ignoredPort = dlg.m_ignoredPort;
        m_filter.RebuildTexts();
        // Published as one whole set: a datagram already in flight sees old or new, never a mix.
        m_capture.SetFilterSettings(m_filter);
        m_srcAddrLabel.SetWindowText(m_filter.srcAddrText);
        m_dstAddrLabel.SetWindowText(m_filter.dstAddrText);
        m_monitoredPortLabel.SetWindowText(m_filter.monitoredPortText);
        m_ignoredPortLabel.SetWindowText(m_filter.ignoredPortText);
    }
    m_capture.DropPause();
}
