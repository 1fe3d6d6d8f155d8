#include "ui/capturefiles/capturefiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "capture/row_batch.h"
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
    int id = 0;
    switch (error) {
        case ENOSPC:
            id = IDS_REASON_DISK_FULL;
            break;
        case EROFS:
            id = IDS_REASON_READ_ONLY;
            break;
        case EIO:
            id = IDS_REASON_IO_ERROR;
            break;
        case ENOENT:
        case ENOTDIR:
        case ESTALE:
            id = IDS_REASON_FILE_GONE;
            break;
        case EDQUOT:
            id = IDS_REASON_QUOTA;
            break;
        case EFBIG:
            id = IDS_REASON_TOO_LARGE;
            break;
        case EACCES:
        case EPERM:
            id = IDS_REASON_NO_RIGHT;
            break;
        default:
            return QString::fromLocal8Bit(std::strerror(error));
    }
    return FromGbk(LoadStringGbk(id));
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

QString SaveErrorText(const EventLogResult& result, const QString& path) {
    if (result.kind == EventLogResult::kRefused) {
        return SaveRefusalText(result.refusal, path);
    }
    return QString::fromStdString(EventLogErrorMessage(result, path.toStdString()));
}

QString SaveErrorText(const PcapngResult& result, const QString& path) {
    if (result.kind == PcapngResult::kRefused) {
        return SaveRefusalText(result.refusal, path);
    }
    return QString::fromStdString(PcapngErrorMessage(result, path.toStdString()));
}
