// A deliberate race between a capture-style thread and a function the event
// loop runs, as the hand-off's interface side is run. Built and run only
// under ThreadSanitizer, where it must be reported: the suppressions for
// Qt's and Qt Test's own threads must not hide races in our code.
#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <thread>

namespace {
int shared = 0;
std::atomic<bool> written{false};
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::thread writer([] {
        shared = 1;
        written.store(true, std::memory_order_relaxed);  // relaxed: orders nothing
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (written.load(std::memory_order_relaxed)) {
            shared = 2;  // races with the writer's store
            app.quit();
        }
    });
    poll.start(1);
    app.exec();
    writer.join();
    return shared == 2 ? 0 : 1;
}
