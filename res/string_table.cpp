#include "res/string_table.h"

#include <iconv.h>

#include <array>

namespace {

// Every string id lies below this.
constexpr int kIdLimit = 512;

// glibc's converter: the table's GBK reads the same as in Qt's decoder (a
// test compares every entry), and this library stays free of Qt.
std::string GbkToUtf8(iconv_t cd, std::string_view gbk) {
    std::string out(gbk.size() * 3 / 2 + 4, '\0');
    char* in = const_cast<char*>(gbk.data());
    size_t inLeft = gbk.size();
    char* to = out.data();
    size_t toLeft = out.size();
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in, &inLeft, &to, &toLeft) == static_cast<size_t>(-1))
        return {};
    out.resize(out.size() - toLeft);
    return out;
}

}  // namespace

std::string_view LoadStringUtf8(int id) {
    static const std::array<std::string, kIdLimit> table = [] {
        std::array<std::string, kIdLimit> t;
        const iconv_t cd = iconv_open("UTF-8", "GBK");
        if (cd == reinterpret_cast<iconv_t>(-1))
            return t;
        for (int i = 0; i < kIdLimit; ++i)
            t[i] = GbkToUtf8(cd, LoadStringGbk(i));
        iconv_close(cd);
        return t;
    }();
    return id >= 0 && id < kIdLimit ? std::string_view(table[id]) : std::string_view();
}

std::string FormatUtf8(int id, std::initializer_list<std::string_view> args) {
    const std::string_view pattern = LoadStringUtf8(id);
    std::string out;
    out.reserve(pattern.size() + 32);
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size()) {
            const int n = pattern[i + 1] - '0';
            if (n >= 1 && n <= static_cast<int>(args.size())) {
                out += *(args.begin() + (n - 1));
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}
