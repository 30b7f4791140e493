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

namespace {
// The price of a position no way goes on from; a token's price added stays below 2^32.
constexpr uint32_t unreachable = 0x7FF00000;
}  // namespace

template <bool all_lengths>
void OptimalParser::fill(const uint8_t* data, uint32_t from, uint32_t to, const MatchCache& cache,
                         const CostModel* const* models, const uint32_t* model_ends) {
  const uint32_t span = to - from;
  // From the end backwards, each position takes the cheapest of its literal and of
  // every length of its matches, the prices of what follows being known already. A
  // token costs under 2^10 (a position code the method lacks costs 2^30 and is never
  // the cheapest), so the prices of a segment of up to 2^18 bytes stay far below 2^32.
  cost_.resize(span + 1);
  choice_.resize(span);
  cost_[span] = 0;
  size_t which = 0;
  while (model_ends[which] <= to - 1) ++which;
  const uint32_t* first = cache.first.data() + from;
  size_t next_whole = whole_.size();
  for (uint32_t i = span; i-- > 0;) {
    if (next_whole > 0 && i == whole_[next_whole - 1].end - 1) {
      // Inside a match taken whole: no way goes on from there.
      const WholeMatch& w = whole_[--next_whole];
      std::fill(cost_.begin() + w.start + 1, cost_.begin() + w.end, unreachable);
      i = w.start;
    }
    while (which > 0 && from + i < model_ends[which - 1]) --which;
    const CostModel* model = models[which];
    const uint32_t* length_price = model->literal + length_symbol(0);
    const uint8_t byte = data[from + i];
    uint32_t best = model->literal[byte] + cost_[i + 1];
    Token token{byte, 0};
    const uint32_t room = span - i;
    uint32_t shorter = min_match - 1;
    const Match* pair = cache.pairs.data() + first[i];
    const Match* end = cache.pairs.data() + first[i + 1];
    for (; pair < end && shorter < room; ++pair) {
      const uint32_t longest = std::min<uint32_t>(pair->length, room);
      const uint32_t base = model->position[position_symbol(pair->distance)];
      // A match of the nice length is taken whole, and a rough parse weighs only the
      // full length of each match.
      if (pair->length >= cache.nice_length || !all_lengths) shorter = longest - 1;
      const uint32_t* tail = cost_.data() + i;
      uint32_t pair_best = UINT32_MAX, pair_len = 0;
      for (uint32_t len = shorter + 1; len <= longest; ++len) {
        const uint32_t c = length_price[len] + tail[len];
        const bool lower = c < pair_best;
        pair_best = lower ? c : pair_best;
        pair_len = lower ? len : pair_len;
      }
      if (base + uint64_t(pair_best) < best) {  // (64 bits: no wrap should no length be weighed)
        best = base + pair_best;
        token = Token{static_cast<uint16_t>(length_symbol(pair_len)), pair->distance};
      }
      shorter = longest;
    }
    cost_[i] = best;
    choice_[i] = token;
  }
}

void OptimalParser::parse(const uint8_t* data, uint32_t from, uint32_t to, const MatchCache& cache,
                          const CostModel* const* models, const uint32_t* model_ends,
                          std::vector<Token>* out, bool all_lengths) {
  const uint32_t span = to - from;
  if (span == 0) return;
  // The matches taken whole that begin inside the stretch, cut at its end.
  whole_.clear();
  for (const WholeMatch& w : cache.whole) {
    if (w.start >= from && w.start < to)
      whole_.push_back(WholeMatch{w.start - from, std::min(w.end, to) - from});
  }
  if (all_lengths) {
    fill<true>(data, from, to, cache, models, model_ends);
  } else {
    fill<false>(data, from, to, cache, models, model_ends);
  }
  for (uint32_t at = 0; at < span;) {
    out->push_back(choice_[at]);
    at += token_input_length(choice_[at]);
  }
}

}  // namespace pack
