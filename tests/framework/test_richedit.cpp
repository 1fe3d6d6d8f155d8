#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QScrollBar>
#include <QtTest>

#include "framework/dlgtemplate.h"
#include "framework/gbk.h"
#include "framework/richedit.h"

namespace {
constexpr unsigned kDetailStyle = 0x52B01844;  // child, visible, border, both scroll bars, ...
constexpr unsigned kBlue = 0xFF0000;           // 0x00BBGGRR
constexpr unsigned kRed = 0x0000FF;

std::string Gbk(const char* utf8) {
    return ToGbk(QString::fromUtf8(utf8));
}

// Appends one run the way the detail window does.
void Append(CRichEditCtrl& edit, const std::string& gbk, unsigned color, bool underline = false,
            bool bold = false) {
    const int at = edit.GetTextLength();
    edit.SetSel(at, at);
    edit.ReplaceSel(gbk);
    edit.SetSel(at, edit.GetTextLength());
    CHARFORMAT cf;
    cf.dwMask = CFM_COLOR | CFM_BOLD | CFM_UNDERLINE;
    cf.dwEffects = 0xBFFFFFFA | (underline ? CFE_UNDERLINE : 0u) | (bold ? CFE_BOLD : 0u);
    cf.crTextColor = color;
    edit.SetSelectionCharFormat(cf);
    edit.HideSelection(true, false);
    edit.LineScroll(1);
}

class Refusing : public CRichEditCtrl {
  protected:
    bool OnCreate() override { return false; }
};
}  // namespace

class TestRichEdit : public QObject {
    Q_OBJECT
  private:
    QWidget* m_window = nullptr;
    CRichEditCtrl* m_edit = nullptr;

  private slots:
    void init() {
        m_window = new QWidget;
        m_window->resize(300, 200);
        m_edit = new CRichEditCtrl;
        QVERIFY(m_edit->Create(kDetailStyle, QRect(10, 10, 200, 120), m_window, 1017));
        m_window->show();
    }
    void cleanup() {
        delete m_edit;
        delete m_window;
    }

