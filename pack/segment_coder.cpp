#include "pack/segment_coder.h"

#include <algorithm>

#include "pack/block_split.h"

namespace pack {

SegmentCoder::SegmentCoder(const Method& method, const EncoderTuning& tuning)
    : method_(method), tuning_(tuning) {}

void SegmentCoder::start() {
  bits_ = BitWriter();
}

namespace {

// The longest match at position i worth taking: three bytes from far back cost more
// than three literals.
const Match* worth_taking(const MatchCache& cache, uint32_t i) {
  const uint32_t first = cache.first[i], last = cache.first[i + 1];
  if (last == first) return nullptr;
  const Match& m = cache.pairs[last - 1];
  return m.length == min_match && m.distance >= 4096 ? nullptr : &m;
}

}  // namespace

void SegmentCoder::greedy_parse(const uint8_t* data, uint32_t span, const MatchCache& cache,
                                std::vector<Token>* tokens) {
  // The longest match at each step, unless the next byte begins a longer one.
  for (uint32_t i = 0; i < span;) {
    const Match* m = worth_taking(cache, i);
    const uint32_t length = m ? std::min<uint32_t>(m->length, span - i) : 0;
    const Match* next = length != 0 && i + 1 < span ? worth_taking(cache, i + 1) : nullptr;
    if (length >= static_cast<uint32_t>(min_match) && !(next && next->length > length)) {
      tokens->push_back(Token{static_cast<uint16_t>(length_symbol(length)), m->distance});
      i += length;
    } else {
      tokens->push_back(Token{data[i], 0});
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

void SegmentCoder::code(const uint8_t* data, uint32_t span, const MatchCache& cache) {
  uint32_t literal_freq[literal_alphabet], position_freq[max_position_alphabet];

  // A first, greedy parse decides where blocks end.
  tokens_.clear();
  greedy_parse(data, span, cache, &tokens_);
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
  // symbols its block had in the round before. When rounds follow, the first one only
  // gathers those symbols: it weighs each match at its full length, not every shorter
  // one (a few steps a position instead of up to the nice length; the archive grows
  // by less than 0.05%). Tokens may run across a block's end; a
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
    parser_.parse(data, 0, span, cache, model_pointers_.data(), input_ends_.data(), &block_tokens_,
                  round != 0 || tuning_.rounds == 1);
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
}

}  // namespace pack
