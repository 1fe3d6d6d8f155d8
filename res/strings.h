#pragma once
#include <QString>
#include <string_view>

#include "framework/gbk.h"
#include "res/string_table.h"

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
