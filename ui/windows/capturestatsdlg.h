#pragma once
// The figures of the capture running now, or of the last one, in a small
// modeless window owned by the main window. It reads the capture's counters
// twice a second; the capture thread is never held back for it.
#include <functional>

#include "capture/session.h"
#include "framework/controls.h"
#include "framework/dialog.h"

class CCaptureStatsDlg : public CDialog {
    Q_OBJECT
  public:
    CCaptureStatsDlg(const CaptureSession& session, CWnd* parent);

    bool OnInitDialog() override;
    void DoDataExchange() override;
    // Modeless: OK, Escape and the close box destroy the window.
    void OnOK() override { DestroyWindow(); }
    void OnCancel() override { DestroyWindow(); }
    void OnTimer(int id) override;

    // Where the recording's figures come from (the window's recording).
    void SetRecordingSource(std::function<RecordingFigures()> source) {
        recording_ = std::move(source);
    }

    // Shows the figures as they stand now.
    void Refresh();
    bool IsOpen() const { return window() != nullptr; }

    CStatic m_state, m_source, m_started, m_duration, m_received, m_kernelDrops, m_filtered, m_rows,
        m_emptied, m_progress;
    CStatic m_ipv6Received, m_ipv6Drops;
    CStatic m_recState, m_recFile, m_recDatagrams, m_recBytes;

  private:
    void RefreshIpv6(const CaptureFigures& f);
    void RefreshRecording();

    const CaptureSession& session_;
    std::function<RecordingFigures()> recording_;
};
