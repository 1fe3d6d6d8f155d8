#pragma once
// The 连接 window of a live test, reached as a person reaches it: the
// address clicked in the main window's list, 开始, 连接... from the context
// menu; and its lines read by protocol and local port.
#include <QListWidget>
#include <string>

#include "app/monitordlg.h"
#include "res/resource.h"
#include "tests/app/user_input.h"

inline void SelectAddress(CMonitorDlg& dlg, const std::string& address) {
    auto* box = qobject_cast<QListWidget*>(dlg.GetDlgItem(IDC_LOCAL_ADDRESSES));
    for (int i = 0; i < box->count(); ++i) {
        if (box->item(i)->text().toStdString() == address)
            input::Click(box->viewport(), box->visualItemRect(box->item(i)).center());
    }
}

// The 连接 window, opened from the context menu; null where it did not open.
inline CConversationsDlg* OpenConversations(CMonitorDlg& dlg) {
    input::ChooseFromContextMenu(dlg.window(), QStringLiteral("连接..."));
    CConversationsDlg* conv = dlg.ConversationsWindow();
    return conv && conv->IsOpen() ? conv : nullptr;
}

// The 连接 window opened, then capture started on `address`; null unless
// both happened.
inline CConversationsDlg* WatchConversations(CMonitorDlg& dlg, const std::string& address) {
    CConversationsDlg* conv = OpenConversations(dlg);
    if (!conv)
        return nullptr;
    SelectAddress(dlg, address);
    input::Click(dlg.GetDlgItem(IDC_START));
    return dlg.Capture().CaptureThreadRunning() ? conv : nullptr;
}

// The line of the conversation with this protocol ("TCP", "UDP") and local port, or -1.
inline int LineOf(const ConversationModel& m, const char* protocol, uint16_t localPort) {
    for (int r = 0; r < m.rowCount(); ++r) {
        if (m.CellText(r, ConversationModel::kProtocol) == protocol &&
            m.CellText(r, ConversationModel::kLocalPort) == std::to_string(localPort))
            return r;
    }
    return -1;
}

// A cell of that line; empty while there is none.
inline std::string Cell(const ConversationModel& m, const char* protocol, uint16_t localPort,
                        int column) {
    const int r = LineOf(m, protocol, localPort);
    return r < 0 ? std::string() : m.CellText(r, column);
}
