#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/monitordlg.h"
#include "capture/endpoint.h"
#include "framework/gbk.h"
#include "res/resource.h"
#include "res/strings.h"

// The capture's lifecycle: Start on the selected address, a capture file
// played, Stop, a file's end, and what the window says of each.

void CMonitorDlg::OnStart() {
    // One capture at a time. Refused before anything is touched: opening replaces
    // the endpoint that the running capture thread is receiving from.
    if (m_capture.CaptureThreadRunning()) {
        return;
    }
    const int sel = LocalAddressList.GetCurSel();
    if (sel < 0) {
        AfxMessageBox(LoadStringGbk(IDS_SELECT_ADDRESS));
        return;
    }
    const std::string address = LocalAddressList.GetText(sel);
    m_capture.SetSelectedLocalAddress(address);
    if (m_capture.OpenCaptureSocket() != 0) {
        // The box keeps its fixed text; a person at a terminal also gets the cause.
        std::fprintf(stderr, "quorvelan: cannot capture on %s: %s\n", address.c_str(),
                     m_capture.EndpointErrorText().c_str());
        AfxMessageBox(LoadStringGbk(IDS_CAPTURE_FAILED));
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
    if (!m_capture.Figures().fromFile)
        OpenHistory();
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
    UpdateTray();
}

void CMonitorDlg::OnStop() {
    EndCapture();
}

void CMonitorDlg::EndCapture() {
    const bool ended = m_capture.CaptureThreadRunning();
    m_capture.Stop();
    // The usage window shows a stopped capture's last minute at once: written
    // now, not at the history writer's next minute.
    if (m_usageFeed) {
        m_usageFeed->FlushAll();
        m_history->Flush();
    }
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

void CMonitorDlg::OnOpenCaptureFile() {
    // The menu entry is greyed out meanwhile; the handler refuses all the same.
    if (m_capture.CaptureThreadRunning()) {
        return;
    }
    const std::optional<QString> path = m_dialogs.openCaptureFile(window());
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
                               : fault.code == kNotRegularFileCode           ? IDS_FILE_NOT_REGULAR
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
