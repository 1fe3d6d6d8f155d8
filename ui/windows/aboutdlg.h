#pragma once
#include "framework/dialog.h"
#include "ui/widgets/htmlctrl.h"

// The about box: the program's picture and its about page.
class CAboutDlg : public CDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(CWnd* parent = nullptr);
    bool OnInitDialog() override;

    CAboutHtmlCtrl m_page;
};
