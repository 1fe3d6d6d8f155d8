#include <cstring>
#include <iostream>

#include "app/monitorapp.h"
#include "capture/privileges.h"

int main(int argc, char** argv) {
    // Before Qt or any thread exists: threads inherit what this one holds.
    DropPrivilegesAtStart();
    if (argc == 2 && std::strcmp(argv[1], "--capability-self-test") == 0) {
        return RunCapabilitySelfTest(std::cout);
    }
    CMonitorApp app(argc, argv);
    return app.Run();
}
