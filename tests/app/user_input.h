#pragma once
// A person's mouse and keys. Keys go to the window, which hands them to its
// focus widget, so focus, default button and tab order all take part; mouse
// clicks go to the widget under the pointer with the button pressed.
#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <vector>

#include "framework/dialog.h"

namespace input {

// Makes the window the one that takes the keys.
inline bool Activate(QWidget* w) {
    QWidget* top = w->window();
    top->activateWindow();
    return QTest::qWaitForWindowActive(top);
}

// One key pressed and released in the window of `w`, delivered to its focus widget.
inline void Key(QWidget* w, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(w->window()->windowHandle(), key, mods);
}

// A key that carries text no Latin key code names (a Cyrillic letter, say).
inline void KeyWithText(QWidget* w, Qt::Key key, const QString& text) {
    QTest::sendKeyEvent(QTest::Click, w->window()->windowHandle(), key, text, Qt::NoModifier);
}

// Typed text, one character at a time, each to whichever widget has the focus then.
inline void Type(QWidget* w, const char* text) {
    for (const char* c = text; *c; ++c) {
        QTest::keyClick(w->window()->windowHandle(), *c);
    }
}

inline void Click(QWidget* w, QPoint at = {}, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(w, button, Qt::NoModifier, at);
}

// What the window system delivers for a double click: press, release, double
// click, release.
inline void DoubleClick(QWidget* w, QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseClick(w, button, Qt::NoModifier, at);
    QTest::mouseDClick(w, button, Qt::NoModifier, at);
    QTest::mouseRelease(w, button, Qt::NoModifier, at);
}

// A click routed by the window itself, as the window system routes it: it
// reaches whatever lies at that point, and a right click asks for a context menu.
inline void ClickInWindow(QWidget* top, QPoint at, Qt::MouseButton button) {
    QTest::mouseClick(top->windowHandle(), button, Qt::NoModifier, at);
}

// Where a row is shown. A person clicks what is painted: rows that have just
// arrived are shown once the list next paints, so wait for that first.
inline QPoint RowPoint(QAbstractItemView* view, int row) {
    (void)QTest::qWaitFor([&] { return view->model()->rowCount() > row; }, 5000);
    return view->visualRect(view->model()->index(row, 0)).center();
}

// A point of the viewport below the last row.
inline QPoint BelowRows(QAbstractItemView* view) {
    return QPoint(20, view->viewport()->height() - 5);
}

inline void ClickHeader(QHeaderView* header, int section) {
    const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

// The template id of a widget, or of the control that holds it (a field of an
// address control), or 0.
inline int ControlId(QWidget* w) {
    for (; w; w = w->parentWidget()) {
        const QVariant id = w->property(kCtlIdProperty);
        if (id.isValid()) {
            return id.toInt();
        }
    }
    return 0;
}

inline int FocusId() {
    return ControlId(QApplication::focusWidget());
}

// Presses Tab (or Shift+Tab) `steps` times and notes where the focus lands each time.
inline std::vector<int> WalkTabs(QWidget* w, int steps, bool backwards = false) {
    std::vector<int> ids;
    for (int i = 0; i < steps; ++i) {
        Key(w, backwards ? Qt::Key_Backtab : Qt::Key_Tab,
            backwards ? Qt::ShiftModifier : Qt::NoModifier);
        ids.push_back(FocusId());
    }
    return ids;
}

// The tab stops of a dialog in template order: its enabled controls with the tab-stop style.
inline std::vector<int> TemplateTabStops(const CDialog& dlg) {
    std::vector<int> ids;
    for (const ControlTemplate& c : dlg.Template().controls) {
        QWidget* w = c.id != -1 ? dlg.GetDlgItem(c.id) : nullptr;
        if (w && (c.style & ctlstyle::TabStop) && w->isEnabled() && w->isVisible()) {
            ids.push_back(c.id);
        }
    }
    return ids;
}

// Acts on the next pop-up menu that opens, as soon as it shows.
inline void WhenNextMenuOpens(std::function<void(QMenu*)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu || !menu->isVisible()) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        act(menu);
    });
    timer->start(5);
}

inline void ClickMenuEntry(QMenu* menu, QAction* entry) {
    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(entry).center());
}

// Chooses the entry with this text from the next pop-up menu that opens, and
// notes every entry the menu offered.
inline void ChooseFromNextMenu(const QString& entry, QStringList* offered) {
    WhenNextMenuOpens([entry, offered](QMenu* menu) {
        QAction* chosen = nullptr;
        for (QAction* a : menu->actions()) {
            if (offered) {
                offered->push_back(a->isSeparator() ? QStringLiteral("-") : a->text());
            }
            if (!a->isSeparator() && a->text() == entry) {
                chosen = a;
            }
        }
        if (chosen) {
            ClickMenuEntry(menu, chosen);
        } else {
            menu->close();
        }
    });
}

struct MenuEntry {
    QString text;
    bool enabled;
    bool operator==(const MenuEntry&) const = default;
};

// Clicks the entry with this text in the next pop-up menu that opens (a
// greyed-out entry takes no click), notes every entry with whether it could
// be chosen, and closes the menu if it is still open after the click.
inline void ClickInNextMenu(const QString& entry, std::vector<MenuEntry>* seen) {
    WhenNextMenuOpens([entry, seen](QMenu* menu) {
        QAction* target = nullptr;
        for (QAction* a : menu->actions()) {
            if (!a->isSeparator()) {
                if (seen) {
                    seen->push_back({a->text(), a->isEnabled()});
                }
                if (a->text() == entry) {
                    target = a;
                }
            }
        }
        QPointer<QMenu> alive(menu);
        if (target) {
            ClickMenuEntry(menu, target);
        }
        if (alive && alive->isVisible()) {
            alive->close();
        }
    });
}

// Right-clicks the background of the window `top` and clicks `entry` in the
// context menu that opens; returns every entry it offered.
inline std::vector<MenuEntry> ChooseFromContextMenu(QWidget* top, const QString& entry) {
    std::vector<MenuEntry> seen;
    Activate(top);
    ClickInNextMenu(entry, &seen);
    ClickInWindow(top, QPoint(3, 3), Qt::RightButton);
    return seen;
}

}  // namespace input
