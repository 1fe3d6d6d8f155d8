// The filter dialog driven through its widgets, and saving the list.
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/monitordlg.h"
#include "app/socketlib.h"
#include "framework/ipaddress.h"
#include "res/resource.h"
#include "tests/app/dialog_driver.h"
#include "tests/app/user_input.h"
#include "tests/capture/packet_builder.h"
#include "ui/windows/filterdlg.h"

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

QStringList Fields(QDialog* d, int id) {
    QStringList out;
    for (int i = 0; i < 4; ++i)
        out << Address(d, id)->field(i)->text();
    return out;
}

// Opens the filter dialog with its button; `act` works on it and closes it.
void ClickFilter(CMonitorDlg& dlg, std::function<void(QDialog*)> act) {
    WhenDialogShows("IDS过滤器", [act](QDialog* f) {
        if (input::Activate(f))
            act(f);
        else
            QTest::qFail("the filter dialog did not take the keys", __FILE__, __LINE__);
        if (f->isVisible())
            f->reject();  // the act failed half-way
    });
    input::Click(dlg.GetDlgItem(IDC_FILTER));
}

// Presses Save and lets `act` work on the file dialog.
void ClickSave(CMonitorDlg& dlg, std::function<void(QFileDialog*)> act) {
    WhenDialogShows([](QDialog* d) { return qobject_cast<QFileDialog*>(d) != nullptr; },
                    [act](QDialog* d) {
                        if (input::Activate(d))
                            act(static_cast<QFileDialog*>(d));
                        else
                            QTest::qFail("the file dialog did not take the keys", __FILE__,
                                         __LINE__);
                        if (d->isVisible())
                            d->reject();  // the act failed half-way
                    });
    input::Click(dlg.GetDlgItem(IDC_SAVE));
}

// Answers the file dialog's question about replacing a file; notes that it was asked.
void AnswerReplace(QMessageBox::StandardButton answer, QString* asked) {
    WhenDialogShows([](QDialog* d) { return qobject_cast<QMessageBox*>(d) != nullptr; },
                    [answer, asked](QDialog* d) {
                        auto* box = static_cast<QMessageBox*>(d);
                        *asked = box->text();
                        input::Click(box->button(answer));
                    });
}

// The file the list gives when written now: bottom row first.
std::string LogOf(const CListCtrl& list) {
    static const char* const labels[] = {"\xCA\xB1\xBC\xE4:   ",
                                         "\xD4\xB4\xB5\xD8\xD6\xB7: ",
                                         "\xD4\xB4\xB6\xCB\xBF\xDA: ",
                                         "\xC4\xBF\xB5\xC4\xB5\xD8\xD6\xB7: ",
                                         "\xC4\xBF\xB5\xC4\xB6\xCB\xBF\xDA: ",
                                         "\xD0\xAD\xD2\xE9: ",
                                         "\xCA\xFD\xBE\xDD: ",
                                         "TCP\xB1\xEA\xD6\xBE: "};
    std::string out;
    for (int r = list.GetItemCount() - 1; r >= 0; --r) {
        for (int c = 0; c < 8; ++c)
            out += labels[c] + list.GetItemText(r, c) + (c == 7 ? "\n\n\n" : "\n");
    }
    return out;
}

