#include "search/query.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

// Full-width ASCII forms (U+FF01..U+FF5E) and the ideographic space, which a
// Chinese input method in full-width mode types for digits, letters and
// separators, as their ASCII counterparts.
char16_t Narrow(char16_t c) {
    if (c >= 0xFF01 && c <= 0xFF5E)
        return static_cast<char16_t>(c - 0xFEE0);
    if (c == 0x3000)
        return u' ';
    return c;
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

bool IsHexSeparator(char16_t c) {
    return c == u':' || c == u'-' || QChar::isSpace(c);
}

// The text's bytes in `codec`, or nothing when any character has no form
// there or would come back as another one (a best-fit mapping).
bool Encode(const QString& text, const char* codec, std::string& out) {
    QStringEncoder encoder(codec, QStringEncoder::Flag::Stateless);
    const QByteArray bytes = encoder.encode(text);
    if (!encoder.isValid() || encoder.hasError())
        return false;
    QStringDecoder decoder(codec, QStringDecoder::Flag::Stateless);
    if (QString(decoder.decode(bytes)) != text)
        return false;
    out.assign(bytes.constData(), static_cast<size_t>(bytes.size()));
    return true;
}

}  // namespace

QString QueryErrorText(QueryStatus status) {
    switch (status) {
        case QueryStatus::kHexNoBytes:
            return QStringLiteral("十六进制无效：没有字节");
        case QueryStatus::kHexOddDigits:
            return QStringLiteral("十六进制无效：位数为奇数");
        case QueryStatus::kHexBadChar:
            return QStringLiteral("十六进制无效：含非十六进制字符");
        case QueryStatus::kReady:
        case QueryStatus::kEmpty:
            break;
    }
    return {};
}

QueryStatus ParseHexBytes(const QString& text, std::string& bytes, qsizetype& errorPosition) {
    bytes.clear();
    errorPosition = -1;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        if (IsHexSeparator(Narrow(text[i].unicode()))) {
            ++i;
            continue;
        }
        // One group: up to the next separator.
        const qsizetype groupStart = i;
        if (i + 2 < n && Narrow(text[i].unicode()) == u'0' &&
            (Narrow(text[i + 1].unicode()) | 0x20) == u'x' &&
            HexValue(Narrow(text[i + 2].unicode())) >= 0) {
            i += 2;
        }
        int digits = 0;
        int high = 0;
        for (; i < n && !IsHexSeparator(Narrow(text[i].unicode())); ++i) {
            const int v = HexValue(Narrow(text[i].unicode()));
            if (v < 0) {
                errorPosition = i;
                bytes.clear();
                return QueryStatus::kHexBadChar;
            }
            if (digits % 2 == 0)
                high = v;
            else
                bytes.push_back(static_cast<char>(high << 4 | v));
            ++digits;
        }
        if (digits % 2 != 0) {
            errorPosition = groupStart;
            bytes.clear();
            return QueryStatus::kHexOddDigits;
        }
    }
    return bytes.empty() ? QueryStatus::kHexNoBytes : QueryStatus::kReady;
}

SearchQuery SearchQuery::Compile(const QString& text, SearchOptions options) {
    SearchQuery q;
    q.hex_ = options.hex;
    if (text.isEmpty()) {
        q.status_ = QueryStatus::kEmpty;
        return q;
    }
    if (options.hex) {
        std::string bytes;
        q.status_ = ParseHexBytes(text, bytes, q.errorPosition_);
        if (q.status_ == QueryStatus::kReady) {
            q.needles_[0] = {NeedleEncoding::kAscii, NeedleFinder(bytes, false, false)};
            q.needleCount_ = 1;
        }
        return q;
    }

    const bool fold = !options.caseSensitive;
    std::string gbk;
    std::string utf8;
    const bool hasGbk = Encode(text, "GBK", gbk);
    const bool hasUtf8 = Encode(text, "UTF-8", utf8);
    bool ascii = true;
    for (QChar c : text)
        ascii = ascii && c.unicode() < 0x80;

    if (hasGbk)
        q.cellNeedle_ = NeedleFinder(gbk, fold, true);
    auto add = [&q, fold](NeedleEncoding encoding, const std::string& bytes, bool gbkAligned) {
        q.needles_[static_cast<size_t>(q.needleCount_++)] = {encoding,
                                                             NeedleFinder(bytes, fold, gbkAligned)};
    };
    if (ascii) {
        // One needle: a plain byte match finds every place the aligned GBK
        // match would, and more.
        add(NeedleEncoding::kAscii, utf8, false);
    } else {
        if (hasGbk && (!hasUtf8 || gbk != utf8))
            add(NeedleEncoding::kGbk, gbk, true);
        if (hasUtf8)
            add(NeedleEncoding::kUtf8, utf8, false);
    }
    q.status_ = QueryStatus::kReady;
    return q;
}
