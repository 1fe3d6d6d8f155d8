#pragma once
// Capture files the window writes: the datagrams behind the rows of the list
// (保存捕获文件...), and a recording of every datagram a live capture receives
// (记录到文件...), both pcapng.
#include <QString>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "capture/session.h"
#include "export/eventlog.h"
#include "export/pcapng.h"
#include "export/pcapng_recorder.h"
#include "framework/listctrl.h"

class QWidget;

// The datagrams the rows of `list` keep, oldest capture first whatever the
// rows' order (a sort by a column moves rows, not their capture times).
// Datagrams captured in the same nanosecond keep the list's order, bottom
// first. Rows without a kept datagram are left out. The bytes stay the
// list's: use them before the list changes.
std::vector<PcapngDatagram> ListDatagrams(const CListCtrl& list);

// The interface block of a capture on `localAddress`: the interface that
// holds it and its netmask. A played file's datagrams came from elsewhere:
// only the address selected while it played is kept, without a name.
PcapngInterface CaptureInterface(const std::string& localAddress, bool fromFile);

// Why a write failed, in the window's words.
QString WriteFaultReason(int error);

// The message of a save that left `path` alone, naming it.
QString SaveRefusalText(SaveRefusal refusal, const QString& path);
// The message of any failed save of the event log or a capture file.
QString SaveErrorText(const SaveResult& result, const QString& path);

// The save dialog of both entries: Qt's own, with `caption`, the pcapng
// suffix added to a name typed without one, asking before it replaces a
// file. The chosen full path, or nothing when cancelled.
std::optional<QString> AskForCaptureFile(QWidget* owner, const QString& caption,
                                         const QString& name);

// The recording as the window drives it. Turned on, it records every live
// capture until it is turned off: a capture's Start resumes the same file
// with an interface block of its own, its Stop leaves the file complete.
// Played capture files are not recorded (they are files already). A write
// failure ends it. Every call but Append on the interface thread.
class CaptureRecording final : public DatagramSink {
  public:
    // Set once as the session's datagram sink; it outlives the session.
    // Capture thread: a live capture's datagrams go to the recorder, a
    // played file's nowhere.
    void Append(int64_t timeNs, const uint8_t* bytes, uint32_t length) override {
        if (live_.load(std::memory_order_relaxed)) {
            recorder_.Append(timeNs, bytes, length);
        }
    }

    // What runs while recording is turned on.
    enum class Running { kNothing, kLive, kFile };
    // Makes the file at `path`, with a block for `interface`, and turns
    // recording on. A live capture running now (on `interface`) is recorded
    // from here on; otherwise the next live capture is, and adds a block of
    // its own if it runs on another interface than the one the file names.
    PcapngResult TurnOn(const std::string& path, const PcapngInterface& interface, Running running);
    // Leaves the file complete and turns recording off.
    void TurnOff();
    bool On() const { return on_; }

    // A live capture on `interface` is about to start (before its thread):
    // recorded from its first datagram when recording is on. A failure to
    // go on with the file turns recording off.
    PcapngResult LiveCaptureStarting(const PcapngInterface& interface);
    // A capture file is about to play: not recorded.
    void FileStarting();
    // The capture has stopped: the file is left complete.
    void CaptureEnded();
    // The window goes: the file is left complete, whatever runs.
    void Close();

    // Once after a write failure ended the recording (turned off by now).
    bool TakeFault();
    const std::string& Path() const { return recorder_.Path(); }
    // The file recording writes to while it is on, between captures too:
    // no save may write into it.
    std::optional<FileIdentity> File() const {
        return on_ && recorder_.HasFile() ? std::optional(recorder_.File()) : std::nullopt;
    }
    uint64_t DatagramsWritten() const { return recorder_.DatagramsWritten(); }

    RecordingFigures Figures() const;
    // The same for the figures of the capture that ran last: off when it was
    // not recorded.
    RecordingFigures FiguresOfCapture() const {
        return recordedCapture_ ? Figures() : RecordingFigures{};
    }

  private:
    PcapngRecorder recorder_;
    bool on_ = false;
    std::atomic<bool> live_{false};  // a live capture runs; set before its thread starts
    bool recordedCapture_ = false;   // the capture running or run last was recorded
    PcapngInterface interface_;      // the one the file's last interface block names
};
