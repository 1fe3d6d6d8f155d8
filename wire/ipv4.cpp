#include "wire/ipv4.h"

bool ParseIpv4(std::string_view text, uint32_t* address) {
    uint32_t value = 0;
    int fields = 0;
    size_t i = 0;
    while (fields < 4) {
        uint32_t field = 0;
        size_t digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
            field = field * 10 + static_cast<uint32_t>(text[i] - '0');
            ++i;
            ++digits;
        }
        if (digits == 0 || digits > 3 || field > 255)
            return false;
        value = (value << 8) | field;
        ++fields;
        if (fields < 4) {
            if (i >= text.size() || text[i] != '.')
                return false;
            ++i;
        }
    }
    if (i != text.size())
        return false;
    *address = value;
    return true;
}

std::string FormatIpv4(uint32_t address) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (shift != 24)
            text += '.';
        text += std::to_string((address >> shift) & 0xFF);
    }
    return text;
}
