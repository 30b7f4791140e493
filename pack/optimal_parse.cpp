#include "pack/optimal_parse.h"

#include <algorithm>
#include <cmath>

namespace pack {

namespace {

// The information content of each symbol in the statistics, between 1 and 16 bits;
// a symbol not seen costs a little more than the rarest.
void prices_of(const uint32_t* freq, int count, uint32_t* price) {
  int used = 0;
  uint64_t total = 0;
  for (int i = 0; i < count; ++i) {
    used += freq[i] != 0;
    total += freq[i];
  }
  const double whole = std::log2(double(total) + 1);
  const uint32_t unseen = static_cast<uint32_t>(16.0 * std::min(whole + 2.0, 18.0));
  for (int i = 0; i < count; ++i) {
    if (used == 1) {
      price[i] = freq[i] ? 4 : 16 * 6;
    } else if (freq[i] != 0) {
      const double bits = std::min(std::max(whole - std::log2(double(freq[i])), 1.0), 16.0);
      price[i] = static_cast<uint32_t>(16.0 * bits + 0.5);
    } else {
      price[i] = unseen;
    }
  }
}

}  // namespace

void cost_model_from_frequencies(const uint32_t* literal_freq, const uint32_t* position_freq,
                                 const Method& method, CostModel* model) {
  prices_of(literal_freq, literal_alphabet, model->literal);
  prices_of(position_freq, method.position_count, model->position);
  for (int j = 0; j < max_position_alphabet; ++j) {
    if (j >= method.position_count) {
      model->position[j] = UINT32_MAX / 4;
    } else {
      model->position[j] += 16 * position_extra_bits(j);
    }
  }
}

void OptimalParser::parse(const uint8_t* data, uint32_t from, uint32_t to, const MatchCache& cache,
                          const CostModel* const* models, const uint32_t* model_ends,
                          std::vector<Token>* out, bool all_lengths) {
  const uint32_t span = to - from;
  if (span == 0) return;
  // node_[i]: the least price of the first i bytes (high half) and the last token of
  // that way there (low half). Keeping the least of such numbers needs no branch; of
  // two ways of one price, the one whose last token is the smaller number is kept.
  node_.assign(span + 1, UINT64_MAX);
  node_[0] = 0;
  size_t which = 0;
  while (model_ends[which] <= from) ++which;
  const CostModel* model = models[which];
  const uint32_t* length_price = model->literal + length_symbol(0);  // indexed by match length
  for (uint32_t i = 0; i < span; ++i) {
    if (from + i >= model_ends[which]) {
      while (from + i >= model_ends[which]) ++which;  // blocks left empty are passed over
      model = models[which];
      length_price = model->literal + length_symbol(0);
    }
    const uint64_t base = node_[i] >> 32;
    const uint8_t byte = data[from + i];
    node_[i + 1] =
        std::min(node_[i + 1], ((base + model->literal[byte]) << 32) | (uint64_t(byte) << 16));
    const uint32_t room = span - i;
    uint32_t shorter = min_match - 1;
    const Match* pair = cache.pairs.data() + cache.first[from + i];
    const Match* end = cache.pairs.data() + cache.first[from + i + 1];
    uint32_t jump = 0;
    for (; pair < end && shorter < room; ++pair) {
      const uint32_t longest = std::min<uint32_t>(pair->length, room);
      if (pair->length >= cache.nice_length) {
        // Taken whole: the positions inside it have no matches of their own, and the
        // parse goes on behind it.
        shorter = longest - 1;
        jump = longest - 1;
      }
      // base price and token of length 0; each length adds its price and its symbol
      const uint64_t start = ((base + model->position[position_symbol(pair->distance)]) << 32) |
                             (uint64_t(length_symbol(0)) << 16) | pair->distance;
      uint64_t* target = &node_[i];
      if (!all_lengths && longest > shorter + 1) shorter = longest - 1;
      for (uint32_t len = shorter + 1; len <= longest; ++len) {
        const uint64_t candidate =
            start + (uint64_t(length_price[len]) << 32) + (uint64_t(len) << 16);
        target[len] = std::min(target[len], candidate);
      }
      shorter = longest;
    }
    i += jump;
  }
  reversed_.clear();
  for (uint32_t at = span; at > 0;) {
    const Token t{static_cast<uint16_t>(node_[at] >> 16), static_cast<uint16_t>(node_[at])};
    reversed_.push_back(t);
    at -= token_input_length(t);
  }
  out->insert(out->end(), reversed_.rbegin(), reversed_.rend());
}

}  // namespace pack
