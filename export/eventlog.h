#pragma once
// The event log file: one record of eight labelled lines per list row,
// written from the bottom row to the top as the GBK bytes the list holds.
#include <optional>
#include <string>

#include "export/save_open.h"

class EventLogSource {
  public:
    virtual ~EventLogSource() = default;
    virtual int RowCount() const = 0;
    // Empty for a row or column that does not exist.
    virtual std::string CellText(int row, int column) const = 0;
};

// A file this save made is gone again after a failure; a file it replaced
// keeps the lines written before it.
using EventLogResult = SaveResult;

// Creates or replaces `path` as OpenForSave does (never the file `busy`
// names) and writes every row of `source`, counted when writing begins. Ok
// only once the file reached the disk. The file is closed before this
// returns, whatever happened.
EventLogResult WriteEventLogFile(const std::string& path, const EventLogSource& source,
                                 const std::optional<FileIdentity>& busy = {});
