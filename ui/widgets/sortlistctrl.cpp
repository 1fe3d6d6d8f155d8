#include "ui/widgets/sortlistctrl.h"

#include <QApplication>
#include <QCursor>
#include <array>
#include <string>
#include <vector>

#include "res/resource.h"
#include "res/string_table.h"
#include "ui/text/gbkcompare.h"

namespace {

// Column widths as divisors of the control's outer width.
constexpr std::array<int, 8> kWidthDivisors = {7, 6, 12, 6, 10, 12, 7, 8};

constexpr unsigned kSwapStateMask = 0xFF0F;

}  // namespace

CSortListCtrl::CSortListCtrl() {
    connect(this, &CListCtrl::columnClicked, this, [this](int col) { OnColumnClick(col); });
}

void CSortListCtrl::PreSubclassWindow() {
    CListCtrl::PreSubclassWindow();
    SetupColumns();
}

void CSortListCtrl::SetupColumns() {
    ModifyStyle(LVS_TYPEMASK, LVS_REPORT);
    SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    CListCtrl::DeleteAllItems();
    for (int i = 0; i < static_cast<int>(kWidthDivisors.size()); ++i) {
        InsertColumn(i, LoadStringGbk(IDS_LIST_HEADING_FIRST + i), LVCFMT_LEFT);
    }
    const int w = GetWindowRect().width();  // outer rectangle, borders included
    for (int i = 0; i < static_cast<int>(kWidthDivisors.size()); ++i) {
        SetColumnWidth(i, w / kWidthDivisors[static_cast<size_t>(i)]);
    }
}

int CSortListCtrl::OnColumnClick(int column) {
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    if (column == m_sortColumn) {
        m_ascending = !m_ascending;
    } else {
        m_sortColumn = column;
        m_ascending = 1;
    }
    SortByColumnText(m_sortColumn, m_ascending, 0, -1);
    QApplication::restoreOverrideCursor();
    return 0;
}

bool CSortListCtrl::SortByColumnText(int column, int ascending, int low, int high) {
    if (column >= GetHeaderColumnCount()) {
        return false;
    }
    if (high == -1) {
        high = CListCtrl::GetItemCount() - 1;
    }
    int lo = low;
    int hi = high;
    if (hi <= lo) {
        return false;
    }
    // Views, not copies: comparing must not allocate. Only the pivot is kept,
    // as swaps move the texts under it.
    auto text = [&](int row) { return GetItemTextView(row, column); };
    const std::string pivot(text((lo + hi) / 2));

    while (lo <= hi) {
        if (ascending) {
            while (lo < high && CompareGbk(text(lo), pivot) < 0)
                ++lo;
            while (hi > low && CompareGbk(text(hi), pivot) > 0)
                --hi;
        } else {
            while (lo < high && CompareGbk(text(lo), pivot) > 0)
                ++lo;
            while (hi > low && CompareGbk(text(hi), pivot) < 0)
                --hi;
        }
        if (lo <= hi) {
            if (CompareGbk(text(lo), text(hi)) != 0) {
                SwapRows(lo, hi);
            }
            ++lo;
            --hi;
        }
    }
    if (low < hi) {
        SortByColumnText(column, ascending, low, hi);
    }
    if (lo < high) {
        SortByColumnText(column, ascending, lo, high);
    }
    return true;
}

void CSortListCtrl::SwapRows(int a, int b) {
    // Every text and attribute of the two rows changes places, so selection
    // and focus travel with the contents; the texts go as whole rows rather
    // than cell by cell, which would rebuild each row once per cell.
    LVITEM ia{};
    ia.mask = LVIF_IMAGE | LVIF_PARAM | LVIF_STATE;
    ia.iItem = a;
    ia.stateMask = kSwapStateMask;
    LVITEM ib = ia;
    ib.iItem = b;
    GetItem(ia);
    GetItem(ib);
    SwapItemTexts(a, b);
    ib.iItem = a;
    SetItem(ib);
    ia.iItem = b;
    SetItem(ia);
}
