// Arbitrary bytes as a DNS response over UDP and over TCP, and a name read
// from every offset: whatever they say, the parser stays within the bytes
// and its bounds, and what it gives is a name as it promises.
#include <cstddef>
#include <cstdint>
#include <string>

#include "wire/app_protocol.h"
#include "wire/dns_message.h"

namespace {

void CheckName(const std::string& name) {
    if (name.size() > 255)
        __builtin_trap();
    for (const char c : name) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.'))
            __builtin_trap();
    }
}

void Check(const DnsResponse& r) {
    CheckName(r.question);
    if (r.aliases.size() > 8 || r.addresses.size() > 32)
        __builtin_trap();
    for (const std::string& a : r.aliases)
        CheckName(a);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const PacketBytes bytes(data, static_cast<int>(size));
    DnsResponse r;
    if (ParseDnsResponse(bytes, &r))
        Check(r);
    if (ParseDnsResponseOverTcp(bytes, &r))
        Check(r);
    for (size_t offset = 0; offset < size && offset < 512; offset += 7) {
        std::string name;
        size_t next = 0;
        if (ReadDnsName(bytes, offset, &name, &next)) {
            CheckName(name);
            if (next > size)
                __builtin_trap();
        }
    }
    GuessAppProtocol(17, 53, 40000, bytes);
    GuessAppProtocol(6, 53, 40000, bytes);
    return 0;
}
