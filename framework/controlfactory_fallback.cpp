#include "framework/controlfactory.h"

// Stand-ins until the address and up-down controls are linked in.
__attribute__((weak)) QWidget* CreateIpAddressWidget(QWidget* parent) {
    return new QWidget(parent);
}
__attribute__((weak)) QWidget* CreateUpDownWidget(QWidget* parent, uint32_t) {
    return new QWidget(parent);
}
