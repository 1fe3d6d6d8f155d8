#include <cstring>
#include <iostream>
#include <string>

#include "app/monitorapp.h"
#include "capture/privileges.h"
#include "export/save_open.h"

int main(int argc, char** argv) {
    // Before Qt or any thread exists: threads inherit what this one holds.
    DropPrivilegesAtStart();
    KeepRunningPastFileSizeLimit();
    if (argc == 2 && std::strcmp(argv[1], "--capability-self-test") == 0) {
        return RunCapabilitySelfTest(std::cout);
    }
    // Qt would abort on a display it cannot reach; say what works instead.
    if (const std::string problem = RootDisplayProblem(); !problem.empty()) {
        std::cerr << problem;
        return 1;
    }
    CMonitorApp app(argc, argv);
    return app.Run();
}
