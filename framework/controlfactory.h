#pragma once
// Widgets for the template kinds that have no plain Qt counterpart.
#include <QWidget>
#include <cstdint>

QWidget* CreateIpAddressWidget(QWidget* parent);
QWidget* CreateUpDownWidget(QWidget* parent, uint32_t style);
// A table whose Home and End go to the first and the last row, as a list
// control's do (a plain table's move along the row).
QWidget* CreateListViewWidget(QWidget* parent);
