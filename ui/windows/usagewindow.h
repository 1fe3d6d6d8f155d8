#pragma once
// The 用量 window: what the usage history holds for today (per hour), the
// last 7 days or the last 30 days (per day). A chart stacked by program,
// the top programs and the top hosts with their totals, and below them the
// hosts of the program selected or the programs of the host selected.
// 导出... (or Ctrl+S) writes the range as CSV. The history is read on a
// thread of the window's own: the window opens at once and fills in.
#include <QDateTime>
#include <QDialog>
#include <QThreadPool>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "export/save_open.h"
#include "ui/models/usagereport.h"
#include "ui/windows/filedialogs.h"

class QButtonGroup;
class QLabel;
class QPushButton;
class QRadioButton;
class QTableView;
class UsageChart;
class UsageTotalsModel;

class UsageWindow : public QDialog {
    Q_OBJECT
  public:
    enum Range { kToday, kLast7Days, kLast30Days };
    struct Options {
        std::string path;                // the history file
        std::function<QDateTime()> now;  // default: the clock
        FileDialogs::SaveDialog exportDialog = AskForUsageFile;
        // The file no export may write into (the recording's).
        std::function<std::optional<FileIdentity>()> busyFile;
    };
    explicit UsageWindow(Options options, QWidget* parent = nullptr);
    ~UsageWindow() override;

    void SetRange(Range range);
    Range CurrentRange() const { return range_; }
    // Reads the range again (the window's range buttons and opening do).
    void Reload();
    void OnExport();

    // Answers shown; false while a read is under way.
    bool Filled() const { return pendingReads_ == 0; }
    const UsageReport& Report() const { return report_; }
    UsageChart* Chart() const { return chart_; }
    QTableView* Programs() const { return programs_; }
    QTableView* Hosts() const { return hosts_; }
    QTableView* Details() const { return details_; }
    QLabel* DetailsCaption() const { return detailsCaption_; }
    QRadioButton* RangeButton(Range range) const;
    QPushButton* ExportButton() const { return export_; }

  Q_SIGNALS:
    // A read's answer reached the window.
    void answered();

  private:
    void Read(std::function<void(const UsageQuery&)> work);
    void ShowReport(UsageReport report);
    void ProgramChosen();
    void HostChosen();
    void ShowDetails(std::vector<UsageTotal> totals, bool ofProgram, const QString& key,
                     std::vector<Place> places = {});

    Options options_;
    Range range_ = kToday;
    UsageReport report_;
    uint64_t generation_ = 0;
    int pendingReads_ = 0;
    QThreadPool pool_;                   // one thread: the query's connection is used by it alone
    std::unique_ptr<UsageQuery> query_;  // made and used on the pool's thread
    QButtonGroup* ranges_ = nullptr;
    UsageChart* chart_ = nullptr;
    QLabel* summary_ = nullptr;
    QTableView* programs_ = nullptr;
    QTableView* hosts_ = nullptr;
    QTableView* details_ = nullptr;
    QLabel* detailsCaption_ = nullptr;
    QPushButton* export_ = nullptr;
    UsageTotalsModel* programModel_ = nullptr;
    UsageTotalsModel* hostModel_ = nullptr;
    UsageTotalsModel* detailModel_ = nullptr;
};
