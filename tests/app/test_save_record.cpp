// Capture files the window writes, driven as a person drives them: 保存捕获文件...
// and 记录到文件... from the context menu, Qt's own save and open dialogs,
// Start, Stop and Exit; the files read back by libpcap, tcpdump and the
// program itself.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <thread>

#include "app/monitordlg.h"
#include "app/socketlib.h"
#include "export/save_open.h"
#include "framework/qttranslation.h"
#include "res/resource.h"
#include "tests/app/dialog_driver.h"
#include "tests/app/stderr_capture.h"
#include "tests/app/user_input.h"
#include "tests/app/window_state.h"
#include "tests/capture/capture_file_writer.h"
#include "tests/capture/packet_builder.h"
#include "tests/export/pcap_readback.h"

using namespace testpkt;

namespace {

const QString kOpenEntry = QStringLiteral("打开捕获文件...");
const QString kSaveEntry = QStringLiteral("保存捕获文件...");
const QString kRecordEntry = QStringLiteral("记录到文件...");
const QString kStopRecordingEntry = QStringLiteral("停止记录");
const QString kStatsEntry = QStringLiteral("捕获统计...");

struct Box {
    QString text;
    unsigned type;
};
std::vector<Box> g_boxes;

std::vector<input::MenuEntry> ChooseFromContextMenu(CMonitorDlg& dlg, const QString& entry) {
    return input::ChooseFromContextMenu(dlg.window(), entry);
}

// The recording entry's text as the menu shows it now.
QString RecordEntryText(CMonitorDlg& dlg) {
    for (const input::MenuEntry& e : ChooseFromContextMenu(dlg, QString()))
        if (e.text == kRecordEntry || e.text == kStopRecordingEntry)
            return e.text;
    return {};
}

// Selects the address at `entry` of the sorted list: 0 10.0.0.5, 1 127.0.0.1 (on lo).
void ClickAddress(CMonitorDlg& dlg, int entry) {
    auto* box = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LOCAL_ADDRESSES));
    input::Click(box->viewport(), box->visualItemRect(box->item(entry)).center());
}

// Types `name` into the next file dialog with this caption and presses Enter
// until it takes it (the first Enter may only take a completion).
void TypeIntoNextFileDialog(const QString& caption, const char* name,
                            QStringList* buttons = nullptr) {
    WhenDialogShows(caption, [name, buttons](QDialog* d) {
        if (buttons)
            for (QPushButton* b : d->findChildren<QPushButton*>())
                if (qobject_cast<QDialogButtonBox*>(b->parentWidget()))
                    buttons->push_back(b->text());
        QVERIFY(input::Activate(d));
        input::Key(d, Qt::Key_A, Qt::ControlModifier);  // the suggested name goes
        input::Type(d, name);
        for (int i = 0; i < 3 && d->isVisible(); ++i) {
            input::Key(d, Qt::Key_Return);
            QCoreApplication::processEvents();
        }
        if (d->isVisible())
            d->reject();  // not taken: the file below will be missing
    });
}

// The save dialog answered with `path` without showing it.
void AnswerSaveDialogWith(CMonitorDlg& dlg, const std::string& path, QString* caption = nullptr) {
    dlg.Dialogs().saveCaptureFile = [path, caption](QWidget*, const QString& c,
                                                    const QString&) -> std::optional<QString> {
        if (caption)
            *caption = c;
        return QString::fromStdString(path);
    };
}

// Says yes whenever Qt's save dialog asks before it replaces a file, as long
// as it lives, and counts the questions.
class ReplaceAnswerer {
  public:
    ReplaceAnswerer() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (box && box->isVisible() && box->button(QMessageBox::Yes)) {
                    ++asked;
                    input::Click(box->button(QMessageBox::Yes));
                }
            }
        });
        timer_.start(5);
    }
    int asked = 0;

  private:
    QTimer timer_;
};

// Should the window wait on a pipe nobody reads, its other end is opened and
// read after a long while: the test then fails instead of hanging.
class PipeGuard {
  public:
    explicit PipeGuard(const std::string& path)
        : thread_([this, path] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (done_cv_.wait_for(lock, std::chrono::seconds(60), [this] { return done_; }))
                  return;
              lock.unlock();
              opened_ = true;
              const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
              char sink[4096];
              while (fd >= 0 && ::read(fd, sink, sizeof sink) > 0) {
              }
              if (fd >= 0)
                  ::close(fd);
          }) {}
    ~PipeGuard() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_all();
        thread_.join();
    }
    bool Opened() const { return opened_; }

  private:
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::atomic<bool> opened_{false};
    std::thread thread_;
};

