#pragma once
// Wrappers of the simple template controls.
#include <QListWidget>
#include <string>
#include <string_view>

#include "framework/cwnd.h"

class CStatic : public CWnd {
    Q_OBJECT
};

class CButton : public CWnd {
    Q_OBJECT
  public:
    // A check box: 1 ticked, 0 not (0 for a control that cannot be ticked).
    int GetCheck() const;
    void SetCheck(int check);
};

class CEdit : public CWnd {
    Q_OBJECT
};

// A list box whose entries are GBK texts, kept in text order when the
// template asks for a sorted box.
class CListBox : public CWnd {
    Q_OBJECT
  public:
    void ResetContent();
    int AddString(std::string_view gbk);
    int GetCount() const;
    int GetCurSel() const;
    void SetCurSel(int index);
    std::string GetText(int index) const;

  private:
    QListWidget* box() const { return qobject_cast<QListWidget*>(GetSafeHwnd()); }
};
