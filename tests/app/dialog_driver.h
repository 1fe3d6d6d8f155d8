#pragma once
// Runs a dialog modally and acts on it from the event loop, then closes it.
#include <QApplication>
#include <QDebug>
#include <QDialog>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <set>

#include "framework/dlgtemplate.h"

#include "framework/dialog.h"

inline int RunModalWith(CDialog& dlg, std::function<void()> body) {
    auto conn = std::make_shared<QMetaObject::Connection>();
    *conn = QObject::connect(&dlg, &CDialog::windowCreated, &dlg, [&dlg, body, conn](QDialog*) {
        QObject::disconnect(*conn);
        QTimer::singleShot(0, &dlg, [&dlg, body] {
            body();
            if (dlg.window() && dlg.window()->isVisible())
                dlg.EndDialog(IDCANCEL);
        });
    });
    return dlg.DoModal();
}

// Acts on the next visible dialog that `match` accepts as soon as it shows.
inline void WhenDialogShows(std::function<bool(QDialog*)> match,
                            std::function<void(QDialog*)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, match, act] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* d = qobject_cast<QDialog*>(w);
            if (d && d->isVisible() && match(d)) {
                timer->stop();
                timer->deleteLater();
                act(d);
                return;
            }
        }
    });
    timer->start(5);
}

// Acts on the next visible dialog with this caption as soon as it shows.
inline void WhenDialogShows(const QString& caption, std::function<void(QDialog*)> act) {
    WhenDialogShows([caption](QDialog* d) { return d->windowTitle() == caption; }, std::move(act));
}

// Closes every dialog with this caption that shows while it lives, and counts them.
class DialogCloser {
  public:
    explicit DialogCloser(const QString& caption) {
        QObject::connect(&timer_, &QTimer::timeout, [this, caption] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* d = qobject_cast<QDialog*>(w);
                if (d && d->isVisible() && d->windowTitle() == caption) {
                    ++shown;
                    d->reject();
                }
            }
        });
        timer_.start(5);
    }
    int shown = 0;

  private:
    QTimer timer_;
};

// The controls of a dialog that do not stand at their template rectangle,
// as "id: actual != expected"; `except` names controls that size themselves.
inline QStringList MisplacedControls(const CDialog& dlg, const std::set<int>& except = {}) {
    const DialogTemplate& t = dlg.Template();
    const DialogUnits du = UnitsForFont(TemplateFont(t.fontFace, t.fontPoints));
    QStringList wrong;
    for (const ControlTemplate& c : t.controls) {
        QWidget* w = c.id != -1 ? dlg.GetDlgItem(c.id) : nullptr;
        if (!w || except.count(c.id)) {
            continue;
        }
        const QRect want = du.Map(c.x, c.y, c.cx, c.cy);
        if (w->geometry() != want) {
            QString line;
            QDebug(&line) << c.id << w->geometry() << "!=" << want;
            wrong << line;
        }
    }
    return wrong;
}
