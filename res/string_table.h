#pragma once
// The string table without Qt, for every library: the entries are GBK, as the
// windows show them; the libraries that write or return UTF-8 (talk/,
// export/) take them converted.
#include <initializer_list>
#include <string>
#include <string_view>

// The entry with this id, as GBK bytes; empty when there is none.
std::string_view LoadStringGbk(int id);

// The same entry as UTF-8, converted once for the whole table on first use.
std::string_view LoadStringUtf8(int id);

// The UTF-8 entry with %1, %2, ... filled in one pass, as the windows'
// FormatString does: a "%2" inside an argument (a file name) stays as it is.
std::string FormatUtf8(int id, std::initializer_list<std::string_view> args);
