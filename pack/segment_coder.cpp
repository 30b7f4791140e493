#include "pack/segment_coder.h"

#include <algorithm>

#include "pack/block_split.h"

namespace pack {

SegmentCoder::SegmentCoder(const Method& method, const EncoderTuning& tuning)
    : method_(method), tuning_(tuning) {}

void SegmentCoder::start() {
  have_model_ = false;
  bits_ = BitWriter();
}

void SegmentCoder::greedy_parse(const SegmentWork& work, std::vector<Token>* tokens) {
  const uint32_t span = static_cast<uint32_t>(work.bytes.size());
  const MatchCache& cache = work.cache;
  for (uint32_t i = 0; i < span;) {
    const uint32_t first = cache.first[i], last = cache.first[i + 1];
    const uint32_t length = last > first ? std::min<uint32_t>(cache.pairs[last - 1].length, span - i) : 0;
    if (length >= static_cast<uint32_t>(min_match)) {
      tokens->push_back(Token{static_cast<uint16_t>(length + 253), cache.pairs[last - 1].distance});
      i += length;
    } else {
      tokens->push_back(Token{work.bytes[i], 0});
      ++i;
    }
  }
}

void SegmentCoder::write_tokens(const Token* tokens, size_t count) {
  for (size_t done = 0; done < count;) {
    const size_t n = std::min<size_t>(count - done, max_block_symbols);
    write_block(tokens + done, n, method_, bits_);
    done += n;
  }
}

void SegmentCoder::take_bytes(std::vector<uint8_t>* out) {
  bits_.take_whole_bytes(&scratch_);
  out->insert(out->end(), scratch_.begin(), scratch_.end());
}

void SegmentCoder::code(const SegmentWork& work, std::vector<uint8_t>* out) {
  const uint32_t span = static_cast<uint32_t>(work.bytes.size());
  const uint8_t* data = work.bytes.data();
  uint32_t literal_freq[literal_alphabet], position_freq[max_position_alphabet];

  // A first parse decides where blocks end: priced like the segment before, or greedy
  // in a member's first segment.
  tokens_.clear();
  if (have_model_) {
    parser_.parse(data, 0, span, work.cache, model_, &tokens_);
  } else {
    greedy_parse(work, &tokens_);
  }
  const std::vector<size_t> ends = split_blocks(tokens_.data(), tokens_.size());

  // Each block is parsed again, priced by its own symbols, round after round.
  size_t token_begin = 0;
  uint32_t input_begin = 0;
  for (size_t end : ends) {
    uint32_t input_end = input_begin;
    for (size_t i = token_begin; i < end; ++i) input_end += token_input_length(tokens_[i]);
    const Token* current = tokens_.data() + token_begin;
    size_t current_count = end - token_begin;
    for (int round = 0; round < tuning_.rounds; ++round) {
      count_symbols(current, current_count, literal_freq, position_freq);
      cost_model_from_frequencies(literal_freq, position_freq, method_, &model_);
      block_tokens_.clear();
      parser_.parse(data, input_begin, input_end, work.cache, model_, &block_tokens_);
      current = block_tokens_.data();
      current_count = block_tokens_.size();
    }
    write_tokens(current, current_count);
    count_symbols(current, current_count, literal_freq, position_freq);
    cost_model_from_frequencies(literal_freq, position_freq, method_, &model_);
    have_model_ = true;
    token_begin = end;
    input_begin = input_end;
  }
  take_bytes(out);
}

void SegmentCoder::finish(std::vector<uint8_t>* out) {
  bits_.flush();
  take_bytes(out);
}

}  // namespace pack
