// One find-bar pass over a full list: 500 rows, each with a 65,535-byte UDP
// datagram (a 65,507-byte payload, 32 MB in all), for a text found nowhere,
// ignoring case (the worst case: every row is searched to its end in every
// encoding). Heap allocations during the passes are counted.
#include <benchmark/benchmark.h>

#include <QStringEncoder>
#include <atomic>
#include <cstdlib>
#include <map>
#include <new>
#include <random>

#include "search/rowsearch.h"
#include "tests/allocation_count.h"
#include "tests/capture/packet_builder.h"

namespace {

using namespace testpkt;

constexpr size_t kPayload = kMaxDatagram - 20 - 8;

std::string Gbk(const QString& s) {
    QStringEncoder e("GBK", QStringEncoder::Flag::Stateless);
    return QByteArray(e.encode(s)).toStdString();
}

enum class Content {
    kText,    // GBK Chinese and ASCII protocol text, with some NULs
    kBinary,  // random bytes
    kShifted  // the GBK needle's bytes every 4 bytes, each across a character
};

std::string MakePayload(Content content, std::mt19937& rng) {
    std::string p;
    p.reserve(kPayload + 64);
    if (content == Content::kText) {
        const std::string han = Gbk(QStringLiteral(
            "的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动"
            "同工也能下过子说产种面而方后多定行学法所民得经十三之进着等部度家电力里如水化高自"
            "二理起小物现实加量都两体制机当使点从业本去把性好应开它合还因由其些然前外天政四日"));
        const char* words[] = {"GET /index.html HTTP/1.1\r\n",
                               "Host: example.com\r\n",
                               "Content-Type: text/html; charset=gbk\r\n",
                               "<div class=\"news\">",
                               "</div>\n",
                               "user=admin&id=12345",
                               " 2024-05-01 "};
        while (p.size() < kPayload) {
            const unsigned pick = rng() % 10;
            if (pick < 6) {
                for (int i = 0; i < 12; ++i)
                    p += han.substr(2 * (rng() % (han.size() / 2)), 2);
                p += "\xA3\xAC";  // ，
            } else if (pick < 9) {
                p += words[rng() % std::size(words)];
            } else {
                p.append(rng() % 8, '\0');
            }
        }
    } else if (content == Content::kBinary) {
        while (p.size() < kPayload)
            p.push_back(static_cast<char>(rng()));
    } else {
        p.push_back('\xB0');
        while (p.size() < kPayload)
            p += "\xD6\xD0\xCE\xC4";  // 中文, but each paired with its neighbour
    }
    p.resize(kPayload);
    return p;
}

struct Rows {
    std::vector<std::vector<uint8_t>> datagrams;
    std::vector<RowCells> cells;
};

const Rows& RowsOf(Content content) {
    static std::map<Content, Rows> built;
    auto [it, fresh] = built.try_emplace(content);
    if (fresh) {
        std::mt19937 rng(1);
        for (int i = 0; i < kMaxEventRows; ++i) {
            it->second.datagrams.push_back(
                Datagram(Ip{.protocol = 17}, Udp(40000, 80, Bytes(MakePayload(content, rng)))));
            it->second.cells.push_back({"2024-05-01 12:00:00", "(\xB1\xBE\xBB\xFA)10.0.0.5",
                                        "40000", "10.0.0.9", "80", "http",
                                        "GET /index.html HTTP/1.1", "ACK-PSH-"});
        }
    }
    return it->second;
}

void Pass(benchmark::State& state, Content content, const QString& text) {
    const Rows& rows = RowsOf(content);
    const SearchQuery query = SearchQuery::Compile(text);
    for (size_t i = 0; i < rows.datagrams.size(); ++i) {
        if (MatchRow(query, rows.cells[i], rows.datagrams[i])) {
            state.SkipWithError("the text is present");
            return;
        }
    }
    uint64_t matches = 0;
    const uint64_t before = g_allocations.load();
    for (auto _ : state) {
        for (size_t i = 0; i < rows.datagrams.size(); ++i)
            matches += static_cast<bool>(MatchRow(query, rows.cells[i], rows.datagrams[i]));
    }
    state.counters["allocs_per_pass"] =
        benchmark::Counter(static_cast<double>(g_allocations.load() - before) /
                           static_cast<double>(state.iterations()));
    state.counters["needles"] = query.needleCount();
    benchmark::DoNotOptimize(matches);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMaxEventRows *
                            kMaxDatagram);
}

// Chinese with letters: a GBK needle and a UTF-8 needle over each payload.
void BM_MixedText_TextPayload(benchmark::State& s) {
    Pass(s, Content::kText, QStringLiteral("搜索Key"));
}
void BM_MixedText_BinaryPayload(benchmark::State& s) {
    Pass(s, Content::kBinary, QStringLiteral("搜索Key"));
}
// Letters only: one needle, every byte folded.
void BM_Letters_TextPayload(benchmark::State& s) {
    Pass(s, Content::kText, QStringLiteral("xylophone"));
}
void BM_Letters_BinaryPayload(benchmark::State& s) {
    Pass(s, Content::kBinary, QStringLiteral("xylophone"));
}
// Hanzi only, in a payload full of common hanzi.
void BM_Hanzi_TextPayload(benchmark::State& s) {
    Pass(s, Content::kText, QStringLiteral("数据库连接"));
}
// Every fourth byte starts the needle's bytes, never a character: a
// character-start check at each, over a 65 KB run of lead-range bytes.
void BM_Hanzi_ShiftedPayload(benchmark::State& s) {
    Pass(s, Content::kShifted, QStringLiteral("中文"));
}
BENCHMARK(BM_MixedText_TextPayload)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MixedText_BinaryPayload)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Letters_TextPayload)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Letters_BinaryPayload)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Hanzi_TextPayload)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Hanzi_ShiftedPayload)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
