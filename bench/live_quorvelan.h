#pragma once

// quorvelan's capture as the main window wires it, on the monitored
// interface, optionally recording to a file.

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "bench/bench_list.h"
#include "bench/live_bench.h"
#include "capture/session.h"
#include "export/pcapng_recorder.h"
#include "export/save_fault.h"
#include "ui/models/conversationtracker.h"
#include "ui/windows/conversationsdlg.h"

namespace live {

// What a recording kept of a run.
struct Recorded {
    bool on = false;
    uint64_t datagrams = 0, bytes = 0, missed = 0;
    int fault = 0;
};

// quorvelan's real capture path on the monitored interface, each row timed
// against its datagram's capture time (the kernel's time stamp, so the wait
// in the kernel's buffer counts).
// With `record`, every datagram also goes to a recording, as 记录到文件... does.
struct LiveCapture {
    LiveCapture(Bench& b, size_t latencyRoom, const FilterSettings& filter = {},
                bool record = false)
        : path(record ? b.recordPath : std::string()),
          timed(b.list, latencyRoom),
          tracker(b.talk == Talk::kOff ? nullptr : std::make_unique<ConversationTracker>()),
          session(handoff, timed, [ipv6 = b.ipv6] {
              LiveCaptureOptions options;
              if (!ipv6)
                  options.ipv6BufferBytes = 0;
              return MakeLiveEndpointWith(options);
          }) {
        // As the main window wires them.
        if (tracker) {
            session.SetBatchTap(&tracker->Tap());
        }
        session.SetFilterSettings(filter);
        session.SetSelectedLocalAddress(b.net.localAddress);
        if (session.OpenCaptureSocket() != 0) {
            std::fprintf(stderr, "open failed: %s\n", session.EndpointErrorText().c_str());
            std::exit(1);
        }
        if (record) {
            const PcapngResult started = recorder.Start(path, LocalInterface(b.net.localAddress));
            if (!started.ok()) {
                std::fprintf(stderr, "%s\n", SaveErrorMessage(started, path).c_str());
                std::exit(1);
            }
            session.SetDatagramSink(&recorder);
        }
        session.StartCaptureThread();
        if (tracker) {
            tracker->BeginCapture(false, b.net.localAddress);
            // The main window's clock, which ticks the tracker once a second.
            QObject::connect(&clock, &QTimer::timeout, [this] { tracker->Tick(); });
            clock.start(1000);
        }
        if (b.talk == Talk::kWindow) {
            window = std::make_unique<CConversationsDlg>(*tracker, session, nullptr);
            window->Create();
        }
    }
    ~LiveCapture() {
        if (window)
            window->DestroyWindow();
    }
    // After the session's Stop: the file complete, what it holds, the file gone.
    Recorded EndRecording() {
        Recorded r;
        if (path.empty())
            return r;
        recorder.Close();
        r = {true, recorder.DatagramsWritten(), recorder.BytesWritten(), recorder.DatagramsMissed(),
             recorder.Fault()};
        std::remove(path.c_str());
        return r;
    }
    std::string path;
    PcapngRecorder recorder;  // outlives the session's capture thread
    TimedList timed;
    UiHandoff handoff;
    std::unique_ptr<ConversationTracker> tracker;  // outlives the session, which feeds it
    CaptureSession session;
    std::unique_ptr<CConversationsDlg> window;
    QTimer clock;
};

}  // namespace live
