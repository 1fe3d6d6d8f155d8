#pragma once
// A child area showing a stored HTML page; every navigation is reported first.
#include <QRect>
#include <QString>
#include <QTextBrowser>
#include <QUrl>
#include <functional>
#include <utility>

#include "framework/cwnd.h"

class CHtmlView : public CWnd {
    Q_OBJECT
  public:
    using UrlOpener = std::function<bool(const QUrl&)>;

    ~CHtmlView() override;

    // A visible child of parent without border, with id as its control id. Fails
    // without a parent or when the view exists already.
    bool Create(const QRect& rect, QWidget* parent, int id);
    // name: a resource path such as ":/about.html" (or "about.html", looked up among
    // the root resources without regard to case), or an absolute file path. The page's declared
    // charset is honoured. Returns false, leaving the area empty, when the page is not there.
    bool LoadFromResource(const QString& name);
    // Reports the address to OnBeforeNavigate2 and, unless cancelled, follows it.
    void Navigate(const QString& url);
    QTextBrowser* widget() const { return qobject_cast<QTextBrowser*>(m_hWnd.data()); }
    QString GetLocationURL() const { return m_location; }

    // Mail and web links leave the program through this: the desktop's
    // handler unless another is given (tests give one that only notes them).
    void SetExternalOpener(UrlOpener opener) { m_opener = std::move(opener); }
    static bool OpenWithDesktop(const QUrl& url);

  protected:
    // Called before every navigation, the loading of pages included.
    virtual void OnBeforeNavigate2(const QString& url, bool& cancel);
    void PreSubclassWindow() override;

  private:
    bool follow(const QString& url);
    bool showPage(const QString& path, const QString& fragment);

    UrlOpener m_opener = OpenWithDesktop;
    QString m_location;
    bool m_created = false;
};
