#include "app/monitordlg.h"

#include <QFile>
#include <QFileDialog>
#include <QShortcut>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/socketlib.h"
#include "capture/clock.h"
#include "export/eventlog.h"
#include "export/pcapng.h"
#include "framework/gbk.h"
#include "res/dialogs.h"
#include "res/resource.h"
#include "res/strings.h"
#include "ui/eventdetaildlg.h"
#include "ui/filterdlg.h"

namespace {

constexpr int kClockTimer = 1;
constexpr int kVkUp = 0x26;
constexpr int kVkDown = 0x28;

// 请选择侦听的网卡(地址)
constexpr std::string_view kSelectAddress =
    "\xC7\xEB\xD1\xA1\xD4\xF1\xD5\xEC\xCC\xFD\xB5\xC4\xCD\xF8\xBF\xA8(\xB5\xD8\xD6\xB7)";
// WinSock启动失败
constexpr std::string_view kCaptureFailed = "WinSock\xC6\xF4\xB6\xAF\xCA\xA7\xB0\xDC";

// The name a saved file is offered under: the day and time it is saved.
constexpr const char* kSavedFileName = "quorvelan-%d-%H-%M-%S";

class ListRows final : public EventLogSource {
  public:
    explicit ListRows(const CListCtrl& list) : list_(list) {}
    int RowCount() const override { return list_.GetItemCount(); }
    std::string CellText(int row, int column) const override {
        return list_.GetItemText(row, column);
    }

  private:
    const CListCtrl& list_;
};

}  // namespace

CMonitorDlg::CMonitorDlg(CWnd* parent)
    : CDialog(DialogTemplateById(IDD_MONITOR_DIALOG), parent),
      m_hIcon(QStringLiteral(":/quorvelan/icon128.png")),
      m_capture(m_handoff, m_list) {
    m_capture.SetFinishedHandler([this](uint64_t capture) { OnCaptureFinished(capture); });
    m_capture.SetDatagramSink(&m_recording);
    m_capture.SetConversationsHandler(
        [this](const ConversationDeltas& deltas) { m_talk.Merge(deltas); });
    // A row's tooltip also names the program behind it and the hosts.
    m_list.store().SetToolTipProvider([this](const CellBlock& row, int, const QString& text) {
        return EventRowToolTip(m_talk, row, text);
    });
    connect(&m_list, &CListCtrl::itemClicked, this, [this] { OnListClick(); });
    connect(&m_list, &CListCtrl::keyDown, this, [this](int vk) { OnListKeyDown(vk); });
    connect(&m_list, &CListCtrl::itemDoubleClicked, this, [this] { OnListDoubleClick(); });
}

CMonitorDlg::~CMonitorDlg() {
    m_capture.Destroy();
}

