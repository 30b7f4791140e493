#include "pack/huffman_code.h"

#include <algorithm>
#include <vector>

namespace pack {

void limited_code_lengths(const uint32_t* freq, int count, int max_bits, uint8_t* lengths) {
  std::vector<int> used;
  for (int i = 0; i < count; ++i) {
    lengths[i] = 0;
    if (freq[i] != 0) used.push_back(i);
  }
  const int n = static_cast<int>(used.size());
  if (n == 0) return;
  if (n == 1) {
    lengths[used[0]] = 1;
    return;
  }
  std::stable_sort(used.begin(), used.end(), [&](int a, int b) { return freq[a] < freq[b]; });

  // Package-merge. Level lists run from the deepest (max_bits) to the top (1); every
  // list is the sorted leaves merged with the packages of the list below it. Only
  // whether an item is a leaf matters afterwards.
  std::vector<std::vector<bool>> is_leaf(max_bits + 1);
  std::vector<uint64_t> below, current;
  below.reserve(2 * n);
  current.reserve(2 * n);
  for (int i = 0; i < n; ++i) below.push_back(freq[used[i]]);
  is_leaf[max_bits].assign(n, true);
  for (int level = max_bits - 1; level >= 1; --level) {
    current.clear();
    std::vector<bool>& leaf = is_leaf[level];
    leaf.clear();
    size_t next_leaf = 0, next_pair = 0;
    const size_t pairs = below.size() / 2;
    while (next_leaf < static_cast<size_t>(n) || next_pair < pairs) {
      uint64_t pair_weight =
          next_pair < pairs ? below[2 * next_pair] + below[2 * next_pair + 1] : UINT64_MAX;
      if (next_leaf < static_cast<size_t>(n) && freq[used[next_leaf]] <= pair_weight) {
        current.push_back(freq[used[next_leaf++]]);
        leaf.push_back(true);
      } else {
        current.push_back(pair_weight);
        leaf.push_back(false);
        ++next_pair;
      }
    }
    below.swap(current);
  }
  // Take 2n - 2 items of the top list; the packages among the items taken at one level
  // decide how many items are taken at the level below. The leaves taken at each level
  // are a prefix of the sorted leaves, and a leaf's length is the number of levels that
  // take it.
  std::vector<int> depth(n, 0);
  size_t take = 2 * static_cast<size_t>(n) - 2;
  for (int level = 1; level <= max_bits && take > 0; ++level) {
    const std::vector<bool>& leaf = is_leaf[level];
    size_t leaves = 0, packages = 0;
    for (size_t i = 0; i < take && i < leaf.size(); ++i) (leaf[i] ? leaves : packages) += 1;
    for (size_t i = 0; i < leaves; ++i) ++depth[i];
    take = 2 * packages;
  }
  for (int i = 0; i < n; ++i) lengths[used[i]] = static_cast<uint8_t>(depth[i]);
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
