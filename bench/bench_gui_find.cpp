// 查找 over the real event list, shown offscreen: 500 rows, each holding a
// 65,535-byte UDP datagram (a 65,507-byte payload of GBK Chinese and ASCII
// protocol text with NULs here and there), put in as the capture thread's
// batches put them in. Measured:
//  - typing a text found nowhere: the query compiled and every row matched
//    to its end (what each key pressed in the find window costs);
//  - Return with nothing matched yet: the find window's path to a match in
//    the bottom row, past a NUL: every row searched, the row selected and
//    scrolled to, the data pane filled by the click handler, the tooltip made;
//  - the same Return once the rows are matched (the next F3);
//  - twelve new rows on top, counted again (what a batch costs a search
//    that stays open while capturing).
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QStringEncoder>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_list.h"
#include "capture/row_batch.h"
#include "framework/controls.h"
#include "tests/capture/packet_builder.h"
#include "ui/widgets/sortlistctrl.h"
#include "ui/windows/finddlg.h"

namespace {

constexpr size_t kPayload = kMaxDatagram - 20 - 8;
constexpr int kRuns = 20;

std::string Gbk(const QString& s) {
    QStringEncoder e("GBK", QStringEncoder::Flag::Stateless);
    return QByteArray(e.encode(s)).toStdString();
}

std::string Payload(std::mt19937& rng) {
    static const std::string han = Gbk(QStringLiteral(
        "的一是在不了有和人这中大为上个国我以要他时来用们生到作地于出就分对成会可主发年动"
        "同工也能下过子说产种面而方后多定行学法所民得经十三之进着等部度家电力里如水化高自"));
    static const char* words[] = {"GET /index.html HTTP/1.1\r\n", "Host: example.com\r\n",
                                  "Content-Type: text/html; charset=gbk\r\n",
                                  "<div class=\"news\">", "user=admin&id=12345"};
    std::string p;
    p.reserve(kPayload + 64);
    while (p.size() < kPayload) {
        const unsigned pick = rng() % 10;
        if (pick < 6) {
            for (int i = 0; i < 12; ++i)
                p += han.substr(2 * (rng() % (han.size() / 2)), 2);
        } else if (pick < 9) {
            p += words[rng() % std::size(words)];
        } else {
            p.append(rng() % 8, '\0');
        }
    }
    p.resize(kPayload);
    return p;
}

// Rows as the capture thread hands them over: cells, capture time, datagram.
void Insert(CSortListCtrl& list, const std::vector<std::vector<uint8_t>>& datagrams) {
    RowBatch batch;
    for (const auto& d : datagrams) {
        EventRow row;
        row.cells = {"2024-05-01 12:00:00",
                     "(\xB1\xBE\xBB\xFA)10.0.0.5",
                     "40000",
                     "10.0.0.9",
                     "80",
                     "http",
                     "\xCA\xFD\xBE\xDD\xB9\xFD\xB3\xA4",
                     ""};
        batch.Add(row, 1714536000'000'000'000, d);
    }
    InsertEventRows(list, batch);
}

std::vector<std::vector<uint8_t>> Datagrams(int n, std::mt19937& rng) {
    std::vector<std::vector<uint8_t>> out;
    testpkt::Ip ip;
    ip.protocol = 17;
    for (int i = 0; i < n; ++i)
        out.push_back(testpkt::Datagram(ip, testpkt::Udp(40000, 80, testpkt::Bytes(Payload(rng)))));
    return out;
}

template <typename F, typename S = void (*)()>
void Time(
    const char* what, F&& run, S&& setup = [] {}) {
    std::vector<double> ms;
    for (int rep = 0; rep < kRuns; ++rep) {
        setup();
        QElapsedTimer t;
        t.start();
        run();
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::printf("%-62s median %7.2f ms   max %7.2f ms\n", what, Quantile(ms, 0.5),
                Quantile(ms, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ShownList shown;
    CSortListCtrl& list = shown.list;
    QPlainTextEdit paneWidget;
    CEdit pane;
    pane.Attach(&paneWidget);

    std::mt19937 rng(1);
    auto datagrams = Datagrams(kMaxEventRows, rng);
    // The one match: the oldest row (at the bottom), past a NUL near its end.
    const std::string needle = Gbk(QStringLiteral("查找目标"));
    std::vector<uint8_t>& last = datagrams.front();
    std::copy(needle.begin(), needle.end(), last.end() - 100);
    *(last.end() - 101) = 0;
    Insert(list, datagrams);
    QCoreApplication::processEvents();
    std::printf("%d rows of %zu-byte datagrams (%.1f MB)\n", list.GetItemCount(),
                static_cast<size_t>(kMaxDatagram),
                static_cast<double>(kMaxEventRows) * kMaxDatagram / 1e6);

    CFindDlg find(
        list, pane,
        [&] { pane.SetWindowText(list.GetItemText(list.GetFirstSelectedItem(), kColData)); },
        nullptr);
    ListFinder& finder = find.Finder();
    for (const auto& [text, label] :
         {std::pair{QStringLiteral("搜索Key"), "typing Chinese with letters, found nowhere"},
          std::pair{QStringLiteral("xylophone"), "typing letters, found nowhere"},
          std::pair{QStringLiteral("数据库连接"), "typing Chinese, found nowhere"}}) {
        Time(label, [&] {
            finder.SetQuery(text, {});
            if (finder.Count() != 0)
                std::abort();
        });
    }
    Time("typing hex (de ad be ef 00 11), found nowhere", [&] {
        finder.SetQuery(QStringLiteral("de ad be ef 00 11"), {.caseSensitive = false, .hex = true});
        if (finder.Count() != 0)
            std::abort();
    });
    Time("Return, nothing matched yet: the bottom row, past a NUL", [&] {
        list.view()->clearSelection();
        finder.SetQuery(QStringLiteral("查找目标"), {});
        if (!find.FindNext(true) || list.GetFirstSelectedItem() != kMaxEventRows - 1)
            std::abort();
    });
    Time("F3 again, the rows matched already", [&] {
        list.view()->clearSelection();
        if (!find.FindNext(true) || list.GetFirstSelectedItem() != kMaxEventRows - 1)
            std::abort();
    });
    // Rows arriving during a search: a batch of 12 on top of 488 rows
    // matched already, then the count again.
    const std::vector<std::vector<uint8_t>> first(datagrams.begin(), datagrams.end() - 12);
    const std::vector<std::vector<uint8_t>> batch(datagrams.end() - 12, datagrams.end());
    Time(
        "12 rows arrive on top of 488 matched ones, counted again",
        [&] {
            if (finder.Count() != 1)
                std::abort();
        },
        [&] {
            list.DeleteAllItems();
            Insert(list, first);
            finder.Count();
            Insert(list, batch);
        });
    return 0;
}
