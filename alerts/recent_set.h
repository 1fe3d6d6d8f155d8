#pragma once
// A set that remembers at most `capacity` keys, those seen most recently.
//
// Two generations: keys go into the young one; a key found in the old one
// moves up. When the young one is half the capacity, the old one is
// forgotten at once and the young one becomes old. So the keys kept are
// always the most recently seen half at least, no key costs more than one
// hash lookup or two, and nothing walks the set key by key to pick one out.
#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <utility>

template <typename Key, typename Hash>
class RecentSet {
  public:
    explicit RecentSet(size_t capacity, Hash hash = Hash{})
        : half_(capacity < 2 ? 1 : capacity / 2), young_(0, hash), old_(0, hash) {}

    // True when the key was not held; it is held afterwards.
    bool Insert(const Key& key) {
        if (young_.count(key) != 0)
            return false;
        const bool known = old_.erase(key) != 0;
        young_.insert(key);
        if (young_.size() >= half_) {
            forgotten_ += old_.size();
            ++rotations_;
            old_ = std::move(young_);
            young_ = std::unordered_set<Key, Hash>(0, old_.hash_function());
        }
        return !known;
    }
    bool Contains(const Key& key) const { return young_.count(key) != 0 || old_.count(key) != 0; }
    void Clear() {
        young_.clear();
        old_.clear();
    }
    size_t Size() const { return young_.size() + old_.size(); }
    size_t Capacity() const { return half_ * 2; }
    // Keys forgotten to stay within the capacity, and how often that happened.
    uint64_t Forgotten() const { return forgotten_; }
    uint64_t Rotations() const { return rotations_; }

  private:
    size_t half_;
    std::unordered_set<Key, Hash> young_;
    std::unordered_set<Key, Hash> old_;
    uint64_t forgotten_ = 0;
    uint64_t rotations_ = 0;
};
