// Binary-tree match finder over the method's dictionary.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "pack/lzh_format.h"

namespace pack {

struct Match {
  uint16_t length;    // 3..256
  uint16_t distance;  // distance value: the match starts distance + 1 bytes back
};

// How many bytes a and b have in common from `from` on, at most limit.
inline uint32_t common_length(const uint8_t* a, const uint8_t* b, uint32_t from, uint32_t limit) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  while (from + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + from, 8);
    std::memcpy(&y, b + from, 8);
    if (x != y) return from + (__builtin_ctzll(x ^ y) >> 3);
    from += 8;
  }
#endif
  while (from < limit && a[from] == b[from]) ++from;
  return from;
}

class MatchFinder {
 public:
  // dict_bits: matches reach back at most 2^dict_bits - 1 bytes. depth: nodes visited
  // per search. nice_length: strings are compared that far at most; a match that long
  // ends the search and is then extended as far as it goes. good_length: a match that
  // long cuts what is left of the search to a quarter of the depth.
  MatchFinder(int dict_bits, int depth, int nice_length, int good_length = max_match);

  // Forgets every position: the next member or unit starts with an empty dictionary,
  // its positions numbered from 0 again.
  void reset();

  // Matches for the string at absolute position pos (cur points at its first byte;
  // len_limit bytes are readable there, at most max_match). Writes pairs of strictly
  // increasing length, each with the smallest distance found for it, and returns their
  // number. Positions must be given in order, each once, through find or skip.
  int find(const uint8_t* cur, uint32_t pos, uint32_t len_limit, Match* out) {
    return search<true>(cur, pos, len_limit, out, 0, 0);
  }

  // Enters the position into the tree without reporting matches. When the string is
  // known to repeat the one known_delta bytes back for known_length bytes (inside a
  // match), those bytes are not compared again.
  void skip(const uint8_t* cur, uint32_t pos, uint32_t len_limit, uint32_t known_delta = 0,
            uint32_t known_length = 0);

 private:
  template <bool report>
  int search(const uint8_t* cur, uint32_t pos, uint32_t len_limit, Match* out, uint32_t known_delta,
             uint32_t known_length);

  uint32_t window_;  // cyclic buffer size: positions kept in the tree
  int depth_;
  uint32_t nice_;
  uint32_t good_;
  int hash_bits_;
  uint32_t base_ = 0;            // the number of position 0 in the tables
  uint32_t high_ = 0;            // positions given since the reset
  std::vector<uint32_t> head_;   // position + 1 of the newest string of each 4-byte hash; 0 none
  std::vector<uint32_t> head3_;  // the same for 3-byte hashes
  std::vector<uint32_t> tree_;   // two children (position + 1) per cyclic slot
};

}  // namespace pack
