#include "app/monitorapp.h"

int main(int argc, char** argv) {
    CMonitorApp app(argc, argv);
    return app.Run();
}
