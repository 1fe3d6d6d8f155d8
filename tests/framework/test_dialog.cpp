// Dialogs built from templates: dialog units, and Enter in multi-line edits.
#include <QPlainTextEdit>
#include <QTimer>
#include <QtTest>

#include "framework/dialog.h"

namespace {

namespace s = ctlstyle;
constexpr int kPlain = 100, kWantReturn = 101;
constexpr ControlTemplate kControls[] = {
    {IDOK, ControlKind::DefPushButton, "OK", 10, 10, 50, 14, s::TabStop},
    {kPlain, ControlKind::Edit, "", 10, 30, 100, 40, s::EsMultiline | s::TabStop},
    {kWantReturn, ControlKind::Edit, "", 10, 80, 100, 40,
     s::EsMultiline | s::EsWantReturn | s::TabStop},
};
constexpr DialogTemplate kTemplate{900, "edits", 200, 130, "宋体", 9, false, kControls};

class EditsDialog : public CDialog {
  public:
    EditsDialog() : CDialog(kTemplate) {}
    int oks = 0;
    void OnOK() override { ++oks; }  // counted, the dialog stays
};

// Types into one edit of a fresh dialog and returns what it holds; `oks` counts Enter's OKs.
QString TypeInto(int id, const std::function<void(QWidget*)>& keys, int& oks) {
    EditsDialog dlg;
    QString text;
    QTimer::singleShot(0, &dlg, [&] {
        auto* edit = qobject_cast<QPlainTextEdit*>(dlg.GetDlgItem(id));
        dlg.window()->activateWindow();
        if (edit && QTest::qWaitForWindowActive(dlg.window())) {
            edit->setFocus();
            keys(edit);
            text = edit->toPlainText();
        }
        dlg.EndDialog(IDCANCEL);
    });
    dlg.DoModal();
    oks = dlg.oks;
    return text;
}

}  // namespace

class TestDialog : public QObject {
    Q_OBJECT
  private slots:
    void dialogUnitsRoundAsWindowsDoes() {
        // 383·7/4 = 670.25, 273·15/8 = 511.875, 50·7/4 = 87.5, 14·15/8 = 26.25
        QCOMPARE((DialogUnits{7, 15}.Map(383, 273, 50, 14)), QRect(670, 512, 88, 26));
        // 7·6/4 = 10.5, 6·13/8 = 9.75, 442·6/4 = 663, 159·13/8 = 258.375
        QCOMPARE((DialogUnits{6, 13}.Map(7, 6, 442, 159)), QRect(11, 10, 663, 258));
        // 3·1/8 = 0.375 and 4·1/8 = 0.5: halves go up, less goes down
        QCOMPARE((DialogUnits{2, 1}.Map(1, 3, 2, 4)), QRect(1, 0, 1, 1));
        // The window itself: 456·7/4 = 798, 333·15/8 = 624.375
        QCOMPARE((DialogUnits{7, 15}.Map(0, 0, 456, 333).size()), QSize(798, 624));
    }

    void enterInMultiLineEdits() {
        auto enterBetween = [](QWidget* e) {
            QTest::keyClicks(e, "a");
            QTest::keyClick(e, Qt::Key_Return);
            QTest::keyClick(e, Qt::Key_Enter, Qt::KeypadModifier);
            QTest::keyClicks(e, "b");
        };
        int oks = 0;
        // Without the want-return style Enter belongs to the dialog.
        QCOMPARE(TypeInto(kPlain, enterBetween, oks), QString("ab"));
        QCOMPARE(oks, 2);
        QCOMPARE(TypeInto(kWantReturn, enterBetween, oks), QString("a\n\nb"));
        QCOMPARE(oks, 0);
        // Ctrl+Enter breaks the line all the same.
        QCOMPARE(TypeInto(
                     kPlain,
                     [](QWidget* e) {
                         QTest::keyClicks(e, "a");
                         QTest::keyClick(e, Qt::Key_Return, Qt::ControlModifier);
                     },
                     oks),
                 QString("a\n"));
        QCOMPARE(oks, 0);
    }
};

QTEST_MAIN(TestDialog)
#include "test_dialog.moc"
