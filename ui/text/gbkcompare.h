#pragma once
// Comparison of GBK texts the way the system's multibyte string compare does:
// one unit per character (lead·256 + trail for a double-byte character), the
// end of a text counting as a unit of 0.
#include <string_view>

// < 0, 0 or > 0.
int CompareGbk(std::string_view a, std::string_view b);
