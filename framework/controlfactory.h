#pragma once
// Widgets for the template kinds that have no plain Qt counterpart.
#include <QWidget>
#include <cstdint>

QWidget* CreateIpAddressWidget(QWidget* parent);
QWidget* CreateUpDownWidget(QWidget* parent, uint32_t style);
