#pragma once
// The addresses of this host's interfaces, as the kernel lists them
// (getifaddrs): the one walk of that list that the address choice, the
// capture's device, a capture file's interface block and the conversations'
// local IPv6 addresses share.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "wire/ipv6.h"

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

// The IPv6 addresses of one device (link-local ones included), in the
// kernel's order; empty when it has none or the list cannot be had.
std::vector<Ipv6Address> Ipv6AddressesOf(const std::string& device);

// The IPv6 addresses of the device that holds the dotted IPv4 address `ipv4`:
// the selected address picks the interface, and all of its IPv6 addresses
// are this host's too.
std::vector<Ipv6Address> Ipv6AddressesBeside(std::string_view ipv4);

// The interface a capture opens for `name`: "eth0:1" is eth0.
std::string DeviceName(const std::string& name);

// Tells when this host gains or loses an address: a routing socket the kernel
// writes to at every such change (IPv6 temporary addresses come and go while a
// monitor runs for days). Read from an event loop when its descriptor is
// readable; nothing is read but the kernel's own messages.
class AddressChanges {
  public:
    AddressChanges();
    ~AddressChanges();
    AddressChanges(const AddressChanges&) = delete;
    AddressChanges& operator=(const AddressChanges&) = delete;

    // Negative where the socket could not be had: no changes are told then.
    int Fd() const { return fd_; }
    // Reads what is waiting without blocking. True when any of it was an
    // address added or removed, or when messages were lost (the kernel's
    // queue overflowed), which may have been one.
    bool Drain();

  private:
    int fd_ = -1;
};
