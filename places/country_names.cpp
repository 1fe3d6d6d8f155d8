#include "places/country_names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "talk/texts.h"

namespace {

// Names longer than this are cut (at a character's edge): no country needs more.
constexpr size_t kMostNameBytes = 128;

std::string Clipped(std::string_view text) {
    if (text.size() > kMostNameBytes) {
        size_t end = kMostNameBytes;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;
        text = text.substr(0, end);
    }
    return DisplayableUtf8(text);
}

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Just enough JSON for the ISO list: any value is read, objects' string
// members are kept, and each object with an alpha_2 and a name is a country.
class JsonReader {
  public:
    JsonReader(std::string_view text, std::vector<IsoCountry>& out) : s_(text), out_(out) {}
    bool Value(int depth) {
        Space();
        if (depth > kMostDepth || at_ >= s_.size())
            return false;
        switch (s_[at_]) {
            case '{':
                return Object(depth);
            case '[':
                return Array(depth);
            case '"': {
                std::string ignored;
                return String(&ignored);
            }
            default:
                return Scalar();
        }
    }

  private:
    static constexpr int kMostDepth = 16;

    void Space() {
        while (at_ < s_.size() &&
               (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t'))
            ++at_;
    }
    bool Eat(char c) {
        Space();
        if (at_ < s_.size() && s_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool Hex4(uint32_t* v) {
        if (s_.size() - at_ < 4)
            return false;
        *v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[at_++];
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0)
                return false;
            *v = *v * 16 + static_cast<uint32_t>(d);
        }
        return true;
    }
    bool String(std::string* out) {
        if (!Eat('"'))
            return false;
        while (at_ < s_.size()) {
            const char c = s_[at_++];
            if (c == '"')
                return true;
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (at_ >= s_.size())
                return false;
            const char e = s_[at_++];
            switch (e) {
                case 'b':
                    *out += '\b';
                    break;
                case 'f':
                    *out += '\f';
                    break;
                case 'n':
                    *out += '\n';
                    break;
                case 'r':
                    *out += '\r';
                    break;
                case 't':
                    *out += '\t';
                    break;
                case 'u': {
                    uint32_t c1 = 0;
                    if (!Hex4(&c1))
                        return false;
                    if (c1 >= 0xD800 && c1 < 0xDC00 && s_.substr(at_, 2) == "\\u") {
                        at_ += 2;
                        uint32_t c2 = 0;
                        if (!Hex4(&c2))
                            return false;
                        c1 = c2 >= 0xDC00 && c2 < 0xE000
                                 ? 0x10000 + ((c1 - 0xD800) << 10) + (c2 - 0xDC00)
                                 : 0xFFFD;
                    } else if (c1 >= 0xD800 && c1 < 0xE000) {
                        c1 = 0xFFFD;
                    }
                    AppendUtf8(*out, c1);
                    break;
                }
                default:
                    *out += e;
                    break;  // \" \\ \/
            }
        }
        return false;
    }
    bool Scalar() {
        const size_t start = at_;
        while (at_ < s_.size() && std::strchr(",]} \n\r\t", s_[at_]) == nullptr)
            ++at_;
        return at_ > start;
    }
    bool Array(int depth) {
        ++at_;
        if (Eat(']'))
            return true;
        do {
            if (!Value(depth + 1))
                return false;
        } while (Eat(','));
        return Eat(']');
    }
    bool Object(int depth) {
        ++at_;
        IsoCountry country;
        bool ok = true;
        if (!Eat('}')) {
            do {
                std::string key;
                if (!String(&key) || !Eat(':')) {
                    ok = false;
                    break;
                }
                Space();
                if (at_ < s_.size() && s_[at_] == '"') {
                    std::string value;
                    if (!String(&value)) {
                        ok = false;
                        break;
                    }
                    if (key == "alpha_2")
                        country.code = std::move(value);
                    else if (key == "name")
                        country.name = std::move(value);
                    else if (key == "common_name")
                        country.commonName = std::move(value);
                } else if (!Value(depth + 1)) {
                    ok = false;
                    break;
                }
            } while (Eat(','));
            ok = ok && Eat('}');
        }
        if (ok && country.code.size() == 2 && !country.name.empty())
            out_.push_back(std::move(country));
        return ok;
    }

    std::string_view s_;
    size_t at_ = 0;
    std::vector<IsoCountry>& out_;
};

}  // namespace

std::vector<IsoCountry> ParseIsoCountries(std::string_view json) {
    std::vector<IsoCountry> countries;
    JsonReader(json, countries).Value(0);
    return countries;
}

std::unordered_map<std::string, std::string> ParseMoCatalog(std::string_view mo) {
    std::unordered_map<std::string, std::string> catalog;
    if (mo.size() < 20)
        return catalog;
    uint32_t magic = 0;
    std::memcpy(&magic, mo.data(), 4);
    bool swap = false;
    if (magic == 0x950412DEu)
        swap = false;
    else if (magic == 0xDE120495u)
        swap = true;
    else
        return catalog;
    const auto word = [&](size_t at) {
        uint32_t v = 0;
        std::memcpy(&v, mo.data() + at, 4);
        return swap ? __builtin_bswap32(v) : v;
    };
    const uint64_t count = word(8);
    const uint64_t originals = word(12);
    const uint64_t translations = word(16);
    if (originals + count * 8 > mo.size() || translations + count * 8 > mo.size())
        return catalog;
    // A string of the table at `table` + 8 * i: within the bytes, its NUL included.
    const auto text = [&](uint64_t table, uint64_t i, std::string_view* out) {
        const uint64_t length = word(static_cast<size_t>(table + i * 8));
        const uint64_t at = word(static_cast<size_t>(table + i * 8 + 4));
        if (at + length >= mo.size())
            return false;
        *out = mo.substr(static_cast<size_t>(at), static_cast<size_t>(length));
        // Plural forms follow the singular after a NUL.
        *out = out->substr(0, out->find('\0'));
        return true;
    };
    for (uint64_t i = 0; i < count; ++i) {
        std::string_view id;
        std::string_view str;
        if (!text(originals, i, &id) || !text(translations, i, &str)) {
            catalog.clear();
            return catalog;
        }
        if (!id.empty() && !str.empty())
            catalog.emplace(std::string(id), std::string(str));
    }
    return catalog;
}

bool ReadSmallFile(const std::string& path, size_t most, std::string* bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok =
        ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= most;
    bytes->clear();
    if (ok) {
        bytes->resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < bytes->size()) {
            const ssize_t n = ::read(fd, bytes->data() + got, bytes->size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        // A file that shrank meanwhile gives what it held.
        bytes->resize(got);
    }
    ::close(fd);
    return ok;
}

CountryNames CountryNames::Read(const CountryNameFiles& files) {
    std::string list;
    std::string catalog;
    if (!ReadSmallFile(files.list, kMostBytes, &list))
        return {};
    if (!ReadSmallFile(files.translations, kMostBytes, &catalog))
        catalog.clear();
    return From(ParseIsoCountries(list), ParseMoCatalog(catalog));
}

CountryNames CountryNames::From(const std::vector<IsoCountry>& countries,
                                const std::unordered_map<std::string, std::string>& translations) {
    CountryNames names;
    for (const IsoCountry& c : countries) {
        std::string shown = c.name;
        if (const auto it = translations.find(c.commonName);
            !c.commonName.empty() && it != translations.end())
            shown = it->second;
        else if (const auto named = translations.find(c.name); named != translations.end())
            shown = named->second;
        else if (!c.commonName.empty())
            shown = c.commonName;
        names.names_.emplace(c.code, Clipped(shown));
    }
    return names;
}

std::string CountryNames::Name(std::string_view code) const {
    const auto it = names_.find(std::string(code));
    return it != names_.end() ? it->second : std::string();
}
