#pragma once
// Bounds-checked reads of received datagram bytes. Every access to packet
// data goes through here: nothing past the received length is ever read, and
// multi-byte fields are converted from network order inside the accessor.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

class PacketBytes {
  public:
    PacketBytes(const uint8_t* data, int length)
        : data_(data), length_(length < 0 ? 0 : static_cast<size_t>(length)) {}

    size_t size() const { return length_; }
    const uint8_t* data() const { return data_; }
    // The bytes from `offset` on; empty when it lies past the end.
    PacketBytes Tail(size_t offset) const {
        return offset < length_ ? PacketBytes(data_ + offset, length_ - offset) : PacketBytes();
    }
    bool Has(size_t offset, size_t count) const {
        return offset <= length_ && count <= length_ - offset;
    }
    // Absent bytes read as 0; `ok` (when given) tells whether they were present.
    uint8_t U8(size_t offset, bool* ok = nullptr) const {
        const bool present = Has(offset, 1);
        if (ok)
            *ok = present;
        return present ? data_[offset] : 0;
    }
    uint16_t BeU16(size_t offset, bool* ok = nullptr) const {
        const bool present = Has(offset, 2);
        if (ok)
            *ok = present;
        return present ? static_cast<uint16_t>((data_[offset] << 8) | data_[offset + 1]) : 0;
    }
    uint32_t BeU32(size_t offset, bool* ok = nullptr) const {
        const bool present = Has(offset, 4);
        if (ok)
            *ok = present;
        return present ? (uint32_t{data_[offset]} << 24) | (uint32_t{data_[offset + 1]} << 16) |
                             (uint32_t{data_[offset + 2]} << 8) | uint32_t{data_[offset + 3]}
                       : 0;
    }

    // Copies out.size() bytes from `offset`; false, with `out` untouched,
    // unless all were received.
    bool CopyTo(size_t offset, std::span<uint8_t> out) const {
        if (!Has(offset, out.size()))
            return false;
        if (!out.empty())
            std::memcpy(out.data(), data_ + offset, out.size());
        return true;
    }

    // The `count` bytes from `offset` as text up to their first NUL (all of
    // them without one); empty when they were not all received. The view
    // points into the datagram.
    std::string_view TextUpToNul(size_t offset, size_t count) const {
        if (count == 0 || !Has(offset, count))
            return {};
        const char* start = reinterpret_cast<const char*>(data_ + offset);
        const void* nul = std::memchr(start, 0, count);
        return std::string_view(
            start, nul ? static_cast<size_t>(static_cast<const char*>(nul) - start) : count);
    }

    // In the byte order of the host that wrote them (a capture file's link
    // header may come from a machine of the other order).
    uint32_t NativeU32(size_t offset, bool* ok = nullptr) const {
        const bool present = Has(offset, 4);
        if (ok)
            *ok = present;
        uint32_t value = 0;
        if (present)
            std::memcpy(&value, data_ + offset, 4);
        return value;
    }

  private:
    PacketBytes() = default;
    PacketBytes(const uint8_t* data, size_t length) : data_(data), length_(length) {}

    const uint8_t* data_ = nullptr;
    size_t length_ = 0;
};
