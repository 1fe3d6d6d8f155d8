#pragma once
// A live test's main: the network of its own made, then its tests run in it.
#include <functional>
#include <string>
#include <utility>

#include "tests/support/network.h"
#include "tests/support/processes.h"

// The test binary's own path, to run itself again in a role.
inline std::string g_self;
// The test's network while its tests run.
inline TestNetwork* g_net = nullptr;

// Makes the network (the calling thread in its local namespace unless the
// options say otherwise) and runs `tests` in it; CTest's skip code, or a
// failure in CI, where the machine does not allow it.
inline int RunInTestNetwork(const char* argv0, const std::function<int()>& tests,
                            TestNetwork::Options options = {}) {
    g_self = roles::SelfPath(argv0);
    std::string why;
    auto net = TestNetwork::Create(&why, std::move(options));
    if (!net)
        return SkipOrFail(why);
    g_net = &*net;
    const int rc = tests();
    g_net = nullptr;
    return rc;
}
