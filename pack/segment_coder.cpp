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
    const uint32_t length =
        last > first ? std::min<uint32_t>(cache.pairs[last - 1].length, span - i) : 0;
    if (length >= static_cast<uint32_t>(min_match)) {
      tokens->push_back(
          Token{static_cast<uint16_t>(length_symbol(length)), cache.pairs[last - 1].distance});
      i += length;
    } else {
      tokens->push_back(Token{work.bytes[i], 0});
      ++i;
    }
  }
}

void SegmentCoder::write_tokens(const Token* tokens, size_t count) {
  for (size_t done = 0; done < count;) {
    // a block of more than 65,535 codes is written as several
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
  std::vector<size_t> token_ends = split_blocks(tokens_.data(), tokens_.size());
  const size_t blocks = token_ends.size();
  input_ends_.assign(blocks, 0);
  {
    size_t t = 0;
    uint32_t pos = 0;
    for (size_t b = 0; b < blocks; ++b) {
      for (; t < token_ends[b]; ++t) pos += token_input_length(tokens_[t]);
      input_ends_[b] = pos;
    }
  }

  // Then the whole segment is parsed again, round after round, each token priced by the
  // symbols its block had in the round before. Tokens may run across a block's end; a
  // token belongs to the block it starts in.
  models_.resize(blocks);
  model_pointers_.resize(blocks);
  for (int round = 0; round < tuning_.rounds; ++round) {
    size_t begin = 0;
    for (size_t b = 0; b < blocks; ++b) {
      count_symbols(tokens_.data() + begin, token_ends[b] - begin, literal_freq, position_freq);
      cost_model_from_frequencies(literal_freq, position_freq, method_, &models_[b]);
      model_pointers_[b] = &models_[b];
      begin = token_ends[b];
    }
    block_tokens_.clear();
    parser_.parse(data, 0, span, work.cache, model_pointers_.data(), input_ends_.data(),
                  &block_tokens_);
    tokens_.swap(block_tokens_);
    size_t t = 0;
    uint32_t pos = 0;
    for (size_t b = 0; b < blocks; ++b) {
      while (t < tokens_.size() && pos < input_ends_[b]) pos += token_input_length(tokens_[t++]);
      token_ends[b] = t;
      input_ends_[b] = pos;
    }
  }

  size_t begin = 0;
  for (size_t b = 0; b < blocks; ++b) {
    write_tokens(tokens_.data() + begin, token_ends[b] - begin);
    begin = token_ends[b];
  }
  // The next segment's first parse is priced by the last block.
  const size_t last_begin = blocks > 1 ? token_ends[blocks - 2] : 0;
  count_symbols(tokens_.data() + last_begin, tokens_.size() - last_begin, literal_freq,
                position_freq);
  cost_model_from_frequencies(literal_freq, position_freq, method_, &model_);
  have_model_ = true;
  take_bytes(out);
}

void SegmentCoder::finish(std::vector<uint8_t>* out) {
  bits_.flush();
  take_bytes(out);
}

}  // namespace pack
