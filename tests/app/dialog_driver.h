#pragma once
// Runs a dialog modally and acts on it from the event loop, then closes it.
#include <QApplication>
#include <QTimer>
#include <functional>

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

// Acts on the next visible dialog with this caption as soon as it shows.
inline void WhenDialogShows(const QString& caption, std::function<void(QDialog*)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, caption, act] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* d = qobject_cast<QDialog*>(w);
            if (d && d->isVisible() && d->windowTitle() == caption) {
                timer->stop();
                timer->deleteLater();
                act(d);
                return;
            }
        }
    });
    timer->start(5);
}
