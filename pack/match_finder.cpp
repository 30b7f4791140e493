#include "pack/match_finder.h"

#include <algorithm>
#include <cstring>

#include "pack/lzh_format.h"

namespace pack {

MatchFinder::MatchFinder(int dict_bits, int depth, int nice_length, int good_length)
    : window_(1u << dict_bits),
      depth_(depth),
      nice_(static_cast<uint32_t>(std::max(nice_length, min_match))),
      good_(static_cast<uint32_t>(std::max(good_length, min_match))),
      hash_bits_(std::max(12, std::min(dict_bits, 16))) {
  head_.assign(size_t(1) << hash_bits_, 0);
  head3_.assign(size_t(1) << hash_bits_, 0);
  tree_.assign(2 * size_t(window_), 0);
}

void MatchFinder::reset() {
  // Positions are numbered on from the last ones, a window further: the old ones are
  // then too far back to be used. The tables are cleared only when the numbers run out.
  base_ += high_ + window_;
  high_ = 0;
  if (base_ >= 0x80000000u) {
    std::fill(head_.begin(), head_.end(), 0);
    std::fill(head3_.begin(), head3_.end(), 0);
    std::fill(tree_.begin(), tree_.end(), 0);
    base_ = 0;
  }
}

void MatchFinder::skip(const uint8_t* cur, uint32_t at, uint32_t len_limit, uint32_t known_delta,
                       uint32_t known_length) {
  // Inside a long match the newest string of the same four bytes is mostly the one the
  // match repeats, equal as far as the tree compares: the new node takes its place, as
  // the search would, without the search.
  if (known_delta != 0 && len_limit >= 4 && known_length >= std::min(len_limit, nice_)) {
    const uint32_t pos = base_ + at;
    uint32_t key4;
    std::memcpy(&key4, cur, 4);
    const uint32_t hash = (key4 * 2654435761u) >> (32 - hash_bits_);
    if (head_[hash] != 0 && head_[hash] == pos + 1 - known_delta) {
      const uint32_t key3 = uint32_t(cur[0]) | (uint32_t(cur[1]) << 8) | (uint32_t(cur[2]) << 16);
      head3_[(key3 * 2654435761u) >> (32 - hash_bits_)] = pos + 1;
      head_[hash] = pos + 1;
      high_ = at + 1;
      const uint32_t* old = &tree_[2 * ((pos - known_delta) & (window_ - 1))];
      uint32_t* node = &tree_[2 * (pos & (window_ - 1))];
      node[0] = old[0];
      node[1] = old[1];
      return;
    }
  }
  search<false>(cur, at, len_limit, nullptr, known_delta, known_length);
}

template <bool report>
int MatchFinder::search(const uint8_t* cur, uint32_t at, uint32_t len_limit, Match* out,
                        uint32_t known_delta, uint32_t known_length) {
  if (len_limit < static_cast<uint32_t>(min_match)) return 0;
  high_ = at + 1;
  const uint32_t pos = base_ + at;
  const uint32_t compare_limit = std::min(len_limit, nice_);
  uint32_t best = min_match - 1;
  int found = 0;

  // Matches of three bytes: the newest string that begins with the same three.
  const uint32_t key3 = uint32_t(cur[0]) | (uint32_t(cur[1]) << 8) | (uint32_t(cur[2]) << 16);
  const uint32_t hash3 = (key3 * 2654435761u) >> (32 - hash_bits_);
  const uint32_t candidate3 = head3_[hash3];
  head3_[hash3] = pos + 1;
  if (report && candidate3 != 0) {
    const uint32_t delta = pos + 1 - candidate3;
    if (delta < window_ && std::memcmp(cur - delta, cur, 3) == 0) {
      best = min_match;
      out[0].length = static_cast<uint16_t>(min_match);
      out[0].distance = static_cast<uint16_t>(delta - 1);
      found = 1;
    }
  }
  if (len_limit < 4) return found;

  // Longer ones: the tree of the strings that begin with the same four bytes.
  uint32_t key4;
  std::memcpy(&key4, cur, 4);
  const uint32_t hash = (key4 * 2654435761u) >> (32 - hash_bits_);
  uint32_t candidate = head_[hash];  // position + 1
  head_[hash] = pos + 1;
  if (len_limit > 4) {
    // The next position's heads are fetched while this one's tree is walked.
    uint32_t next;
    std::memcpy(&next, cur + 1, 4);
    __builtin_prefetch(&head_[(next * 2654435761u) >> (32 - hash_bits_)], 1);
    __builtin_prefetch(&head3_[((next & 0xFFFFFF) * 2654435761u) >> (32 - hash_bits_)], 1);
  }

  const uint32_t slot = pos & (window_ - 1);
  uint32_t* left = &tree_[2 * slot];       // receives the next smaller string
  uint32_t* right = &tree_[2 * slot + 1];  // receives the next greater string
  uint32_t left_len = 0, right_len = 0;    // bytes known equal on either side
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
    // (only entering a position is told of a known match; a search never is)
    if (!report && delta == known_delta) len = std::max(len, std::min(known_length, compare_limit));
    if (len >= compare_limit || other[len] == cur[len]) {
      if (len < compare_limit) len = common_length(cur, other, len + 1, compare_limit);
      // a good match leaves a quarter of the search to look for a better one
      if (len >= good_ && budget > depth_ / 4) budget = depth_ / 4;
      if (report && len > best) {
        // a match of the nice length is the last one: it goes on as far as it can
        const uint32_t whole =
            len >= compare_limit ? common_length(cur, other, len, len_limit) : len;
        best = whole;
        out[found].length = static_cast<uint16_t>(whole);
        out[found].distance = static_cast<uint16_t>(delta - 1);
        ++found;
      }
      if (len >= compare_limit) {
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

template int MatchFinder::search<true>(const uint8_t*, uint32_t, uint32_t, Match*, uint32_t,
                                       uint32_t);
template int MatchFinder::search<false>(const uint8_t*, uint32_t, uint32_t, Match*, uint32_t,
                                        uint32_t);

}  // namespace pack
