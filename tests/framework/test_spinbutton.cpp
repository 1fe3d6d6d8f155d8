#include <QLineEdit>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

#include "framework/dlgtemplate.h"
#include "framework/spinbutton.h"

QWidget* CreateUpDownWidget(QWidget* parent, uint32_t style);

namespace {
constexpr uint32_t kAlignedStyle = ctlstyle::UdsSetBuddyInt | ctlstyle::UdsAutoBuddy |
                                   ctlstyle::UdsArrowKeys | ctlstyle::UdsAlignRight;
constexpr int kHigh = 32765;

int LowWord(int v) {
    return v & 0xFFFF;
}
int HighWord(int v) {
    return (v >> 16) & 0xFFFF;
}
}  // namespace

class TestSpinButton : public QObject {
    Q_OBJECT
  private:
    QWidget* m_window = nullptr;
    QLineEdit* m_edit = nullptr;
    CSpinButtonCtrl* m_spin = nullptr;

    void make(uint32_t style) {
        m_window = new QWidget;
        new QLineEdit(m_window);  // an unrelated earlier control
        m_edit = new QLineEdit(m_window);
        m_edit->setGeometry(50, 10, 60, 20);
        QWidget* arrows = CreateUpDownWidget(m_window, style);
        arrows->setGeometry(120, 10, 12, 20);
        m_spin = new CSpinButtonCtrl;
        m_spin->Attach(arrows);
        m_spin->SetLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        m_spin->SetRange(0, kHigh);
        m_window->show();
    }

  private slots:
    void init() { make(kAlignedStyle); }
    void cleanup() {
        delete m_spin;
        delete m_window;
        m_spin = nullptr;
        m_window = nullptr;
    }

    void autoBuddyIsThePreviousControlAndAligned() {
        QCOMPARE(m_spin->GetBuddy(), m_edit);
        // The arrows take the right end of the buddy.
        QCOMPARE(m_spin->widget()->geometry().right(), 109);
        QCOMPARE(m_edit->width(), 60 - m_spin->widget()->width());
        QCOMPARE(m_spin->widget()->height(), m_edit->height());
        QCOMPARE(m_spin->widget()->focusPolicy(), Qt::NoFocus);
    }

    void setPosClampsAndWritesGroupedText() {
        int lower = -1, upper = -1;
        m_spin->GetRange(lower, upper);
        QCOMPARE(lower, 0);
        QCOMPARE(upper, kHigh);
        m_spin->SetPos(80);
        QCOMPARE(m_edit->text(), QStringLiteral("80"));
        QCOMPARE(m_spin->SetPos(1000), 80);  // returns the previous position
        QCOMPARE(m_edit->text(), QStringLiteral("1,000"));
        m_spin->SetPos(65535);
        QCOMPARE(m_edit->text(), QStringLiteral("32,765"));
        QCOMPARE(m_spin->GetPos(), kHigh);
        m_spin->SetPos(-5);
        QCOMPARE(m_edit->text(), QStringLiteral("0"));
        QCOMPARE(m_spin->GetPos(), 0);
    }

    void groupedAndPlainTextParseBack() {
        m_edit->setText(QStringLiteral("1,000"));
        QCOMPARE(m_spin->GetPos(), 1000);
        m_edit->setText(QStringLiteral("32,765"));
        QCOMPARE(m_spin->GetPos(), kHigh);
        m_edit->setText(QStringLiteral(" 4242 "));
        QCOMPARE(m_spin->GetPos(), 4242);
    }

    void invalidTextKeepsLastValidPosition() {
        m_spin->SetPos(8080);
        m_edit->setText(QStringLiteral("abc"));
        int reply = m_spin->GetPos();
        QVERIFY(HighWord(reply) != 0);
        QCOMPARE(LowWord(reply), 8080);
        // A valid number taken from the edit becomes the new fall-back.
        m_edit->setText(QStringLiteral("23"));
        QCOMPARE(m_spin->GetPos(), 23);
        for (const char* bad : {"32766", "-1", "", "1,0a0", "99999999999"}) {
            m_edit->setText(QString::fromLatin1(bad));
            reply = m_spin->GetPos();
            QVERIFY2(HighWord(reply) != 0, bad);
            QCOMPARE(LowWord(reply), 23);
        }
        bool error = false;
        QCOMPARE(m_spin->GetPos32(&error), 23);
        QVERIFY(error);
    }

    void arrowsAndKeysStopAtBothEnds() {
        QSignalSpy spy(m_spin->widget(), &UpDownArrowsWidget::posChanged);
        m_spin->SetPos(1);
        m_spin->widget()->downButton()->click();
        QCOMPARE(m_edit->text(), QStringLiteral("0"));
        m_spin->widget()->downButton()->click();
        QCOMPARE(m_edit->text(), QStringLiteral("0"));
        QTest::keyClick(m_edit, Qt::Key_Down);
        QCOMPARE(m_spin->GetPos(), 0);
        m_spin->SetPos(kHigh - 1);
        QTest::keyClick(m_edit, Qt::Key_Up);
        QCOMPARE(m_edit->text(), QStringLiteral("32,765"));
        QTest::keyClick(m_edit, Qt::Key_Up);
        m_spin->widget()->upButton()->click();
        QCOMPARE(m_spin->GetPos(), kHigh);
        QCOMPARE(spy.count(), 6);  // every step is reported, also those held at an end
        QCOMPARE(spy.last().at(0).toInt(), kHigh);
    }

    void arrowStartsFromTheEditedValue() {
        m_spin->SetPos(10);
        m_edit->setText(QStringLiteral("2,000"));
        m_spin->widget()->upButton()->click();
        QCOMPARE(m_edit->text(), QStringLiteral("2,001"));
        // Invalid text: the step starts from the last valid position.
        m_edit->setText(QStringLiteral("x"));
        m_spin->widget()->downButton()->click();
        QCOMPARE(m_edit->text(), QStringLiteral("2,000"));
    }

    void styleVariants() {
        cleanup();
        make(kAlignedStyle | ctlstyle::UdsNoThousands | ctlstyle::UdsWrap);
        m_spin->SetPos(kHigh);
        QCOMPARE(m_edit->text(), QStringLiteral("32765"));
        m_spin->widget()->upButton()->click();
        QCOMPARE(m_spin->GetPos(), 0);
        m_spin->widget()->downButton()->click();
        QCOMPARE(m_spin->GetPos(), kHigh);
        cleanup();
        make(ctlstyle::UdsSetBuddyInt | ctlstyle::UdsAutoBuddy);  // no arrow keys
        m_spin->SetPos(5);
        QTest::keyClick(m_edit, Qt::Key_Up);
        QCOMPARE(m_spin->GetPos(), 5);
    }

    void localeSeparatorAndExplicitBuddy() {
        QLineEdit other(m_window);
        QCOMPARE(m_spin->SetBuddy(&other), m_edit);
        m_spin->SetLocale(QLocale(QLocale::German, QLocale::Germany));
        m_spin->SetPos(12345);
        QCOMPARE(other.text(), QStringLiteral("12.345"));
        QCOMPARE(m_spin->GetPos(), 12345);
        // The old buddy no longer steps the position.
        QTest::keyClick(m_edit, Qt::Key_Up);
        QCOMPARE(m_spin->GetPos(), 12345);
    }
};

QTEST_MAIN(TestSpinButton)
#include "test_spinbutton.moc"
