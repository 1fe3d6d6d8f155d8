#pragma once
#include <QStringList>

#include "framework/dialog.h"

class CMonitorApp : public CWinApp {
  public:
    // `argv` as Qt left it (its own options taken out).
    CMonitorApp(int& argc, char** argv);
    bool InitInstance() override;
    // Start-up on an application object of its own (tests).
    static bool InitInstanceFor(int& argc, char** argv) {
        CMonitorApp app(argc, argv);
        return app.InitInstance();
    }

  private:
    QStringList arguments_;
};
