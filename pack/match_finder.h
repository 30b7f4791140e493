// Binary-tree match finder over the method's dictionary.
#pragma once

#include <cstdint>
#include <vector>

namespace pack {

struct Match {
  uint16_t length;    // 3..256
  uint16_t distance;  // distance value: the match starts distance + 1 bytes back
};

class MatchFinder {
 public:
  // dict_bits: matches reach back at most 2^dict_bits - 1 bytes. depth: nodes visited
  // per search.
  MatchFinder(int dict_bits, int depth);

  // Forgets every position: the next member starts with an empty dictionary.
  void reset();

  // Matches for the string at absolute position pos (cur points at its first byte;
  // len_limit bytes are readable there, at most max_match). Writes pairs of strictly
  // increasing length, each with the smallest distance found for it, and returns their
  // number. Positions must be given in order, each once, through find or skip.
  int find(const uint8_t* cur, uint32_t pos, uint32_t len_limit, Match* out);

  // Enters the position into the tree without reporting matches.
  void skip(const uint8_t* cur, uint32_t pos, uint32_t len_limit);

 private:
  template <bool report>
  int search(const uint8_t* cur, uint32_t pos, uint32_t len_limit, Match* out);

  uint32_t window_;  // cyclic buffer size: positions kept in the tree
  int depth_;
  int hash_bits_;
  std::vector<uint32_t> head_;  // position + 1 of the newest string of each hash; 0 none
  std::vector<uint32_t> tree_;  // two children (position + 1) per cyclic slot
};

}  // namespace pack
