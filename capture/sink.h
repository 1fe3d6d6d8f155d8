#pragma once
// Where the capture thread sends every datagram it receives, before the
// filter: a recording of the capture. Append runs on the capture thread for
// each datagram and must never hold it back.
#include <cstdint>

class DatagramSink {
  public:
    virtual ~DatagramSink() = default;
    // One whole IPv4 datagram, header first, captured at `timeNs`
    // (nanoseconds since the epoch).
    virtual void Append(int64_t timeNs, const uint8_t* bytes, uint32_t length) = 0;
};
