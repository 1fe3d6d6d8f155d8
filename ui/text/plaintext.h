#pragma once
// Text from outside (payloads, host, program and user names) as our windows
// show it: never as markup, and with the characters that could make it lie
// about what was received shown as escapes (see ShownEscaped in talk/texts.h).
#include <QString>

// `text` with the escapes of DisplayableUtf16.
QString DisplayableText(const QString& text);

// A tooltip that shows `text` as it is, its line breaks as breaks. Qt takes a
// tooltip for rich text whenever its first line merely looks like a tag, so
// the text goes as markup that says it, escaped. Empty stays empty: no tip.
QString PlainTextTip(const QString& text);
