#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

#include "framework/ipaddress.h"

QWidget* CreateIpAddressWidget(QWidget* parent);

// Each key goes to whichever field has the focus at that moment, as typing does.
static void Type(const char* keys) {
    for (const char* k = keys; *k; ++k) {
        QTest::keyClick(QApplication::focusWidget(), *k);
    }
}

class TestIpAddress : public QObject {
    Q_OBJECT
  private:
    QWidget* m_window = nullptr;
    CIPAddressCtrl* m_ctrl = nullptr;
    Ip4FieldsWidget* fields() const { return m_ctrl->widget(); }

  private slots:
    void init() {
        m_window = new QWidget;
        QWidget* w = CreateIpAddressWidget(m_window);
        w->setGeometry(10, 10, 200, 24);
        m_ctrl = new CIPAddressCtrl;
        m_ctrl->Attach(w);
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
    }
    void cleanup() {
        delete m_ctrl;
        delete m_window;
    }

    void setAndGetKeepByteOrder() {
        uint32_t out = 0;
        m_ctrl->SetAddress(0x0A0000FFu);  // 10.0.0.255
        QCOMPARE(fields()->field(0)->text(), QStringLiteral("10"));
        QCOMPARE(fields()->field(3)->text(), QStringLiteral("255"));
        QCOMPARE(m_ctrl->GetAddress(out), 4);
        QCOMPARE(out, 0x0A0000FFu);
        uint8_t b0 = 0, b1 = 0, b2 = 0, b3 = 0;
        QCOMPARE(m_ctrl->GetAddress(b0, b1, b2, b3), 4);
        QCOMPARE((std::array<int, 4>{b0, b1, b2, b3}), (std::array<int, 4>{10, 0, 0, 255}));
        m_ctrl->SetAddress(192, 168, 1, 2);
        QCOMPARE(m_ctrl->GetAddress(out), 4);
        QCOMPARE(out, 0xC0A80102u);
    }

    void blankFieldsReadAsZero() {
        uint32_t out = 123;
        QVERIFY(m_ctrl->IsBlank());
        QCOMPARE(m_ctrl->GetAddress(out), 0);
        QCOMPARE(out, 0u);
        m_ctrl->SetAddress(0x01020304u);
        fields()->field(1)->clear();
        QVERIFY(!m_ctrl->IsBlank());
        QCOMPARE(m_ctrl->GetAddress(out), 3);
        QCOMPARE(out, 0x01000304u);
        m_ctrl->ClearAddress();
        QVERIFY(m_ctrl->IsBlank());
        QCOMPARE(m_ctrl->GetAddress(out), 0);
    }

    void typedLeadingZerosAndFieldAdvance() {
        fields()->field(0)->setFocus();
        // "192" is full and moves on by itself, so the dot after it must not skip 168.
        Type("192.168.");
        QCOMPARE(QApplication::focusWidget(), fields()->field(2));
        Type("001010");
        QCOMPARE(QApplication::focusWidget(), fields()->field(3));
        uint32_t out = 0;
        QCOMPARE(m_ctrl->GetAddress(out), 4);
        QCOMPARE(out, 0xC0A8010Au);
        QCOMPARE(fields()->field(2)->text(), QStringLiteral("1"));  // normalised when left
    }

    void dotAfterAnAutomaticAdvanceStays() {
        // The control shows 0.0.0.0: moving on after three digits selects the next
        // field's old 0, and the dot typed out of habit must not skip that field.
        m_ctrl->SetAddress(0u);
        fields()->field(0)->setFocus();
        fields()->field(0)->selectAll();
        Type("192.168.001.010");
        uint32_t out = 0;
        QCOMPARE(m_ctrl->GetAddress(out), 4);
        QCOMPARE(out, 0xC0A8010Au);
        // After digits typed into a field the dot moves on; with the caret at its start it does
        // not.
        fields()->field(0)->setFocus();
        fields()->field(0)->selectAll();
        Type("7");
        QTest::keyClick(fields()->field(0), Qt::Key_Home);
        Type(".");
        QCOMPARE(QApplication::focusWidget(), fields()->field(0));
        QTest::keyClick(fields()->field(0), Qt::Key_End);
        Type(".");
        QCOMPARE(QApplication::focusWidget(), fields()->field(1));
    }

    void lettersAndDotsInFieldRejected() {
        fields()->field(0)->setFocus();
        QTest::keyClicks(fields()->field(0), "1a-");
        QCOMPARE(fields()->field(0)->text(), QStringLiteral("1"));
        // A dot in an empty field does not skip it.
        fields()->field(1)->setFocus();
        QTest::keyClick(fields()->field(1), Qt::Key_Period);
        QCOMPARE(QApplication::focusWidget(), fields()->field(1));
    }

    void valueAbove255IsClampedAndReported() {
        QSignalSpy spy(m_ctrl, &CIPAddressCtrl::fieldChanged);
        fields()->field(1)->setFocus();
        QTest::keyClicks(fields()->field(1), "300");
        QCOMPARE(fields()->field(1)->text(), QStringLiteral("255"));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 1);
        QCOMPARE(spy.at(0).at(1).toInt(), 255);
        uint32_t out = 0;
        QCOMPARE(m_ctrl->GetAddress(out), 1);
        QCOMPARE(out, 0x00FF0000u);
    }

    void fieldChangedWhenLeavingAnEditedField() {
        QSignalSpy spy(m_ctrl, &CIPAddressCtrl::fieldChanged);
        fields()->field(0)->setFocus();
        fields()->field(1)->setFocus();  // untouched field left: nothing
        QCOMPARE(spy.count(), 0);
        QTest::keyClicks(fields()->field(1), "7");
        QCOMPARE(spy.count(), 0);
        fields()->field(2)->setFocus();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 1);
        QCOMPARE(spy.at(0).at(1).toInt(), 7);
        // Emptied field reports blank.
        fields()->field(1)->setFocus();
        QTest::keyClick(fields()->field(1), Qt::Key_End);
        QTest::keyClick(fields()->field(1), Qt::Key_Backspace);
        fields()->field(3)->setFocus();
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(1).toInt(), -1);
        // Setting the address by code is no edit.
        m_ctrl->SetAddress(0x01010101u);
        fields()->field(0)->setFocus();
        QCOMPARE(spy.count(), 2);
    }
};

QTEST_MAIN(TestIpAddress)
#include "test_ipaddress.moc"