std::string ReadWhole(const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

struct stat LstatOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        st.st_ino = 0;
    return st;
}

std::vector<std::vector<uint8_t>> Udp(int n, uint16_t port = 9, size_t size = 0) {
    std::vector<std::vector<uint8_t>> d;
    const Ip ip = testfile::Between({10, 0, 0, 9}, {10, 0, 0, 5}, 17);
    for (int i = 0; i < n; ++i) {
        std::vector<uint8_t> payload = Bytes(std::to_string(i));
        payload.resize(std::max(payload.size(), size), 'p');
        d.push_back(Datagram(ip, testpkt::Udp(4000, port, payload)));
    }
    return d;
}

std::vector<std::vector<uint8_t>> Bytes(const readback::File& f) {
    std::vector<std::vector<uint8_t>> b;
    for (const auto& p : f.packets)
        b.push_back(p.bytes);
    return b;
}

bool TimesRise(const readback::File& f) {
    for (size_t i = 1; i < f.packets.size(); ++i)
        if (f.packets[i].timeNs < f.packets[i - 1].timeNs)
            return false;
    return !f.packets.empty();
}

QString LabelText(CDialog& dlg, int id) {
    auto* label = qobject_cast<QLabel*>(dlg.GetDlgItem(id));
    return label ? label->text() : QString();
}

// The figures line's recording part: datagrams and bytes in the file, and
// those left out; -1 without one.
struct Recorded {
    long long datagrams = -1, bytes = -1, missed = 0;
};
Recorded RecordedPart(const QString& line, const std::string& path) {
    const QRegularExpression part(
        QString("; recorded (\\d+) datagrams \\((\\d+) bytes\\) to %1(, (\\d+) left out "
                "while the disk was behind)?(, recording failed: .*)?$")
            .arg(QRegularExpression::escape(QString::fromStdString(path))));
    const auto m = part.match(line);
    if (!m.hasMatch())
        return {};
    return {m.captured(1).toLongLong(), m.captured(2).toLongLong(), m.captured(4).toLongLong()};
}

}  // namespace

class SaveRecordTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase() {
        testfile::UseTestTimeZone();
        // What the program's application object does at start.
        QVERIFY(InstallQtTranslation(*QCoreApplication::instance()));
        KeepRunningPastFileSizeLimit();
    }

    void init() {
        g_boxes.clear();
        SetMessageBoxHookForTesting([](const QString&, const QString& t, unsigned type) {
            g_boxes.push_back({t, type});
            return IDOK;
        });
        FakeHost({"127.0.0.1", "10.0.0.5"});
    }

    // A played file's list, sorted by a column, saved with the real dialog
    // and opened again with the real dialog: the same rows, byte for byte,
    // times included; the file holds capture order, and saving the played
    // list again gives the same datagrams and times.
    void savedListsOpenAsTheSameRows() {
        QTemporaryDir dir;
        const std::string mix = dir.filePath("mix.pcap").toStdString();
        std::vector<std::vector<uint8_t>> frames;
        for (const auto& d : testfile::Mix())
            frames.push_back(testfile::Frame(DLT_EN10MB, d));
        QVERIFY(testfile::WritePcap(mix, DLT_EN10MB, frames));
        const QString home = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir.path()));
        CMonitorDlg dlg;
        QStringList buttons;
        RunModalWith(dlg, [&] {
            ClickAddress(dlg, 0);  // 10.0.0.5: the marker shows in the rows
            TypeIntoNextFileDialog("打开捕获文件", "mix.pcap");
            ChooseFromContextMenu(dlg, kOpenEntry);
            QTRY_VERIFY(Stopped(dlg));
            const Rows played = ListRows(dlg);
            QCOMPARE(played.size(), size_t{7});
            QCOMPARE(played[0][kColTime], testfile::FileTimeText(6));

            // Sorted by source port: rows move, the file keeps capture order.
            input::ClickHeader(dlg.m_list.view()->horizontalHeader(), kColSrcPort);
            QVERIFY(ListRows(dlg) != played);
            TypeIntoNextFileDialog("保存捕获文件", "saved", &buttons);
            ChooseFromContextMenu(dlg, kSaveEntry);
            const std::string saved = dir.filePath("saved.pcapng").toStdString();  // suffix added
            const readback::File file = readback::WithLibpcap(saved);
            QVERIFY2(file.clean, file.error.c_str());
            QCOMPARE(file.linkType, DLT_IPV4);
            QCOMPARE(Bytes(file), testfile::Mix());
            for (size_t i = 0; i < file.packets.size(); ++i)
                QCOMPARE(file.packets[i].timeNs,
                         (testfile::kFirstSecond + static_cast<int64_t>(i)) * 1000000000 +
                             testfile::kMicros * 1000);
            // The selected address in the interface block, without a name:
            // a played file's datagrams came from elsewhere.
            const auto interfaces = readback::InterfaceOptions(saved);
            QCOMPARE(interfaces.size(), size_t{1});
            bool address = false;
            for (const auto& o : interfaces[0]) {
                QVERIFY(o.code != 2);  // if_name
                if (o.code == 4)
                    address = o.value == std::vector<uint8_t>{10, 0, 0, 5, 255, 255, 255, 255};
            }
            QVERIFY(address);

            input::Click(dlg.GetDlgItem(IDC_CLEAR));
            TypeIntoNextFileDialog("打开捕获文件", "saved.pcapng");
            ChooseFromContextMenu(dlg, kOpenEntry);
            QTRY_VERIFY(Stopped(dlg));
            QCOMPARE(ListRows(dlg), played);

            // The played file's list saves the same way.
            const std::string again = dir.filePath("again.pcapng").toStdString();
            AnswerSaveDialogWith(dlg, again);
            ChooseFromContextMenu(dlg, kSaveEntry);
            const readback::File second = readback::WithLibpcap(again);
            QVERIFY2(second.clean, second.error.c_str());
            QCOMPARE(second.packets, file.packets);
            QVERIFY(g_boxes.empty());
        });
        QDir::setCurrent(home);
        // Qt's own texts in Chinese.
        QVERIFY2(buttons.contains("保存(&S)") && buttons.contains("取消"),
                 qPrintable(buttons.join(',')));
    }

    // Recording turned on before Start records every datagram received, the
    // ones the filter turns away and the rows the 500-row limit emptied; a
    // later Start appends to the same file; Stop and Exit leave it complete.
    // tcpdump reads it, and a save of the list, datagram for datagram.
    void recordingKeepsEverythingTheCaptureReceives() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("all.pcapng").toStdString();
        CMonitorDlg dlg;
        ScriptedTraffic traffic;
        traffic.datagrams = Udp(1300);
        for (int i = 0; i < 1300; i += 13)
            traffic.datagrams[static_cast<size_t>(i)] = Udp(1, 53)[0];
        ScriptedTraffic flood;
        flood.repeat = true;
        flood.datagrams = Udp(7);
        ScriptedTraffic* next = &traffic;
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(*next); });
        StderrCapture err;
        long long lastReceived = 0;
        RunModalWith(dlg, [&] {
            dlg.Capture().SetFilterSettings(Filter(0, 53));
            ClickAddress(dlg, 1);  // 127.0.0.1: on lo
            QString caption;
            AnswerSaveDialogWith(dlg, path, &caption);
            ChooseFromContextMenu(dlg, kRecordEntry);
            QCOMPARE(caption, QString("记录到文件"));
            QCOMPARE(RecordEntryText(dlg), kStopRecordingEntry);
            ChooseFromContextMenu(dlg, kStatsEntry);
            CCaptureStatsDlg* stats = dlg.StatsWindow();
            QCOMPARE(MisplacedControls(*stats), QStringList());
            QCOMPARE(LabelText(*stats, IDC_STATS_REC_STATE), QString("已开启，开始捕获后记录"));
            QCOMPARE(LabelText(*stats, IDC_STATS_REC_FILE), QString("all.pcapng"));

            for (int capture = 0; capture < 2; ++capture) {
                input::Click(dlg.GetDlgItem(IDC_START));
                QTRY_COMPARE(dlg.Capture().RowsInserted(), uint64_t{1200});
                QCOMPARE(LabelText(*stats, IDC_STATS_REC_STATE), QString("正在记录"));
                input::Click(dlg.GetDlgItem(IDC_STOP));
                const readback::File file = readback::WithTcpdump(path);
                QVERIFY2(file.clean, file.error.c_str());
                QCOMPARE(file.packets.size(), size_t{1300} * (capture + 1));
                QVERIFY(TimesRise(file));
                std::vector<std::vector<uint8_t>> want;
                for (int i = 0; i <= capture; ++i)
                    want.insert(want.end(), traffic.datagrams.begin(), traffic.datagrams.end());
                QCOMPARE(Bytes(file), want);
                // The figures line names the file and what it holds.
                const QStringList lines = err.Figures();
                QCOMPARE(lines.size(), capture + 1);
                const Recorded r = RecordedPart(lines.back(), path);
                QCOMPARE(r.datagrams, 1300LL * (capture + 1));
                QCOMPARE(r.bytes,
                         static_cast<long long>(QFileInfo(QString::fromStdString(path)).size()));
                QCOMPARE(LabelText(*stats, IDC_STATS_REC_DATAGRAMS).toLongLong(), r.datagrams);
                QCOMPARE(LabelText(*stats, IDC_STATS_REC_BYTES).toLongLong(), r.bytes);
                QCOMPARE(LabelText(*stats, IDC_STATS_REC_STATE), QString("已开启，开始捕获后记录"));
            }
            // Each capture has its interface block: lo, 127.0.0.1/8.
            const auto interfaces = readback::InterfaceOptions(path);
            QCOMPARE(interfaces.size(), size_t{2});
            for (const auto& options : interfaces) {
                QCOMPARE(options[0].code, uint16_t{2});
                QCOMPARE(std::string(options[0].value.begin(), options[0].value.end()),
                         std::string("lo"));
                QCOMPARE(options[1].value, (std::vector<uint8_t>{127, 0, 0, 1, 255, 0, 0, 0}));
            }

            // The list's rows, saved: the last datagrams that passed the filter.
            const std::string list = dir.filePath("list.pcapng").toStdString();
            AnswerSaveDialogWith(dlg, list);
            ChooseFromContextMenu(dlg, kSaveEntry);
            const readback::File saved = readback::WithTcpdump(list);
            QVERIFY2(saved.clean, saved.error.c_str());
            std::vector<std::vector<uint8_t>> passed;
            for (int capture = 0; capture < 2; ++capture)
                for (const auto& d : traffic.datagrams)
                    if (d != Udp(1, 53)[0])
                        passed.push_back(d);
            passed.erase(passed.begin(), passed.end() - dlg.m_list.GetItemCount());
            QCOMPARE(Bytes(saved), passed);
            // Opened again, the live rows come back as they were, times included.
            const Rows live = ListRows(dlg);
            dlg.Dialogs().openCaptureFile = [&](QWidget*) -> std::optional<QString> {
                return QString::fromStdString(list);
            };
            input::Click(dlg.GetDlgItem(IDC_CLEAR));
            ChooseFromContextMenu(dlg, kOpenEntry);
            QTRY_VERIFY(Stopped(dlg));
            QCOMPARE(ListRows(dlg), live);

            // A third capture, ended by Exit while datagrams stream in.
            next = &flood;
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_VERIFY(dlg.Capture().RowsInserted() > 2000);
            input::Click(dlg.GetDlgItem(IDOK));
        });
        const QStringList lines = err.Figures();
        QCOMPARE(lines.size(), 4);  // two captures, the saved list played, the third
        const QRegularExpression received("^quorvelan: (\\d+) received");
        lastReceived = received.match(lines.back()).captured(1).toLongLong();
        // Every datagram received is in the file, or counted as left out
        // while the disk was behind.
        const Recorded r = RecordedPart(lines.back(), path);
        QCOMPARE(r.datagrams + r.missed, 2600 + lastReceived);
        const readback::File file = readback::WithLibpcap(path);
        QVERIFY2(file.clean, file.error.c_str());
        QCOMPARE(static_cast<long long>(file.packets.size()), r.datagrams);
        QCOMPARE(r.bytes, static_cast<long long>(QFileInfo(QString::fromStdString(path)).size()));
        QVERIFY(TimesRise(file));
        QVERIFY(g_boxes.empty());
    }

    // Turned on in the middle of a capture and off again: the file holds what
    // came between, complete. A played capture file is not recorded.
    void turnedOnAndOffWhileCapturing() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("middle.pcapng").toStdString();
        const std::string played = dir.filePath("played.pcap").toStdString();
        std::vector<std::vector<uint8_t>> frames;
        for (const auto& d : Udp(50))
            frames.push_back(testfile::Frame(DLT_EN10MB, d));
        QVERIFY(testfile::WritePcap(played, DLT_EN10MB, frames));
        CMonitorDlg dlg;
        dlg.Dialogs().openCaptureFile = [&](QWidget*) -> std::optional<QString> {
            return QString::fromStdString(played);
        };
        ScriptedTraffic flood;
        flood.repeat = true;
        flood.datagrams = Udp(3);
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(flood); });
        RunModalWith(dlg, [&] {
            ClickAddress(dlg, 1);
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_VERIFY(dlg.Capture().RowsInserted() > 100);
            AnswerSaveDialogWith(dlg, path);
            ChooseFromContextMenu(dlg, kRecordEntry);
            QTRY_VERIFY(dlg.Recording().DatagramsWritten() > 1000);
            ChooseFromContextMenu(dlg, kStopRecordingEntry);
            QCOMPARE(RecordEntryText(dlg), kRecordEntry);
            // Off: the capture goes on, the file takes nothing more.
            const uint64_t written = dlg.Recording().DatagramsWritten();
            const uint64_t received = dlg.Capture().DatagramsReceived();
            QTRY_VERIFY(dlg.Capture().DatagramsReceived() > received + 1000);
            QCOMPARE(dlg.Recording().DatagramsWritten(), written);
            input::Click(dlg.GetDlgItem(IDC_STOP));
            const readback::File file = readback::WithLibpcap(path);
            QVERIFY2(file.clean, file.error.c_str());
            QCOMPARE(file.packets.size(), written);
            QVERIFY(TimesRise(file));
            for (const auto& p : file.packets)
                QVERIFY(std::find(flood.datagrams.begin(), flood.datagrams.end(), p.bytes) !=
                        flood.datagrams.end());

            // On again, while a capture file plays and after: none of the file goes in.
            AnswerSaveDialogWith(dlg, path);  // replaced: the dialog has asked
            ChooseFromContextMenu(dlg, kOpenEntry);
            ChooseFromContextMenu(dlg, kRecordEntry);
            QTRY_VERIFY(Stopped(dlg));
            QCOMPARE(dlg.m_list.GetItemText(0, kColData), std::string("49"));
            ChooseFromContextMenu(dlg, kOpenEntry);
            QTRY_VERIFY(Stopped(dlg));
            QCOMPARE(dlg.Recording().DatagramsWritten(), uint64_t{0});
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_VERIFY(dlg.Recording().DatagramsWritten() > 100);
            input::Click(dlg.GetDlgItem(IDC_STOP));
            const readback::File after = readback::WithLibpcap(path);
            QVERIFY2(after.clean, after.error.c_str());
            QCOMPARE(after.packets.size(), dlg.Recording().DatagramsWritten());
            QVERIFY(std::find(flood.datagrams.begin(), flood.datagrams.end(),
                              after.packets[0].bytes) != flood.datagrams.end());
            QVERIFY(g_boxes.empty());
        });
    }

    // The file removed under the recording: the capture goes on, one message
    // names the file and the reason, and the entry turns recording on again.
    void aRemovedFileEndsTheRecording() {
        QTemporaryDir dir;
        const std::string path = dir.filePath("gone.pcapng").toStdString();
        CMonitorDlg dlg;
        ScriptedTraffic flood;
        flood.repeat = true;
        flood.datagrams = Udp(3);
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(flood); });
        StderrCapture err;
        RunModalWith(dlg, [&] {
            ClickAddress(dlg, 1);
            AnswerSaveDialogWith(dlg, path);
            ChooseFromContextMenu(dlg, kRecordEntry);
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_VERIFY(dlg.Recording().DatagramsWritten() > 0);
            QVERIFY(QFile::remove(QString::fromStdString(path)));
            QTRY_COMPARE(g_boxes.size(), size_t{1});
            QCOMPARE(g_boxes[0].text,
                     QString("记录到文件“%1”时出错：文件已被删除，或它所在的文件夹已不存在。记录已"
                             "停止，捕获仍在继续；文件中已写入的 %2 个数据报完整可读。")
                         .arg(QString::fromStdString(path))
                         .arg(dlg.Recording().DatagramsWritten()));
            QCOMPARE(g_boxes[0].type, MB_ICONSTOP);
            QCOMPARE(RecordEntryText(dlg), kRecordEntry);
            const uint64_t rows = dlg.Capture().RowsInserted();
            QTRY_VERIFY(dlg.Capture().RowsInserted() > rows + 1000);
            input::Click(dlg.GetDlgItem(IDC_STOP));
            QCOMPARE(g_boxes.size(), size_t{1});
            QVERIFY(err.Figures().back().endsWith(", recording failed: No such file or directory"));
        });
    }

    // A full disk mid-recording (a small tmpfs in a mount namespace of this
    // process's own): the capture goes on, one message, and the file keeps
    // every datagram written before, readable to its end.
    void aFullDiskEndsTheRecording() {
        // In CI as root a refused mount is a failure, not a skip.
        const bool mustRun = std::getenv("CI") != nullptr && geteuid() == 0;
        const bool mounted = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
                             mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        QTemporaryDir dir;
        if (!mounted || mount("tmpfs", qPrintable(dir.path()), "tmpfs", 0, "size=256k") != 0) {
            QVERIFY2(!mustRun, std::strerror(errno));
            QSKIP("needs root and a mount namespace to fill a small tmpfs");
        }
        const std::string path = dir.filePath("full.pcapng").toStdString();
        CMonitorDlg dlg;
        ScriptedTraffic flood;
        flood.repeat = true;
        flood.datagrams = Udp(5, 9, 1000);
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(flood); });
        StderrCapture err;
        RunModalWith(dlg, [&] {
            ClickAddress(dlg, 1);
            ChooseFromContextMenu(dlg, kStatsEntry);
            AnswerSaveDialogWith(dlg, path);
            ChooseFromContextMenu(dlg, kRecordEntry);
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_COMPARE_WITH_TIMEOUT(g_boxes.size(), size_t{1}, 20000);
            const uint64_t written = dlg.Recording().DatagramsWritten();
            QVERIFY(written > 100);
            QCOMPARE(g_boxes[0].text,
                     QString("记录到文件“%1”时出错：磁盘已满。记录已停止，捕获仍在继续；文件中已"
                             "写入的 %2 个数据报完整可读。")
                         .arg(QString::fromStdString(path))
                         .arg(written));
            QCOMPARE(RecordEntryText(dlg), kRecordEntry);
            QCOMPARE(LabelText(*dlg.StatsWindow(), IDC_STATS_REC_STATE),
                     QString("写入失败：磁盘已满"));
            const uint64_t rows = dlg.Capture().RowsInserted();
            QTRY_VERIFY(dlg.Capture().RowsInserted() > rows + 1000);  // the capture goes on
            input::Click(dlg.GetDlgItem(IDC_STOP));
            QCOMPARE(g_boxes.size(), size_t{1});
            QVERIFY(err.Figures().back().endsWith(", recording failed: No space left on device"));
            for (const readback::File& file :
                 {readback::WithLibpcap(path), readback::WithTcpdump(path)}) {
                QVERIFY2(file.clean, file.error.c_str());
                QCOMPARE(file.packets.size(), written);
            }
        });
        umount2(qPrintable(dir.path()), MNT_DETACH);
    }

    // 保存捕获文件... in a folder everyone may write to (sticky, as /tmp),
    // through Qt's own dialog, onto names others can set there. A new file is
    // the user's alone; every other case ends with a message naming the file
    // and nothing lost or given away: another user's file, links and pipes
    // stay as they were, a file-size limit leaves a file readable to its last
    // block, and the file being recorded keeps its recording, which goes on.
    void savesLeaveWhatIsNotTheUsersAlone() {
        QTemporaryDir top;
        const QString shared = top.filePath("shared");
        QVERIFY(QDir().mkdir(shared));
        QVERIFY(::chmod(qPrintable(shared), 01777) == 0);
        const auto at = [&](const char* name) {
            return QDir(shared).absoluteFilePath(QString::fromLatin1(name)).toStdString();
        };
        CMonitorDlg dlg;
        ScriptedTraffic big;  // 500 rows of 4 KB: 2 MB of list
        big.datagrams = Udp(500, 9, 4000);
        ScriptedTraffic flood;
        flood.repeat = true;
        flood.datagrams = Udp(3);
        ScriptedTraffic* next = &big;
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(*next); });
        const std::string rec = at("rec.pcapng");
        // Typed whole: the dialog opens in the folder it showed last.
        const std::string recTyped = at("rec");
        std::string recorded;  // the recording's bytes when the capture stopped

        struct Case {
            const char* typed;  // into the dialog; the suffix is added
            const char* why;    // the message, %1 the file
            std::function<void(const std::string& path)> setUp;
            std::function<void(const std::string& path)> check;
            rlim_t sizeLimit = RLIM_INFINITY;
            bool needsRoot = false;  // to give a file to another user
        };
        const std::string someone = "someone else's capture\n";
        std::string whole;  // the whole list saved, for the size-limited case
        const std::vector<Case> cases = {
            {"theirs", "%1 属于另一用户，没有写入。",
             [&](const std::string& path) {
                 std::ofstream(path) << someone;
                 QVERIFY(::chown(path.c_str(), 65534, 65534) == 0);
                 QVERIFY(::chmod(path.c_str(), 0666) == 0);
             },
             [&](const std::string& path) {
                 const struct stat st = LstatOf(path);
                 QCOMPARE(st.st_uid, uid_t(65534));
                 QCOMPARE(st.st_mode & 07777, mode_t(0666));
                 QCOMPARE(ReadWhole(path), someone);
                 // Nor does a recording start in it.
                 const std::string typed = at("theirs");
                 TypeIntoNextFileDialog("记录到文件", typed.c_str());
                 ChooseFromContextMenu(dlg, kRecordEntry);
                 QCOMPARE(g_boxes.size(), size_t{2});
                 QCOMPARE(g_boxes[1].text, g_boxes[0].text);
                 QCOMPARE(RecordEntryText(dlg), kRecordEntry);
                 QCOMPARE(ReadWhole(path), someone);
                 QCOMPARE(LstatOf(path).st_uid, uid_t(65534));
             },
             RLIM_INFINITY, true},
            {"link", "%1 是符号链接，没有写入。",
             [&](const std::string& path) {
                 QVERIFY(::symlink(at("elsewhere.pcapng").c_str(), path.c_str()) == 0);
             },
             [&](const std::string& path) {
                 QVERIFY(S_ISLNK(LstatOf(path).st_mode));
                 QVERIFY(!QFileInfo::exists(QString::fromStdString(at("elsewhere.pcapng"))));
             }},
            {"pipe", "%1 不是普通文件，没有写入。",
             [&](const std::string& path) { QVERIFY(::mkfifo(path.c_str(), 0666) == 0); },
             [&](const std::string& path) { QVERIFY(S_ISFIFO(LstatOf(path).st_mode)); }},
            {"limited", "在存取 %1 时磁盘已满。",
             [&](const std::string& path) {
                 // A file of the user's, replaced in place: a file the save
                 // made itself would be removed again.
                 const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
                 QVERIFY(fd >= 0 && ::close(fd) == 0);
             },
             [&](const std::string& path) {
                 // Cut back to its last whole block: read to its end, each
                 // datagram the one the whole save holds there.
                 QVERIFY(QFileInfo(QString::fromStdString(path)).size() <= (1 << 20));
                 const readback::File cut = readback::WithLibpcap(path);
                 QVERIFY2(cut.clean, cut.error.c_str());
                 const readback::File all = readback::WithLibpcap(whole);
                 QVERIFY(cut.packets.size() > 200 && cut.packets.size() < all.packets.size());
                 QVERIFY(std::equal(cut.packets.begin(), cut.packets.end(), all.packets.begin()));
                 QCOMPARE(LstatOf(path).st_mode & 07777, mode_t(0600));
             },
             rlim_t{1} << 20},
            {"rec", "%1 是正在记录的文件，没有写入；记录照常继续。",
             [&](const std::string&) {
                 // On, between captures: the recorder has its file closed.
                 next = &flood;
                 TypeIntoNextFileDialog("记录到文件", recTyped.c_str());
                 ChooseFromContextMenu(dlg, kRecordEntry);
                 input::Click(dlg.GetDlgItem(IDC_START));
                 QTRY_VERIFY(dlg.Recording().DatagramsWritten() > 100);
                 input::Click(dlg.GetDlgItem(IDC_STOP));
                 recorded = ReadWhole(rec);
                 QVERIFY(!recorded.empty());
             },
             [&](const std::string& path) {
                 QCOMPARE(ReadWhole(path), recorded);
                 QCOMPARE(RecordEntryText(dlg), kStopRecordingEntry);
                 // The next capture goes on with it; a save meanwhile is refused too.
                 input::Click(dlg.GetDlgItem(IDC_START));
                 const uint64_t before = dlg.Recording().DatagramsWritten();
                 QTRY_VERIFY(dlg.Recording().DatagramsWritten() > before + 100);
                 TypeIntoNextFileDialog("保存捕获文件", recTyped.c_str());
                 ChooseFromContextMenu(dlg, kSaveEntry);
                 QCOMPARE(g_boxes.size(), size_t{2});
                 QCOMPARE(g_boxes[1].text, g_boxes[0].text);
                 const uint64_t after = dlg.Recording().DatagramsWritten();
                 QTRY_VERIFY(dlg.Recording().DatagramsWritten() > after + 100);
                 input::Click(dlg.GetDlgItem(IDC_STOP));
                 const readback::File file = readback::WithLibpcap(path);
                 QVERIFY2(file.clean, file.error.c_str());
                 QCOMPARE(file.packets.size(), dlg.Recording().DatagramsWritten());
                 QCOMPARE(ReadWhole(path).compare(0, recorded.size(), recorded), 0);
             }},
        };

        bool skipped = false;
        RunModalWith(dlg, [&] {
            ClickAddress(dlg, 1);
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_COMPARE(dlg.Capture().RowsInserted(), uint64_t{500});
            input::Click(dlg.GetDlgItem(IDC_STOP));
            QCOMPARE(dlg.m_list.GetItemCount(), 500);

            // A new file: the user's alone.
            whole = at("mine.pcapng");
            const std::string mine = at("mine");
            TypeIntoNextFileDialog("保存捕获文件", mine.c_str());
            ChooseFromContextMenu(dlg, kSaveEntry);
            QVERIFY(g_boxes.empty());
            QCOMPARE(LstatOf(whole).st_mode & 07777, mode_t(0600));
            QVERIFY(QFileInfo(QString::fromStdString(whole)).size() > 2 * (1 << 20) - 100000);

            for (const Case& c : cases) {
                const std::string path = at((std::string(c.typed) + ".pcapng").c_str());
                if (c.needsRoot && geteuid() != 0) {
                    skipped = true;
                    continue;
                }
                c.setUp(path);
                if (QTest::currentTestFailed())
                    return;
                QStringList names = QDir(shared).entryList(QDir::AllEntries | QDir::System);
                if (!names.contains(QString::fromStdString(path).section('/', -1)))
                    names << QString::fromStdString(path).section('/', -1);
                g_boxes.clear();
                ReplaceAnswerer yes;
                PipeGuard guard(path);
                rlimit saved{};
                QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
                rlimit limit = saved;
                limit.rlim_cur = std::min(c.sizeLimit, saved.rlim_max);
                QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
                const std::string typed = at(c.typed);
                TypeIntoNextFileDialog("保存捕获文件", typed.c_str());
                ChooseFromContextMenu(dlg, kSaveEntry);
                QVERIFY(::setrlimit(RLIMIT_FSIZE, &saved) == 0);
                QVERIFY2(!guard.Opened(), c.typed);
                QCOMPARE(g_boxes.size(), size_t{1});
                QCOMPARE(g_boxes[0].text,
                         QString::fromUtf8(c.why).arg(QString::fromStdString(path)));
                QCOMPARE(g_boxes[0].type, MB_ICONSTOP);
                c.check(path);
                if (QTest::currentTestFailed())
                    return;
                // Nothing made beside it.
                QStringList now = QDir(shared).entryList(QDir::AllEntries | QDir::System);
                names.sort();
                now.sort();
                QCOMPARE(now, names);
            }
        });
        if (skipped)
            QSKIP("another user's file needs root to make; the other cases passed");
    }

  private:
};

QTEST_MAIN(SaveRecordTest)
#include "test_save_record.moc"
