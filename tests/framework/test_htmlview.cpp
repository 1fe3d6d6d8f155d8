#include <QAbstractTextDocumentLayout>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>

#include "framework/gbk.h"
#include "framework/htmlview.h"

namespace {

// Records every navigation; cancels those starting with the given prefix.
class RecordingView : public CHtmlView {
  public:
    QStringList seen;
    QString cancelPrefix;

  protected:
    void OnBeforeNavigate2(const QString& url, bool& cancel) override {
        seen << url;
        if (!cancelPrefix.isEmpty() && url.startsWith(cancelPrefix, Qt::CaseInsensitive)) {
            cancel = true;
        }
    }
};

const char* const kAbout =
    "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\n"
    "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">"
    "</head>\n<body scroll=\"no\" link=\"#02B7B7\" vlink=\"#02B7B7\">\n"
    "<div><font size=\"2\">quorvelan 1.05 版(待续...)</font></div>\n"
    "<div><font size=\"2\"><a href=\"mailto:dev@example.org?subject=quorvelan\">"
    "dev@example.org</a></font></div>\n"
    "<div><font size=\"2\"><a href=\"http://www.example.org/\">www.example.org</a>"
    " <a href=\"second.html\">more</a></font></div>\n"
    "</body></html>\n";

}  // namespace

