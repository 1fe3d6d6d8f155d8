#pragma once
// What the main window shows, read the way the tests compare it.
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
