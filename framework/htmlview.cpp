#include "framework/htmlview.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QPalette>
#include <QRegularExpression>
#include <QStringDecoder>

#include "framework/gbk.h"

namespace {

// The charset named in the page's meta element; the head is ASCII-compatible in every
// encoding a page declares this way.
QByteArray DeclaredCharset(const QByteArray& bytes) {
    static const QRegularExpression re(
        QStringLiteral("<meta[^>]*charset\\s*=\\s*[\"']?\\s*([A-Za-z0-9._:-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QString head = QString::fromLatin1(bytes.left(4096));
    const QRegularExpressionMatch m = re.match(head);
    return m.hasMatch() ? m.captured(1).toLatin1().toLower() : QByteArray();
}

QString DecodePage(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        return QString::fromUtf8(bytes.mid(3));
    }
    const QByteArray charset = DeclaredCharset(bytes);
    // Pages that say gb2312 are written in its GBK superset in practice.
    if (charset == "gb2312" || charset == "gbk" || charset == "x-gbk" || charset == "cp936" ||
        charset == "euc-cn") {
        return FromGbk(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    }
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid()) {
            return decoder.decode(bytes);
        }
    }
    // Undeclared: UTF-8 when it is valid, else this program's own code page.
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError()) {
        return text;
    }
    return FromGbk(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
}

QString Attribute(const QString& attrs, const QString& name) {
    const QRegularExpression re(
        QStringLiteral("(?:^|\\s)%1\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))").arg(name),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(attrs);
    if (!m.hasMatch()) {
        return {};
    }
    for (int i = 1; i <= 3; ++i) {
        if (m.capturedStart(i) >= 0) {
            return m.captured(i).trimmed();
        }
    }
    return {};
}

QString ResourcePath(const QString& name) {
    if (name.startsWith(QLatin1String("qrc:"), Qt::CaseInsensitive)) {
        return QLatin1Char(':') + QUrl(name).path();
    }
    if (name.startsWith(QLatin1Char(':')) || name.startsWith(QLatin1Char('/'))) {
        return name;  // a resource path, or a page stored in the file system
    }
    const QString direct = QStringLiteral(":/") + name;
    if (QFile::exists(direct)) {
        return direct;
    }
    const QStringList entries = QDir(QStringLiteral(":/")).entryList(QDir::Files);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0) {
            return QStringLiteral(":/") + entry;
        }
    }
    return direct;
}

}  // namespace

bool CHtmlView::OpenWithDesktop(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

CHtmlView::~CHtmlView() {
    if (m_created && m_hWnd) {
        delete m_hWnd.data();
    }
}

bool CHtmlView::Create(const QRect& rect, QWidget* parent, int id) {
    if (m_hWnd || !parent) {
        return false;
    }
    auto* view = new QTextBrowser(parent);
    view->setFrameShape(QFrame::NoFrame);
    view->setGeometry(rect);
    view->setProperty(kCtlIdProperty, id);
    Attach(view);
    m_created = true;
    view->show();
    return true;
}

void CHtmlView::PreSubclassWindow() {
    QTextBrowser* view = widget();
    if (!view) {
        return;
    }
    view->setOpenLinks(false);
    view->setOpenExternalLinks(false);
    // The page never takes the focus: the dialog's default button keeps Enter.
    view->setFocusPolicy(Qt::NoFocus);
    view->viewport()->setFocusPolicy(Qt::NoFocus);
    view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse);
    connect(view, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        QUrl target = url;
        if (url.isRelative() && !m_location.isEmpty() &&
            !url.toString().startsWith(QLatin1Char('#'))) {
            target = QUrl(m_location).resolved(url);
        }
        Navigate(target.toString());
    });
}

void CHtmlView::OnBeforeNavigate2(const QString& /*url*/, bool& /*cancel*/) {}

bool CHtmlView::LoadFromResource(const QString& name) {
    const QString path = ResourcePath(name);
    const QString url = path.startsWith(QLatin1Char(':')) ? QStringLiteral("qrc:") + path.mid(1)
                                                          : QUrl::fromLocalFile(path).toString();
    bool cancel = false;
    OnBeforeNavigate2(url, cancel);
    if (cancel) {
        return false;
    }
    return showPage(path, {});
}

void CHtmlView::Navigate(const QString& url) {
    bool cancel = false;
    OnBeforeNavigate2(url, cancel);
    if (!cancel) {
        follow(url);
    }
}

bool CHtmlView::follow(const QString& address) {
    QTextBrowser* view = widget();
    const QUrl url(address);
    if (address.startsWith(QLatin1Char('#'))) {
        if (view) {
            view->scrollToAnchor(address.mid(1));
        }
        return true;
    }
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("qrc") || address.startsWith(QLatin1Char(':'))) {
        return showPage(ResourcePath(address), url.fragment());
    }
    if (scheme == QLatin1String("file")) {
        return showPage(url.toLocalFile(), url.fragment());
    }
    if (scheme.isEmpty()) {
        return false;  // nothing to resolve a bare name against
    }
    return m_opener ? m_opener(url) : false;
}

bool CHtmlView::showPage(const QString& path, const QString& fragment) {
    QTextBrowser* view = widget();
    if (!view) {
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        view->clear();
        m_location.clear();
        return false;
    }
    const QString html = DecodePage(file.readAll());

    static const QRegularExpression bodyRe(QStringLiteral("<body\\b([^>]*)>"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QString body = bodyRe.match(html).captured(1);
    static const QRegularExpression hidden(QStringLiteral("overflow\\s*:\\s*hidden"),
                                           QRegularExpression::CaseInsensitiveOption);
    const bool noScroll = Attribute(body, QStringLiteral("scroll"))
                                  .compare(QLatin1String("no"), Qt::CaseInsensitive) == 0 ||
                          hidden.match(Attribute(body, QStringLiteral("style"))).hasMatch();
    const Qt::ScrollBarPolicy policy = noScroll ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded;
    view->setVerticalScrollBarPolicy(policy);
    view->setHorizontalScrollBarPolicy(policy);

    // The renderer ignores the body's link colours; they become the document's default
    // style for anchors (and the palette roles, for anything drawn from those).
    const QColor link(Attribute(body, QStringLiteral("link")));
    QColor visited(Attribute(body, QStringLiteral("vlink")));
    if (!visited.isValid()) {
        visited = link;
    }
    QPalette pal = view->palette();
    if (link.isValid()) {
        pal.setColor(QPalette::Link, link);
    }
    if (visited.isValid()) {
        pal.setColor(QPalette::LinkVisited, visited);
    }
    view->setPalette(pal);
    // Visits are not tracked by the renderer, so anchors keep the link colour.
    view->document()->setDefaultStyleSheet(
        link.isValid() ? QStringLiteral("a { color: %1; }").arg(link.name()) : QString());

    view->setHtml(html);
    m_location = path.startsWith(QLatin1Char(':')) ? QStringLiteral("qrc:") + path.mid(1)
                                                   : QUrl::fromLocalFile(path).toString();
    if (!fragment.isEmpty()) {
        view->scrollToAnchor(fragment);
    }
    return true;
}
