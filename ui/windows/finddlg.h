#pragma once
// The find window: a small modeless window under the main window (over its
// lower band when the screen has no room there; the main window's controls
// keep their places either way), with a text box, 下一个 and
// 上一个, the options 区分大小写 and 十六进制, and a line that counts the
// matching rows or says what is wrong with the text.
//
// A match is shown as a click on its row would show it: the row is selected
// and scrolled into view, and the main window's click handler fills the data
// pane. A match the data column cannot show (past the payload's first NUL)
// is named by its offset, and the data pane's tooltip shows the text around it.
#include <QPointer>
#include <functional>

#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/listctrl.h"
#include "ui/windows/listfinder.h"

class CFindDlg : public CDialog {
    Q_OBJECT
  public:
    // `showSelectedRow` is the list's click handler: it fills the data pane
    // from the selected row.
    CFindDlg(CListCtrl& list, CWnd& dataPane, std::function<void()> showSelectedRow, CWnd* parent);

    bool OnInitDialog() override;
    void DoDataExchange() override;
    // Escape and the close box close the window only, and the list gets
    // the focus back.
    void OnCancel() override;
    void OnCommand(int id) override;
    void OnDestroy() override;

    // Opens the window, or brings it forward, with the focus in its text box.
    void Open();
    bool IsOpen() const { return window() != nullptr; }
    // Shows the next matching row below the selected one (above it when
    // `forward` is false), wrapping at the end; false when none matches.
    // Works with the window closed too, with the text last typed.
    bool FindNext(bool forward);

    ListFinder& Finder() { return finder_; }

    CEdit m_text;
    CButton m_next, m_previous, m_case, m_hex;
    CStatic m_status;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Place();
    void QueryChanged();
    void ScheduleRefresh();
    void RefreshStatus();
    void ShowRow(int row);
    void SetPaneTip(const QString& tip);

    CListCtrl& list_;
    CWnd& pane_;
    std::function<void()> showSelectedRow_;
    ListFinder finder_;
    bool refreshQueued_ = false;
};
