#pragma once
// One answer of the usage history for the 用量 window: the chart's buckets and
// the top programs and hosts of a range, and its CSV export. No Qt.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "history/usage_history.h"
#include "places/place.h"

struct UsageReport {
    int64_t from = 0;  // local midnight, UTC seconds
    int64_t to = 0;
    Granularity granularity = Granularity::kDay;
    std::vector<UsageBucket> buckets;
    std::vector<UsageTotal> programs;
    std::vector<UsageTotal> hosts;
    std::vector<Place> hostPlaces;  // of each host, in the same order
    bool noHistory = false;         // no history file yet
};

inline constexpr size_t kUsageTopPrograms = 50;
inline constexpr size_t kUsageTopHosts = 200;

// Where each host is (the installed database; empty for what is not an
// address). Not for the interface thread: a lookup may read the disk.
std::vector<Place> PlacesOfHosts(const std::vector<UsageTotal>& hosts);

// Everything the window shows for [from, to), read through `query`, with the
// hosts' places.
UsageReport ReadUsageReport(const UsageQuery& query, int64_t from, int64_t to, Granularity g);

// The report as a CSV file: UTF-8 with a byte-order mark, CRLF line ends, the
// heading line, then one line per program, per host and per bucket and
// program, counts as plain integers; a host's line ends with its country and
// network. `timeText` writes a bucket's start.
std::string UsageCsv(const UsageReport& report,
                     const std::function<std::string(int64_t)>& timeText);
