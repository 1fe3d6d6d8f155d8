// The controls that dialog templates ask for by kind IpAddress and UpDown.
#include <QWidget>
#include <cstdint>

#include "framework/controlfactory.h"
#include "framework/ipaddress.h"
#include "framework/spinbutton.h"

QWidget* CreateIpAddressWidget(QWidget* parent) {
    return new Ip4FieldsWidget(parent);
}

QWidget* CreateUpDownWidget(QWidget* parent, uint32_t style) {
    return new UpDownArrowsWidget(parent, style);
}