void AddRows(CListCtrl& list, const std::string& prefix, int n) {
    for (int i = 0; i < n; ++i) {
        const int r = list.InsertItem(0, prefix + std::to_string(i));
        list.SetItemText(r, kColData, "data " + prefix + std::to_string(i));
    }
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

    void filterDialogByKeyboard() {
        CMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            ClickFilter(dlg, [](QDialog* f) {
                // The first opening: 0.0.0.0 in both address controls, 0 in both ports.
                const QStringList zeros{"0", "0", "0", "0"};
                QCOMPARE(Fields(f, IDC_SRC_ADDRESS), zeros);
                QCOMPARE(Fields(f, IDC_DST_ADDRESS), zeros);
                QCOMPARE(Edit(f, IDC_MONITORED_EDIT)->text(), QString("0"));
                QCOMPARE(Edit(f, IDC_IGNORED_EDIT)->text(), QString("0"));
                QCOMPARE(input::FocusId(), IDOK);
                // Tab follows the template; an address control is one stop.
                QCOMPARE(input::WalkTabs(f, 6),
                         (std::vector<int>{IDCANCEL, IDC_SRC_ADDRESS, IDC_DST_ADDRESS,
                                           IDC_MONITORED_EDIT, IDC_IGNORED_EDIT, IDOK}));
                QCOMPARE(input::WalkTabs(f, 6, true),
                         (std::vector<int>{IDC_IGNORED_EDIT, IDC_MONITORED_EDIT, IDC_DST_ADDRESS,
                                           IDC_SRC_ADDRESS, IDCANCEL, IDOK}));

                input::WalkTabs(f, 2);
                Ip4FieldsWidget* src = Address(f, IDC_SRC_ADDRESS);
                QCOMPARE(QApplication::focusWidget(), src->field(0));
                // Three digits move on by themselves; leading zeros go when a field is left.
                input::Type(f, "192.168.001.010");
                QCOMPARE(QApplication::focusWidget(), src->field(3));
                input::Key(f, Qt::Key_Left);  // inside the field: the caret moves
                QCOMPARE(QApplication::focusWidget(), src->field(3));
                // Tab leaves the control from any of its fields, Shift+Tab too.
                input::Key(f, Qt::Key_Backtab, Qt::ShiftModifier);
                QCOMPARE(input::FocusId(), IDCANCEL);
                input::Key(f, Qt::Key_Tab);
                QCOMPARE(QApplication::focusWidget(), src->field(0));
                input::Key(f, Qt::Key_Tab);
                Ip4FieldsWidget* dst = Address(f, IDC_DST_ADDRESS);
                QCOMPARE(QApplication::focusWidget(), dst->field(0));
                // '.' moves to the next field; a field emptied counts as 0.
                input::Type(f, "10.1.7");
                QCOMPARE(QApplication::focusWidget(), dst->field(2));
                input::Key(f, Qt::Key_Backspace);
                input::Type(f, ".");  // an empty field is not skipped
                QCOMPARE(QApplication::focusWidget(), dst->field(2));
                input::Key(f, Qt::Key_Right);
                QCOMPARE(QApplication::focusWidget(), dst->field(3));
                input::Key(f, Qt::Key_Left);
                QCOMPARE(QApplication::focusWidget(), dst->field(2));
                input::Key(f, Qt::Key_Tab);
                QCOMPARE(input::FocusId(), IDC_MONITORED_EDIT);
                QCOMPARE(Fields(f, IDC_SRC_ADDRESS), (QStringList{"192", "168", "1", "10"}));
                QCOMPARE(Fields(f, IDC_DST_ADDRESS), (QStringList{"10", "1", "", "0"}));

                // Ports: digits only in the monitored one, the arrow keys step it.
                input::Type(f, "8a0");
                QCOMPARE(Edit(f, IDC_MONITORED_EDIT)->text(), QString("80"));
                input::Key(f, Qt::Key_Up);
                input::Key(f, Qt::Key_Down);
                input::Key(f, Qt::Key_Down);
                QCOMPARE(Edit(f, IDC_MONITORED_EDIT)->text(), QString("79"));
                input::Key(f, Qt::Key_Tab);
                input::Type(f, "x5");  // the ignored port takes anything
                QCOMPARE(Edit(f, IDC_IGNORED_EDIT)->text(), QString("x5"));
                input::Key(f, Qt::Key_Return);  // OK is the default button
            });
            QCOMPARE(Labels(dlg), (QStringList{"192.168.1.10", "10.1.0.0", "79", "0"}));

            // Cancel, Escape and the close box leave everything as it was.
            const std::function<void(QDialog*)> cancels[] = {
                [](QDialog* f) { input::Click(Button(f, "取消")); },
                [](QDialog* f) { input::Key(f, Qt::Key_Escape); },
                [](QDialog* f) { QVERIFY(f->windowHandle()->close()); },
            };
            for (const auto& cancel : cancels) {
                bool closed = false;
                ClickFilter(dlg, [&](QDialog* f) {
                    QCOMPARE(Fields(f, IDC_SRC_ADDRESS), (QStringList{"192", "168", "1", "10"}));
                    QCOMPARE(Fields(f, IDC_DST_ADDRESS), (QStringList{"10", "1", "0", "0"}));
                    QCOMPARE(Edit(f, IDC_MONITORED_EDIT)->text(), QString("79"));
                    input::WalkTabs(f, 2);
                    input::Type(f, "1.2.3.4");
                    input::WalkTabs(f, 2);
                    input::Type(f, "5");
                    cancel(f);
                    closed = !f->isVisible();
                });
                QVERIFY(closed);
                QCOMPARE(Labels(dlg), (QStringList{"192.168.1.10", "10.1.0.0", "79", "0"}));
                QCOMPARE(dlg.Capture().PauseFlag.load(), 0);
            }
        });
    }

    void monitoredPortHoldsDigitsAndGroupingOnly() {
        CMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            ClickFilter(dlg, [](QDialog* f) {
                QLineEdit* port = Edit(f, IDC_MONITORED_EDIT);
                input::WalkTabs(f, 4);
                QCOMPARE(QApplication::focusWidget(), port);
                // The arrow keys stop at both ends of the range.
                input::Key(f, Qt::Key_Down);
                QCOMPARE(port->text(), QString("0"));
                input::Key(f, Qt::Key_End);
                input::Type(f, "32765");
                input::Key(f, Qt::Key_Up);
                QCOMPARE(port->text(), QString("32,765"));
                input::Key(f, Qt::Key_Up);
                QCOMPARE(port->text(), QString("32,765"));
                // The up-down writes a grouped number; typing still takes digits only.
                port->selectAll();
                input::Type(f, "999");
                input::Key(f, Qt::Key_Up);
                QCOMPARE(port->text(), QString("1,000"));
                input::Type(f, "x,.- ");
                QCOMPARE(port->text(), QString("1,000"));
                QApplication::clipboard()->setText("12ab");
                input::Key(f, Qt::Key_V, Qt::ControlModifier);
                QCOMPARE(port->text(), QString("1,000"));
                input::Key(f, Qt::Key_Backspace);
                input::Type(f, "7");
                QCOMPARE(port->text(), QString("1,007"));
                // Letters in the ignored port keep its last valid position.
                input::Key(f, Qt::Key_Tab);
                input::Type(f, "abc");
                input::Key(f, Qt::Key_Return);
            });
            QCOMPARE(Labels(dlg)[2], QString("1007"));
            QCOMPARE(Labels(dlg)[3], QString("0"));
        });
    }

    void filterControlsStandAtTheirTemplateRectangles() {
        CFilterDlg filter;
        RunModalWith(filter, [&] { QCOMPARE(MisplacedControls(filter), QStringList()); });
    }

    void leavingAnEditedAddressFieldReadsTheControl() {
        CFilterDlg filter;
        filter.m_dstAddr = {1, 2, 3, 4};
        RunModalWith(filter, [&] {
            QDialog* f = filter.window();
            QVERIFY(input::Activate(f));
            input::WalkTabs(f, 2);
            input::Type(f, "10");
            input::Key(f, Qt::Key_Tab);
            QCOMPARE(filter.m_srcAddr, (std::array<uint8_t, 4>{10, 0, 0, 0}));
            input::Key(f, Qt::Key_Delete);  // the first field of 1009, selected by Tab
            input::Key(f, Qt::Key_Tab);
            QCOMPARE(filter.m_dstAddr, (std::array<uint8_t, 4>{0, 2, 3, 4}));
        });
    }

    void saveThroughTheFileDialog() {
        QTemporaryDir dir;
        const std::string file = dir.filePath("log.doc").toStdString();
        CMonitorDlg dlg;
        RunModalWith(dlg, [&] {
            AddRows(dlg.m_list, "old", 12);
            // The proposed name and the suffix; ten rows arrive while the dialog is open.
            std::string expected;
            ClickSave(dlg, [&](QFileDialog* fd) {
                QVERIFY(fd->testOption(QFileDialog::DontUseNativeDialog));
                QCOMPARE(fd->acceptMode(), QFileDialog::AcceptSave);
                QCOMPARE(fd->defaultSuffix(), QString("doc"));
                auto* name = fd->findChild<QLineEdit*>("fileNameEdit");
                QVERIFY(QRegularExpression("^quorvelan-\\d\\d-\\d\\d-\\d\\d-\\d\\d$")
                            .match(name->text())
                            .hasMatch());
                AddRows(dlg.m_list, "new", 10);
                expected = LogOf(dlg.m_list);
                fd->setDirectory(dir.path());
                name->setText("log");
                input::Key(fd, Qt::Key_Return);
            });
            QCOMPARE(ReadAll(file), expected);  // exactly the list at write time: 22 records
            QVERIFY(expected.find("old0") < expected.find("new9"));

            // An existing file: the dialog asks; No keeps the dialog open, Yes replaces it.
            input::Click(dlg.GetDlgItem(IDC_CLEAR));
            AddRows(dlg.m_list, "one", 1);
            QString asked;
            bool openAfterNo = false;
            ClickSave(dlg, [&](QFileDialog* fd) {
                fd->setDirectory(dir.path());
                fd->findChild<QLineEdit*>("fileNameEdit")->setText("log");
                AnswerReplace(QMessageBox::No, &asked);
                input::Key(fd, Qt::Key_Return);
                openAfterNo = fd->isVisible();
                QCOMPARE(ReadAll(file), expected);
                AnswerReplace(QMessageBox::Yes, &asked);
                input::Key(fd, Qt::Key_Return);
            });
            QVERIFY(asked.contains("log.doc"));
            QVERIFY(openAfterNo);
            QCOMPARE(ReadAll(file), LogOf(dlg.m_list));

            // The list emptied while the dialog is open: the file is emptied too.
            ClickSave(dlg, [&](QFileDialog* fd) {
                dlg.m_list.DeleteAllItems();
                fd->setDirectory(dir.path());
                fd->findChild<QLineEdit*>("fileNameEdit")->setText("log.doc");
                AnswerReplace(QMessageBox::Yes, &asked);
                input::Key(fd, Qt::Key_Return);
            });
            QVERIFY(std::filesystem::exists(file));
            QCOMPARE(std::filesystem::file_size(file), uintmax_t(0));

            // Escape writes nothing.
            AddRows(dlg.m_list, "late", 1);
            ClickSave(dlg, [&](QFileDialog* fd) {
                fd->setDirectory(dir.path());
                fd->findChild<QLineEdit*>("fileNameEdit")->setText("other");
                input::Key(fd, Qt::Key_Escape);
            });
            QVERIFY(!QFile::exists(dir.filePath("other.doc")));
            QCOMPARE(std::filesystem::file_size(file), uintmax_t(0));
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
            uint64_t during = 0, opened = 0, rowsAtEnd = 0;
            RunFilter(
                dlg,
                [&](QDialog* f) {
                    // Rows received before the pause may still go in as it
                    // begins (the batch already captured); nothing is received
                    // after it but the one datagram already in flight.
                    opened = dlg.Capture().DatagramsReceived();
                    QTest::qWait(150);
                    during = dlg.Capture().DatagramsReceived();
                    rowsAtEnd = dlg.Capture().RowsInserted();
                    QCOMPARE(dlg.Capture().PauseFlag.load(), 1);
                    Edit(f, IDC_MONITORED_EDIT)->setText("53");
                },
                true);
            QVERIFY(during - opened <= 1);
            QCOMPARE(rowsAtEnd, during);  // and every one received is shown
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
            dlg.Dialogs().saveEventLog = [&](QWidget*,
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
            dlg.Dialogs().saveEventLog = [](QWidget*, const QString&) {
                return std::optional<QString>();
            };
            std::filesystem::remove(path.toStdString());
            dlg.OnSave();
            QVERIFY(!QFile::exists(path));

            // Failures name the file with the stop icon; nothing is created.
            const QString bad = dir.filePath("missing/x.doc");
            dlg.Dialogs().saveEventLog = [bad](QWidget*, const QString&) {
                return std::optional<QString>(bad);
            };
            dlg.OnSave();
            QCOMPARE(g_boxes.size(), size_t(1));
            QCOMPARE(g_boxes[0].type, MB_ICONSTOP);
            QCOMPARE(g_boxes[0].text, bad + " 包含一个无效路径。");
            QVERIFY(!QFile::exists(bad));
            dlg.Dialogs().saveEventLog = [](QWidget*, const QString&) {
                return std::optional<QString>("/dev/full");
            };
            dlg.OnSave();
            QCOMPARE(g_boxes.size(), size_t(2));
            // A device is not written into, whatever it is.
            QCOMPARE(g_boxes[1].text, QString("/dev/full 不是普通文件，没有写入。"));
        });
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
            dlg.Dialogs().saveEventLog = [out](QWidget*, const QString&) {
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
