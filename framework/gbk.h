#pragma once
// Texts are kept as 8-bit GBK bytes everywhere; they become QString only to be shown.
#include <QString>
#include <string>
#include <string_view>

// Invalid sequences become U+FFFD and never swallow the bytes that follow them.
QString FromGbk(std::string_view bytes);
std::string ToGbk(const QString& text);
