#include "ui/capturefiles/capturerecording.h"

namespace {

bool SameInterface(const PcapngInterface& a, const PcapngInterface& b) {
    return a.name == b.name && a.hasAddress == b.hasAddress && a.address == b.address &&
           a.netmask == b.netmask;
}

}  // namespace

PcapngResult CaptureRecording::TurnOn(const std::string& path, const PcapngInterface& interface,
                                      Running running) {
    recorder_.Close();
    on_ = false;
    const PcapngResult result = recorder_.Start(path, interface);
    if (!result.ok()) {
        return result;
    }
    on_ = true;
    interface_ = interface;
    // A played file's datagrams stay out: Append lets only live ones by.
    if (running == Running::kLive) {
        recordedCapture_ = true;
    }
    return result;
}

void CaptureRecording::TurnOff() {
    recorder_.Close();
    on_ = false;
}

PcapngResult CaptureRecording::LiveCaptureStarting(const PcapngInterface& interface) {
    live_ = true;
    recordedCapture_ = false;
    if (!on_) {
        return {};
    }
    // Turned on before this Start, on the address chosen for it: the file
    // already names this interface and waits for its datagrams.
    if (recorder_.Recording() && SameInterface(interface, interface_)) {
        recordedCapture_ = true;
        return {};
    }
    recorder_.Close();
    const PcapngResult result = recorder_.Resume(interface);
    if (!result.ok()) {
        on_ = false;
        return result;
    }
    interface_ = interface;
    recordedCapture_ = true;
    return result;
}

void CaptureRecording::FileStarting() {
    live_ = false;
    recordedCapture_ = false;
}

void CaptureRecording::CaptureEnded() {
    // A recording waiting for a live capture goes on waiting through a played file.
    if (live_.exchange(false)) {
        recorder_.Close();
    }
}

void CaptureRecording::Close() {
    live_ = false;
    recorder_.Close();
}

bool CaptureRecording::TakeFault() {
    if (!recorder_.TakeFaultNotice()) {
        return false;
    }
    recorder_.Close();
    on_ = false;
    return true;
}

RecordingFigures CaptureRecording::Figures() const {
    RecordingFigures f;
    if (!recorder_.HasFile()) {
        return f;
    }
    f.path = recorder_.Path();
    f.datagrams = recorder_.DatagramsWritten();
    f.bytes = recorder_.BytesWritten();
    f.missed = recorder_.DatagramsMissed();
    f.fault = recorder_.Fault();
    if (f.fault != 0) {
        f.state = RecordingFigures::kFailed;
    } else if (on_) {
        f.state = live_ && recorder_.Recording() ? RecordingFigures::kRecording
                                                 : RecordingFigures::kWaiting;
    } else {
        f.state = RecordingFigures::kStopped;
    }
    return f;
}
