#include "wire/interfaces.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

AddressChanges::AddressChanges() {
    fd_ = socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd_ < 0)
        return;
    sockaddr_nl own{};
    own.nl_family = AF_NETLINK;
    own.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&own), sizeof own) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

AddressChanges::~AddressChanges() {
    if (fd_ >= 0)
        close(fd_);
}

bool AddressChanges::Drain() {
    if (fd_ < 0)
        return false;
    bool changed = false;
    unsigned char buffer[8192];
    // Bounded: a flood of changes is taken a few dozen messages at a time,
    // and the event loop comes back for the rest.
    for (int reads = 0; reads < 64; ++reads) {
        sockaddr_nl from{};
        socklen_t fromSize = sizeof from;
        const ssize_t n = recvfrom(fd_, buffer, sizeof buffer, MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == ENOBUFS) {  // some were lost: read the addresses again
                changed = true;
                continue;
            }
            break;  // EAGAIN: nothing more waiting
        }
        if (n == 0)
            break;
        if (fromSize != sizeof from || from.nl_pid != 0)
            continue;  // not the kernel's
        // Each message's header copied out and its length checked against what came.
        const size_t size = static_cast<size_t>(n);
        for (size_t at = 0; at + sizeof(nlmsghdr) <= size;) {
            nlmsghdr h;
            std::memcpy(&h, buffer + at, sizeof h);
            if (h.nlmsg_len < sizeof h || h.nlmsg_len > size - at)
                break;
            if (h.nlmsg_type == RTM_NEWADDR || h.nlmsg_type == RTM_DELADDR)
                changed = true;
            at += NLMSG_ALIGN(h.nlmsg_len);
        }
    }
    return changed;
}
