#pragma once
// Why a write failed, in the program's words: one reading of errno for every
// file the program writes.
#include <string>
#include <string_view>

#include "export/save_open.h"

enum class SaveFault {
    kDiskFull,  // no room: the disk, the quota or the file-size limit
    kIoError,
    kAccessDenied,
    kInvalidPath,
    kOther,
};

SaveFault SaveFaultOf(int error);

// The message of a failed save that names `path` (UTF-8).
std::string SaveFaultMessage(SaveFault fault, std::string_view path);

// The message of a failed save or recording, naming the file's full path
// (UTF-8). A refusal is worded by the window (SaveRefusalText).
std::string SaveErrorMessage(const SaveResult& result, std::string_view path);

// The string id of the short reason a recording's failure gives (磁盘已满,
// 超出了磁盘配额, ...): the fault, told apart further where the words do. 0
// when there is none: the system's own text for the errno is the reason then.
int SaveFaultReasonId(int error);
