// The conversations window (连接) and the event list's tooltips, driven as a
// person drives them, on scripted traffic and capture files: the lines and
// their counts against what was sent (past the 500-row emptying too), the
// chart, sorting, the filter box, a file's lines, the export and its
// failures, and lines that keep their place while rows stream in.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pcap/pcap.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "app/monitordlg.h"
#include "app/socketlib.h"
#include "framework/gbk.h"
#include "res/resource.h"
#include "tests/app/dialog_driver.h"
#include "tests/app/user_input.h"
#include "tests/app/window_state.h"
#include "tests/capture/capture_file_writer.h"
#include "tests/capture/packet_builder.h"
#include "wire/ip_address.h"

using namespace testpkt;

namespace {

const QString kEntry = QStringLiteral("连接...");
const QString kOpenEntry = QStringLiteral("打开捕获文件...");

struct Box {
    QString caption, text;
    unsigned type;
};
std::vector<Box> g_boxes;

using M = ConversationModel;

std::vector<uint8_t> Between(std::array<uint8_t, 4> src, std::array<uint8_t, 4> dst,
                             uint8_t protocol, const std::vector<uint8_t>& transport) {
    return Datagram(testfile::Between(src, dst, protocol), transport);
}

constexpr std::array<uint8_t, 4> kHere{10, 0, 0, 5};
constexpr std::array<uint8_t, 4> kThere{10, 0, 0, 9};

// Three conversations of 10.0.0.5 and datagrams to an ignored port, 1,300 in
// all: 1,200 pass the filter, so the list is emptied twice on the way.
struct Traffic {
    std::vector<std::vector<uint8_t>> datagrams;
    Traffic() {
        const auto udpIn = Between(kThere, kHere, 17, Udp(5000, 9, Bytes("q")));            // 29 B
        const auto udpOut = Between(kHere, kThere, 17, Udp(9, 5000, Bytes("answer")));      // 34 B
        const auto tcpOut = Between(kHere, kThere, 6, Tcp(40000, 80, 0x18, Bytes("GET")));  // 43 B
        const auto tcpIn = Between(kThere, kHere, 6, Tcp(80, 40000, 0x10));                 // 40 B
        const auto icmp = Between(kThere, kHere, 1, IcmpEcho(0, Bytes("ping")));            // 32 B
        const auto ignored = Between(kThere, kHere, 17, Udp(5000, 7, Bytes("x")));
        for (int i = 0; i < 100; ++i) {
            for (const auto* d : {&udpIn, &udpIn, &udpIn, &udpOut, &udpOut, &tcpOut, &tcpOut,
                                  &tcpOut, &tcpIn, &tcpIn, &icmp, &icmp, &ignored})
                datagrams.push_back(*d);
        }
    }
};

void ChooseFromContextMenu(CMonitorDlg& dlg, const QString& entry) {
    input::ChooseFromContextMenu(dlg.window(), entry);
}

CConversationsDlg* OpenConversations(CMonitorDlg& dlg) {
    ChooseFromContextMenu(dlg, kEntry);
    CConversationsDlg* conv = dlg.ConversationsWindow();
    return conv && conv->IsOpen() ? conv : nullptr;
}

void ClickAddress(CMonitorDlg& dlg, int entry) {
    auto* box = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LOCAL_ADDRESSES));
    input::Click(box->viewport(), box->visualItemRect(box->item(entry)).center());
}

// Each line as protocol|local|remote -> its cells.
std::map<std::string, std::vector<std::string>> LinesByKey(const ConversationModel& m) {
    std::map<std::string, std::vector<std::string>> lines;
    for (int r = 0; r < m.rowCount(); ++r) {
        std::vector<std::string> cells;
        for (int c = 0; c < M::kColumns; ++c)
            cells.push_back(m.CellText(r, c));
        lines[cells[M::kProtocol] + "|" + cells[M::kLocalAddr] + ":" + cells[M::kLocalPort] + "|" +
              cells[M::kRemoteAddr] + ":" + cells[M::kRemotePort]] = cells;
    }
    return lines;
}

std::vector<std::string> Column(const ConversationModel& m, int column) {
    std::vector<std::string> cells;
    for (int r = 0; r < m.rowCount(); ++r)
        cells.push_back(m.CellText(r, column));
    return cells;
}

QString LabelText(CDialog& dlg, int id) {
    auto* label = qobject_cast<QLabel*>(dlg.GetDlgItem(id));
    return label ? label->text() : QString();
}

void TypeFilter(CConversationsDlg& conv, const char* text) {
    auto* box = qobject_cast<QLineEdit*>(conv.GetDlgItem(IDC_CONV_FILTER));
    input::Click(box);
    box->selectAll();
    input::Key(box, Qt::Key_Delete);
    input::Type(box, text);
}

std::string ReadFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The lines of a CSV text, without the byte-order mark and the line ends.
std::vector<std::string> CsvLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string rest = text.substr(text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0);
    for (size_t at; (at = rest.find("\r\n")) != std::string::npos; rest.erase(0, at + 2))
        lines.push_back(rest.substr(0, at));
    return lines;
}

