#include "wire/interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "wire/ipv4.h"

namespace {

uint32_t HostOrder(const sockaddr* a) {
    sockaddr_in in{};
    std::memcpy(&in, a, sizeof in);
    return ntohl(in.sin_addr.s_addr);
}

}  // namespace

std::vector<Ipv4InterfaceAddress> Ipv4InterfaceAddresses(int* error) {
    std::vector<Ipv4InterfaceAddress> out;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        if (error)
            *error = errno;
        return out;
    }
    if (error)
        *error = 0;
    for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET || a->ifa_name == nullptr)
            continue;
        Ipv4InterfaceAddress entry;
        entry.name.assign(a->ifa_name, strnlen(a->ifa_name, IF_NAMESIZE));
        entry.address = HostOrder(a->ifa_addr);
        if (a->ifa_netmask != nullptr && a->ifa_netmask->sa_family == AF_INET) {
            entry.hasNetmask = true;
            entry.netmask = HostOrder(a->ifa_netmask);
        }
        entry.up = (a->ifa_flags & IFF_UP) != 0;
        out.push_back(std::move(entry));
    }
    freeifaddrs(list);
    return out;
}

std::vector<Ipv6Address> Ipv6AddressesOf(const std::string& device) {
    std::vector<Ipv6Address> out;
    ifaddrs* list = nullptr;
    if (device.empty() || getifaddrs(&list) != 0)
        return out;
    for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET6 ||
            a->ifa_name == nullptr ||
            device != std::string_view(a->ifa_name, strnlen(a->ifa_name, IF_NAMESIZE)))
            continue;
        sockaddr_in6 in6{};
        std::memcpy(&in6, a->ifa_addr, sizeof in6);
        Ipv6Address address;
        std::memcpy(address.data(), &in6.sin6_addr, address.size());
        if (std::find(out.begin(), out.end(), address) == out.end())
            out.push_back(address);
    }
    freeifaddrs(list);
    return out;
}

std::vector<Ipv6Address> Ipv6AddressesBeside(std::string_view ipv4) {
    uint32_t wanted = 0;
    if (!ParseIpv4(ipv4, &wanted))
        return {};
    for (const Ipv4InterfaceAddress& a : Ipv4InterfaceAddresses()) {
        if (a.address == wanted)
            return Ipv6AddressesOf(DeviceName(a.name));
    }
    return {};
}

std::string DeviceName(const std::string& name) {
    return name.substr(0, name.find(':'));
}
