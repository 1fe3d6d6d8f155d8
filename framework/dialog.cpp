#include "framework/dialog.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimerEvent>

#include "framework/controlfactory.h"
#include "framework/gbk.h"
#include "framework/qttranslation.h"
#include "framework/templateedits.h"

namespace {

CWinApp* g_app = nullptr;
MessageBoxHook g_boxHook;

QString Utf8(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The window of a template dialog: Escape and the close box go to the owner's
// OnCancel, the context menu to its system-menu stand-in.
class TemplateDialog : public QDialog {
  public:
    TemplateDialog(QWidget* parent, std::function<void()> onCancel,
                   std::function<void(QPoint)> onContextMenu)
        : QDialog(parent), onCancel_(std::move(onCancel)), onMenu_(std::move(onContextMenu)) {}
    void reject() override { onCancel_(); }
    // Hidden without ending a modal run (QDialog's hide ends it).
    void setVisible(bool visible) override {
        if (!visible && keepRunning) {
            QWidget::setVisible(false);
            hiddenInRun_ = true;
            return;
        }
        hiddenInRun_ = false;
        QDialog::setVisible(visible);
    }
    // QDialog ends a modal run by hiding its window, and a window hidden
    // while its run went on is never hidden again: the run would outlive the
    // window (退出 from the tray). Shown first, but not on the screen.
    void done(int result) override {
        if (hiddenInRun_ && isHidden()) {
            setAttribute(Qt::WA_DontShowOnScreen);
            QDialog::setVisible(true);
        }
        QDialog::done(result);
    }
    bool keepRunning = false;

  protected:
    void contextMenuEvent(QContextMenuEvent* e) override { onMenu_(e->globalPos()); }

  private:
    std::function<void()> onCancel_;
    std::function<void(QPoint)> onMenu_;
    bool hiddenInRun_ = false;
};

}  // namespace

CWinApp::CWinApp(int& argc, char** argv) {
    g_app = this;
    // Tests bring their own application object.
    if (QCoreApplication::instance() == nullptr) {
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    // Qt's file dialogs and standard buttons in the program's language.
    InstallQtTranslation(*QCoreApplication::instance());
    appName_ =
        QFileInfo(QString::fromLocal8Bit(argc > 0 ? argv[0] : "quorvelan")).completeBaseName();
    if (appName_.isEmpty())
        appName_ = QStringLiteral("quorvelan");
}

CWinApp::~CWinApp() {
    if (g_app == this)
        g_app = nullptr;
}

int CWinApp::Run() {
    InitInstance();
    return 0;
}

CWinApp* AfxGetApp() {
    return g_app;
}

QString AfxAppName() {
    return g_app ? g_app->AppName()
                 : QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

void SetMessageBoxHookForTesting(MessageBoxHook hook) {
    g_boxHook = std::move(hook);
}

int AfxMessageBoxUtf8(const QString& text, unsigned type) {
    const QString caption = AfxAppName();
    if (g_boxHook)
        return g_boxHook(caption, text, type);
    QWidget* owner = nullptr;
    if (g_app && g_app->m_pMainWnd)
        owner = g_app->m_pMainWnd->GetSafeHwnd();
    QMessageBox box(owner);
    box.setWindowTitle(caption);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setIcon((type & 0xF0) == MB_ICONSTOP ? QMessageBox::Critical : QMessageBox::Warning);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return IDOK;
}

int AfxMessageBox(std::string_view gbkText, unsigned type) {
    return AfxMessageBoxUtf8(FromGbk(gbkText), type);
}

QFont TemplateFont(std::string_view face, int points) {
    QFont font;
    // The templates ask for a font Linux does not have; fall back to an installed CJK font.
    font.setFamilies({Utf8(face), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Micro Hei"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK")});
    font.setPointSize(points);
    return font;
}

DialogUnits UnitsForFont(const QFont& font) {
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogUnits{(width / 26 + 1) / 2, fm.height()};
}

CDialog::CDialog(const DialogTemplate& tmpl, CWnd* parent) : tmpl_(tmpl), parent_(parent) {}

CDialog::~CDialog() {
    if (dialog_)
        delete dialog_.data();
}

QWidget* CDialog::GetDlgItem(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second.data();
}

void CDialog::DDX_Control(int id, CWnd& wrapper) {
    if (QWidget* w = GetDlgItem(id))
        wrapper.Attach(w);
}

void CDialog::Build() {
    QWidget* owner = nullptr;
    if (parent_) {
        owner = parent_->GetSafeHwnd();
    } else if (g_app && g_app->m_pMainWnd && g_app->m_pMainWnd != this) {
        owner = g_app->m_pMainWnd->GetSafeHwnd();
    }
    auto* dlg = new TemplateDialog(
        owner, [this] { OnCancel(); },
        [this](QPoint at) {
            if (sysMenu_.empty())
                return;
            QMenu menu(dialog_);
            menu.addSeparator();
            for (const SysMenuEntry& e : sysMenu_) {
                QAction* action = menu.addAction(FromGbk(e.text));
                action->setData(e.command);
                action->setEnabled(e.enabled);
            }
            if (QAction* chosen = menu.exec(at))
                OnSysCommand(chosen->data().toUInt());
        });
    dialog_ = dlg;
    m_hWnd = dlg;
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (tmpl_.minimizeBox)
        flags |= Qt::WindowMinimizeButtonHint;
    dlg->setWindowFlags(flags);
    dlg->setWindowTitle(Utf8(tmpl_.caption));
    const QFont font = TemplateFont(tmpl_.fontFace, tmpl_.fontPoints);
    dlg->setFont(font);
    const DialogUnits du = UnitsForFont(font);
    dlg->setFixedSize(du.Map(0, 0, tmpl_.cx, tmpl_.cy).size());
    if (!icon_.isNull())
        dlg->setWindowIcon(icon_);

    QWidget* previous = nullptr;
    controls_.clear();
    for (const ControlTemplate& c : tmpl_.controls) {
        QWidget* w = nullptr;
        const QString text = Utf8(c.text);
        switch (c.kind) {
            case ControlKind::PushButton:
            case ControlKind::DefPushButton: {
                auto* b = new QPushButton(text, dlg);
                b->setAutoDefault(true);
                b->setDefault(c.kind == ControlKind::DefPushButton);
                const int id = c.id;
                connect(b, &QPushButton::clicked, this, [this, id] {
                    if (id == IDOK)
                        OnOK();
                    else if (id == IDCANCEL)
                        OnCancel();
                    else
                        OnCommand(id);
                });
                w = b;
                break;
            }
            case ControlKind::CheckBox: {
                auto* b = new QCheckBox(text, dlg);
                const int id = c.id;
                connect(b, &QCheckBox::clicked, this, [this, id] { OnCommand(id); });
                w = b;
                break;
            }
            case ControlKind::GroupBox: {
                auto* g = new QGroupBox(text, dlg);
                g->setFocusPolicy(Qt::NoFocus);
                w = g;
                break;
            }
            case ControlKind::Static: {
                auto* l = new QLabel(dlg);
                l->setTextFormat(Qt::PlainText);
                l->setText(text);
                l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                w = l;
                break;
            }
            case ControlKind::StaticPicture:
            case ControlKind::StaticFrame: {
                auto* l = new QLabel(dlg);
                l->setTextFormat(Qt::PlainText);
                if (c.kind == ControlKind::StaticFrame) {
                    l->setAutoFillBackground(true);
                    QPalette p = l->palette();
                    p.setColor(QPalette::Window, Qt::white);
                    l->setPalette(p);
                }
                w = l;
                break;
            }
            case ControlKind::Edit:
                if (c.style & ctlstyle::EsMultiline) {
                    auto* e = new detail::TemplateTextEdit(dlg, c.style & ctlstyle::EsWantReturn);
                    e->setReadOnly(c.style & ctlstyle::EsReadOnly);
                    e->setVerticalScrollBarPolicy((c.style & ctlstyle::VScroll)
                                                      ? Qt::ScrollBarAlwaysOn
                                                      : Qt::ScrollBarAsNeeded);
                    e->setLineWrapMode(QPlainTextEdit::WidgetWidth);
                    e->setTabChangesFocus(true);
                    w = e;
                } else {
                    auto* e = (c.style & ctlstyle::EsNumber) ? new detail::TemplateNumberEdit(dlg)
                                                             : new QLineEdit(dlg);
                    e->setReadOnly(c.style & ctlstyle::EsReadOnly);
                    w = e;
                }
                break;
            case ControlKind::ListBox: {
                auto* l = new QListWidget(dlg);
                l->setProperty("sorted", bool(c.style & ctlstyle::LbsSort));
                l->setSelectionMode(QAbstractItemView::SingleSelection);
                w = l;
                break;
            }
            case ControlKind::ListView:
                w = CreateListViewWidget(dlg);
                break;
            case ControlKind::IpAddress:
                w = CreateIpAddressWidget(dlg);
                break;
            case ControlKind::UpDown:
                w = CreateUpDownWidget(dlg, c.style);
                break;
        }
        if (!w)
            continue;
        w->setProperty(kCtlIdProperty, c.id);
        w->setGeometry(du.Map(c.x, c.y, c.cx, c.cy));
        if (c.style & ctlstyle::Disabled)
            w->setEnabled(false);
        if (c.id != -1)
            controls_[c.id] = w;
        if (w->focusPolicy() != Qt::NoFocus && c.kind != ControlKind::GroupBox &&
            c.kind != ControlKind::Static) {
            if (previous)
                QWidget::setTabOrder(previous, w);
            previous = w;
        }
    }
    // Group boxes only frame their neighbours: keep them beneath, out of the way of clicks.
    for (QGroupBox* g : dlg->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly)) {
        g->lower();
    }
}

bool CDialog::OnInitDialog() {
    DoDataExchange();
    return true;
}

void CDialog::FocusFirstTabStop() {
    for (const ControlTemplate& c : tmpl_.controls) {
        QWidget* w = c.id != -1 ? GetDlgItem(c.id) : nullptr;
        if (w && (c.style & ctlstyle::TabStop) && w->isEnabled()) {
            w->setFocus(Qt::TabFocusReason);
            break;
        }
    }
}

int CDialog::DoModal() {
    Build();
    Q_EMIT windowCreated(dialog_);
    if (OnInitDialog()) {
        FocusFirstTabStop();
    }
    if (!dialog_->parentWidget()) {
        if (QScreen* s = QGuiApplication::primaryScreen()) {
            const QRect area = s->availableGeometry();
            dialog_->move(area.center() - QPoint(dialog_->width() / 2, dialog_->height() / 2));
        }
    }
    result_ = IDCANCEL;
    dialog_->exec();
    OnDestroy();
    QDialog* dead = dialog_.data();
    ForgetWindow();
    delete dead;
    return result_;
}

bool CDialog::Create() {
    if (dialog_) {
        return true;
    }
    Build();
    // Deleted with its owner: nothing of the window may be used after that.
    connect(dialog_, &QObject::destroyed, this, [this] { ForgetWindow(); });
    Q_EMIT windowCreated(dialog_);
    if (OnInitDialog()) {
        FocusFirstTabStop();
    }
    dialog_->show();
    return true;
}

void CDialog::ForgetWindow() {
    for (const auto& [id, qtId] : timers_)
        killTimer(qtId);
    timers_.clear();
    dialog_ = nullptr;
    m_hWnd = nullptr;
    controls_.clear();
}

void CDialog::DestroyWindow() {
    if (!dialog_) {
        return;
    }
    OnDestroy();
    QDialog* dead = dialog_.data();
    disconnect(dead, &QObject::destroyed, this, nullptr);
    ForgetWindow();
    dead->hide();
    // It may be the window whose close button or key got us here.
    dead->deleteLater();
}

void CDialog::HideKeepingRun() {
    auto* d = static_cast<TemplateDialog*>(dialog_.data());
    if (!d)
        return;
    d->keepRunning = true;
    d->hide();
    d->keepRunning = false;
}

void CDialog::EndDialog(int result) {
    result_ = result;
    if (dialog_)
        dialog_->done(result);
}

void CDialog::SetIcon(const QIcon& icon, bool) {
    icon_ = icon;
    if (dialog_)
        dialog_->setWindowIcon(icon);
}

void CDialog::SetTimer(int id, int milliseconds) {
    KillTimer(id);
    timers_[id] = startTimer(milliseconds);
}

void CDialog::KillTimer(int id) {
    auto it = timers_.find(id);
    if (it != timers_.end()) {
        killTimer(it->second);
        timers_.erase(it);
    }
}

void CDialog::AppendSystemMenuEntry(unsigned command, std::string_view gbkText) {
    sysMenu_.push_back({command, std::string(gbkText), true});
}

void CDialog::EnableSystemMenuEntry(unsigned command, bool enable) {
    for (SysMenuEntry& e : sysMenu_) {
        if (e.command == command) {
            e.enabled = enable;
        }
    }
}

void CDialog::SetSystemMenuEntryText(unsigned command, std::string_view gbkText) {
    for (SysMenuEntry& e : sysMenu_) {
        if (e.command == command) {
            e.text.assign(gbkText);
        }
    }
}

bool CDialog::SystemMenuEntryEnabled(unsigned command) const {
    for (const SysMenuEntry& e : sysMenu_) {
        if (e.command == command) {
            return e.enabled;
        }
    }
    return false;
}

void CDialog::timerEvent(QTimerEvent* event) {
    for (const auto& [id, qtId] : timers_) {
        if (qtId == event->timerId()) {
            OnTimer(id);
            return;
        }
    }
    CWnd::timerEvent(event);
}
