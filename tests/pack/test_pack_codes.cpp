// Length-limited Huffman codes and the match finder.
#include <gtest/gtest.h>

#include <algorithm>
#include <queue>
#include <random>
#include <vector>

#include "pack/huffman_code.h"
#include "pack/match_finder.h"

namespace {

uint64_t kraft_sum(const std::vector<uint8_t>& lengths) {
  uint64_t sum = 0;
  for (uint8_t len : lengths)
    if (len != 0) sum += uint64_t(1) << (16 - len);
  return sum;
}

uint64_t cost(const std::vector<uint32_t>& freq, const std::vector<uint8_t>& lengths) {
  uint64_t bits = 0;
  for (size_t i = 0; i < freq.size(); ++i) bits += uint64_t(freq[i]) * lengths[i];
  return bits;
}

// Cost of an unlimited Huffman code (the sum of all merged weights) and its depth.
uint64_t huffman_cost(const std::vector<uint32_t>& freq, int* depth) {
  using Node = std::pair<uint64_t, int>;  // weight, height
  std::priority_queue<Node, std::vector<Node>, std::greater<Node>> heap;
  for (uint32_t f : freq)
    if (f) heap.push({f, 0});
  uint64_t total = 0;
  while (heap.size() > 1) {
    const Node a = heap.top();
    heap.pop();
    const Node b = heap.top();
    heap.pop();
    total += a.first + b.first;
    heap.push({a.first + b.first, std::max(a.second, b.second) + 1});
  }
  *depth = heap.top().second;
  return total;
}

std::vector<uint8_t> lengths_of(const std::vector<uint32_t>& freq, int max_bits) {
  std::vector<uint8_t> lengths(freq.size());
  pack::limited_code_lengths(freq.data(), static_cast<int>(freq.size()), max_bits, lengths.data());
  return lengths;
}

TEST(PackCodes, LengthsAreCompleteAndOptimalWhenTheLimitDoesNotBind) {
  std::mt19937 generator(1);
  int compared = 0;
  for (int trial = 0; trial < 60; ++trial) {
    std::vector<uint32_t> freq(510);
    for (uint32_t& f : freq) f = generator() % 3 == 0 ? 0 : generator() % (trial < 30 ? 1000 : 50);
    freq[trial] = 1;
    const std::vector<uint8_t> lengths = lengths_of(freq, 16);
    EXPECT_EQ(kraft_sum(lengths), 65536u);
    for (size_t i = 0; i < freq.size(); ++i) EXPECT_EQ(freq[i] == 0, lengths[i] == 0);
    int depth = 0;
    const uint64_t unlimited = huffman_cost(freq, &depth);
    if (depth <= 16) {
      EXPECT_EQ(cost(freq, lengths), unlimited);
      ++compared;
    } else {
      EXPECT_GT(cost(freq, lengths), unlimited);
    }
  }
  EXPECT_GT(compared, 20);
}

TEST(PackCodes, SkewedFrequenciesRespectTheLimit) {
  // Fibonacci weights would want codes of 30 bits and more.
  std::vector<uint32_t> freq(40);
  freq[0] = freq[1] = 1;
  for (size_t i = 2; i < freq.size(); ++i) freq[i] = freq[i - 1] + freq[i - 2];
  for (int limit : {16, 12, 7}) {
    const std::vector<uint8_t> lengths = lengths_of(freq, limit);
    EXPECT_EQ(*std::max_element(lengths.begin(), lengths.end()), limit);
    EXPECT_EQ(kraft_sum(lengths), 65536u);
  }
  EXPECT_EQ(lengths_of({5, 9}, 16), (std::vector<uint8_t>{1, 1}));
  EXPECT_EQ(lengths_of({0, 3, 0}, 16), (std::vector<uint8_t>{0, 1, 0}));
}

// The longest match at each position, and its nearest distance, by brute force.
void expect_matches_as_brute_force(const std::vector<uint8_t>& data, int dict_bits) {
  pack::MatchFinder finder(dict_bits, 1 << 20, 256);
  std::vector<pack::Match> found(300);
  const size_t window = size_t(1) << dict_bits;
  size_t checked = 0;
  for (uint32_t pos = 0; pos < data.size(); ++pos) {
    const uint32_t limit = std::min<uint32_t>(256, static_cast<uint32_t>(data.size() - pos));
    const int n = finder.find(data.data() + pos, pos, limit, found.data());
    uint32_t best = 0;
    for (size_t back = 1; back < window && back <= pos; ++back) {
      uint32_t len = 0;
      while (len < limit && data[pos - back + len] == data[pos + len]) ++len;
      best = std::max(best, len);
    }
    if (best < 3) best = 0;
    ASSERT_EQ(n ? found[n - 1].length : 0u, best) << "at " << pos;
    for (int i = 0; i < n; ++i) {
      const uint32_t back = found[i].distance + 1u;
      ASSERT_LT(back, window);
      ASSERT_TRUE(std::equal(data.begin() + pos, data.begin() + pos + found[i].length,
                             data.begin() + pos - back));
      if (i > 0) ASSERT_GT(found[i].length, found[i - 1].length);
    }
    checked += n > 0;
  }
  EXPECT_GT(checked, data.size() / 4);
}

TEST(PackCodes, MatchFinderAgreesWithBruteForce) {
  std::mt19937 generator(4);
  std::vector<uint8_t> data;
  // few symbols: many equal strings; copies at assorted distances; a long run at the end
  for (int i = 0; i < 3000; ++i) data.push_back("abcab"[generator() % 5]);
  for (int i = 0; i < 20; ++i) {
    const size_t from = generator() % data.size(), len = 3 + generator() % 300;
    for (size_t k = 0; k < len && from + k < data.size(); ++k) data.push_back(data[from + k]);
  }
  data.insert(data.end(), 600, 'q');
  expect_matches_as_brute_force(data, 10);
  expect_matches_as_brute_force(data, 13);
}

}  // namespace
