// The second half of compressing a unit of a member: parses each segment at the least
// cost, splits it into blocks and writes them.
#pragma once

#include <cstdint>
#include <vector>

#include "pack/bit_writer.h"
#include "pack/block_writer.h"
#include "pack/optimal_parse.h"
#include "pack/segment_matcher.h"

namespace pack {

class SegmentCoder {
 public:
  SegmentCoder(const Method& method, const EncoderTuning& tuning);

  // Starts a unit.
  void start();

  // Codes the next segment of the unit: data[0 .. span), whose matches are in cache.
  void code(const uint8_t* data, uint32_t span, const MatchCache& cache);

  // Ends the unit: hands out its bits.
  void finish(CodedBits* out) { bits_.take(out); }

 private:
  void greedy_parse(const uint8_t* data, uint32_t span, const MatchCache& cache,
                    std::vector<Token>* tokens);
  void write_tokens(const Token* tokens, size_t count);

  Method method_;
  EncoderTuning tuning_;
  OptimalParser parser_;
  BitWriter bits_;
  std::vector<Token> tokens_, block_tokens_;
  std::vector<uint32_t> input_ends_;  // where each block's input ends
  std::vector<CostModel> models_;
  std::vector<const CostModel*> model_pointers_;
};

}  // namespace pack
