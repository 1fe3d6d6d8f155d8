#include "ui/models/usagereport.h"

#include "res/resource.h"
#include "res/string_table.h"
#include "talk/csv.h"

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

void Line(std::string& out, int kind, std::string_view name, std::string_view detail,
          std::string_view start, const UsageCounts& c, const Place* place = nullptr) {
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
    out += ',';
    out += CsvField(place ? place->country : std::string(), true);
    out += ',';
    out += CsvField(place ? place->NetworkText() : std::string(), true);
    out += "\r\n";
}

std::string_view ProgramName(const std::string& program) {
    return program.empty() ? LoadStringUtf8(IDS_USAGE_UNKNOWN) : std::string_view(program);
}

}  // namespace

std::vector<Place> PlacesOfHosts(const std::vector<UsageTotal>& hosts) {
    std::vector<Place> places;
    places.reserve(hosts.size());
    for (const UsageTotal& t : hosts) {
        IpAddress address;
        places.push_back(ParseIp(t.key, &address) ? PlaceOf(address) : Place{});
    }
    return places;
}

UsageReport ReadUsageReport(const UsageQuery& query, int64_t from, int64_t to, Granularity g) {
    UsageReport r;
    r.from = from;
    r.to = to;
    r.granularity = g;
    r.buckets = query.Buckets(from, to, g);
    r.programs = query.TopPrograms(from, to, kUsageTopPrograms);
    r.hosts = query.TopHosts(from, to, kUsageTopHosts);
    r.hostPlaces = PlacesOfHosts(r.hosts);
    return r;
}

std::string UsageCsv(const UsageReport& report,
                     const std::function<std::string(int64_t)>& timeText) {
    std::string out(kBom);
    out += LoadStringUtf8(IDS_USAGE_CSV_HEADER);
    for (const int heading : {IDS_PLACE_COL_COUNTRY, IDS_PLACE_COL_NETWORK}) {
        out += ',';
        out += LoadStringUtf8(heading);
    }
    out += "\r\n";
    for (const UsageTotal& t : report.programs)
        Line(out, IDS_USAGE_PROGRAMS, ProgramName(t.key), t.detail, {}, t.counts);
    for (size_t i = 0; i < report.hosts.size(); ++i) {
        const UsageTotal& t = report.hosts[i];
        const std::string_view name =
            t.key == kOtherHosts ? LoadStringUtf8(IDS_USAGE_OTHER) : std::string_view(t.key);
        Line(out, IDS_USAGE_HOSTS, name, t.detail, {}, t.counts,
             i < report.hostPlaces.size() ? &report.hostPlaces[i] : nullptr);
    }
    for (const UsageBucket& b : report.buckets)
        Line(out, IDS_USAGE_KIND_PERIOD, ProgramName(b.program), {}, timeText(b.start), b.counts);
    return out;
}
