#pragma once
// An HTML view that stands in a dialog in place of a placeholder control and
// treats "app:" links as commands of the program instead of following them.
#include <QString>

#include "framework/dialog.h"
#include "framework/htmlview.h"

class CHtmlCtrl : public CHtmlView {
    Q_OBJECT
  public:
    bool CreateFromPlaceholder(int id, CDialog* parent);
    virtual void OnAppLink(const QString& /*command*/) {}

  protected:
    void OnBeforeNavigate2(const QString& url, bool& cancel) override;
    CDialog* m_parent = nullptr;
};

class CAboutHtmlCtrl : public CHtmlCtrl {
    Q_OBJECT
  public:
    void OnAppLink(const QString& command) override;
};