    void createHonoursStyleAndHook() {
        QTextEdit* w = m_edit->widget();
        QVERIFY(w);
        QCOMPARE(m_edit->GetDlgCtrlID(), 1017);
        QCOMPARE(w->geometry(), QRect(10, 10, 200, 120));
        QVERIFY(w->isVisible());
        QVERIFY(w->isReadOnly());
        QVERIFY(w->frameShape() != QFrame::NoFrame);
        QCOMPARE(w->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
        QVERIFY(!m_edit->Create(kDetailStyle, QRect(), m_window, 1));  // exists already

        CRichEditCtrl plain;
        QVERIFY(plain.Create(winstyle::Child, QRect(0, 0, 50, 50), m_window, 2));
        QCOMPARE(plain.widget()->frameShape(), QFrame::NoFrame);
        QCOMPARE(plain.widget()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QVERIFY(plain.widget()->isHidden());

        CRichEditCtrl orphan;
        QVERIFY(!orphan.Create(kDetailStyle, QRect(), nullptr, 3));
        const int before = static_cast<int>(m_window->findChildren<QTextEdit*>().size());
        Refusing refusing;
        QVERIFY(!refusing.Create(kDetailStyle, QRect(), m_window, 4));
        QVERIFY(!refusing.widget());
        QCOMPARE(static_cast<int>(m_window->findChildren<QTextEdit*>().size()), before);
    }

    void replaceSelInsertsPlainText() {
        m_edit->ReplaceSel("<b>x</b> &amp;");
        QCOMPARE(m_edit->GetPlainText(), QStringLiteral("<b>x</b> &amp;"));
        m_edit->SetSel(0, -1);
        m_edit->ReplaceSel(Gbk("第一行\n第二行\r\n三"));
        QCOMPARE(m_edit->GetPlainText(), QString::fromUtf8("第一行\n第二行\n三"));
        QCOMPARE(m_edit->widget()->document()->blockCount(), 3);
        QCOMPARE(m_edit->GetWindowText(), Gbk("第一行\n第二行\n三"));
    }

    void lengthIsInCharactersAndMatchesSelection() {
        const std::string text = Gbk("源地址: 10.0.0.1\n");
        m_edit->ReplaceSel(text);
        QCOMPARE(m_edit->GetTextLength(), 14);  // characters, not GBK bytes
        m_edit->SetSel(4, -1);
        int start = -1, end = -1;
        m_edit->GetSel(start, end);
        QCOMPARE(start, 4);
        QCOMPARE(end, 14);
        m_edit->SetSel(2, 100);  // clamped to the end
        m_edit->GetSel(start, end);
        QCOMPARE(end, 14);
    }

    void runsKeepTheirOwnFormat() {
        Append(*m_edit, Gbk("时  间:\t"), 0);
        Append(*m_edit, "12:00", 0, true, false);
        Append(*m_edit, "\n", 0);
        Append(*m_edit, "======>", kBlue);
        Append(*m_edit, "ab\ncd", kBlue, false, true);
        const QString text = m_edit->GetPlainText();
        QCOMPARE(text, QString::fromUtf8("时  间:\t12:00\n======>ab\ncd"));
        for (int i = 0; i < m_edit->GetTextLength(); ++i) {
            const CHARFORMAT cf = m_edit->GetCharFormatAt(i);
            const bool inTime = i >= 6 && i < 11;
            const bool blue = i >= 12;
            const bool bold = i >= 19;
            QVERIFY2(!(cf.dwEffects & CFE_AUTOCOLOR), qPrintable(QString::number(i)));
            QCOMPARE(cf.crTextColor, blue ? kBlue : 0u);
            QCOMPARE(bool(cf.dwEffects & CFE_UNDERLINE), inTime);
            QCOMPARE(bool(cf.dwEffects & CFE_BOLD), bold);
            QVERIFY(!(cf.dwEffects & CFE_ITALIC));
        }
    }

    void maskedPropertiesOnlyAndAutoColour() {
        m_edit->ReplaceSel("abcdef");
        m_edit->SetSel(0, 6);
        CHARFORMAT cf;
        cf.dwMask = CFM_COLOR | CFM_BOLD;
        cf.dwEffects = CFE_BOLD;
        cf.crTextColor = kRed;
        m_edit->SetSelectionCharFormat(cf);
        // Underline only: colour and bold stay.
        m_edit->SetSel(1, 3);
        cf.dwMask = CFM_UNDERLINE;
        cf.dwEffects = CFE_UNDERLINE;
        cf.crTextColor = kBlue;
        m_edit->SetSelectionCharFormat(cf);
        CHARFORMAT got = m_edit->GetCharFormatAt(2);
        QCOMPARE(got.crTextColor, kRed);
        QVERIFY(got.dwEffects & CFE_BOLD);
        QVERIFY(got.dwEffects & CFE_UNDERLINE);
        // Automatic colour removes the run's own colour and nothing else.
        m_edit->SetSel(2, 5);
        cf.dwMask = CFM_COLOR;
        cf.dwEffects = CFE_AUTOCOLOR;
        cf.crTextColor = kBlue;
        m_edit->SetSelectionCharFormat(cf);
        QVERIFY(m_edit->GetCharFormatAt(1).crTextColor == kRed);
        got = m_edit->GetCharFormatAt(2);
        QVERIFY(got.dwEffects & CFE_AUTOCOLOR);
        QVERIFY(got.dwEffects & CFE_UNDERLINE);
        QVERIFY(m_edit->GetCharFormatAt(4).dwEffects & CFE_AUTOCOLOR);
        QVERIFY(got.dwEffects & CFE_BOLD);
        QCOMPARE(m_edit->GetCharFormatAt(5).crTextColor, kRed);
    }

    void defaultFormatFallsBackToInstalledFace() {
        CHARFORMAT cf;
        cf.dwMask = CFM_FACE | CFM_SIZE;
        cf.yHeight = 180;
        cf.szFaceName = "MS Sans Serif";
        QVERIFY(m_edit->SetDefaultCharFormat(cf));
        Append(*m_edit, "run", kBlue);
        const CHARFORMAT got = m_edit->GetCharFormatAt(0);
        QCOMPARE(got.yHeight, 180L);
        QVERIFY(QFontDatabase::families().contains(FromGbk(got.szFaceName)));
        // The dialog's font reaching its children later does not replace it.
        QFont dialogFont = m_window->font();
        dialogFont.setPointSize(20);
        m_window->setFont(dialogFont);
        QCOMPARE(m_edit->GetCharFormatAt(0).yHeight, 180L);
    }

    void operatorCannotEdit() {
        m_edit->ReplaceSel("fixed");
        QTextEdit* w = m_edit->widget();
        w->setFocus();
        QTest::keyClicks(w, "typed");
        QTest::keyClick(w, Qt::Key_Backspace);
        QTest::keyClick(w, Qt::Key_Delete);
        QTest::keyClick(w, Qt::Key_Return);
        QTest::keyClick(w, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(m_edit->GetPlainText(), QStringLiteral("fixed"));
    }

    void selectionCopiesEvenWhenHidden() {
        m_edit->ReplaceSel(Gbk("行一\n行二"));
        QTextEdit* w = m_edit->widget();
        w->setFocus();
        QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(w, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QString::fromUtf8("行一\n行二"));

        m_edit->SetSel(3, 5);
        m_edit->HideSelection(true, false);
        QVERIFY(!w->textCursor().hasSelection());  // nothing highlighted
        int start = 0, end = 0;
        m_edit->GetSel(start, end);
        QCOMPARE(start, 3);
        QCOMPARE(end, 5);
        m_edit->Copy();
        QCOMPARE(QApplication::clipboard()->text(), QString::fromUtf8("行二"));
        // The next programmatic selection stays hidden too.
        m_edit->SetSel(0, 2);
        QVERIFY(!w->textCursor().hasSelection());
        // The operator's own selection shows and becomes the control's selection.
        QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
        QVERIFY(w->textCursor().hasSelection());
        m_edit->GetSel(start, end);
        QCOMPARE(end, 5);
        m_edit->SetSel(0, 2);
        QVERIFY(w->textCursor().hasSelection());
    }

    void lineScrollMovesTheView() {
        std::string many;
        for (int i = 0; i < 60; ++i) {
            many += "line\n";
        }
        m_edit->ReplaceSel(many);
        m_edit->SetSel(0, 0);
        QScrollBar* bar = m_edit->widget()->verticalScrollBar();
        bar->setValue(0);
        m_edit->LineScroll(3);
        const int three = bar->value();
        QVERIFY(three > 0);
        m_edit->LineScroll(-3);
        QCOMPARE(bar->value(), 0);
        m_edit->LineScroll(100000);
        QCOMPARE(bar->value(), bar->maximum());
    }
};

QTEST_MAIN(TestRichEdit)
#include "test_richedit.moc"
