#pragma once
#include "framework/dialog.h"

class CMonitorApp : public CWinApp {
  public:
    using CWinApp::CWinApp;
    bool InitInstance() override;
    // Start-up on an application object of its own (tests).
    static bool InitInstanceFor(int& argc, char** argv) {
        CMonitorApp app(argc, argv);
        return app.InitInstance();
    }
};
