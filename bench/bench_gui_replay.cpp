// A capture file of small datagrams played through the capture thread, the
// real hand-off and the real event list (window shown, offscreen): rows per
// second, and how fast the file endpoint alone reads the same file.
#include <pcap/pcap.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_list.h"
#include "capture/session.h"
#include "tests/capture/capture_file_writer.h"
#include "tests/capture/packet_builder.h"

namespace {

// `n` UDP datagrams with a few bytes of data each, in Ethernet frames.
bool WriteFile(const std::string& path, int n) {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535 + 64);
    pcap_dumper_t* dumper = pcap_dump_open(dead, path.c_str());
    if (dumper == nullptr) {
        pcap_close(dead);
        return false;
    }
    const testpkt::Ip ip = testfile::Between({10, 0, 0, 9}, {10, 0, 0, 5}, 17);
    for (int i = 0; i < n; ++i) {
        const auto frame = testfile::Ethernet(
            testpkt::Datagram(ip, testpkt::Udp(40000, 53, testpkt::Bytes(std::to_string(i)))));
        pcap_pkthdr h{};
        h.ts.tv_sec = static_cast<time_t>(testfile::kFirstSecond + i / 1000);
        h.ts.tv_usec = (i % 1000) * 1000;
        h.caplen = h.len = static_cast<bpf_u_int32>(frame.size());
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h, frame.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return true;
}

struct Replay {
    double seconds = 0;
    uint64_t rows = 0, received = 0, emptied = 0;
};

Replay PlayThroughTheList(CSortListCtrl& list, const std::string& path) {
    list.DeleteAllItems();
    UiHandoff handoff;
    CaptureSession session(handoff, list);
    QEventLoop loop;
    session.SetFinishedHandler([&loop](uint64_t) { loop.quit(); });
    session.SetSelectedLocalAddress("10.0.0.5");
    Replay r;
    if (session.OpenCaptureFile(path) != 0) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return r;
    }
    session.StartCaptureThread();
    loop.exec();
    const CaptureFigures f = session.Figures();
    session.Stop();
    r.seconds = static_cast<double>(f.durationNs) / 1e9;
    r.rows = f.rows;
    r.received = f.received;
    r.emptied = f.emptied;
    return r;
}

// The endpoint alone: what reading and unpacking the file costs.
double ReadOnlySeconds(const std::string& path, uint64_t* datagrams) {
    auto file = MakeFileEndpoint(path);
    if (file->Open("") != 0) {
        return -1;
    }
    std::vector<uint8_t> buffer(kReceiveBufferSize);
    QElapsedTimer t;
    t.start();
    *datagrams = 0;
    while (file->Receive(buffer.data(), kMaxDatagram) >= 0) {
        ++*datagrams;
    }
    const double seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
    file->Close();
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    int datagrams = 1000000;
    int runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--datagrams") {
            datagrams = std::atoi(argv[i + 1]);
        } else if (name == "--runs") {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else {
            std::fprintf(stderr, "usage: bench_gui_replay [--datagrams N] [--runs R]\n");
            return 2;
        }
    }
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const std::string path = dir.filePath("replay.pcap").toStdString();
    if (!WriteFile(path, datagrams)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("%d datagrams of 47-52 bytes, file of %lld bytes\n", datagrams,
                static_cast<long long>(QFileInfo(QString::fromStdString(path)).size()));

    uint64_t read = 0;
    std::vector<double> readRates;
    for (int i = 0; i < runs; ++i) {
        const double s = ReadOnlySeconds(path, &read);
        readRates.push_back(static_cast<double>(read) / s);
    }
    std::printf("file endpoint alone                  %10.0f datagrams/s (median of %d)\n",
                Quantile(readRates, 0.5), runs);

    ShownList shown;
    std::vector<double> rowRates;
    for (int i = 0; i < runs; ++i) {
        const Replay r = PlayThroughTheList(shown.list, path);
        rowRates.push_back(static_cast<double>(r.rows) / r.seconds);
        std::printf(
            "played through the list, window shown %9.0f rows/s   %.2f s   (%llu rows, "
            "%llu emptied)\n",
            rowRates.back(), r.seconds, static_cast<unsigned long long>(r.rows),
            static_cast<unsigned long long>(r.emptied));
    }
    std::printf("median                               %10.0f rows/s\n", Quantile(rowRates, 0.5));
    return 0;
}
