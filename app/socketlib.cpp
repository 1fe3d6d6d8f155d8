#include "app/socketlib.h"

#include "wire/interfaces.h"
#include "wire/ipv4.h"

std::vector<std::string> InterfaceAddresses() {
    std::vector<std::string> out;
    for (const Ipv4InterfaceAddress& a : Ipv4InterfaceAddresses()) {
        if (a.up) {
            out.push_back(FormatIpv4(a.address));
        }
    }
    return out;
}

SocketLibrary& SocketLibrary::Instance() {
    static SocketLibrary lib{
        [](uint16_t requested, uint16_t* agreed) {
            *agreed = requested;
            return 0;
        },
        [] {},
        InterfaceAddresses,
    };
    return lib;
}
