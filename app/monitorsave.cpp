#include <QFile>
#include <cstdio>
#include <cstring>

#include "app/monitordlg.h"
#include "capture/clock.h"
#include "export/eventlog.h"
#include "export/pcapng.h"
#include "framework/gbk.h"
#include "res/resource.h"
#include "res/strings.h"

// 保存 (the event log), 保存捕获文件... and 记录到文件..., and their messages.

namespace {

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

void CMonitorDlg::OnSave() {
    const QString name = QString::fromStdString(LocalTimeText(kSavedFileName));
    const std::optional<QString> path = m_dialogs.saveEventLog(window(), name);
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
    return m_dialogs.saveCaptureFile(window(), FromGbk(LoadStringGbk(caption)), name);
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
