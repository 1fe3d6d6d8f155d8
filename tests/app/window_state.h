#pragma once
// What the main window shows, read the way the tests compare it.
#include <string>
#include <vector>

#include "app/monitordlg.h"
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
