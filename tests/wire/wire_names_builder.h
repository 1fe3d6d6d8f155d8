#pragma once
// Builders of the messages that name hosts on the wire, shaped as real ones
// are: DNS responses (names compressed as servers write them), TLS
// ClientHellos with a server_name extension among others, HTTP requests.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace wirenames {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

// A name as labels, ending in the root or in a pointer to `pointer`.
inline void PutName(Bytes& b, const std::string& name, int pointer = -1) {
    size_t start = 0;
    while (start < name.size()) {
        size_t dot = name.find('.', start);
        if (dot == std::string::npos)
            dot = name.size();
        b.push_back(static_cast<uint8_t>(dot - start));
        b.insert(b.end(), name.begin() + static_cast<long>(start),
                 name.begin() + static_cast<long>(dot));
        start = dot + 1;
    }
    if (pointer >= 0)
        Put16(b, static_cast<uint16_t>(0xC000 | pointer));
    else
        b.push_back(0);
}

struct DnsRecord {
    std::string owner;  // "" with ownerPointer: the pointer alone
    int ownerPointer = -1;
    uint16_t type = 1;
    Bytes data;  // A: 4 bytes, AAAA: 16; CNAME: built with PutName
};

// A response to one question (type A), the question's name at offset 12.
inline Bytes DnsAnswer(const std::string& question, const std::vector<DnsRecord>& records,
                       uint16_t flags = 0x8180) {
    Bytes b;
    Put16(b, 0x1234);
    Put16(b, flags);
    Put16(b, 1);
    Put16(b, static_cast<uint16_t>(records.size()));
    Put16(b, 0);
    Put16(b, 0);
    PutName(b, question);
    Put16(b, 1);
    Put16(b, 1);
    for (const DnsRecord& r : records) {
        PutName(b, r.owner, r.ownerPointer);
        Put16(b, r.type);
        Put16(b, 1);
        Put16(b, 0);
        Put16(b, 60);
        Put16(b, static_cast<uint16_t>(r.data.size()));
        b.insert(b.end(), r.data.begin(), r.data.end());
    }
    return b;
}

inline Bytes NameBytes(const std::string& name, int pointer = -1) {
    Bytes b;
    PutName(b, name, pointer);
    return b;
}

// A ClientHello in one handshake record: a few extensions around the
// server_name one, whose list holds `names` as (type, name) pairs.
inline Bytes ClientHello(const std::vector<std::pair<uint8_t, std::string>>& names,
                         bool withServerName = true) {
    Bytes ext;
    // supported_versions first, as many clients put it.
    Put16(ext, 43);
    Put16(ext, 3);
    ext.insert(ext.end(), {2, 0x03, 0x04});
    if (withServerName) {
        Bytes list;
        for (const auto& [type, name] : names) {
            list.push_back(type);
            Put16(list, static_cast<uint16_t>(name.size()));
            list.insert(list.end(), name.begin(), name.end());
        }
        Put16(ext, 0);
        Put16(ext, static_cast<uint16_t>(list.size() + 2));
        Put16(ext, static_cast<uint16_t>(list.size()));
        ext.insert(ext.end(), list.begin(), list.end());
    }
    // ALPN after it.
    Put16(ext, 16);
    Put16(ext, 5);
    ext.insert(ext.end(), {0, 3, 2, 'h', '2'});

    Bytes body;
    Put16(body, 0x0303);
    body.insert(body.end(), 32, 0xAB);  // random
    body.push_back(32);
    body.insert(body.end(), 32, 0xCD);  // session id
    Put16(body, 4);
    body.insert(body.end(), {0x13, 0x01, 0x13, 0x02});
    body.insert(body.end(), {1, 0});  // compression: null
    Put16(body, static_cast<uint16_t>(ext.size()));
    body.insert(body.end(), ext.begin(), ext.end());

    Bytes b = {0x16, 0x03, 0x01};
    Put16(b, static_cast<uint16_t>(body.size() + 4));
    b.push_back(1);
    b.push_back(0);
    Put16(b, static_cast<uint16_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

inline Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

}  // namespace wirenames
