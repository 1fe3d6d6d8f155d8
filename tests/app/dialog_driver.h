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
