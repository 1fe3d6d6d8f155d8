#include "ui/text/plaintext.h"

#include <string_view>

#include "talk/texts.h"

QString DisplayableText(const QString& text) {
    const QStringView view(text);
    return QString::fromStdU16String(
        DisplayableUtf16(std::u16string_view(view.utf16(), static_cast<size_t>(view.size()))));
}

QString PlainTextTip(const QString& text) {
    if (text.isEmpty())
        return {};
    QString html = text.toHtmlEscaped();
    html.replace(QLatin1Char('\n'), QLatin1String("<br>"));
    // Without wrapping and with its spaces kept, as a plain tooltip shows.
    return QLatin1String("<p style='white-space:pre'>") + html + QLatin1String("</p>");
}
