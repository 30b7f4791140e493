#include "pack/huffman_code.h"

#include <algorithm>
#include <vector>

namespace pack {

void limited_code_lengths(const uint32_t* freq, int count, int max_bits, uint8_t* lengths) {
  // Used symbols sorted by frequency, ties by symbol: frequency above, symbol below.
  static thread_local std::vector<uint64_t> sorted;
  sorted.clear();
  for (int i = 0; i < count; ++i) {
    lengths[i] = 0;
    if (freq[i] != 0) sorted.push_back((uint64_t(freq[i]) << 16) | uint64_t(i));
  }
  const int n = static_cast<int>(sorted.size());
  if (n == 0) return;
  if (n == 1) {
    lengths[sorted[0] & 0xFFFF] = 1;
    return;
  }
  std::sort(sorted.begin(), sorted.end());

  // Package-merge. Level lists run from the deepest (max_bits) to the top (1); every
  // list is the sorted leaves merged with the packages of the list below it. Only
  // whether an item is a leaf matters afterwards.
  const size_t width = 2 * static_cast<size_t>(n);
  static thread_local std::vector<uint8_t> is_leaf;
  static thread_local std::vector<uint64_t> below, current;
  is_leaf.assign(width * (max_bits + 1), 0);
  below.clear();
  for (int i = 0; i < n; ++i) below.push_back(sorted[i] >> 16);
  std::fill(is_leaf.begin() + width * max_bits, is_leaf.begin() + width * max_bits + n, 1);
  for (int level = max_bits - 1; level >= 1; --level) {
    current.clear();
    uint8_t* leaf = &is_leaf[width * level];
    size_t next_leaf = 0, next_pair = 0;
    const size_t pairs = below.size() / 2;
    while (next_leaf < static_cast<size_t>(n) || next_pair < pairs) {
      const uint64_t pair_weight =
          next_pair < pairs ? below[2 * next_pair] + below[2 * next_pair + 1] : UINT64_MAX;
      const uint64_t leaf_weight =
          next_leaf < static_cast<size_t>(n) ? sorted[next_leaf] >> 16 : UINT64_MAX;
      if (leaf_weight <= pair_weight) {
        leaf[current.size()] = 1;
        current.push_back(leaf_weight);
        ++next_leaf;
      } else {
        current.push_back(pair_weight);
        ++next_pair;
      }
    }
    below.swap(current);
  }
  // Take 2n - 2 items of the top list; the packages among the items taken at one level
  // decide how many items are taken at the level below. The leaves taken at each level
  // are a prefix of the sorted leaves, and a leaf's length is the number of levels that
  // take it.
  size_t take = 2 * static_cast<size_t>(n) - 2;
  for (int level = 1; level <= max_bits && take > 0; ++level) {
    const uint8_t* leaf = &is_leaf[width * level];
    size_t leaves = 0;
    for (size_t i = 0; i < take; ++i) leaves += leaf[i];
    for (size_t i = 0; i < leaves; ++i) ++lengths[sorted[i] & 0xFFFF];
    take = 2 * (take - leaves);
  }
}

void canonical_codes(const uint8_t* lengths, int count, uint16_t* codes) {
  uint32_t per_length[18] = {0};
  for (int i = 0; i < count; ++i) ++per_length[lengths[i]];
  per_length[0] = 0;
  uint32_t next[18] = {0};
  uint32_t code = 0;
  for (int len = 1; len <= 16; ++len) {
    code = (code + per_length[len - 1]) << 1;
    next[len] = code;
  }
  for (int i = 0; i < count; ++i) {
    if (lengths[i] != 0) codes[i] = static_cast<uint16_t>(next[lengths[i]]++);
  }
}

}  // namespace pack
