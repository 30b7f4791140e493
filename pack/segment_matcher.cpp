#include "pack/segment_matcher.h"

#include <algorithm>

namespace pack {

EncoderTuning tuning_for_level(int level) {
  // Deeper searches, longer matches weighed and more rounds of pricing, level by level;
  // levels 1 and 2 take the longest match at each step.
  static const struct {
    int depth, nice, good, rounds;
  } levels[max_level] = {
      {4, 16, 8, 0},   {6, 24, 12, 0},   {8, 32, 16, 1},    {12, 48, 24, 1},   {16, 64, 32, 1},
      {20, 96, 32, 2}, {32, 128, 64, 2}, {48, 192, 256, 3}, {96, 256, 256, 4},
  };
  const auto& l = levels[std::min(std::max(level, min_level), max_level) - 1];
  EncoderTuning tuning;
  tuning.search_depth = l.depth;
  tuning.nice_length = l.nice;
  tuning.good_length = l.good;
  tuning.rounds = l.rounds;
  return tuning;
}

void find_segment_matches(MatchFinder& finder, const uint8_t* data, uint32_t start, uint32_t end,
                          uint32_t data_end, int nice_length, MatchCache* cache) {
  const uint32_t span = end - start;
  cache->first.resize(span + 1);
  cache->whole.clear();
  size_t used = 0;
  uint32_t skip_until = start, long_end = 0, long_delta = 0;
  for (uint32_t pos = start; pos < end; ++pos) {
    cache->first[pos - start] = static_cast<uint32_t>(used);
    const uint32_t limit = std::min<uint32_t>(max_match, data_end - pos);
    if (pos < skip_until) {
      // The rest of the long match is known to repeat: the tree needs few comparisons.
      finder.skip(data + pos, pos, limit, long_delta, long_end - pos);
      continue;
    }
    if (cache->pairs.size() < used + max_match) cache->pairs.resize(2 * (used + max_match));
    const int found = finder.find(data + pos, pos, limit, cache->pairs.data() + used);
    used += found;
    if (found > 0 && cache->pairs[used - 1].length >= nice_length) {
      long_end = pos + cache->pairs[used - 1].length;
      long_delta = cache->pairs[used - 1].distance + 1u;
      skip_until = std::min(long_end, end);
      cache->whole.push_back(WholeMatch{pos - start, skip_until - start});
    }
  }
  cache->first[span] = static_cast<uint32_t>(used);
}

}  // namespace pack
