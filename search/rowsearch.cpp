#include "search/rowsearch.h"

#include <QStringDecoder>
#include <algorithm>
#include <cstring>
#include <string>

#include "talk/texts.h"

namespace {

const uint8_t* Bytes(std::string_view s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

bool IsUtf8Start(uint8_t b) {
    return (b & 0xC0) != 0x80;
}

// Decodes one piece of the context. A lead byte at the very end would be
// dropped as an incomplete sequence; a control-byte sentinel makes it show
// as U+FFFD, then goes again.
QString Decode(std::span<const uint8_t> bytes, NeedleEncoding encoding) {
    if (bytes.empty())
        return {};
    std::string terminated(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    terminated.push_back('\x01');
    QStringDecoder decoder(encoding == NeedleEncoding::kUtf8 ? "UTF-8" : "GBK",
                           QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(
        QByteArrayView(terminated.data(), static_cast<qsizetype>(terminated.size())));
    text.chop(1);
    return text;
}

// One line of plain text: see PayloadContext.
QString Readable(const QString& text) {
    const QStringView view(text);
    return QString::fromStdU16String(
        DisplayableUtf16(std::u16string_view(view.utf16(), static_cast<size_t>(view.size()))));
}

}  // namespace

PayloadSpan FindPayload(std::span<const uint8_t> datagram) {
    return Ipv4View(datagram).Payload();
}

std::span<const uint8_t> PayloadBytes(std::span<const uint8_t> datagram) {
    const PayloadSpan p = FindPayload(datagram);
    return datagram.subspan(p.offset, p.size);
}

size_t FirstNul(std::span<const uint8_t> payload) {
    if (payload.empty())
        return 0;
    const void* nul = std::memchr(payload.data(), 0, payload.size());
    return nul == nullptr ? payload.size()
                          : static_cast<size_t>(static_cast<const uint8_t*>(nul) - payload.data());
}

RowMatch MatchRow(const SearchQuery& query, const RowCells& cells,
                  std::span<const uint8_t> datagram) {
    RowMatch match;
    if (!query.ready())
        return match;
    constexpr size_t npos = NeedleFinder::npos;

    if (query.hex()) {
        const NeedleFinder& finder = query.needle(0).finder;
        const size_t at = finder.Find(datagram.data(), datagram.size());
        if (at != npos) {
            match.place = MatchPlace::kDatagram;
            match.offset = at;
            match.length = finder.size();
        }
        return match;
    }

    const NeedleFinder& cellNeedle = query.cellNeedle();
    if (!cellNeedle.empty()) {
        for (int i = 0; i < kEventColumns; ++i) {
            const std::string_view cell = cells[static_cast<size_t>(i)];
            const size_t at = cellNeedle.Find(Bytes(cell), cell.size());
            if (at != npos) {
                match.place = MatchPlace::kCell;
                match.cell = i;
                match.offset = at;
                match.length = cellNeedle.size();
                return match;
            }
        }
    }

    const std::span<const uint8_t> payload = PayloadBytes(datagram);
    size_t best = npos;
    for (int i = 0; i < query.needleCount(); ++i) {
        const SearchQuery::Needle& needle = query.needle(i);
        // Only a match that starts before the best so far can replace it.
        size_t limit = payload.size();
        if (best != npos) {
            if (best == 0)
                break;
            limit = std::min(limit, best - 1 + needle.finder.size());
        }
        const size_t at = needle.finder.Find(payload.data(), limit);
        if (at != npos && at < best) {
            best = at;
            match.encoding = needle.encoding;
            match.length = needle.finder.size();
        }
    }
    if (best != npos) {
        match.place = MatchPlace::kPayload;
        match.offset = best;
        match.pastNul = best + match.length > FirstNul(payload);
    }
    return match;
}

MatchContext PayloadContext(std::span<const uint8_t> payload, size_t offset, size_t length,
                            NeedleEncoding encoding, size_t radius) {
    const size_t n = payload.size();
    offset = std::min(offset, n);
    length = std::min(length, n - offset);
    const size_t end = offset + length;
    size_t from = offset > radius ? offset - radius : 0;
    size_t to = n - end > radius ? end + radius : n;

    const uint8_t* p = payload.data();
    if (encoding == NeedleEncoding::kUtf8) {
        while (from < offset && !IsUtf8Start(p[from]))
            ++from;
        while (to > end && to < n && !IsUtf8Start(p[to]))
            --to;
    } else {
        // Off a character start, `from` is a trail byte and `to` the trail
        // of the character it would split: one step clears either.
        if (from < offset && !IsGbkBoundary(p, n, from))
            ++from;
        if (to > end && !IsGbkBoundary(p, n, to))
            --to;
    }

    MatchContext context;
    if (from > 0)
        context.text += QChar(0x2026);
    context.text += Readable(Decode(payload.subspan(from, offset - from), encoding));
    context.matchStart = context.text.size();
    context.text += Readable(Decode(payload.subspan(offset, length), encoding));
    context.matchLength = context.text.size() - context.matchStart;
    context.text += Readable(Decode(payload.subspan(end, to - end), encoding));
    if (to < n)
        context.text += QChar(0x2026);
    return context;
}
