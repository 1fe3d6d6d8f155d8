// Arbitrary bytes as the first payload of a connection: a TLS ClientHello's
// server name, an HTTP request's Host, the application its first bytes
// show. Names that come out are lower case and of host-name bytes only.
#include <cstddef>
#include <cstdint>
#include <string>

#include "wire/app_protocol.h"
#include "wire/hello_names.h"

namespace {

void CheckHost(const std::string& host, bool literal) {
    if (host.empty() || host.size() > 253 + 2)
        __builtin_trap();
    for (const char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                        c == '.' || (literal && (c == '[' || c == ']' || c == ':'));
        if (!ok)
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const PacketBytes bytes(data, static_cast<int>(size));
    std::string name;
    if (ParseTlsServerName(bytes, &name))
        CheckHost(name, false);
    std::string host;
    if (ParseHttpHost(bytes, &host))
        CheckHost(host, !host.empty() && host[0] == '[');
    for (const uint16_t port : {443, 80, 22})
        for (const uint8_t protocol : {6, 17})
            GuessAppProtocol(protocol, 40000, port, bytes);
    return 0;
}
