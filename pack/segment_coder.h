// The second half of compressing a member: parses each segment at the least cost,
// splits it into blocks and writes them.
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

  // Starts a member.
  void start();

  // Codes the next segment of the member; appends the finished bytes to out.
  void code(const SegmentWork& work, std::vector<uint8_t>* out);

  // Ends the member: appends the last bits, padded to a byte.
  void finish(std::vector<uint8_t>* out);

 private:
  void greedy_parse(const SegmentWork& work, std::vector<Token>* tokens);
  void write_tokens(const Token* tokens, size_t count);
  void take_bytes(std::vector<uint8_t>* out);

  Method method_;
  EncoderTuning tuning_;
  OptimalParser parser_;
  BitWriter bits_;
  CostModel model_;
  bool have_model_ = false;
  std::vector<Token> tokens_, block_tokens_;
  std::vector<uint32_t> input_ends_;  // where each block's input ends
  std::vector<CostModel> models_;
  std::vector<const CostModel*> model_pointers_;
  std::vector<uint8_t> scratch_;
};

}  // namespace pack
