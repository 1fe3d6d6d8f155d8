#pragma once
#include "framework/dialog.h"

class CMonitorApp : public CWinApp {
  public:
    using CWinApp::CWinApp;
    bool InitInstance() override;
};
