#include "app/socketlib.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

std::vector<std::string> InterfaceAddresses() {
    std::vector<std::string> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return out;
    }
    for (ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET ||
            !(a->ifa_flags & IFF_UP)) {
            continue;
        }
        char text[INET_ADDRSTRLEN] = {};
        const auto* sin = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) != nullptr) {
            out.emplace_back(text);
        }
    }
    freeifaddrs(list);
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
