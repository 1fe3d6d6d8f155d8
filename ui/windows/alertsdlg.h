#pragma once
// The alerts window (提醒): a modeless window owned by the main window, like
// the conversations window. The alerts kept (the newest on top), refreshed
// as they come; the line above counts them, those dropped, and the block
// list's ranges.
#include <memory>

#include "framework/dialog.h"
#include "framework/growingdialog.h"
#include "ui/alerts/alertcenter.h"
#include "ui/alerts/alertmodel.h"

class QTableView;

class CAlertsDlg : public CDialog {
    Q_OBJECT
  public:
    CAlertsDlg(AlertCenter& alerts, CWnd* parent);
    ~CAlertsDlg() override;

    bool OnInitDialog() override;
    // Modeless: Close, Escape and the close box destroy the window.
    void OnOK() override { DestroyWindow(); }
    void OnCancel() override { DestroyWindow(); }
    void OnDestroy() override;

    void Refresh();
    bool IsOpen() const { return window() != nullptr; }

    // While open.
    AlertModel* Model() const { return model_.get(); }
    QTableView* Lines() const;

  private:
    bool eventFilter(QObject* watched, QEvent* event) override;

    AlertCenter& alerts_;
    std::unique_ptr<AlertModel> model_;
    QMetaObject::Connection added_;
    GrowingTemplate growth_;
};
