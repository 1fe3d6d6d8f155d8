#pragma once
// The event log file: one record of eight labelled lines per list row,
// written from the bottom row to the top as the GBK bytes the list holds.
#include <optional>
#include <string>
#include <string_view>

#include "export/save_open.h"

class EventLogSource {
  public:
    virtual ~EventLogSource() = default;
    virtual int RowCount() const = 0;
    // Empty for a row or column that does not exist.
    virtual std::string CellText(int row, int column) const = 0;
};

struct EventLogResult {
    enum Kind {
        kOk,
        kOpenFailed,  // nothing was written
        kDiskFull,    // the file keeps the lines written before the failure
        kIoError,
        kOtherWriteError,
        kRefused,  // the file was left as it was, for `refusal`
    };
    Kind kind = kOk;
    int error = 0;  // errno of the failing call
    SaveRefusal refusal = SaveRefusal::kNone;
    bool ok() const { return kind == kOk; }
};

// Creates or replaces `path` as OpenForSave does (never the file `busy`
// names) and writes every row of `source`, counted when writing begins. Ok
// only once the file reached the disk. The file is closed before this
// returns, whatever happened.
EventLogResult WriteEventLogFile(const std::string& path, const EventLogSource& source,
                                 const std::optional<FileIdentity>& busy = {});

// The message for a failed save, naming the file's full path (UTF-8). A
// refusal is worded by the window, from its string table.
std::string EventLogErrorMessage(const EventLogResult& result, std::string_view path);
