#pragma once
// The IPv4 addresses of this host's interfaces, as the kernel lists them
// (getifaddrs): the one walk of that list that the address choice, the
// capture's device and a capture file's interface block share.
#include <cstdint>
#include <string>
#include <vector>

struct Ipv4InterfaceAddress {
    std::string name;      // as listed: "eth0", or "eth0:1" for a second address of eth0
    uint32_t address = 0;  // host order
    bool hasNetmask = false;
    uint32_t netmask = 0;  // host order
    bool up = false;
};

// Every IPv4 address of every interface, in the kernel's order. Empty when the
// list cannot be had; `error` (when given) then holds the errno, else 0.
std::vector<Ipv4InterfaceAddress> Ipv4InterfaceAddresses(int* error = nullptr);

// The interface a capture opens for `name`: "eth0:1" is eth0.
std::string DeviceName(const std::string& name);
