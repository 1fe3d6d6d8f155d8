#pragma once
// Finding one needle in captured bytes: a plain byte match, or a match at GBK
// character starts only, either with ASCII letters folded. Built once per
// query; Find() never allocates.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A lead byte opens a GBK double-byte character when a trail byte follows it;
// otherwise both stand alone (which is also how Qt's GBK decoder shows them).
inline bool IsGbkLead(uint8_t b) {
    return b >= 0x81 && b <= 0xFE;
}
inline bool IsGbkTrail(uint8_t b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE);
}

// Whether `pos` (at most `size`) starts a character of `text` read as GBK
// from its first byte.
bool IsGbkBoundary(const uint8_t* text, size_t size, size_t pos);

// Tells character starts for positions that never decrease, so a scan pays
// for each byte of a long run of lead-range bytes once, not once per candidate.
class GbkBoundaryCursor {
  public:
    GbkBoundaryCursor(const uint8_t* text, size_t size) : text_(text), size_(size) {}
    bool IsBoundary(size_t pos);

  private:
    const uint8_t* text_;
    size_t size_;
    bool known_ = false;  // whether an earlier answer is at hand
    size_t knownPos_ = 0;
    bool knownBoundary_ = false;
};

class NeedleFinder {
  public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    NeedleFinder() = default;
    // `gbkAligned`: the needle is GBK text and matches only where a character
    // of the haystack starts, so it never begins on a trail byte; letters then
    // fold only where they are single-byte characters of the needle, never
    // where they are trail bytes. Otherwise every ASCII letter byte folds.
    NeedleFinder(std::string_view needle, bool foldLetters, bool gbkAligned);

    bool empty() const { return pattern_.empty(); }
    size_t size() const { return pattern_.size(); }

    // Offset of the first match lying wholly in [text, text + size), or npos.
    size_t Find(const uint8_t* text, size_t size) const;

  private:
    bool MatchesAt(const uint8_t* at) const {
        for (size_t i = 0; i < pattern_.size(); ++i) {
            if (static_cast<uint8_t>(at[i] | mask_[i]) != static_cast<uint8_t>(pattern_[i]))
                return false;
        }
        return true;
    }

    // A byte matches position i when (byte | mask_[i]) == pattern_[i]: the mask
    // is 0x20 where a letter folds (pattern_ holds it in lower case), else 0.
    std::string pattern_;
    std::string mask_;
    // The two positions probed before a full comparison: the needle's rarest
    // bytes in typical traffic, so that few places pass both.
    size_t probe1_ = 0;
    size_t probe2_ = 0;
    bool gbkAligned_ = false;
};
