// A set of ranks below kRankLimit with the nearest member below or above a
// rank in a few word operations: one bit per rank, and above each level a
// bit per word of the level below that says whether that word has any bit.
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

namespace quiver {

class RankSet {
 public:
  static constexpr int kRankLimit = 64 * 64 * 64;

  // An empty set of ranks below `size`, at most kRankLimit.
  void Reset(int size) {
    words_.assign(static_cast<std::size_t>((size + 63) / 64), 0);
    groups_.assign((words_.size() + 63) / 64, 0);
    top_ = 0;
  }
  bool Contains(int r) const { return words_[Word(r)] >> (r & 63) & 1; }
  void Insert(int r) {
    words_[Word(r)] |= Bit(r);
    groups_[Word(r >> 6)] |= Bit(r >> 6);
    top_ |= Bit(r >> 12);
  }
  void Erase(int r) {
    if ((words_[Word(r)] &= ~Bit(r)) != 0) return;
    if ((groups_[Word(r >> 6)] &= ~Bit(r >> 6)) != 0) return;
    top_ &= ~Bit(r >> 12);
  }
  // The greatest member below r, or -1.
  int Below(int r) const {
    if (std::uint64_t w = words_[Word(r)] & Lower(r)) return Highest(r >> 6, w);
    const int word = r >> 6;
    if (std::uint64_t g = groups_[Word(word)] & Lower(word)) {
      const int w = Highest(word >> 6, g);
      return Highest(w, words_[At(w)]);
    }
    if (std::uint64_t t = top_ & Lower(word >> 6)) {
      const int group = Highest(0, t);
      const int w = Highest(group, groups_[At(group)]);
      return Highest(w, words_[At(w)]);
    }
    return -1;
  }
  // The least member above r, or -1.
  int Above(int r) const {
    if (std::uint64_t w = words_[Word(r)] & Higher(r)) return Lowest(r >> 6, w);
    const int word = r >> 6;
    if (std::uint64_t g = groups_[Word(word)] & Higher(word)) {
      const int w = Lowest(word >> 6, g);
      return Lowest(w, words_[At(w)]);
    }
    if (std::uint64_t t = top_ & Higher(word >> 6)) {
      const int group = Lowest(0, t);
      const int w = Lowest(group, groups_[At(group)]);
      return Lowest(w, words_[At(w)]);
    }
    return -1;
  }

 private:
  static std::size_t At(int index) { return static_cast<std::size_t>(index); }
  static std::size_t Word(int r) { return At(r >> 6); }
  static std::uint64_t Bit(int r) { return std::uint64_t{1} << (r & 63); }
  // The bits of r's word below and above r's own.
  static std::uint64_t Lower(int r) { return Bit(r) - 1; }
  static std::uint64_t Higher(int r) { return ~Lower(r) << 1; }
  // The index of the highest or lowest bit of `bits`, word `word` of a level.
  static int Highest(int word, std::uint64_t bits) {
    return word * 64 + 63 - std::countl_zero(bits);
  }
  static int Lowest(int word, std::uint64_t bits) { return word * 64 + std::countr_zero(bits); }

  std::vector<std::uint64_t> words_;
  std::vector<std::uint64_t> groups_;
  std::uint64_t top_ = 0;
};

}  // namespace quiver
