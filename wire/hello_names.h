#pragma once
// The name a client puts in the first bytes of a connection: the server name
// (SNI) of a TLS ClientHello, the Host header of an HTTP/1 request. Read from
// one TCP segment's payload: a ClientHello or a request head that goes on
// into the next segment gives only what this one holds (an SNI that lies
// past it is not found). Names come out in lower case, without a port, and
// only when they are made of letters, digits, '-', '_' and '.' (an address
// in brackets for HTTP's IPv6 literals); anything else is no name.
#include <cstdint>
#include <string>
#include <string_view>

#include "wire/packet_bytes.h"

// The first host_name of the server_name extension of a ClientHello that
// begins the payload (a TLS handshake record). At most 64 extensions and 16
// names are looked at.
bool ParseTlsServerName(const PacketBytes& payload, std::string* name);

// The Host header of an HTTP/1.x request whose request line begins the
// payload. At most 100 header lines and the first 8 KiB are looked at.
bool ParseHttpHost(const PacketBytes& payload, std::string* host);

// Lower-cases a host name and checks its bytes as above; false for an empty
// one or one longer than 253 bytes.
bool NormalizeHostName(std::string_view text, std::string* out);
