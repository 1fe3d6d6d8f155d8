#pragma once
// Application object, dialogs built from templates, and message boxes.
#include <QApplication>
#include <QBasicTimer>
#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/cwnd.h"
#include "framework/dlgtemplate.h"

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_ICONSTOP = 0x10;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;

class CWinApp {
  public:
    CWinApp(int& argc, char** argv);
    virtual ~CWinApp();
    virtual bool InitInstance() { return false; }
    // Runs InitInstance; the program ends when it returns (it always returns false here).
    int Run();
    // The program file's name without its extension; captions every message box.
    QString AppName() const { return appName_; }

    CWnd* m_pMainWnd = nullptr;

  private:
    std::unique_ptr<QApplication> app_;
    QString appName_;
};

CWinApp* AfxGetApp();
QString AfxAppName();

// Shows a modal box over the application's main window: application name as
// caption, one OK button, the exclamation icon unless the stop icon is asked for.
int AfxMessageBox(std::string_view gbkText, unsigned type = MB_OK);
int AfxMessageBoxUtf8(const QString& text, unsigned type = MB_OK);
// Tests record boxes instead of blocking on them.
using MessageBoxHook =
    std::function<int(const QString& caption, const QString& text, unsigned type)>;
void SetMessageBoxHookForTesting(MessageBoxHook hook);

// a·b/c rounded to the nearest integer, halves away from zero, as Windows' MulDiv.
constexpr int MulDiv(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    const long long half = (c < 0 ? -c : c) / 2;
    return static_cast<int>(((p < 0) != (c < 0) ? p - half : p + half) / c);
}

// The pixel size of one dialog unit for a template font (Windows' rule).
struct DialogUnits {
    int baseX = 0;  // average character width
    int baseY = 0;  // character height
    // Each coordinate and each extent converted on its own, as dialog creation does.
    QRect Map(int x, int y, int cx, int cy) const {
        return QRect(MulDiv(x, baseX, 4), MulDiv(y, baseY, 8), MulDiv(cx, baseX, 4),
                     MulDiv(cy, baseY, 8));
    }
};
QFont TemplateFont(std::string_view face, int points);
DialogUnits UnitsForFont(const QFont& font);

class CDialog : public CWnd {
    Q_OBJECT
  public:
    explicit CDialog(const DialogTemplate& tmpl, CWnd* parent = nullptr);
    ~CDialog() override;

    // Builds a fresh window from the template, initialises it, runs it modally
    // and destroys it again; returns IDOK or IDCANCEL.
    int DoModal();
    // Modeless: builds, initialises and shows the window, and returns at once.
    // The window lives until DestroyWindow or until its owner goes; a modeless
    // dialog's OnOK and OnCancel should call DestroyWindow.
    bool Create();
    void DestroyWindow();
    void EndDialog(int result);
    // Hides the window; a modal run goes on (a window kept in the tray).
    void HideKeepingRun();
    QWidget* GetDlgItem(int id) const;
    void DDX_Control(int id, CWnd& wrapper);
    QDialog* window() const { return dialog_.data(); }
    const DialogTemplate& Template() const { return tmpl_; }

    void SetIcon(const QIcon& icon, bool big);
    void SetTimer(int id, int milliseconds);
    void KillTimer(int id);
    // The system menu lives with the window manager; its stand-in is the
    // window's context menu: a separator and the appended entries.
    void AppendSystemMenuEntry(unsigned command, std::string_view gbkText);
    // Greys an appended entry out, or makes it choosable again.
    void EnableSystemMenuEntry(unsigned command, bool enable);
    bool SystemMenuEntryEnabled(unsigned command) const;
    // Gives an appended entry another text (an entry that turns something on and off).
    void SetSystemMenuEntryText(unsigned command, std::string_view gbkText);

    virtual bool OnInitDialog();
    virtual void DoDataExchange() {}
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    virtual void OnDestroy() {}
    virtual void OnTimer(int /*id*/) {}
    virtual void OnSysCommand(unsigned /*command*/) {}
    // BN_CLICKED of buttons other than IDOK and IDCANCEL.
    virtual void OnCommand(int /*id*/) {}

  Q_SIGNALS:
    void windowCreated(QDialog* window);  // before OnInitDialog: tests drive dialogs through it

  protected:
    void timerEvent(QTimerEvent* event) override;

  private:
    struct SysMenuEntry {
        unsigned command;
        std::string text;
        bool enabled;
    };
    void Build();
    void FocusFirstTabStop();
    void ForgetWindow();

    const DialogTemplate& tmpl_;
    CWnd* parent_;
    QPointer<QDialog> dialog_;
    std::map<int, QPointer<QWidget>> controls_;
    std::map<int, int> timers_;  // id -> Qt timer id
    std::vector<SysMenuEntry> sysMenu_;
    QIcon icon_;
    int result_ = IDCANCEL;
};
