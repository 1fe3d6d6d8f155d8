#include "app/monitordlg.h"

// The child windows the context menu opens: statistics, conversations, find and alerts.

namespace {

// A modeless window already open comes to the front; otherwise it opens.
template <typename Window>
void OpenOrRaise(Window& w) {
    if (w.IsOpen()) {
        w.window()->raise();
        w.window()->activateWindow();
        return;
    }
    w.Create();
}

}  // namespace

void CMonitorDlg::OnCaptureStats() {
    if (!m_statsDlg) {
        m_statsDlg = std::make_unique<CCaptureStatsDlg>(m_capture, this);
        m_statsDlg->SetRecordingSource([this] { return m_recording.Figures(); });
    }
    OpenOrRaise(*m_statsDlg);
}

void CMonitorDlg::OnConversations() {
    if (!m_convDlg) {
        // Asks through the window's dialogs as they are when 导出... is pressed.
        m_convDlg = std::make_unique<CConversationsDlg>(
            m_talk, m_capture, this, [this](QWidget* owner, const QString& name) {
                return m_dialogs.exportConversations(owner, name);
            });
        m_convDlg->SetBusyFile([this] { return m_recording.File(); });
    }
    OpenOrRaise(*m_convDlg);
}

void CMonitorDlg::OnAlerts() {
    if (!m_alertsDlg)
        m_alertsDlg = std::make_unique<CAlertsDlg>(m_alerts, this);
    OpenOrRaise(*m_alertsDlg);
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
