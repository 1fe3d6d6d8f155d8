#pragma once
// The conversations window (连接): a modeless window owned by the main
// window, like the statistics window. A chart of the rates over the last
// minutes above, one line per conversation below (sortable by every column,
// narrowed by the text in its box), refreshed once a second from the
// tracker; 导出... (or Ctrl+S) writes the lines shown as a CSV file.
#include <QString>
#include <memory>
#include <utility>

#include "capture/session.h"
#include "export/save_open.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/growingdialog.h"
#include "ui/models/conversationmodel.h"
#include "ui/models/conversationtracker.h"
#include "ui/widgets/ratechart.h"
#include "ui/windows/filedialogs.h"

class QTableView;

class CConversationsDlg : public CDialog {
    Q_OBJECT
  public:
    // `exportDialog`: where 导出... asks for the file.
    CConversationsDlg(ConversationTracker& tracker, const CaptureSession& session, CWnd* parent,
                      FileDialogs::SaveDialog exportDialog = AskForConversationsFile);
    ~CConversationsDlg() override;

    // The file no export may write into (the recording's), asked at each export.
    void SetBusyFile(std::function<std::optional<FileIdentity>()> busy) {
        busyFile_ = std::move(busy);
    }

    bool OnInitDialog() override;
    // Modeless: Close, Escape and the close box destroy the window.
    void OnOK() override { DestroyWindow(); }
    void OnCancel() override { DestroyWindow(); }
    void OnDestroy() override;
    void OnCommand(int id) override;

    // Shows the conversations and rates as they stand now.
    void Refresh();
    void OnExport();
    bool IsOpen() const { return window() != nullptr; }

    // While open.
    ConversationModel* Model() const { return model_.get(); }
    RateChart* Chart() const { return chart_; }
    QTableView* Lines() const;

  private:
    bool eventFilter(QObject* watched, QEvent* event) override;

    ConversationTracker& tracker_;
    const CaptureSession& session_;
    FileDialogs::SaveDialog exportDialog_;
    std::unique_ptr<ConversationModel> model_;
    std::function<std::optional<FileIdentity>()> busyFile_;
    RateChart* chart_ = nullptr;  // a child of the window
    GrowingTemplate growth_;
};
