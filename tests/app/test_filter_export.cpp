// The filter dialog driven through its widgets, and saving the list.
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/monitordlg.h"
#include "app/socketlib.h"
#include "dialog_driver.h"
#include "framework/ipaddress.h"
#include "res/resource.h"
#include "tests/capture/packet_builder.h"

namespace {

struct Box {
    QString text;
    unsigned type;
};
std::vector<Box> g_boxes;

QPushButton* Button(QDialog* d, const QString& text) {
    for (auto* b : d->findChildren<QPushButton*>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

QLineEdit* Edit(QDialog* d, int id) {
    for (auto* e : d->findChildren<QLineEdit*>()) {
        if (e->property("ctlId").toInt() == id)
            return e;
    }
    return nullptr;
}

Ip4FieldsWidget* Address(QDialog* d, int id) {
    for (auto* w : d->findChildren<Ip4FieldsWidget*>()) {
        if (w->property("ctlId").toInt() == id)
            return w;
    }
    return nullptr;
}

QString Label(CMonitorDlg& dlg, int id) {
    return qobject_cast<QLabel*>(dlg.GetDlgItem(id))->text();
}

QStringList Labels(CMonitorDlg& dlg) {
    return {Label(dlg, IDC_SRC_LABEL), Label(dlg, IDC_DST_LABEL), Label(dlg, IDC_MONITORED_LABEL),
            Label(dlg, IDC_IGNORED_LABEL)};
}

// Opens the filter dialog, lets `act` work on it, and presses OK or Cancel.
void RunFilter(CMonitorDlg& dlg, std::function<void(QDialog*)> act, bool ok) {
    WhenDialogShows("IDS过滤器", [act, ok](QDialog* f) {
        act(f);
        if (ok) {
            Button(f, "确定")->click();
        } else {
            f->reject();
        }
    });
    dlg.OnFilter();
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

class FilterExportTest : public QObject {
    Q_OBJECT
  private Q_SLOTS:
    void init() {
        g_boxes.clear();
        SetMessageBoxHookForTesting([](const QString&, const QString& t, unsigned type) {
            g_boxes.push_back({t, type});
            return IDOK;
        });
        SocketLibrary::Instance().localAddresses = [] {
            return std::vector<std::string>{"10.0.0.5"};
        };
    }

    void filterDialogOpensCancelsAndAccepts() {
        CMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            const QStringList initial = Labels(dlg);
            // First opening: 0.0.0.0 twice, ports 0. Cancel after edits changes nothing.
            RunFilter(
                dlg,
                [](QDialog* f) {
                    uint32_t a = 1;
                    Address(f, IDC_SRC_ADDRESS)->address(a);
                    QCOMPARE(a, 0u);
                    QCOMPARE(Edit(f, IDC_MONITORED_EDIT)->text(), QString("0"));
                    QCOMPARE(Edit(f, IDC_IGNORED_EDIT)->text(), QString("0"));
                    QCOMPARE(f->focusWidget(), Button(f, "确定"));
                    Address(f, IDC_SRC_ADDRESS)->setAddress(0x01020304);
                    Edit(f, IDC_MONITORED_EDIT)->setText("80");
                },
                false);
            QCOMPARE(Labels(dlg), initial);
            QCOMPARE(dlg.Capture().PauseFlag.load(), 0);

            // OK without changes rewrites the labels in their formatted form.
            RunFilter(
                dlg, [](QDialog*) {}, true);
            QCOMPARE(Labels(dlg), (QStringList{"0.0.0.0", "0.0.0.0", "0", "0"}));

            // Addresses and ports are taken over and shown; the next opening shows them.
            RunFilter(
                dlg,
                [](QDialog* f) {
                    Address(f, IDC_SRC_ADDRESS)->setAddress(0x0A0000FF);  // 10.0.0.255
                    Address(f, IDC_DST_ADDRESS)->setAddress(0xC0A8010A);
                    Edit(f, IDC_MONITORED_EDIT)->setText("80");
                    Edit(f, IDC_IGNORED_EDIT)->setText("53");
                },
                true);
            QCOMPARE(Labels(dlg), (QStringList{"10.0.0.255", "192.168.1.10", "80", "53"}));
            QCOMPARE(dlg.m_filter.srcAddr, (std::array<uint8_t, 4>{10, 0, 0, 255}));
            QCOMPARE(dlg.Capture().CurrentFilterSettings().monitoredPort, uint16_t(80));
            RunFilter(
                dlg,
                [](QDialog* f) {
                    uint32_t a = 0;
                    Address(f, IDC_SRC_ADDRESS)->address(a);
                    QCOMPARE(a, 0x0A0000FFu);
                    QCOMPARE(Edit(f, IDC_IGNORED_EDIT)->text(), QString("53"));
                    // Letters and out-of-range numbers keep the last valid position.
                    Edit(f, IDC_IGNORED_EDIT)->setText("abc");
                    Edit(f, IDC_MONITORED_EDIT)->setText("40000");
                },
                true);
            QCOMPARE(Labels(dlg), (QStringList{"10.0.0.255", "192.168.1.10", "80", "53"}));

            // The range ends at 0 and 32765.
            RunFilter(
                dlg,
                [](QDialog* f) {
                    Edit(f, IDC_MONITORED_EDIT)->setText("32765");
                    Edit(f, IDC_IGNORED_EDIT)->setText("0");
                },
                true);
            QCOMPARE(Labels(dlg)[2], QString("32765"));
            QCOMPARE(Labels(dlg)[3], QString("0"));
        });
    }

    void captureIsPausedWhileTheFilterDialogIsOpen() {
        using namespace testpkt;
        CMonitorDlg dlg;
        Ip udp;
        udp.protocol = 17;
        ScriptedTraffic traffic;
        traffic.repeat = true;
        traffic.datagrams = {Datagram(udp, Udp(1000, 53, Bytes("dns"))),
                             Datagram(udp, Udp(1000, 9, Bytes("other")))};
        dlg.SetEndpointFactory([traffic] { return MakeScriptedEndpoint(traffic); });
        RunModalWith(dlg, [&] {
            dlg.LocalAddressList.SetCurSel(0);
            dlg.OnStart();
            QTRY_VERIFY(dlg.m_list.GetItemCount() > 10);
            int during = -1, opened = -1;
            RunFilter(
                dlg,
                [&](QDialog* f) {
                    opened = dlg.m_list.GetItemCount();
                    QTest::qWait(100);
                    during = dlg.m_list.GetItemCount();
                    QCOMPARE(dlg.Capture().PauseFlag.load(), 1);
                    Edit(f, IDC_MONITORED_EDIT)->setText("53");
                },
                true);
            QVERIFY(during - opened <= 1);  // at most the one already in flight
            dlg.OnClear();
            QTRY_VERIFY(dlg.m_list.GetItemCount() > 20);
            dlg.OnStop();
            for (int r = 0; r < dlg.m_list.GetItemCount(); ++r) {
                QCOMPARE(dlg.m_list.GetItemText(r, kColDstPort), std::string("53"));
            }
        });
    }

    void saveWritesExactlyTheListAtWriteTime() {
        QTemporaryDir dir;
        const QString path = dir.filePath("log.doc");
        CMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            for (const char* t : {"a", "b"}) {
                dlg.m_list.InsertItem(0, t);
            }
            QString proposed;
            CMonitorDlg::SaveFileDialog() = [&](QWidget*,
                                                const QString& name) -> std::optional<QString> {
                proposed = name;
                dlg.m_list.InsertItem(0, "c");  // arrives while the dialog is open
                return path;
            };
            dlg.OnSave();
            QVERIFY(QRegularExpression("^quorvelan-\\d\\d-\\d\\d-\\d\\d-\\d\\d$")
                        .match(proposed)
                        .hasMatch());
            const std::string got = ReadAll(path.toStdString());
            const std::string time = "\xCA\xB1\xBC\xE4:   ";
            QCOMPARE(got.find(time + "a"), size_t(0));
            QVERIFY(got.find(time + "b") < got.find(time + "c"));
            QCOMPARE(std::count(got.begin(), got.end(), '\n'), 30L);
            QVERIFY(g_boxes.empty());

            // Cancel creates nothing.
            CMonitorDlg::SaveFileDialog() = [](QWidget*, const QString&) {
                return std::optional<QString>();
            };
            std::filesystem::remove(path.toStdString());
            dlg.OnSave();
            QVERIFY(!QFile::exists(path));

            // Failures name the file with the stop icon; nothing is created.
            const QString bad = dir.filePath("missing/x.doc");
            CMonitorDlg::SaveFileDialog() = [bad](QWidget*, const QString&) {
                return std::optional<QString>(bad);
            };
            dlg.OnSave();
            QCOMPARE(g_boxes.size(), size_t(1));
            QCOMPARE(g_boxes[0].type, MB_ICONSTOP);
            QCOMPARE(g_boxes[0].text, bad + " 包含一个无效路径。");
            QVERIFY(!QFile::exists(bad));
            CMonitorDlg::SaveFileDialog() = [](QWidget*, const QString&) {
                return std::optional<QString>("/dev/full");
            };
            dlg.OnSave();
            QCOMPARE(g_boxes.size(), size_t(2));
            QCOMPARE(g_boxes[1].text, QString("在存取 /dev/full 时磁盘已满。"));
        });
    }

