#include "ui/capturefiles.h"

#include <QFileDialog>
#include <algorithm>
#include <cstring>

#include "capture/row_batch.h"
#include "export/save_fault.h"
#include "framework/gbk.h"
#include "res/resource.h"
#include "res/strings.h"

namespace {

bool SameInterface(const PcapngInterface& a, const PcapngInterface& b) {
    return a.name == b.name && a.hasAddress == b.hasAddress && a.address == b.address &&
           a.netmask == b.netmask;
}

}  // namespace

std::vector<PcapngDatagram> ListDatagrams(const CListCtrl& list) {
    std::vector<PcapngDatagram> datagrams;
    datagrams.reserve(static_cast<size_t>(list.GetItemCount()));
    // New rows go on top: from the bottom up is capture order until a sort.
    for (int row = list.GetItemCount() - 1; row >= 0; --row) {
        const std::string_view kept = list.GetItemAttachment(row);
        if (kept.size() < sizeof(int64_t)) {
            continue;
        }
        const RowAttachment a = ReadRowAttachment(kept);
        datagrams.push_back({a.captureTimeNs, a.datagram});
    }
    std::stable_sort(
        datagrams.begin(), datagrams.end(),
        [](const PcapngDatagram& x, const PcapngDatagram& y) { return x.timeNs < y.timeNs; });
    return datagrams;
}

PcapngInterface CaptureInterface(const std::string& localAddress, bool fromFile) {
    PcapngInterface i = LocalInterface(localAddress);
    if (fromFile) {
        i.name.clear();
        i.netmask = {255, 255, 255, 255};
    }
    return i;
}

QString WriteFaultReason(int error) {
    if (const int id = SaveFaultReasonId(error)) {
        return FromGbk(LoadStringGbk(id));
    }
    return QString::fromLocal8Bit(std::strerror(error));
}

QString SaveRefusalText(SaveRefusal refusal, const QString& path) {
    int id = 0;
    switch (refusal) {
        case SaveRefusal::kNone:
            return {};
        case SaveRefusal::kSymbolicLink:
            id = IDP_SAVE_SYMLINK;
            break;
        case SaveRefusal::kNotRegularFile:
            id = IDP_SAVE_NOT_REGULAR;
            break;
        case SaveRefusal::kOtherUsersFile:
            id = IDP_SAVE_OTHER_OWNER;
            break;
        case SaveRefusal::kLockedByAnother:
            id = IDP_SAVE_LOCKED;
            break;
        case SaveRefusal::kBeingRecorded:
            id = IDP_SAVE_BEING_RECORDED;
            break;
    }
    return FormatString(id, path);
}

QString SaveErrorText(const SaveResult& result, const QString& path) {
    if (result.kind == SaveResult::kRefused) {
        return SaveRefusalText(result.refusal, path);
    }
    return QString::fromStdString(SaveErrorMessage(result, path.toStdString()));
}

std::optional<QString> AskForCaptureFile(QWidget* owner, const QString& caption,
                                         const QString& name) {
    QFileDialog fd(owner, caption);
    // Qt's own dialog asks before replacing the file it will really write
    // (the name with the suffix added); a native one asks about the name as typed.
    fd.setOption(QFileDialog::DontUseNativeDialog);
    fd.setAcceptMode(QFileDialog::AcceptSave);
    fd.setFileMode(QFileDialog::AnyFile);
    fd.setDefaultSuffix(QStringLiteral("pcapng"));
    fd.setNameFilters({FromGbk(LoadStringGbk(IDS_PCAPNG_FILE_TYPES)),
                       FromGbk(LoadStringGbk(IDS_ALL_FILE_TYPES))});
    fd.selectFile(name);
    if (fd.exec() != QDialog::Accepted || fd.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return fd.selectedFiles().first();
}

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
