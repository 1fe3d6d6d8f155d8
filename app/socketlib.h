#pragma once
// Start-up of the socket layer. Linux needs none; the seam keeps the version
// agreement real code and lets tests refuse it or agree to other versions.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct SocketLibrary {
    // 0 on success with the agreed version (low byte major, high byte minor).
    std::function<int(uint16_t requested, uint16_t* agreed)> startup;
    std::function<void()> cleanup;
    // The host's own IPv4 addresses as dotted text.
    std::function<std::vector<std::string>()> localAddresses;

    static SocketLibrary& Instance();
};

// Every IPv4 address of every interface that is up, loopback included.
std::vector<std::string> InterfaceAddresses();
