#include "ui/capturefiles/capturefiles.h"

#include <algorithm>
#include <cstring>

#include "capture/row_batch.h"
#include "export/save_fault.h"
#include "framework/gbk.h"
#include "res/resource.h"
#include "res/strings.h"

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
