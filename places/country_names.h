#pragma once
// Country names in Simplified Chinese, from iso-codes: the codes and English
// names of its ISO 3166-1 list (JSON), and their translations from its
// zh_CN message catalogue (.mo), read by a small bounded reader of our own.
// Not gettext's dgettext: it follows the user's locale, and forcing zh_CN
// means changing the locale of the whole process, which is not thread-safe,
// while the program's texts are Chinese whatever the locale.
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct CountryNameFiles {
    std::string list = "/usr/share/iso-codes/json/iso_3166-1.json";
    std::string translations = "/usr/share/locale/zh_CN/LC_MESSAGES/iso_3166-1.mo";
};

// One country of the ISO list.
struct IsoCountry {
    std::string code;        // alpha_2
    std::string name;        // "Korea, Republic of"
    std::string commonName;  // "South Korea", or empty
};

// The countries of an iso_3166-1.json; what is not JSON of that shape gives
// what was read before it (nothing at worst). Nesting is bounded.
std::vector<IsoCountry> ParseIsoCountries(std::string_view json);
// The translations of a GNU .mo catalogue (either byte order): msgid to
// msgstr, the singular forms only; a catalogue whose tables or strings lie
// outside its bytes gives nothing.
std::unordered_map<std::string, std::string> ParseMoCatalog(std::string_view mo);

class CountryNames {
  public:
    // Files larger than this are not read.
    static constexpr size_t kMostBytes = 4u << 20;

    CountryNames() = default;
    // What the files give; a file missing or damaged gives fewer names
    // (English ones without the catalogue), never an error.
    static CountryNames Read(const CountryNameFiles& files);
    static CountryNames From(const std::vector<IsoCountry>& countries,
                             const std::unordered_map<std::string, std::string>& translations);

    // The name shown for a code ("KR": "韩国"): the translation of the
    // common name, else of the name, else the English name; empty when the
    // code is not in the list. Displayable UTF-8.
    std::string Name(std::string_view code) const;
    size_t Size() const { return names_.size(); }

  private:
    std::unordered_map<std::string, std::string> names_;
};

// The whole of a regular file, if it holds at most `most` bytes.
bool ReadSmallFile(const std::string& path, size_t most, std::string* bytes);
