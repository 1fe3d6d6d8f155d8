#include "export/save_fault.h"

#include <cerrno>

#include "res/resource.h"
#include "res/string_table.h"

SaveFault SaveFaultOf(int error) {
    switch (error) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return SaveFault::kDiskFull;
        case EIO:
            return SaveFault::kIoError;
        case EACCES:
        case EPERM:
        case EROFS:
            return SaveFault::kAccessDenied;
        case ENOENT:
        case ENOTDIR:
            return SaveFault::kInvalidPath;
        default:
            return SaveFault::kOther;
    }
}

std::string SaveFaultMessage(SaveFault fault, std::string_view path) {
    int id = IDP_SAVE_UNKNOWN_ERROR;
    switch (fault) {
        case SaveFault::kDiskFull:
            id = IDP_SAVE_DISK_FULL;
            break;
        case SaveFault::kIoError:
            id = IDP_SAVE_IO_ERROR;
            break;
        case SaveFault::kAccessDenied:
            id = IDP_SAVE_ACCESS_DENIED;
            break;
        case SaveFault::kInvalidPath:
            id = IDP_SAVE_INVALID_PATH;
            break;
        case SaveFault::kOther:
            break;
    }
    return FormatUtf8(id, {path});
}

std::string SaveErrorMessage(const SaveResult& result, std::string_view path) {
    switch (result.kind) {
        case SaveResult::kOk:
            return {};
        case SaveResult::kNotTheRecordedFile:
            return FormatUtf8(IDP_SAVE_NOT_THE_RECORDING, {path});
        case SaveResult::kRefused:
            return SaveFaultMessage(SaveFault::kOther, path);
        default:
            return SaveFaultMessage(SaveFaultOf(result.error), path);
    }
}

int SaveFaultReasonId(int error) {
    switch (SaveFaultOf(error)) {
        case SaveFault::kDiskFull:
            return error == EDQUOT  ? IDS_REASON_QUOTA
                   : error == EFBIG ? IDS_REASON_TOO_LARGE
                                    : IDS_REASON_DISK_FULL;
        case SaveFault::kIoError:
            return IDS_REASON_IO_ERROR;
        case SaveFault::kAccessDenied:
            return error == EROFS ? IDS_REASON_READ_ONLY : IDS_REASON_NO_RIGHT;
        case SaveFault::kInvalidPath:
            return IDS_REASON_FILE_GONE;
        case SaveFault::kOther:
            // A file on NFS removed under the recording.
            return error == ESTALE ? IDS_REASON_FILE_GONE : 0;
    }
    return 0;
}
