#include "export/eventlog.h"

#include "export/save_open.h"
#include "res/resource.h"
#include "res/string_table.h"

namespace {

constexpr int kColumns = 8;

// The last line of a record ends it with two empty lines.
std::string_view LineEnd(int column) {
    return column == kColumns - 1 ? "\n\n\n" : "\n";
}

}  // namespace

EventLogResult WriteEventLogFile(const std::string& path, const EventLogSource& source,
                                 const std::optional<FileIdentity>& busy) {
    const SaveFile file = OpenForSave(path, busy);
    if (file.fd < 0)
        return NotOpened(file);

    // One line, one write: the label as the list shows it (GBK), the cell.
    std::string line;
    int error = 0;
    for (int row = source.RowCount() - 1; row >= 0 && error == 0; --row) {
        for (int column = 0; column < kColumns && error == 0; ++column) {
            line.assign(LoadStringGbk(IDS_LOG_LABEL_FIRST + column));
            line += source.CellText(row, column);
            line += LineEnd(column);
            error = WriteAll(file.fd, line);
        }
    }
    error = FinishSave(path, file, error);
    return error != 0 ? WriteFailed(error) : EventLogResult{};
}