CMonitorDlg::SaveDialog& CMonitorDlg::SaveFileDialog() {
    static SaveDialog dialog = [](QWidget* owner, const QString& name) -> std::optional<QString> {
        QFileDialog fd(owner);
        // Qt's own dialog asks before replacing the file it will really write, the
        // name with "doc" appended; a native one asks about the name as typed.
        fd.setOption(QFileDialog::DontUseNativeDialog);
        fd.setAcceptMode(QFileDialog::AcceptSave);
        fd.setFileMode(QFileDialog::AnyFile);
        fd.setDefaultSuffix(QStringLiteral("doc"));
        fd.setNameFilters({QStringLiteral("doc (*.doc)"), QStringLiteral("* (*)")});
        fd.selectFile(name);
        if (fd.exec() != QDialog::Accepted || fd.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return fd.selectedFiles().first();
    };
    return dialog;
}

CMonitorDlg::OpenDialog& CMonitorDlg::OpenCaptureFileDialog() {
    static OpenDialog dialog = [](QWidget* owner) -> std::optional<QString> {
        QFileDialog fd(owner, FromGbk(LoadStringGbk(IDS_OPEN_CAPTURE_TITLE)));
        fd.setOption(QFileDialog::DontUseNativeDialog);
        fd.setAcceptMode(QFileDialog::AcceptOpen);
        fd.setFileMode(QFileDialog::ExistingFile);
        fd.setNameFilters({FromGbk(LoadStringGbk(IDS_CAPTURE_FILE_TYPES)),
                           FromGbk(LoadStringGbk(IDS_ALL_FILE_TYPES))});
        if (fd.exec() != QDialog::Accepted || fd.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return fd.selectedFiles().first();
    };
    return dialog;
}

CMonitorDlg::CaptureSaveDialog& CMonitorDlg::SaveCaptureFileDialog() {
    static CaptureSaveDialog dialog = AskForCaptureFile;
    return dialog;
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

void CMonitorDlg::OnStart() {
    // One capture at a time. Refused before anything is touched: opening replaces
    // the endpoint that the running capture thread is receiving from.
    if (m_capture.CaptureThreadRunning()) {
        return;
    }
    const int sel = LocalAddressList.GetCurSel();
    if (sel < 0) {
        AfxMessageBox(kSelectAddress);
        return;
    }
    const std::string address = LocalAddressList.GetText(sel);
    m_capture.SetSelectedLocalAddress(address);
    if (m_capture.OpenCaptureSocket() != 0) {
        // The box keeps its fixed text; a person at a terminal also gets the cause.
        std::fprintf(stderr, "quorvelan: cannot capture on %s: %s\n", address.c_str(),
                     m_capture.EndpointErrorText().c_str());
        AfxMessageBox(kCaptureFailed);
        EndDialog(IDCANCEL);
        return;
    }
    // Recorded from the first datagram: the file takes this capture's
    // interface before the capture thread starts.
    const PcapngResult recording =
        m_recording.LiveCaptureStarting(CaptureInterface(address, false));
    BeginCapture();
    if (!recording.ok()) {
        ShowRecordingProblem(recording.kind == PcapngResult::kNotTheRecordedFile
                                 ? IDP_RECORD_NOT_RESUMED
                                 : IDP_RECORD_CANNOT_START,
                             m_recording.Path(), recording.error, recording.refusal);
    }
}

void CMonitorDlg::BeginCapture() {
    SetCaptureButtons(true);
    m_capture.StartCaptureThread();
    // Before the first batch: batches are taken on this thread, from the event loop.
    m_talk.BeginCapture(m_capture.Figures().fromFile, m_capture.SelectedLocalAddress());
    if (m_statsDlg) {
        m_statsDlg->Refresh();
    }
    if (m_convDlg) {
        m_convDlg->Refresh();
    }
}

void CMonitorDlg::SetCaptureButtons(bool capturing) {
    if (QWidget* w = GetDlgItem(IDC_START))
        w->setEnabled(!capturing);
    if (QWidget* w = GetDlgItem(IDC_STOP))
        w->setEnabled(capturing);
    EnableSystemMenuEntry(IDM_OPEN_CAPTURE_FILE, !capturing);
}

void CMonitorDlg::OnStop() {
    EndCapture();
}

void CMonitorDlg::EndCapture() {
    const bool ended = m_capture.CaptureThreadRunning();
    m_capture.Stop();
    // The recording's file is complete before the figures say what it holds.
    m_recording.CaptureEnded();
    SetCaptureButtons(false);
    if (m_statsDlg) {
        m_statsDlg->Refresh();
    }
    if (!ended) {
        return;
    }
    ReportFigures();
    CheckRecordingFault();
    // A file that failed before its end says so, whoever came first: the
    // file's end or the person's Stop.
    const SourceFault& fault = m_capture.LastFault();
    if (m_capture.Figures().fromFile && fault.kind != SourceFault::kNone) {
        std::fprintf(stderr, "quorvelan: %s: %s\n", QFile::encodeName(m_filePath).constData(),
                     fault.detail.c_str());
        ShowFileFault(m_filePath, fault);
    }
}

void CMonitorDlg::ReportFigures() {
    CaptureFigures figures = m_capture.Figures();
    figures.recording = m_recording.FiguresOfCapture();
    std::fprintf(stderr, "%s\n", FiguresLine(figures).c_str());
}

void CMonitorDlg::OnCaptureFinished(uint64_t capture) {
    // Stop, Exit or a new capture may have come first: that capture is over then.
    if (capture != m_capture.CaptureNumber() || !m_capture.CaptureThreadRunning() || !window()) {
        return;
    }
    EndCapture();
}

void CMonitorDlg::OnCaptureStats() {
    if (!m_statsDlg) {
        m_statsDlg = std::make_unique<CCaptureStatsDlg>(m_capture, this);
        m_statsDlg->SetRecordingSource([this] { return m_recording.Figures(); });
    }
    if (m_statsDlg->IsOpen()) {
        m_statsDlg->window()->raise();
        m_statsDlg->window()->activateWindow();
        return;
    }
    m_statsDlg->Create();
}

void CMonitorDlg::OnConversations() {
    if (!m_convDlg) {
        m_convDlg = std::make_unique<CConversationsDlg>(m_talk, m_capture, this);
        m_convDlg->SetBusyFile([this] { return m_recording.File(); });
    }
    if (m_convDlg->IsOpen()) {
        m_convDlg->window()->raise();
        m_convDlg->window()->activateWindow();
        return;
    }
    m_convDlg->Create();
}

CFindDlg& CMonitorDlg::FindWindow() {
    if (!m_findDlg) {
        m_findDlg = std::make_unique<CFindDlg>(
            m_list, DataPane, [this] { OnListClick(); }, this);
    }
    return *m_findDlg;
}

void CMonitorDlg::OnFind() {
    FindWindow().Open();
}

void CMonitorDlg::OnFindAgain(bool forward) {
    // Nothing to find again (no text, or text that is not hex): the window
    // says so and takes the text.
    if (!FindWindow().Finder().Query().ready()) {
        OnFind();
        return;
    }
    m_findDlg->FindNext(forward);
}

void CMonitorDlg::OnOpenCaptureFile() {
    // The menu entry is greyed out meanwhile; the handler refuses all the same.
    if (m_capture.CaptureThreadRunning()) {
        return;
    }
    const std::optional<QString> path = OpenCaptureFileDialog()(window());
    if (!path) {
        return;
    }
    // The marker follows the address selected now; none without a selection.
    const int sel = LocalAddressList.GetCurSel();
    m_capture.SetSelectedLocalAddress(sel >= 0 ? LocalAddressList.GetText(sel) : std::string());
    m_filePath = *path;
    if (m_capture.OpenCaptureFile(QFile::encodeName(*path).toStdString()) != 0) {
        std::fprintf(stderr, "quorvelan: cannot read %s\n", m_capture.EndpointErrorText().c_str());
        ShowFileFault(*path, m_capture.LastFault());
        return;
    }
    m_recording.FileStarting();  // a file is not recorded again
    BeginCapture();
}

void CMonitorDlg::ShowFileFault(const QString& path, const SourceFault& fault) {
    QString text;
    switch (fault.kind) {
        case SourceFault::kNone:
            return;
        case SourceFault::kCannotOpen: {
            const int reason = fault.code == ENOENT                          ? IDS_FILE_MISSING
                               : fault.code == EACCES || fault.code == EPERM ? IDS_FILE_NO_RIGHT
                               : fault.code == EISDIR                        ? IDS_FILE_IS_FOLDER
                                                                             : 0;
            text = FormatString(IDP_FILE_CANNOT_OPEN, path,
                                reason ? FromGbk(LoadStringGbk(reason))
                                       : QString::fromLocal8Bit(std::strerror(fault.code)));
            break;
        }
        case SourceFault::kNotACaptureFile:
            text = FormatString(IDP_FILE_NOT_CAPTURE, path);
            break;
        case SourceFault::kUnsupportedLinkType:
            text = FormatString(IDP_FILE_LINK_TYPE, path, QString::fromStdString(fault.detail),
                                QString::number(fault.code));
            break;
        case SourceFault::kTruncated:
            text = FormatString(IDP_FILE_TRUNCATED, path, QString::number(fault.framesBefore));
            break;
        case SourceFault::kReadError:
            text = FormatString(IDP_FILE_READ_ERROR, path, QString::fromStdString(fault.detail));
            break;
    }
    AfxMessageBoxUtf8(text);
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
    const bool ended = m_capture.CaptureThreadRunning();
    m_capture.Destroy();
    m_recording.Close();
    if (ended) {
        ReportFigures();
    }
}

void CMonitorDlg::OnTimer(int) {
    m_clock.SetWindowText(LocalTimeText("%Y-%m-%d %H:%M:%S"));
    CheckRecordingFault();
    m_talk.Tick();
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
        default:
            break;
    }
}

void CMonitorDlg::OnAbout() {
    RunAboutBox(true);
}

void CMonitorDlg::RunAboutBox(bool reuse) {
    if (reuse) {
        if (!m_aboutBox) {
            m_aboutBox = std::make_unique<CAboutDlg>();
        }
        m_aboutBox->DoModal();
    } else {
        CAboutDlg box;
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

void CMonitorDlg::OnSave() {
    const QString name = QString::fromStdString(LocalTimeText(kSavedFileName));
    const std::optional<QString> path = SaveFileDialog()(window(), name);
    if (!path) {
        return;
    }
    const std::string file = path->toLocal8Bit().toStdString();
    // Rows are counted now, not before the dialog: the file holds exactly
    // what the list holds when writing starts.
    const EventLogResult result = WriteEventLogFile(file, ListRows(m_list), m_recording.File());
    if (!result.ok()) {
        AfxMessageBoxUtf8(SaveErrorText(result, *path), MB_ICONSTOP);
    }
}

std::optional<QString> CMonitorDlg::AskCaptureFilePath(int caption) {
    const QString name = QString::fromStdString(LocalTimeText(kSavedFileName));
    return SaveCaptureFileDialog()(window(), FromGbk(LoadStringGbk(caption)), name);
}

void CMonitorDlg::OnSaveCaptureFile() {
    const std::optional<QString> path = AskCaptureFilePath(IDS_SAVE_CAPTURE_TITLE);
    if (!path) {
        return;
    }
    // The rows as they are now, not before the dialog; no row is inserted
    // while the file is written, as both happen on this thread.
    const CaptureFigures f = m_capture.Figures();
    const std::string address = f.fromFile ? m_capture.SelectedLocalAddress() : f.source;
    // Never onto the recording's file: that would cut the recording short.
    const PcapngResult result = WritePcapngFile(QFile::encodeName(*path).toStdString(),
                                                CaptureInterface(address, f.fromFile),
                                                ListDatagrams(m_list), m_recording.File());
    if (!result.ok()) {
        AfxMessageBoxUtf8(SaveErrorText(result, *path), MB_ICONSTOP);
    }
}

void CMonitorDlg::OnRecordToFile() {
    if (m_recording.On()) {
        m_recording.TurnOff();
        RecordingChanged();
        // The flush at the end may be what fails.
        CheckRecordingFault();
        return;
    }
    const std::optional<QString> path = AskCaptureFilePath(IDS_RECORD_TITLE);
    if (!path) {
        return;
    }
    // The capture running now, or else the address chosen for the next one.
    const CaptureFigures f = m_capture.Figures();
    CaptureRecording::Running running = CaptureRecording::Running::kNothing;
    std::string address;
    if (m_capture.CaptureThreadRunning()) {
        running = f.fromFile ? CaptureRecording::Running::kFile : CaptureRecording::Running::kLive;
    }
    if (running == CaptureRecording::Running::kLive) {
        address = f.source;
    } else if (const int sel = LocalAddressList.GetCurSel(); sel >= 0) {
        address = LocalAddressList.GetText(sel);
    }
    const std::string file = QFile::encodeName(*path).toStdString();
    const PcapngResult result = m_recording.TurnOn(file, CaptureInterface(address, false), running);
    if (result.ok()) {
        RecordingChanged();
    } else {
        // Updates the menu too.
        ShowRecordingProblem(IDP_RECORD_CANNOT_START, file, result.error, result.refusal);
    }
}

void CMonitorDlg::CheckRecordingFault() {
    if (m_recording.TakeFault()) {
        ShowRecordingProblem(IDP_RECORD_FAILED, m_recording.Path(), m_recording.Figures().fault);
    }
}

void CMonitorDlg::RecordingChanged() {
    SetSystemMenuEntryText(
        IDM_RECORD_TO_FILE,
        LoadStringGbk(m_recording.On() ? IDS_STOP_RECORDING : IDS_RECORD_TO_FILE));
    if (m_statsDlg) {
        m_statsDlg->Refresh();
    }
}

void CMonitorDlg::ShowRecordingProblem(int message, const std::string& path, int error,
                                       SaveRefusal refusal) {
    RecordingChanged();
    std::fprintf(stderr, "quorvelan: %s %s: %s\n",
                 message == IDP_RECORD_FAILED ? "recording stopped, writing" : "cannot record to",
                 path.c_str(),
                 refusal != SaveRefusal::kNone       ? "the file was left alone"
                 : message == IDP_RECORD_NOT_RESUMED ? "the file was replaced or changed"
                                                     : std::strerror(error));
    const QString name = QFile::decodeName(QByteArray::fromStdString(path));
    QString text;
    if (refusal != SaveRefusal::kNone) {
        text = SaveRefusalText(refusal, name);
    } else if (message == IDP_RECORD_FAILED) {
        text = FormatString(message, name, WriteFaultReason(error),
                            QString::number(m_recording.DatagramsWritten()));
    } else if (message == IDP_RECORD_NOT_RESUMED) {
        text = FormatString(message, name);
    } else {
        text = FormatString(message, name, WriteFaultReason(error));
    }
    AfxMessageBoxUtf8(text, MB_ICONSTOP);
}
