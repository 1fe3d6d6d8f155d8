#include "search/finder.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

bool IsAsciiLetter(uint8_t b) {
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

// How often a byte turns up in captured payloads, roughly (higher: more often).
// Only the order matters: it picks the needle bytes to probe first.
int Commonness(uint8_t b, bool folded) {
    int rank;
    if (b == 0x00 || b == 0xFF || b == ' ')
        rank = 250;
    else if (b >= 'a' && b <= 'z')
        rank = std::strchr("etaoinsrhldcu", b) != nullptr ? 220 : 190;
    else if (b >= '0' && b <= '9')
        rank = 180;
    else if (b == '\r' || b == '\n' || b == '.' || b == '/' || b == ':' || b == '=' || b == '-' ||
             b == '_' || b == ',' || b == '"' || b == '&')
        rank = 175;
    else if (b == 0xA1 || b == 0xA3)  // leads of GBK punctuation (，。：“”)
        rank = 170;
    else if (b >= 'A' && b <= 'Z')
        rank = 150;
    else if (b >= 0xB0 && b <= 0xF7)  // leads of GBK hanzi, which are also trail bytes
        rank = 140;
    else if (b >= 0x20 && b < 0x7F)
        rank = 120;
    else if (b >= 0x80)
        rank = 100;
    else
        rank = 60;                     // control bytes other than NUL and line ends
    return folded ? rank + 20 : rank;  // a folded letter stands for two byte values
}

}  // namespace

bool IsGbkBoundary(const uint8_t* text, size_t size, size_t pos) {
    GbkBoundaryCursor cursor(text, size);
    return cursor.IsBoundary(pos);
}

bool GbkBoundaryCursor::IsBoundary(size_t pos) {
    if (known_ && pos == knownPos_)
        return knownBoundary_;
    // Walk back over the run of lead-range bytes before `pos`, no further than
    // the last answer. The byte before such a run is never a lead, so the run
    // starts a character, and its bytes pair up from there: every lead-range
    // byte is also a trail byte.
    const size_t floor = (known_ && knownPos_ < pos) ? knownPos_ : 0;
    size_t p = pos;
    while (p > floor && IsGbkLead(text_[p - 1]))
        --p;
    size_t start = p;  // a character start with only lead-range bytes from it to pos
    if (p == floor && known_ && knownPos_ < pos) {
        // The run reaches the last answer's position: a start there, or the
        // trail of a pair whose end is a start.
        start = knownBoundary_ ? knownPos_ : knownPos_ + 1;
    }
    // An odd count leaves a lead just before pos, which takes pos as its trail
    // only if that byte can be one.
    const bool boundary = (pos - start) % 2 == 0 || pos >= size_ || !IsGbkTrail(text_[pos]);
    if (!known_ || pos > knownPos_) {
        known_ = true;
        knownPos_ = pos;
        knownBoundary_ = boundary;
    }
    return boundary;
}

NeedleFinder::NeedleFinder(std::string_view needle, bool foldLetters, bool gbkAligned)
    : pattern_(needle), mask_(needle.size(), '\0'), gbkAligned_(gbkAligned) {
    for (size_t i = 0; i < pattern_.size(); ++i) {
        const auto b = static_cast<uint8_t>(pattern_[i]);
        if (gbkAligned && IsGbkLead(b) && i + 1 < pattern_.size() &&
            IsGbkTrail(static_cast<uint8_t>(pattern_[i + 1]))) {
            ++i;  // a double-byte character: both bytes compare exactly
            continue;
        }
        if (foldLetters && IsAsciiLetter(b)) {
            pattern_[i] = static_cast<char>(b | 0x20);
            mask_[i] = 0x20;
        }
    }
    // Probe the two least common bytes; a one-byte needle probes its byte twice.
    auto rank = [&](size_t i) {
        return Commonness(static_cast<uint8_t>(pattern_[i]), mask_[i] != 0);
    };
    for (size_t i = 1; i < pattern_.size(); ++i) {
        if (rank(i) < rank(probe1_))
            probe1_ = i;
    }
    probe2_ = probe1_;
    for (size_t i = 0; i < pattern_.size(); ++i) {
        if (i != probe1_ && (probe2_ == probe1_ || rank(i) < rank(probe2_)))
            probe2_ = i;
    }
}

size_t NeedleFinder::Find(const uint8_t* text, size_t size) const {
    const size_t m = pattern_.size();
    if (m == 0 || m > size)
        return npos;
    const size_t last = size - m;  // the last place a match can start
    GbkBoundaryCursor boundaries(text, size);
    auto accept = [&](size_t at) {
        return MatchesAt(text + at) && (!gbkAligned_ || boundaries.IsBoundary(at));
    };
    const auto b1 = static_cast<uint8_t>(pattern_[probe1_]);
    const auto b2 = static_cast<uint8_t>(pattern_[probe2_]);
    const auto m1 = static_cast<uint8_t>(mask_[probe1_]);
    const auto m2 = static_cast<uint8_t>(mask_[probe2_]);
    size_t at = 0;
#if defined(__SSE2__)
    // Sixteen starts at a time: both probed bytes compared for each start, and
    // only starts that pass both are compared in full. Every byte read lies
    // in the text because each of the sixteen starts leaves room for the needle.
    const __m128i want1 = _mm_set1_epi8(static_cast<char>(b1));
    const __m128i want2 = _mm_set1_epi8(static_cast<char>(b2));
    const __m128i fold1 = _mm_set1_epi8(static_cast<char>(m1));
    const __m128i fold2 = _mm_set1_epi8(static_cast<char>(m2));
    for (; last >= 15 && at <= last - 15; at += 16) {
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at + probe1_));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at + probe2_));
        const __m128i hit = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(v1, fold1), want1),
                                          _mm_cmpeq_epi8(_mm_or_si128(v2, fold2), want2));
        auto bits = static_cast<unsigned>(_mm_movemask_epi8(hit));
        while (bits != 0) {
            const size_t candidate = at + static_cast<size_t>(__builtin_ctz(bits));
            bits &= bits - 1;
            if (accept(candidate))
                return candidate;
        }
    }
#else
    // Jump from one occurrence of the probed byte to the next.
    if (m1 == 0) {
        while (at <= last) {
            const void* hit = std::memchr(text + at + probe1_, b1, last - at + 1);
            if (hit == nullptr)
                return npos;
            const size_t candidate =
                static_cast<size_t>(static_cast<const uint8_t*>(hit) - text) - probe1_;
            if (static_cast<uint8_t>(text[candidate + probe2_] | m2) == b2 && accept(candidate))
                return candidate;
            at = candidate + 1;
        }
        return npos;
    }
#endif
    for (; at <= last; ++at) {
        if (static_cast<uint8_t>(text[at + probe1_] | m1) == b1 &&
            static_cast<uint8_t>(text[at + probe2_] | m2) == b2 && accept(at))
            return at;
    }
    return npos;
}
