// Minimum-cost parse of a stretch of input into literals and matches, priced by the
// codes a block would use.
#pragma once

#include <cstdint>
#include <vector>

#include "pack/block_writer.h"
#include "pack/lzh_format.h"
#include "pack/match_finder.h"

namespace pack {

// A stretch of the segment covered by a match taken whole: the match starts at
// `start`, and the positions after it up to `end` have no matches of their own.
struct WholeMatch {
  uint32_t start, end;
};

// The matches found at every position of a segment: those of position i are
// pairs[first[i] .. first[i + 1] - 1], in increasing length.
// A pair of nice_length or more is taken whole: its shorter lengths are not weighed,
// and `whole` lists where such matches lie, in order.
struct MatchCache {
  std::vector<uint32_t> first;
  std::vector<Match> pairs;
  std::vector<WholeMatch> whole;
  uint32_t nice_length = max_match;
};

// Price of every literal/length symbol and every position symbol (extra bits included),
// in sixteenths of a bit.
struct CostModel {
  uint32_t literal[literal_alphabet];
  uint32_t position[max_position_alphabet];
};

// Prices from symbol frequencies: what each symbol's code would cost in a block with
// these statistics.
void cost_model_from_frequencies(const uint32_t* literal_freq, const uint32_t* position_freq,
                                 const Method& method, CostModel* model);

// Parses data[from .. to) (indices into the segment that cache describes) at the least
// cost, matches cut at `to`; appends the tokens to out. A token is priced by the model
// of the block it starts in, models[k] serving the positions before model_ends[k].
// Unless all_lengths, a match is weighed at its full length only: a cheaper, rougher parse.
class OptimalParser {
 public:
  void parse(const uint8_t* data, uint32_t from, uint32_t to, const MatchCache& cache,
             const CostModel* const* models, const uint32_t* model_ends, std::vector<Token>* out,
             bool all_lengths = true);

 private:
  template <bool all_lengths>
  void fill(const uint8_t* data, uint32_t from, uint32_t to, const MatchCache& cache,
            const CostModel* const* models, const uint32_t* model_ends);
  // Filled from the end backwards: cost_[i] is the least price of the input from i to
  // the end of the stretch, choice_[i] the first token of that way.
  std::vector<uint32_t> cost_;
  std::vector<Token> choice_;
  std::vector<WholeMatch> whole_;  // those of cache.whole inside the stretch parsed
};

}  // namespace pack
