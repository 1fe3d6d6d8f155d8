#pragma once

// What every run shares: the two namespaces and the program's list, the
// flood sent from the peer namespace, and the event loop turning meanwhile.

#include <sys/wait.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdlib>
#include <string>

#include "bench/live_children.h"
#include "tests/support/network.h"
#include "ui/widgets/sortlistctrl.h"

namespace live {

enum class Talk { kOff, kOn, kWindow };

struct Bench {
    TestNetwork& net;
    std::string self;
    CSortListCtrl& list;
    bool tshark = false;
    size_t latencyRoom = 0;
    bool peers = true;  // the decode-and-print peers beside us in (b) and (c)
    int busy = 0;       // CPU-bound processes beside the measured tool
    Talk talk = Talk::kOn;
    int conversations = 1;
    std::string recordPath;  // where a recording run writes
    bool ipv6 = true;        // quorvelan opens its IPv6 handle beside the IPv4 one
};

// Runs the event loop for `ms`, as the window does, so our CPU use is the program's.
inline void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// The flood: the benchmark itself, sending from the peer namespace.
inline Child SpawnSender(const Bench& b, int size, long rate, double seconds) {
    return Spawn({"ip", "netns", "exec", b.net.PeerName(), b.self, "--send", b.net.localAddress,
                  std::to_string(size), std::to_string(rate), std::to_string(seconds),
                  std::to_string(b.conversations)});
}

// Floods the monitored side and waits for the sender to end; `atEnd` runs the
// moment it has ended, to count what was shown while the flood lasted.
// Returns the flood's duration in seconds; `offered` gets what was sent.
template <class AtEnd>
double SendFlood(const Bench& b, int size, long rate, double seconds, long* offered, AtEnd atEnd) {
    QElapsedTimer clock;
    clock.start();
    Child sender = SpawnSender(b, size, rate, seconds);
    while (waitpid(sender.pid, nullptr, WNOHANG) == 0)
        Spin(10);
    const double lasted = static_cast<double>(clock.elapsed()) / 1000.0;
    atEnd();
    *offered = std::atol(Finish(sender, false, true).c_str());
    return lasted;
}

}  // namespace live
