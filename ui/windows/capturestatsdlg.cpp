#include "ui/windows/capturestatsdlg.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <string>

#include "capture/clock.h"
#include "framework/gbk.h"
#include "res/dialogs.h"
#include "res/resource.h"
#include "res/strings.h"
#include "ui/capturefiles/capturefiles.h"
#include "ui/text/plaintext.h"

namespace {

constexpr int kRefreshTimer = 1;
constexpr int kRefreshMs = 500;

std::string Count(uint64_t n) {
    char text[24];
    std::snprintf(text, sizeof text, "%" PRIu64, n);
    return text;
}

std::string WallTimeText(int64_t ns) {
    return LocalTimeText(static_cast<std::time_t>(ns / 1000000000), "%Y-%m-%d %H:%M:%S");
}

}  // namespace

CCaptureStatsDlg::CCaptureStatsDlg(const CaptureSession& session, CWnd* parent)
    : CDialog(DialogTemplateById(IDD_CAPTURE_STATS), parent), session_(session) {}

void CCaptureStatsDlg::DoDataExchange() {
    DDX_Control(IDC_STATS_STATE, m_state);
    DDX_Control(IDC_STATS_SOURCE, m_source);
    DDX_Control(IDC_STATS_STARTED, m_started);
    DDX_Control(IDC_STATS_DURATION, m_duration);
    DDX_Control(IDC_STATS_RECEIVED, m_received);
    DDX_Control(IDC_STATS_KERNEL_DROPS, m_kernelDrops);
    DDX_Control(IDC_STATS_IPV6_RECEIVED, m_ipv6Received);
    DDX_Control(IDC_STATS_IPV6_DROPS, m_ipv6Drops);
    DDX_Control(IDC_STATS_FILTERED, m_filtered);
    DDX_Control(IDC_STATS_ROWS, m_rows);
    DDX_Control(IDC_STATS_EMPTIED, m_emptied);
    DDX_Control(IDC_STATS_PROGRESS, m_progress);
    DDX_Control(IDC_STATS_REC_STATE, m_recState);
    DDX_Control(IDC_STATS_REC_FILE, m_recFile);
    DDX_Control(IDC_STATS_REC_DATAGRAMS, m_recDatagrams);
    DDX_Control(IDC_STATS_REC_BYTES, m_recBytes);
}

bool CCaptureStatsDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    Refresh();
    SetTimer(kRefreshTimer, kRefreshMs);
    return true;
}

void CCaptureStatsDlg::OnTimer(int) {
    Refresh();
}

void CCaptureStatsDlg::Refresh() {
    if (!IsOpen()) {
        return;
    }
    RefreshRecording();
    const CaptureFigures f = session_.Figures();
    if (!f.started) {
        m_state.SetWindowText(LoadStringGbk(IDS_STATS_NEVER));
        return;
    }
    m_state.SetWindowText(LoadStringGbk(!f.running   ? IDS_STATS_STOPPED
                                        : f.fromFile ? IDS_STATS_PLAYING
                                                     : IDS_STATS_CAPTURING));
    // A path is shown by its name, whatever its characters; the whole path on hover.
    if (auto* source = qobject_cast<QLabel*>(m_source.GetSafeHwnd())) {
        const QString text = QFile::decodeName(QByteArray::fromStdString(f.source));
        source->setText(f.fromFile ? QFileInfo(text).fileName() : text);
        source->setToolTip(PlainTextTip(text));
    }
    m_started.SetWindowText(WallTimeText(f.startedAtNs));
    m_duration.SetWindowText(ToGbk(FormatString(
        IDS_STATS_SECONDS, QString::number(static_cast<double>(f.durationNs) / 1e9, 'f', 1))));
    m_received.SetWindowText(Count(f.received));
    m_kernelDrops.SetWindowText(f.kernelKnown || f.fromFile ? Count(f.kernelDrops) : "-");
    RefreshIpv6(f);
    m_filtered.SetWindowText(Count(f.filtered));
    m_rows.SetWindowText(Count(f.rows));
    m_emptied.SetWindowText(Count(f.emptied));
    if (f.fromFile) {
        const uint64_t percent = f.fileBytes ? f.bytesRead * 100 / f.fileBytes : 100;
        m_progress.SetWindowText(
            ToGbk(FormatString(IDS_STATS_FILE_PROGRESS, QString::number(f.bytesRead),
                               QString::number(f.fileBytes), QString::number(percent))));
    } else {
        m_progress.SetWindowText("-");
    }
}

void CCaptureStatsDlg::RefreshIpv6(const CaptureFigures& f) {
    auto* received = qobject_cast<QLabel*>(m_ipv6Received.GetSafeHwnd());
    if (!received)
        return;
    if (!f.ipv6Handle) {  // a capture file, or no IPv6 handle at all
        received->setText(QStringLiteral("-"));
        received->setToolTip(QString());
        m_ipv6Drops.SetWindowText("-");
        return;
    }
    if (f.ipv6Error.empty()) {
        received->setText(QString::number(f.ipv6Received));
        received->setToolTip(QString());
    } else {
        // Why IPv6 is not (or no longer) counted: libpcap's words, whole on hover.
        const QString why = FormatString(IDS_STATS_IPV6_OFF, QString::fromStdString(f.ipv6Error));
        received->setText(why);
        received->setToolTip(PlainTextTip(why));
    }
    m_ipv6Drops.SetWindowText(Count(f.ipv6KernelDrops));
}

void CCaptureStatsDlg::RefreshRecording() {
    const RecordingFigures r = recording_ ? recording_() : RecordingFigures{};
    auto* file = qobject_cast<QLabel*>(m_recFile.GetSafeHwnd());
    if (r.state == RecordingFigures::kOff) {
        m_recState.SetWindowText(LoadStringGbk(IDS_STATS_REC_OFF));
        if (file) {
            file->setText(QStringLiteral("-"));
            file->setToolTip(QString());
        }
        m_recDatagrams.SetWindowText("-");
        m_recBytes.SetWindowText("-");
        return;
    }
    switch (r.state) {
        case RecordingFigures::kWaiting:
            m_recState.SetWindowText(LoadStringGbk(IDS_STATS_REC_WAITING));
            break;
        case RecordingFigures::kRecording:
            m_recState.SetWindowText(LoadStringGbk(IDS_STATS_REC_ON));
            break;
        case RecordingFigures::kStopped:
            m_recState.SetWindowText(LoadStringGbk(IDS_STATS_REC_STOPPED));
            break;
        default:
            m_recState.SetWindowText(
                ToGbk(FormatString(IDS_STATS_REC_FAILED, WriteFaultReason(r.fault))));
            break;
    }
    // The name, whatever its characters; the whole path on hover.
    if (file) {
        const QString path = QFile::decodeName(QByteArray::fromStdString(r.path));
        file->setText(QFileInfo(path).fileName());
        file->setToolTip(PlainTextTip(path));
    }
    m_recDatagrams.SetWindowText(
        r.missed == 0 ? Count(r.datagrams)
                      : ToGbk(FormatString(IDS_STATS_REC_MISSED, QString::number(r.datagrams),
                                           QString::number(r.missed))));
    m_recBytes.SetWindowText(Count(r.bytes));
}
