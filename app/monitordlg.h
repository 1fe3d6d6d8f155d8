#pragma once
// The main window: the event list, the data pane, the local address list,
// the filter labels, the clock and the buttons, owning the capture state.
#include <QIcon>
#include <functional>
#include <optional>

#include "capture/handoff.h"
#include "capture/session.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "ui/aboutdlg.h"
#include "ui/sortlistctrl.h"

class CMonitorDlg : public CDialog {
    Q_OBJECT
  public:
    explicit CMonitorDlg(CWnd* parent = nullptr);
    ~CMonitorDlg() override;

    // Seams: the save-file dialog (returns the chosen full path), the about
    // box, the detail window and where capture endpoints come from.
    using SaveDialog = std::function<std::optional<QString>(QWidget* owner, const QString& name)>;
    static SaveDialog& SaveFileDialog();
    void SetEndpointFactory(CaptureSession::EndpointFactory f) {
        m_capture.SetEndpointFactory(std::move(f));
    }

    // Bound controls, in declaration order.
    CEdit DataPane;
    CStatic m_ignoredPortLabel;
    CStatic m_monitoredPortLabel;
    CStatic m_srcAddrLabel;
    CStatic m_dstAddrLabel;
    CListBox LocalAddressList;
    CStatic m_clock;
    CSortListCtrl m_list;
    QIcon m_hIcon;
    FilterSettings m_filter;

    CaptureSession& Capture() { return m_capture; }

    bool OnInitDialog() override;
    void DoDataExchange() override;
    void OnOK() override { OnExit(); }
    void OnDestroy() override;
    void OnTimer(int id) override;
    void OnSysCommand(unsigned command) override;
    void OnCommand(int id) override;

    void OnStart();
    void OnStop();
    void OnExit();
    void OnClear();
    void OnFilter();
    void OnAbout();
    void OnSave();
    int OnListClick();
    int OnListKeyDown(int vk);
    int OnListDoubleClick();
    void FillLocalAddressList();

  protected:
    // The about box: `reuse` for the About button's object that lives as long
    // as the program, a fresh one for the system-menu entry.
    virtual void RunAboutBox(bool reuse);

  private:
    void ShowDataOfRow(int row);

    std::unique_ptr<CAboutDlg> m_aboutBox;  // the About button's, for the program's life
    UiHandoff m_handoff;
    CaptureSession m_capture;
};
