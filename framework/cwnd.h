#pragma once
// Base of every window wrapper: a QObject that is attached to a widget made
// from a dialog template (or created by code) and speaks in GBK bytes.
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <string>
#include <string_view>

class CWnd : public QObject {
    Q_OBJECT
  public:
    CWnd() = default;
    ~CWnd() override = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Binds this wrapper to an existing widget; runs PreSubclassWindow().
    virtual void Attach(QWidget* widget);
    QWidget* Detach();
    QWidget* GetSafeHwnd() const { return m_hWnd.data(); }
    explicit operator bool() const { return !m_hWnd.isNull(); }

    int GetDlgCtrlID() const;  // the "ctlId" property set by template creation, else 0
    void EnableWindow(bool enable = true);
    bool IsWindowEnabled() const;
    void ShowWindow(bool show);
    // Texts in GBK bytes. Widgets show them as plain text, never as markup.
    virtual void SetWindowText(std::string_view gbk);
    virtual std::string GetWindowText() const;
    QRect GetWindowRect() const;  // outer rectangle in screen coordinates
    void SetFocus();

  protected:
    // Hook run when the wrapper is bound to its widget.
    virtual void PreSubclassWindow() {}
    QPointer<QWidget> m_hWnd;
};

// Property under which template creation stores a control's id on its widget.
inline constexpr const char* kCtlIdProperty = "ctlId";
