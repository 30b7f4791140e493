#include "pack/match_finder.h"

#include <algorithm>

#include "pack/lzh_format.h"

namespace pack {

MatchFinder::MatchFinder(int dict_bits, int depth)
    : window_(1u << dict_bits), depth_(depth), hash_bits_(std::max(12, std::min(dict_bits, 16))) {
  head_.assign(size_t(1) << hash_bits_, 0);
  tree_.assign(2 * size_t(window_), 0);
}

void MatchFinder::reset() {
  std::fill(head_.begin(), head_.end(), 0);
}

int MatchFinder::find(const uint8_t* cur, uint32_t pos, uint32_t len_limit, Match* out) {
  return search<true>(cur, pos, len_limit, out);
}

void MatchFinder::skip(const uint8_t* cur, uint32_t pos, uint32_t len_limit) {
  search<false>(cur, pos, len_limit, nullptr);
}

template <bool report>
int MatchFinder::search(const uint8_t* cur, uint32_t pos, uint32_t len_limit, Match* out) {
  if (len_limit < static_cast<uint32_t>(min_match)) return 0;
  const uint32_t key = (uint32_t(cur[0]) << 16) | (uint32_t(cur[1]) << 8) | cur[2];
  const uint32_t hash = (key * 2654435761u) >> (32 - hash_bits_);
  uint32_t candidate = head_[hash];  // position + 1
  head_[hash] = pos + 1;

  const uint32_t slot = pos & (window_ - 1);
  uint32_t* left = &tree_[2 * slot];       // receives the next smaller string
  uint32_t* right = &tree_[2 * slot + 1];  // receives the next greater string
  uint32_t left_len = 0, right_len = 0;    // bytes known equal on either side
  uint32_t best = min_match - 1;
  int found = 0;
  int budget = depth_;

  for (;;) {
    // Slots are reused after window_ positions, so only distances below window_ are valid.
    const uint32_t delta = pos + 1 - candidate;
    if (candidate == 0 || delta >= window_ || budget-- == 0) {
      *left = 0;
      *right = 0;
      return found;
    }
    const uint8_t* other = cur - delta;
    uint32_t* pair = &tree_[2 * ((pos - delta) & (window_ - 1))];
    uint32_t len = std::min(left_len, right_len);
    if (other[len] == cur[len]) {
      while (++len < len_limit && other[len] == cur[len]) {
      }
      if (report && len > best) {
        best = len;
        out[found].length = static_cast<uint16_t>(len);
        out[found].distance = static_cast<uint16_t>(delta - 1);
        ++found;
      }
      if (len >= len_limit) {
        // Equal as far as can be compared: the new node takes over the old one's children.
        *left = pair[0];
        *right = pair[1];
        return found;
      }
    }
    if (other[len] < cur[len]) {
      *left = candidate;
      left = &pair[1];
      candidate = *left;
      left_len = len;
    } else {
      *right = candidate;
      right = &pair[0];
      candidate = *right;
      right_len = len;
    }
  }
}

template int MatchFinder::search<true>(const uint8_t*, uint32_t, uint32_t, Match*);
template int MatchFinder::search<false>(const uint8_t*, uint32_t, uint32_t, Match*);

}  // namespace pack
