#pragma once
// What the main window shows, read the way the tests compare it.
#include <QApplication>
#include <QLabel>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolTip>
#include <string>
#include <utility>
#include <vector>

#include "app/monitordlg.h"
#include "app/socketlib.h"
#include "res/resource.h"

inline bool Capturing(CMonitorDlg& dlg) {
    return !dlg.GetDlgItem(IDC_START)->isEnabled() && dlg.GetDlgItem(IDC_STOP)->isEnabled();
}

inline bool Stopped(CMonitorDlg& dlg) {
    return dlg.GetDlgItem(IDC_START)->isEnabled() && !dlg.GetDlgItem(IDC_STOP)->isEnabled();
}

// The list's texts, row by row, column by column.
using Rows = std::vector<std::vector<std::string>>;

inline Rows ListRows(CMonitorDlg& dlg) {
    Rows rows;
    for (int r = 0; r < dlg.m_list.GetItemCount(); ++r) {
        rows.emplace_back();
        for (int c = 0; c < kEventColumns; ++c)
            rows.back().push_back(dlg.m_list.GetItemText(r, c));
    }
    return rows;
}

// The host as the tests see it: these local addresses, and a socket library
// that agrees to the version asked for.
inline void FakeHost(std::vector<std::string> addresses) {
    SocketLibrary::Instance().localAddresses = [addresses = std::move(addresses)] {
        return addresses;
    };
    SocketLibrary::Instance().startup = [](uint16_t r, uint16_t* a) {
        *a = r;
        return 0;
    };
}

// A filter that watches port `monitored` and passes over `ignored` (0: none).
inline FilterSettings Filter(uint16_t monitored, uint16_t ignored) {
    FilterSettings f;
    f.monitoredPort = monitored;
    f.ignoredPort = ignored;
    f.RebuildTexts();
    return f;
}

// A tooltip's text as a person reads it: rich text rendered, plain text as it is.
// `images` counts the image elements the rendering made.
struct ShownTip {
    QString text;
    int images = 0;
};

inline ShownTip TipAsShown(const QString& tip) {
    if (!Qt::mightBeRichText(tip))
        return {tip, 0};
    QTextDocument doc;
    doc.setHtml(tip);
    ShownTip shown{doc.toPlainText(), 0};
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it)
            shown.images += it.fragment().charFormat().isImageFormat();
    }
    return shown;
}

// The tooltip on screen, read from its label; empty while none shows.
inline ShownTip ToolTipOnScreen() {
    if (!QToolTip::isVisible())
        return {};
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* label = qobject_cast<QLabel*>(w);
        if (label && label->objectName() == QLatin1String("qtooltip_label") && label->isVisible())
            return label->textFormat() == Qt::PlainText ? ShownTip{label->text(), 0}
                                                        : TipAsShown(label->text());
    }
    return {};
}
