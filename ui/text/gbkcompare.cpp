#include "ui/text/gbkcompare.h"

#include <cstring>

namespace {

bool IsLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

// The unit at `i`, advancing `i`. A lead byte right before the end of the
// text counts as the end.
unsigned NextUnit(std::string_view s, size_t& i) {
    if (i >= s.size()) {
        return 0;
    }
    const auto c = static_cast<unsigned char>(s[i]);
    if (IsLeadByte(c)) {
        if (i + 1 >= s.size()) {
            i = s.size();
            return 0;
        }
        const auto t = static_cast<unsigned char>(s[i + 1]);
        i += 2;
        return c * 256u + t;
    }
    ++i;
    return c;
}

}  // namespace

int CompareGbk(std::string_view a, std::string_view b) {
    // Rows of one flow often carry the same long payload text: equal bytes
    // are equal texts, found without walking them a character at a time.
    if (a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0)) {
        return 0;
    }
    size_t i = 0, j = 0;
    for (;;) {
        const unsigned x = NextUnit(a, i);
        const unsigned y = NextUnit(b, j);
        if (x != y) {
            return x < y ? -1 : 1;
        }
        if (x == 0) {
            return 0;
        }
    }
}
