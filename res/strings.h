#pragma once
#include <QString>
#include <string_view>

#include "framework/gbk.h"

// The string-table entry with this id, as GBK bytes; empty when there is none.
std::string_view LoadStringGbk(int id);

// The entry with this id as text.
inline QString LoadStringText(int id) {
    return FromGbk(LoadStringGbk(id));
}

// The entry with %1, %2, ... filled in one pass, so that a "%2" inside an
// argument (a file name) stays as it is.
template <typename... Args>
QString FormatString(int id, const Args&... args) {
    return LoadStringText(id).arg(args...);
}
