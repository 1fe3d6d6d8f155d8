#include "framework/controls.h"

#include <QAbstractButton>

#include "framework/gbk.h"

namespace {
constexpr int kGbkRole = Qt::UserRole + 1;
}

void CListBox::ResetContent() {
    if (auto* b = box())
        b->clear();
}

int CListBox::AddString(std::string_view gbk) {
    auto* b = box();
    if (!b)
        return -1;
    const bool sorted = b->property("sorted").toBool();
    const std::string bytes(gbk);
    int at = b->count();
    if (sorted) {
        // Byte order of the texts, as the system's sorted list box compares them.
        at = 0;
        while (at < b->count() &&
               b->item(at)->data(kGbkRole).toByteArray().toStdString() <= bytes) {
            ++at;
        }
    }
    auto* item = new QListWidgetItem(FromGbk(gbk));
    item->setData(kGbkRole, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    b->insertItem(at, item);
    return at;
}

int CListBox::GetCount() const {
    return box() ? box()->count() : 0;
}

int CListBox::GetCurSel() const {
    auto* b = box();
    if (!b)
        return -1;
    const auto selected = b->selectedItems();
    return selected.isEmpty() ? -1 : b->row(selected.first());
}

void CListBox::SetCurSel(int index) {
    if (auto* b = box()) {
        if (index < 0) {
            b->clearSelection();
        } else {
            b->setCurrentRow(index);
        }
    }
}

std::string CListBox::GetText(int index) const {
    auto* b = box();
    if (!b || index < 0 || index >= b->count())
        return {};
    return b->item(index)->data(kGbkRole).toByteArray().toStdString();
}

int CButton::GetCheck() const {
    auto* b = qobject_cast<QAbstractButton*>(GetSafeHwnd());
    return b && b->isCheckable() && b->isChecked() ? 1 : 0;
}

void CButton::SetCheck(int check) {
    if (auto* b = qobject_cast<QAbstractButton*>(GetSafeHwnd()); b && b->isCheckable())
        b->setChecked(check != 0);
}