    // Root through sudo: a file the save made goes to the invoking user, one it
    // replaced (here root's own) keeps its owner.
    void saveThroughSudoGivesAwayOnlyAFileItMade() {
        if (geteuid() != 0)
            QSKIP("needs root");
        QTemporaryDir dir;
        const QString made = dir.filePath("new.doc");
        const QString existing = dir.filePath("roots.doc");
        std::ofstream(existing.toStdString()) << "root's own\n";
        qputenv("SUDO_UID", "4242");
        qputenv("SUDO_GID", "4343");
        CMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            dlg.m_list.InsertItem(0, "a");
            for (const QString& path : {made, existing}) {
                CMonitorDlg::SaveFileDialog() = [path](QWidget*, const QString&) {
                    return std::optional<QString>(path);
                };
                dlg.OnSave();
            }
        });
        qunsetenv("SUDO_UID");
        qunsetenv("SUDO_GID");
        QVERIFY(g_boxes.empty());
        const auto owner = [](const QString& path) {
            struct stat st {};
            return stat(path.toStdString().c_str(), &st) == 0 ? st.st_uid : uid_t(-1);
        };
        QCOMPARE(owner(made), uid_t(4242));
        QCOMPARE(owner(existing), uid_t(0));
        QVERIFY(ReadAll(existing.toStdString()).find("root's own") == std::string::npos);
    }

    void endToEndCaptureFilterAndSave() {
        using namespace testpkt;
        QTemporaryDir dir;
        const std::string capture = dir.filePath("t.pcap").toStdString();
        Ip udp;
        udp.protocol = 17;
        pcap_t* dead = pcap_open_dead(DLT_RAW, 65535);
        pcap_dumper_t* d = pcap_dump_open(dead, capture.c_str());
        for (const auto& dg :
             {Datagram(Ip{}, Tcp(1025, 80, 0x18, Bytes("GET /"))),
              Datagram(udp, Udp(5353, 53, Bytes("q1"))), Datagram(Ip{}, Tcp(80, 1025, 0x11))}) {
            pcap_pkthdr h{};
            h.caplen = h.len = static_cast<bpf_u_int32>(dg.size());
            pcap_dump(reinterpret_cast<u_char*>(d), &h, dg.data());
        }
        pcap_dump_close(d);
        pcap_close(dead);

        const QString out = dir.filePath("out.doc");
        CMonitorDlg dlg;
        dlg.SetEndpointFactory([capture] { return MakeFileEndpoint(capture); });
        RunModalWith(dlg, [&] {
            RunFilter(
                dlg, [](QDialog* f) { Edit(f, IDC_MONITORED_EDIT)->setText("80"); }, true);
            dlg.LocalAddressList.SetCurSel(0);
            dlg.OnStart();
            QTRY_COMPARE(dlg.m_list.GetItemCount(), 2);
            dlg.OnStop();
            CMonitorDlg::SaveFileDialog() = [out](QWidget*, const QString&) {
                return std::optional<QString>(out);
            };
            dlg.OnSave();
            const std::string t0 = dlg.m_list.GetItemText(1, 0), t1 = dlg.m_list.GetItemText(0, 0);
            const std::string expected =
                "\xCA\xB1\xBC\xE4:   " + t0 +
                "\n\xD4\xB4\xB5\xD8\xD6\xB7: (\xB1\xBE\xBB\xFA)10.0.0.5\n"
                "\xD4\xB4\xB6\xCB\xBF\xDA: 1025\n\xC4\xBF\xB5\xC4\xB5\xD8\xD6\xB7: 10.0.0.9\n"
                "\xC4\xBF\xB5\xC4\xB6\xCB\xBF\xDA: 80\n\xD0\xAD\xD2\xE9: http\n\xCA\xFD\xBE\xDD: "
                "GET /\n"
                "TCP\xB1\xEA\xD6\xBE: ACK-PSH-\n\n\n"
                "\xCA\xB1\xBC\xE4:   " +
                t1 +
                "\n\xD4\xB4\xB5\xD8\xD6\xB7: (\xB1\xBE\xBB\xFA)10.0.0.5\n"
                "\xD4\xB4\xB6\xCB\xBF\xDA: 80\n\xC4\xBF\xB5\xC4\xB5\xD8\xD6\xB7: 10.0.0.9\n"
                "\xC4\xBF\xB5\xC4\xB6\xCB\xBF\xDA: 1025\n\xD0\xAD\xD2\xE9: --\n\xCA\xFD\xBE\xDD: \n"
                "TCP\xB1\xEA\xD6\xBE: ACK-FIN\n\n\n";
            QCOMPARE(ReadAll(out.toStdString()), expected);
        });
    }
};

QTEST_MAIN(FilterExportTest)
#include "test_filter_export.moc"