class TestHtmlView : public QObject {
    Q_OBJECT
  private:
    QTemporaryDir m_dir;
    QWidget* m_window = nullptr;
    QPushButton* m_ok = nullptr;
    RecordingView* m_view = nullptr;
    QList<QUrl> m_opened;

    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(m_dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly)) {
            return {};
        }
        f.write(bytes);
        return f.fileName();
    }
    QString writeGbk(const QString& name, const char* utf8) {
        const std::string gbk = ToGbk(QString::fromUtf8(utf8));
        return write(name, QByteArray(gbk.data(), static_cast<qsizetype>(gbk.size())));
    }
    // Centre of the first character of the anchor whose text is given, in viewport pixels.
    QPoint anchorPoint(const QString& text) {
        QTextBrowser* w = m_view->widget();
        const int at = w->toPlainText().indexOf(text);
        QTextCursor c(w->document());
        c.setPosition(at + 1);
        const QRect r = w->cursorRect(c);
        return QPoint(r.left() - 3, r.center().y());
    }

  private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void init() {
        m_opened.clear();
        m_window = new QWidget;
        m_window->resize(500, 300);
        m_ok = new QPushButton(QStringLiteral("OK"), m_window);
        m_ok->move(400, 250);
        m_view = new RecordingView;
        m_view->SetExternalOpener([this](const QUrl& url) {
            m_opened << url;
            return true;
        });
        QVERIFY(m_view->Create(QRect(10, 10, 380, 200), m_window, 1023));
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
    }
    void cleanup() {
        delete m_view;
        delete m_window;
    }

    void createsPlainVisibleChild() {
        QTextBrowser* w = m_view->widget();
        QCOMPARE(w->parentWidget(), m_window);
        QVERIFY(w->isVisible());
        QCOMPARE(w->frameShape(), QFrame::NoFrame);
        QCOMPARE(m_view->GetDlgCtrlID(), 1023);
        QCOMPARE(w->geometry(), QRect(10, 10, 380, 200));
        QVERIFY(!m_view->Create(QRect(), m_window, 1));
        CHtmlView orphan;
        QVERIFY(!orphan.Create(QRect(), nullptr, 1));
    }

    void pageDecodedFromDeclaredCharsetAndLoadReported() {
        const QString path = writeGbk("about.html", kAbout);
        QVERIFY(m_view->LoadFromResource(path));
        const QString text = m_view->widget()->toPlainText();
        QVERIFY2(text.contains(QString::fromUtf8("quorvelan 1.05 版(待续...)")), qPrintable(text));
        QCOMPARE(m_view->seen, QStringList{QUrl::fromLocalFile(path).toString()});
    }

    void noScrollBarsAndLinkColour() {
        QVERIFY(m_view->LoadFromResource(writeGbk("about.html", kAbout)));
        QTextBrowser* w = m_view->widget();
        QCOMPARE(w->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(w->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(w->palette().color(QPalette::Link), QColor(0x02, 0xB7, 0xB7));
        QCOMPARE(w->palette().color(QPalette::LinkVisited), QColor(0x02, 0xB7, 0xB7));
        int anchors = 0;
        for (QTextBlock b = w->document()->begin(); b.isValid(); b = b.next()) {
            for (auto it = b.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat f = it.fragment().charFormat();
                if (f.isAnchor()) {
                    ++anchors;
                    QCOMPARE(f.foreground().color(), QColor(0x02, 0xB7, 0xB7));
                }
            }
        }
        QCOMPARE(anchors, 3);

        // overflow:hidden asks the same; a page without either scrolls as needed.
        QVERIFY(m_view->LoadFromResource(write(
            "hidden.html", "<html><body style='margin:0; OVERFLOW: hidden'>x</body></html>")));
        QCOMPARE(w->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QVERIFY(m_view->LoadFromResource(write("plain.html", "<html><body>x</body></html>")));
        QCOMPARE(w->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
    }

    void missingOrCancelledPageLeavesAreaEmpty() {
        QVERIFY(m_view->LoadFromResource(writeGbk("about.html", kAbout)));
        QVERIFY(!m_view->LoadFromResource(QStringLiteral(":/no-such-page.html")));
        QVERIFY(m_view->widget()->toPlainText().isEmpty());
        QCOMPARE(m_view->seen.last(), QStringLiteral("qrc:/no-such-page.html"));
        m_view->cancelPrefix = QStringLiteral("file:");
        QVERIFY(!m_view->LoadFromResource(writeGbk("about.html", kAbout)));
        QVERIFY(m_view->widget()->toPlainText().isEmpty());
    }

    void navigationGoesThroughHookAndCancelHolds() {
        m_view->cancelPrefix = QStringLiteral("app:");
        m_view->Navigate(QStringLiteral("APP:ok"));
        QCOMPARE(m_view->seen, QStringList{QStringLiteral("APP:ok")});
        QVERIFY(m_opened.isEmpty());

        m_view->Navigate(QStringLiteral("mailto:dev@example.org?subject=quorvelan"));
        m_view->Navigate(QStringLiteral("https://www.example.org/"));
        QCOMPARE(m_opened.size(), 2);
        QCOMPARE(m_opened.at(0).toString(),
                 QStringLiteral("mailto:dev@example.org?subject=quorvelan"));
        QCOMPARE(m_opened.at(1).host(), QStringLiteral("www.example.org"));

        m_view->cancelPrefix = QStringLiteral("http");
        m_view->Navigate(QStringLiteral("http://www.example.org/"));
        QCOMPARE(m_opened.size(), 2);
        QCOMPARE(m_view->seen.size(), 4);
    }

    void clickedLinksAreReportedThenFollowed() {
        QVERIFY(m_view->LoadFromResource(writeGbk("about.html", kAbout)));
        writeGbk("second.html", "<html><body><p>第二页</p></body></html>");
        QWidget* viewport = m_view->widget()->viewport();
        m_ok->setFocus();

        QTest::mouseClick(viewport, Qt::LeftButton, {}, anchorPoint(QStringLiteral("dev@")));
        QCOMPARE(m_view->seen.size(), 2);
        QCOMPARE(m_view->seen.last(), QStringLiteral("mailto:dev@example.org?subject=quorvelan"));
        QCOMPARE(m_opened.size(), 1);
        QCOMPARE(m_opened.at(0).scheme(), QStringLiteral("mailto"));
        // The page never took the focus from the dialog's button.
        QCOMPARE(QApplication::focusWidget(), m_ok);

        m_view->cancelPrefix = QStringLiteral("http:");
        QTest::mouseClick(viewport, Qt::LeftButton, {}, anchorPoint(QStringLiteral("www.")));
        QCOMPARE(m_view->seen.last(), QStringLiteral("http://www.example.org/"));
        QCOMPARE(m_opened.size(), 1);  // cancelled: not followed

        // A relative link opens the neighbouring page in the view itself.
        QTest::mouseClick(viewport, Qt::LeftButton, {}, anchorPoint(QStringLiteral("more")));
        QCOMPARE(m_view->seen.last(),
                 QUrl::fromLocalFile(m_dir.filePath("second.html")).toString());
        QCOMPARE(m_view->widget()->toPlainText(), QString::fromUtf8("第二页"));
        QCOMPARE(m_opened.size(), 1);
    }
};

QTEST_MAIN(TestHtmlView)
#include "test_htmlview.moc"
