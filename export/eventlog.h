#pragma once
// The event log file: one record of eight labelled lines per list row,
// written from the bottom row to the top as the GBK bytes the list holds.
#include <functional>
#include <string>
#include <string_view>

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
    };
    Kind kind = kOk;
    int error = 0;  // errno of the failing call
    bool ok() const { return kind == kOk; }
};

// Creates or truncates `path` and writes every row of `source`, counted when
// writing begins. The file is closed before this returns, whatever happened.
// `created` is called with the open file before anything is written if this
// call made it, and not for a file it replaced (that keeps its owner and mode).
EventLogResult WriteEventLogFile(const std::string& path, const EventLogSource& source,
                                 const std::function<void(int fd)>& created = {});

// The message for a failed save, naming the file's full path (UTF-8).
std::string EventLogErrorMessage(const EventLogResult& result, std::string_view path);
