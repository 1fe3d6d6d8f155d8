#pragma once
// DNS responses as received: the name that was asked for and the addresses
// the answer gave it, through its chain of aliases (CNAME). Every read goes
// through PacketBytes and every loop has a bound, whatever the bytes say: a
// name has at most 255 bytes and 128 labels, a compression pointer must
// point before the run of labels it ends (so a chain of them always moves
// backwards and ends) and is followed at most 16 times, at most 64 answer
// records are read, an alias chain is followed at most 8 steps. A message
// cut short keeps the records that arrived whole.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/ip_address.h"
#include "wire/packet_bytes.h"

inline constexpr uint16_t kDnsPort = 53;

struct DnsResponse {
    // The name asked for (the first of the alias chain): lower case, no
    // final dot, letters, digits, '-' and '_' in its labels.
    std::string question;
    // The aliases after it, in order (at most 8).
    std::vector<std::string> aliases;
    // A and AAAA records of the question or one of its aliases (at most 32).
    std::vector<IpAddress> addresses;
    // The answer section ended before all its records arrived.
    bool cut = false;
};

// One DNS message (UDP's payload). False unless it is a standard query's
// response (QR set, opcode 0) with one question whose name reads.
bool ParseDnsResponse(const PacketBytes& message, DnsResponse* out);
// The same over TCP: a 2-byte length, then the message, as one segment
// carries it (a message spread over several segments gives what its first
// one holds).
bool ParseDnsResponseOverTcp(const PacketBytes& segment, DnsResponse* out);

// Reads the (possibly compressed) name at `offset` of `message` into `name`
// (as DnsResponse::question has it) and sets `next` to the byte after it
// where it lies in the message. False for a name that breaks any bound or
// holds other bytes.
bool ReadDnsName(const PacketBytes& message, size_t offset, std::string* name, size_t* next);
