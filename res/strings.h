#pragma once
#include <string_view>

// The string-table entry with this id, as GBK bytes; empty when there is none.
std::string_view LoadStringGbk(int id);