// The lines as shown and the lines behind them, checked while they live.
struct ModelTesters {
    explicit ModelTesters(ConversationModel& m)
        : shown(&m, QAbstractItemModelTester::FailureReportingMode::QtTest),
          lines(&m.Source(), QAbstractItemModelTester::FailureReportingMode::QtTest) {}
    QAbstractItemModelTester shown;
    QAbstractItemModelTester lines;
};

// Lookups stay short: the resolver here may be slow or absent.
ConversationTracker::Options ShortLookups(size_t capacity = 10000) {
    ConversationTracker::Options options;
    options.names.deadline = std::chrono::milliseconds(500);
    options.capacity = capacity;
    return options;
}

// Writes the mixed capture file in `dir` and has 打开捕获文件... choose it.
bool OfferMixFile(CMonitorDlg& dlg, const QTemporaryDir& dir) {
    const std::string path = dir.filePath("mix.pcap").toStdString();
    std::vector<std::vector<uint8_t>> frames;
    for (const auto& d : testfile::Mix())
        frames.push_back(testfile::Frame(DLT_EN10MB, d));
    dlg.Dialogs().openCaptureFile = [path](QWidget*) -> std::optional<QString> {
        return QString::fromStdString(path);
    };
    return testfile::WritePcap(path, DLT_EN10MB, frames);
}

// Renames this process (its main thread, which /proc/PID/comm names) for a
// while: the program that the owner lookup finds.
class ProcessName {
  public:
    explicit ProcessName(const char* name) {
        prctl(PR_GET_NAME, before_);
        prctl(PR_SET_NAME, name);
    }
    ~ProcessName() { prctl(PR_SET_NAME, before_); }
    ProcessName(const ProcessName&) = delete;
    ProcessName& operator=(const ProcessName&) = delete;

  private:
    char before_[16] = {};
};

}  // namespace

class ConversationsTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void initTestCase() { testfile::UseTestTimeZone(); }

    void init() {
        g_boxes.clear();
        SetMessageBoxHookForTesting([](const QString& c, const QString& t, unsigned type) {
            g_boxes.push_back({c, t, type});
            return IDOK;
        });
        FakeHost({"192.168.1.2", "10.0.0.5", "9.1.1.1"});
    }

    // Every datagram that passes the filter is counted in its conversation,
    // those the 500-row limit emptied from the list too; the chart's seconds
    // add up to the same. Sorting by a heading and the filter box.
    void countsPastTheEmptying() {
        CMonitorDlg dlg(ShortLookups());
        ScriptedTraffic traffic;
        traffic.datagrams = Traffic().datagrams;
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(traffic); });
        RunModalWith(dlg, [&] {
            CConversationsDlg* conv = OpenConversations(dlg);
            QVERIFY(conv);
            QDialog* w = conv->window();
            QCOMPARE(w->windowTitle(), QString("连接"));
            QCOMPARE(w->parentWidget(), dlg.window());
            QVERIFY(!w->isModal());
            QCOMPARE(MisplacedControls(*conv), QStringList());
            ConversationModel& m = *conv->Model();
            const ModelTesters testers(m);
            QCOMPARE(m.rowCount(), 0);
            QCOMPARE(m.headerData(M::kProgram, Qt::Horizontal, Qt::DisplayRole).toString(),
                     QString("程序"));

            dlg.Capture().SetFilterSettings(Filter(0, 7));
            ClickAddress(dlg, 0);  // 10.0.0.5
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_COMPARE(dlg.Capture().RowsInserted(), uint64_t{1200});
            QCOMPARE(dlg.Capture().Figures().emptied, uint64_t{1000});
            QCOMPARE(dlg.m_list.GetItemCount(), 200);
            // The window follows by itself, once a second.
            QTRY_COMPARE(m.rowCount(), 3);
            QTRY_COMPARE(m.CellText(0, M::kInDatagrams), std::string("300"));
            const auto lines = LinesByKey(m);
            const auto& udp = lines.at("UDP|10.0.0.5:9|10.0.0.9:5000");
            QCOMPARE(udp[M::kInDatagrams], std::string("300"));
            QCOMPARE(udp[M::kOutDatagrams], std::string("200"));
            QCOMPARE(udp[M::kInBytes], std::string("8.5 KB"));  // 300 x 29 B
            QCOMPARE(m.data(m.index(0, M::kInBytes), Qt::ToolTipRole).toString(),
                     QString("8700 B"));
            const auto& tcp = lines.at("TCP|10.0.0.5:40000|10.0.0.9:80");
            QCOMPARE(tcp[M::kInDatagrams], std::string("200"));
            QCOMPARE(tcp[M::kOutDatagrams], std::string("300"));
            const auto& icmp = lines.at("ICMP|10.0.0.5:|10.0.0.9:");
            QCOMPARE(icmp[M::kInDatagrams], std::string("200"));
            QCOMPARE(icmp[M::kOutDatagrams], std::string("0"));
            QCOMPARE(icmp[M::kProgram], std::string("不适用"));
            QCOMPARE(LabelText(*conv, IDC_CONV_SUMMARY), QString("共 3 个连接，显示 3 个"));

            input::Click(dlg.GetDlgItem(IDC_STOP));
            conv->Refresh();

            // The chart, which ends at the last datagram once the capture stopped:
            // every counted datagram in some second of its span.
            uint64_t in = 0, out = 0, inBytes = 0, outBytes = 0;
            for (const SecondCounts& s : conv->Chart()->Series()) {
                in += s.inDatagrams;
                out += s.outDatagrams;
                inBytes += s.inBytes;
                outBytes += s.outBytes;
            }
            QCOMPARE(in, uint64_t{700});
            QCOMPARE(out, uint64_t{500});
            QCOMPARE(inBytes, uint64_t{300 * 29 + 200 * 40 + 200 * 32});
            QCOMPARE(outBytes, uint64_t{200 * 34 + 300 * 43});
            QVERIFY(conv->Chart()->DatagramScale() >= 300);

            // Sorted by a heading's click, then the other way by a second click.
            QHeaderView* header = conv->Lines()->horizontalHeader();
            input::ClickHeader(header, M::kOutDatagrams);
            QCOMPARE(Column(m, M::kOutDatagrams), (std::vector<std::string>{"0", "200", "300"}));
            input::ClickHeader(header, M::kOutDatagrams);
            QCOMPARE(Column(m, M::kOutDatagrams), (std::vector<std::string>{"300", "200", "0"}));
            input::ClickHeader(header, M::kProtocol);
            QCOMPARE(Column(m, M::kProtocol), (std::vector<std::string>{"ICMP", "TCP", "UDP"}));
            input::ClickHeader(header, M::kLocalPort);  // numbers as numbers: 9 before 40000
            QCOMPARE(Column(m, M::kLocalPort), (std::vector<std::string>{"", "9", "40000"}));

            // The filter box narrows the lines to those containing its text, in any case.
            TypeFilter(*conv, "udp");
            QCOMPARE(m.rowCount(), 1);
            QCOMPARE(m.CellText(0, M::kProtocol), std::string("UDP"));
            QCOMPARE(LabelText(*conv, IDC_CONV_SUMMARY), QString("共 3 个连接，显示 1 个"));
            input::Key(conv->GetDlgItem(IDC_CONV_FILTER), Qt::Key_Return);  // presses nothing
            QVERIFY(conv->IsOpen());
            TypeFilter(*conv, "40000");
            QCOMPARE(Column(m, M::kProtocol), (std::vector<std::string>{"TCP"}));
            TypeFilter(*conv, "10.0.0.9");
            QCOMPARE(m.rowCount(), 3);
            TypeFilter(*conv, "nothing like it");
            QCOMPARE(m.rowCount(), 0);
            TypeFilter(*conv, "");
            QCOMPARE(m.rowCount(), 3);

            // Grown, the window gives the room to the chart (a third of the
            // height) and the lines; 关闭 keeps its corner, 导出 its left edge.
            {
                QWidget* w = conv->window();
                QWidget* list = conv->GetDlgItem(IDC_CONV_LIST);
                QWidget* chart = conv->GetDlgItem(IDC_CONV_CHART);
                QWidget* close = conv->GetDlgItem(IDOK);
                QWidget* exportButton = conv->GetDlgItem(IDC_CONV_EXPORT);
                const QRect list0 = list->geometry(), chart0 = chart->geometry();
                const QRect close0 = close->geometry(), export0 = exportButton->geometry();
                w->resize(w->size() + QSize(90, 60));
                QCOMPARE(chart->geometry(), chart0.adjusted(0, 0, 90, 20));
                QCOMPARE(list->geometry(), list0.adjusted(0, 20, 90, 60));
                QCOMPARE(close->geometry(), close0.translated(90, 60));
                QCOMPARE(exportButton->geometry(), export0.translated(0, 60));
                // Never below the template.
                w->resize(w->size() - QSize(400, 400));
                QCOMPARE(list->geometry(), list0);
            }

            // Closed with its button; opened again, it shows the same lines.
            input::Click(conv->GetDlgItem(IDOK));
            QVERIFY(!conv->IsOpen());
            QVERIFY(OpenConversations(dlg));
            QCOMPARE(conv->Model()->rowCount(), 3);
        });
    }

    // While rows stream in, lines come and their order changes under a
    // sort; the filter takes half of them away and gives them back (many
    // lines at once: the view is told by a reset). The model stays
    // consistent (the tester watches every change), a selected line stays
    // with its conversation, and a new capture starts the lines afresh.
    void linesKeepTheirPlaceWhileRowsStream() {
        CMonitorDlg dlg(ShortLookups());
        ScriptedTraffic flood;
        flood.repeat = true;
        // 200 conversations, every other one with 10.0.1.9; conversation i
        // has i % 7 + 1 datagrams a round.
        for (int i = 0; i < 200; ++i) {
            const std::array<uint8_t, 4> peer =
                i % 2 ? kThere : std::array<uint8_t, 4>{10, 0, 1, 9};
            for (int k = 0; k <= i % 7; ++k)
                flood.datagrams.push_back(
                    Between(peer, kHere, 17, Udp(static_cast<uint16_t>(20000 + i), 9)));
        }
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(flood); });
        RunModalWith(dlg, [&] {
            CConversationsDlg* conv = OpenConversations(dlg);
            QVERIFY(conv);
            ConversationModel& m = *conv->Model();
            const ModelTesters testers(m);
            int removals = 0, moves = 0;
            connect(&m, &QAbstractItemModel::rowsRemoved, [&] { ++removals; });
            connect(&m, &QAbstractItemModel::layoutChanged, [&] { ++moves; });
            QTableView* view = conv->Lines();
            input::ClickHeader(view->horizontalHeader(), M::kInDatagrams);
            input::ClickHeader(view->horizontalHeader(), M::kInDatagrams);  // most first
            ClickAddress(dlg, 0);
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_COMPARE(m.rowCount(), 200);
            // A person clicks a line of 10.0.1.9 near the top.
            int row = 0;
            while (m.CellText(row, M::kRemoteAddr) != "10.0.1.9")
                ++row;
            input::Click(view->viewport(), input::RowPoint(view, row));
            const QModelIndexList picked = view->selectionModel()->selectedRows();
            QCOMPARE(picked.size(), 1);
            const uint64_t id = m.IdAt(picked[0].row());
            const std::string port = m.CellText(picked[0].row(), M::kRemotePort);
            const auto counted = [&] {
                return std::stoull(m.CellText(m.RowOfId(id), M::kInDatagrams));
            };
            const uint64_t before = counted();
            QTRY_VERIFY(counted() > before + 10);
            // Another heading, then back: fewest first now.
            input::ClickHeader(view->horizontalHeader(), M::kRemoteAddr);
            input::ClickHeader(view->horizontalHeader(), M::kInDatagrams);
            TypeFilter(*conv, "10.0.1.");
            QCOMPARE(m.rowCount(), 100);
            QTRY_VERIFY(counted() > before + 20);
            TypeFilter(*conv, "");
            QCOMPARE(m.rowCount(), 200);
            input::Click(dlg.GetDlgItem(IDC_STOP));
            conv->Refresh();
            QVERIFY(moves > 0);

            const QModelIndexList still = view->selectionModel()->selectedRows();
            QCOMPARE(still.size(), 1);
            QCOMPARE(m.IdAt(still[0].row()), id);
            QCOMPARE(m.CellText(still[0].row(), M::kRemotePort), port);
            const std::vector<std::string> in = Column(m, M::kInDatagrams);
            for (size_t r = 1; r < in.size(); ++r)
                QVERIFY(std::stoull(in[r - 1]) <= std::stoull(in[r]));

            // A new capture: its own conversations only, counted from nothing.
            flood.repeat = false;
            flood.datagrams = {Between(kHere, kThere, 6, Tcp(40001, 443, 0x02))};
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_COMPARE(m.rowCount(), 1);
            QTRY_COMPARE(m.CellText(0, M::kOutDatagrams), std::string("1"));
            QVERIFY(removals > 0);
            input::Click(dlg.GetDlgItem(IDC_STOP));
        });
    }

    // A capture file's lines say where they came from, and so do the
    // tooltips of its rows; rows of a live capture that followed are that
    // capture's, while the file's rows above them stay the file's.
    void aCaptureFileSaysFromFile() {
        QTemporaryDir dir;
        CMonitorDlg dlg(ShortLookups());
        QVERIFY(OfferMixFile(dlg, dir));
        ScriptedTraffic live;
        live.datagrams = {Between(kHere, kThere, 17, Udp(6000, 6001, Bytes("live")))};
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(live); });
        RunModalWith(dlg, [&] {
            CConversationsDlg* conv = OpenConversations(dlg);
            QVERIFY(conv);
            ConversationModel& m = *conv->Model();
            ChooseFromContextMenu(dlg, kOpenEntry);
            QTRY_VERIFY(dlg.GetDlgItem(IDC_START)->isEnabled());  // the file's end
            conv->Refresh();
            // Seven datagrams, six conversations (the first two are one TCP exchange).
            QCOMPARE(m.rowCount(), 6);
            for (int r = 0; r < m.rowCount(); ++r) {
                QCOMPARE(m.CellText(r, M::kProgram), std::string("来自文件"));
                QCOMPARE(m.CellText(r, M::kPid), std::string());
            }
            // Equal keys keep the order in which conversations came, whichever
            // the direction; so does every line until a heading is clicked.
            const auto ids = [&] {
                std::vector<uint64_t> v;
                for (int r = 0; r < m.rowCount(); ++r)
                    v.push_back(m.IdAt(r));
                return v;
            };
            const std::vector<uint64_t> arrival = ids();
            QVERIFY(std::is_sorted(arrival.begin(), arrival.end()));
            for (int click = 0; click < 2; ++click) {
                input::ClickHeader(conv->Lines()->horizontalHeader(), M::kProgram);
                QCOMPARE(ids(), arrival);
            }
            // The chart ends at the file's last second, not now.
            const auto& series = conv->Chart()->Series();
            QCOMPARE(series.back().second, testfile::kFirstSecond + 6);

            // A row's tooltip as shown: its cell's text, then the program and the hosts.
            const auto tip = [&](int row, int column) {
                ListRowStore& s = dlg.m_list.store();
                return TipAsShown(s.data(s.index(row, column), Qt::ToolTipRole).toString()).text;
            };
            const int fileRow = dlg.m_list.GetItemCount() - 1;  // the file's first datagram
            const QStringList lines = tip(fileRow, kColData).split('\n');
            QCOMPARE(lines.size(), 3);  // the SYN's data cell is empty
            QCOMPARE(lines[0], QString("程序: 来自文件"));
            QVERIFY2(lines[1].startsWith("10.0.0.5: "), qPrintable(lines[1]));
            QVERIFY2(lines[2].startsWith("10.0.0.9: "), qPrintable(lines[2]));
            QVERIFY(tip(fileRow, kColSrcAddr).startsWith("10.0.0.5\n\n程序: 来自文件\n"));

            // Live rows after it: not the file's, and the file's rows stay the file's.
            ClickAddress(dlg, 0);
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_COMPARE(dlg.m_list.GetItemCount(), 8);
            input::Click(dlg.GetDlgItem(IDC_STOP));
            QVERIFY(!tip(0, kColData).contains("来自文件"));
            QVERIFY(tip(0, kColData).startsWith("live\n\n程序: "));
            QVERIFY(tip(7, kColData).contains("程序: 来自文件"));
            conv->Refresh();
            QCOMPARE(m.rowCount(), 1);
            QVERIFY(m.CellText(0, M::kProgram) != "来自文件");

            // And a person resting the pointer on a row sees it.
            QTableView* list = dlg.m_list.view();
            input::Activate(dlg.window());
            const QPoint at = input::RowPoint(list, 7);
            QTest::mouseMove(list->viewport(), at);
            QTest::mouseMove(list->viewport(), at + QPoint(1, 0));
            QTRY_VERIFY(QToolTip::isVisible());
            QVERIFY2(ToolTipOnScreen().text.contains("程序: 来自文件"),
                     qPrintable(QToolTip::text()));
        });
    }

    // Text from outside shows as what was received. Payloads that look like
    // markup, or like the tooltip's own lines, show as themselves in a row's
    // tooltip, above the real program and host lines, and load nothing; a
    // break in a payload is an escape, not a line. A program whose name holds
    // markup, a bidi override and controls shows it escaped in the 连接
    // window's cell and tooltip, and in its CSV.
    void textFromOutsideShowsAsReceived() {
        // This process holds the local end, under that name.
        const ProcessName renamed("<b>\xE2\x80\xAE\x1B\xC2\x85\\</b>");
        const QString program = "<b>\\u202E\\u001B\\u0085\\\\</b>";
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof sa;
        QCOMPARE(bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
        QCOMPARE(getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &size), 0);
        const uint16_t port = ntohs(sa.sin_port);
        const passwd* user = getpwuid(geteuid());
        QVERIFY(user);
        const QString programLine = QString("程序: %1 (PID %2, 用户 %3)")
                                        .arg(program)
                                        .arg(getpid())
                                        .arg(QString::fromUtf8(user->pw_name));

        struct Case {
            std::string payload;
            QString shown;
        };
        const QString lie = "<b>程序: sshd (PID 1, 用户 root)</b><!--";
        // Oldest first: the list shows them bottom up, the lie on top.
        const std::vector<Case> cases = {
            {"two\nlines\\", "two\\u000Alines\\\\"},
            // The list reads payloads as GBK: the UTF-8 of U+2028, and of
            // U+202E, is a hanzi and a lead byte without its trail.
            {"\xE2\x80\xA8", "鈥\uFFFD"},
            {"\xE2\x80\xAE", "鈥\uFFFD"},
            {"<!--", "<!--"},
            {"<img src=/etc/hostname>", "<img src=/etc/hostname>"},
            {ToGbk(lie), lie},
        };
        ScriptedTraffic traffic;
        for (const Case& c : cases)
            traffic.datagrams.push_back(
                Between({127, 0, 0, 2}, {127, 0, 0, 1}, 17, Udp(9, port, Bytes(c.payload))));
        FakeHost({"127.0.0.1"});
        CMonitorDlg dlg(ShortLookups());
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(traffic); });
        QTemporaryDir dir;
        RunModalWith(dlg, [&] {
            ClickAddress(dlg, 0);
            input::Click(dlg.GetDlgItem(IDC_START));
            const int rows = static_cast<int>(cases.size());
            QTRY_COMPARE(dlg.m_list.GetItemCount(), rows);
            input::Click(dlg.GetDlgItem(IDC_STOP));

            // The 连接 window: its line names the program once the lookup ends.
            CConversationsDlg* conv = OpenConversations(dlg);
            QVERIFY(conv);
            ConversationModel& m = *conv->Model();
            QTRY_COMPARE(m.rowCount(), 1);
            QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(m.CellText(0, M::kProgram)), program,
                                      20000);
            QTableView* lines = conv->Lines();
            QCOMPARE(lines->model()->data(lines->model()->index(0, M::kProgram)).toString(),
                     program);
            // The offscreen platform gives the pointer to the first window
            // under it, whichever lies on top: the main window steps aside
            // while the pointer rests in the 连接 window.
            const QPoint home = dlg.window()->pos();
            dlg.window()->move(home.x(), QGuiApplication::primaryScreen()->geometry().bottom());
            QVERIFY(input::Activate(conv->window()));
            lines->scrollTo(m.index(0, M::kProgram));
            const QPoint cell = lines->visualRect(m.index(0, M::kProgram)).center();
            QVERIFY(lines->viewport()->rect().contains(cell));
            QTest::mouseMove(lines->viewport(), cell);
            QTest::mouseMove(lines->viewport(), cell + QPoint(1, 0));
            QTRY_COMPARE(ToolTipOnScreen().text, programLine.mid(4));
            QCOMPARE(ToolTipOnScreen().images, 0);
            const QString csv = dir.filePath("names.csv");
            dlg.Dialogs().exportConversations = [&](QWidget*, const QString&) {
                return std::optional<QString>(csv);
            };
            input::Click(conv->GetDlgItem(IDC_CONV_EXPORT));
            const std::vector<std::string> written = CsvLines(ReadFile(csv));
            QCOMPARE(written.size(), size_t{2});
            const std::string head = "UDP,127.0.0.1," + std::to_string(port) + ",127.0.0.2,9,";
            QVERIFY2(written[1].rfind(head, 0) == 0, written[1].c_str());
            const std::string fields = "," + program.toStdString() + "," +
                                       std::to_string(getpid()) + "," + user->pw_name + ",";
            QVERIFY2(written[1].find(fields) != std::string::npos, written[1].c_str());
            input::Click(conv->GetDlgItem(IDOK));
            QToolTip::hideText();
            dlg.window()->move(home);

            // Each row's data cell, hovered: what was received, then our lines.
            QTableView* list = dlg.m_list.view();
            QVERIFY(input::Activate(dlg.window()));
            for (int row = 0; row < rows; ++row) {
                const Case& c = cases[static_cast<size_t>(rows - 1 - row)];  // newest on top
                QTRY_VERIFY(!QToolTip::isVisible());  // no tip of the row before
                const QPoint at =
                    list->visualRect(dlg.m_list.store().index(row, kColData)).center();
                QVERIFY(list->viewport()->rect().contains(at));
                QTest::mouseMove(list->viewport(), at);
                QTest::mouseMove(list->viewport(), at + QPoint(1, 0));
                QTRY_VERIFY(QToolTip::isVisible());
                const ShownTip tip = ToolTipOnScreen();
                const QStringList said = tip.text.split('\n');
                QCOMPARE(said.size(), 5);
                QCOMPARE(said[0], c.shown);
                QCOMPARE(said[1], QString());
                QCOMPARE(said[2], programLine);
                QVERIFY2(said[3].startsWith("127.0.0.2: "), qPrintable(said[3]));
                QVERIFY2(said[4].startsWith("127.0.0.1: "), qPrintable(said[4]));
                QCOMPARE(tip.images, 0);
                QToolTip::hideText();
            }
        });
        close(fd);
    }

    // Many lines gone at once reach the view as one reset: the selection and
    // the current line stay with their conversations all the same.
    void manyLinesGoneAtOnceKeepTheSelection() {
        CMonitorDlg dlg(ShortLookups(150));
        RunModalWith(dlg, [&] {
            CConversationsDlg* conv = OpenConversations(dlg);
            QVERIFY(conv);
            ConversationModel& m = *conv->Model();
            const ModelTesters testers(m);
            int resets = 0;
            connect(&m, &QAbstractItemModel::modelReset, [&] { ++resets; });
            // Batches as the capture thread hands them over, without one.
            ConversationTracker& talk = dlg.Conversations();
            talk.BeginCapture(false, "10.0.0.5");
            uint32_t here = 0;
            QVERIFY(ParseIpv4("10.0.0.5", &here));
            int64_t now = int64_t{testfile::kFirstSecond} * 1'000'000'000;
            const auto send = [&](int first, int end, int step) {
                ConversationDeltas deltas;
                for (int i = first; i < end; i += step) {
                    const auto d = Between(kHere, kThere, 17,
                                           Udp(static_cast<uint16_t>(20000 + i), 53, Bytes("q")));
                    deltas.AddDatagram(d.data(), static_cast<int>(d.size()), here, now += 1000);
                }
                talk.Merge(deltas);
                conv->Refresh();
            };
            send(0, 150, 1);
            QCOMPARE(m.rowCount(), 150);
            QTableView* view = conv->Lines();
            input::ClickHeader(view->horizontalHeader(), M::kLocalPort);
            input::ClickHeader(view->horizontalHeader(), M::kLocalPort);  // highest first
            const int picked = 150 - 1 - 100;                             // port 20100
            view->scrollTo(m.index(picked, 0));
            input::Click(view->viewport(), input::RowPoint(view, picked));
            QCOMPARE(m.CellText(picked, M::kLocalPort), std::string("20100"));
            const uint64_t id = m.IdAt(picked);

            // Every other conversation active again, then 75 new ones: the
            // 75 least active, every other line, go.
            send(0, 150, 2);
            send(150, 225, 1);
            QCOMPARE(resets, 1);
            QCOMPARE(m.rowCount(), 150);
            const QModelIndexList still = view->selectionModel()->selectedRows();
            QCOMPARE(still.size(), 1);
            QCOMPARE(m.IdAt(still[0].row()), id);
            QCOMPARE(m.IdAt(view->currentIndex().row()), id);
            QCOMPARE(m.CellText(0, M::kLocalPort), std::string("20224"));
        });
    }

    // The table keeps at most its limit of conversations: the least recently
    // active go first, and the window says how many went.
    void theLimitDropsTheLeastActive() {
        QTemporaryDir dir;
        CMonitorDlg dlg(ShortLookups(4));
        QVERIFY(OfferMixFile(dlg, dir));
        RunModalWith(dlg, [&] {
            CConversationsDlg* conv = OpenConversations(dlg);
            QVERIFY(conv);
            ChooseFromContextMenu(dlg, kOpenEntry);
            QTRY_VERIFY(dlg.GetDlgItem(IDC_START)->isEnabled());
            conv->Refresh();
            // Six conversations, one a second: the first two went.
            ConversationModel& m = *conv->Model();
            QCOMPARE(m.rowCount(), 4);
            QCOMPARE(Column(m, M::kProtocol),
                     (std::vector<std::string>{"ICMP", "UDP", "TCP", "TCP"}));
            QCOMPARE(
                LabelText(*conv, IDC_CONV_SUMMARY),
                QString(
                    "共 4 个连接，显示 4 个；为留在 4 个的上限内，已移除最久未活动的连接 2 个"));
        });
    }

    // IPv6 conversations in the window beside IPv4 ones, while the list and
    // its figures hold IPv4 alone; an address column sorts by number, every
    // IPv4 address before every IPv6 one, both ways.
    void ipv6LinesBesideIpv4() {
        CMonitorDlg dlg(ShortLookups());
        ScriptedTraffic traffic;
        traffic.datagrams = Traffic().datagrams;
        Ip6 ip6;
        ip6.protocol = 17;
        const char* remotes[] = {"2001:db8::10", "2001:db8::9", "fe80::1"};
        for (int i = 0; i < 3; ++i) {
            Ipv6Address remote{};
            QVERIFY(ParseIpv6(remotes[i], &remote));
            ip6.dst = remote;
            for (int n = 0; n <= i; ++n)
                traffic.datagrams.push_back(
                    Datagram6(ip6, Udp(static_cast<uint16_t>(50000 + i), 53, Bytes("q"))));
        }
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(traffic); });
        RunModalWith(dlg, [&] {
            CConversationsDlg* conv = OpenConversations(dlg);
            QVERIFY(conv);
            ConversationModel& m = *conv->Model();
            const ModelTesters testers(m);
            dlg.Capture().SetFilterSettings(Filter(0, 7));
            ClickAddress(dlg, 0);
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_COMPARE(dlg.Capture().RowsInserted(), uint64_t{1200});
            QTRY_COMPARE(m.rowCount(), 6);
            input::Click(dlg.GetDlgItem(IDC_STOP));
            QCOMPARE(dlg.Capture().Figures().received, uint64_t{1300});
            const auto lines = LinesByKey(m);
            const auto& fe80 = lines.at("UDP|2001:db8::5:50002|fe80::1:53");
            QCOMPARE(fe80[M::kOutDatagrams], std::string("3"));
            QCOMPARE(fe80[M::kOutBytes], std::string("147 B"));  // 40 + 8 + 1 each

            QTableView* view = conv->Lines();
            const auto ordered = [&](int direction) {
                const std::vector<std::string> cells = Column(m, M::kRemoteAddr);
                for (size_t r = 1; r < cells.size(); ++r) {
                    IpAddress a, b;
                    if (!ParseIp(cells[r - 1], &a) || !ParseIp(cells[r], &b))
                        return false;
                    if (direction * (CompareIp(a, b) < 0 ? -1 : CompareIp(a, b) > 0 ? 1 : 0) > 0)
                        return false;
                }
                return true;
            };
            input::ClickHeader(view->horizontalHeader(), M::kRemoteAddr);
            const int first = ordered(1) ? 1 : -1;
            QVERIFY(ordered(first));
            input::ClickHeader(view->horizontalHeader(), M::kRemoteAddr);
            QVERIFY(ordered(-first));
            QVERIFY(!ordered(first));
            const std::vector<std::string> cells = Column(m, M::kRemoteAddr);
            const std::vector<std::string> ascending = {"10.0.0.9",    "10.0.0.9",     "10.0.0.9",
                                                        "2001:db8::9", "2001:db8::10", "fe80::1"};
            QVERIFY(cells == ascending ||
                    cells == std::vector<std::string>(ascending.rbegin(), ascending.rend()));
        });
    }

    // 导出... writes the lines shown (the filter's and the order's) as CSV:
    // its save dialog, the file, Ctrl+S, and a file that cannot be written.
    void exportWritesTheLinesShown() {
        CMonitorDlg dlg(ShortLookups());
        ScriptedTraffic traffic;
        traffic.datagrams = Traffic().datagrams;
        dlg.SetEndpointFactory([&] { return MakeScriptedEndpoint(traffic); });
        QTemporaryDir dir;
        RunModalWith(dlg, [&] {
            dlg.Capture().SetFilterSettings(Filter(0, 7));
            ClickAddress(dlg, 0);
            input::Click(dlg.GetDlgItem(IDC_START));
            QTRY_COMPARE(dlg.Capture().RowsInserted(), uint64_t{1200});
            input::Click(dlg.GetDlgItem(IDC_STOP));
            CConversationsDlg* conv = OpenConversations(dlg);
            QVERIFY(conv);
            TypeFilter(*conv, "10.0.0.5");
            input::ClickHeader(conv->Lines()->horizontalHeader(), M::kInBytes);

            // The real save dialog: its caption, suffix and filters; a name typed without suffix.
            QString suffix;
            QStringList filters;
            WhenDialogShows("导出连接", [&](QDialog* d) {
                if (auto* fd = qobject_cast<QFileDialog*>(d)) {
                    suffix = fd->defaultSuffix();
                    filters = fd->nameFilters();
                    fd->setDirectory(dir.path());
                }
                QVERIFY(input::Activate(d));
                if (auto* name = d->findChild<QLineEdit*>("fileNameEdit")) {
                    name->clear();
                    input::Type(name, "exported");
                }
                for (int i = 0; i < 3 && d->isVisible(); ++i) {
                    input::Key(d, Qt::Key_Return);
                    QCoreApplication::processEvents();
                }
                if (d->isVisible())
                    d->reject();
            });
            input::Click(conv->GetDlgItem(IDC_CONV_EXPORT));
            QCOMPARE(suffix, QString("csv"));
            QCOMPARE(filters, (QStringList{"CSV 文件 (*.csv)", "所有文件 (*)"}));
            QVERIFY2(QFile::exists(dir.filePath("exported.csv")),
                     qPrintable(QDir(dir.path()).entryList(QDir::Files).join(", ")));
            const std::string text = ReadFile(dir.filePath("exported.csv"));
            QVERIFY(text.rfind("\xEF\xBB\xBF", 0) == 0);  // UTF-8 with a byte-order mark
            const std::vector<std::string> lines = CsvLines(text);
            QCOMPARE(lines.size(), size_t{4});
            QCOMPARE(lines[0],
                     std::string("协议,本地地址,本地端口,远端地址,远端端口,远端主机,名称来源,程序,"
                                 "PID,用户,入数据报,入字节,出数据报,出字节,首次,最近,应用,"
                                 "国家/地区,网络"));
            // Every address here is private: named so without the database.
            QVERIFY(lines[1].ends_with(",私有网络,"));
            // In the order shown: by bytes in, fewest first.
            QVERIFY(lines[1].rfind("ICMP,10.0.0.5,,10.0.0.9,,", 0) == 0);
            QVERIFY(lines[1].find(",200,6400,0,0,") != std::string::npos);
            QVERIFY(lines[2].rfind("TCP,10.0.0.5,40000,10.0.0.9,80,", 0) == 0);
            QVERIFY(lines[2].find(",200,8000,300,12900,") != std::string::npos);
            QVERIFY(lines[3].rfind("UDP,10.0.0.5,9,10.0.0.9,5000,", 0) == 0);
            QVERIFY(g_boxes.empty());

            // Narrowed, the export holds what is shown; Ctrl+S in the window asks the same.
            TypeFilter(*conv, "udp");
            int asked = 0;
            QString written = dir.filePath("udp.csv");
            dlg.Dialogs().exportConversations = [&](QWidget* owner, const QString& name) {
                ++asked;
                [&] { QCOMPARE(owner, conv->window()); }();
                [&] { QVERIFY(name.startsWith("quorvelan-connections-")); }();
                return std::optional<QString>(written);
            };
            QVERIFY(input::Activate(conv->window()));
            input::Key(conv->window(), Qt::Key_S, Qt::ControlModifier);
            QCOMPARE(asked, 1);
            QCOMPARE(CsvLines(ReadFile(written)).size(), size_t{2});

            // A file that cannot be written: a message, and no file left behind.
            written = dir.filePath("missing/folder/x.csv");
            input::Click(conv->GetDlgItem(IDC_CONV_EXPORT));
            QCOMPARE(asked, 2);
            QCOMPARE(g_boxes.size(), size_t{1});
            QCOMPARE(g_boxes[0].caption, AfxAppName());
            QCOMPARE(g_boxes[0].text, "无法写入文件“" + written + "”：No such file or directory。");
            QCOMPARE(g_boxes[0].type, MB_ICONSTOP);
            QVERIFY(!QFile::exists(written));
        });
    }

  private:
};

QTEST_MAIN(ConversationsTest)
#include "test_conversations.moc"
