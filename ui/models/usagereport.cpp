#include "ui/models/usagereport.h"

#include "res/resource.h"
#include "res/string_table.h"
#include "talk/csv.h"

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

void Line(std::string& out, int kind, std::string_view name, std::string_view detail,
          std::string_view start, const UsageCounts& c) {
    out += CsvField(LoadStringUtf8(kind), false);
    out += ',';
    out += CsvField(name, true);
    out += ',';
    out += CsvField(detail, true);
    out += ',';
    out += CsvField(start, false);
    for (const uint64_t v : {c.bytesIn, c.bytesOut, c.datagramsIn, c.datagramsOut}) {
        out += ',';
        out += std::to_string(v);
    }
    out += "\r\n";
}

std::string_view ProgramName(const std::string& program) {
    return program.empty() ? LoadStringUtf8(IDS_USAGE_UNKNOWN) : std::string_view(program);
}

}  // namespace

UsageReport ReadUsageReport(const UsageQuery& query, int64_t from, int64_t to, Granularity g) {
    UsageReport r;
    r.from = from;
    r.to = to;
    r.granularity = g;
    r.buckets = query.Buckets(from, to, g);
    r.programs = query.TopPrograms(from, to, kUsageTopPrograms);
    r.hosts = query.TopHosts(from, to, kUsageTopHosts);
    return r;
}

std::string UsageCsv(const UsageReport& report,
                     const std::function<std::string(int64_t)>& timeText) {
    std::string out(kBom);
    out += LoadStringUtf8(IDS_USAGE_CSV_HEADER);
    out += "\r\n";
    for (const UsageTotal& t : report.programs)
        Line(out, IDS_USAGE_PROGRAMS, ProgramName(t.key), t.detail, {}, t.counts);
    for (const UsageTotal& t : report.hosts) {
        const std::string_view name =
            t.key == kOtherHosts ? LoadStringUtf8(IDS_USAGE_OTHER) : std::string_view(t.key);
        Line(out, IDS_USAGE_HOSTS, name, t.detail, {}, t.counts);
    }
    for (const UsageBucket& b : report.buckets)
        Line(out, IDS_USAGE_KIND_PERIOD, ProgramName(b.program), {}, timeText(b.start), b.counts);
    return out;
}
