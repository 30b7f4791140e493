// Writes one block of the LZH block format: block size, the code-length code, the
// literal/length code, the position code, then the codes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pack/bit_writer.h"
#include "pack/lzh_format.h"

namespace pack {

// One literal/length code: symbol < 256 is a literal byte; otherwise a match of
// length symbol - 253 at distance value `distance`.
struct Token {
  uint16_t symbol;
  uint16_t distance;
};

inline uint32_t token_input_length(const Token& token) {
  return token.symbol < 256 ? 1 : token.symbol - 253u;
}

// Frequencies of the literal/length and position symbols in tokens.
void count_symbols(const Token* tokens, size_t count, uint32_t* literal_freq,
                   uint32_t* position_freq);

// Writes tokens[0 .. count - 1] (1 to max_block_symbols of them) as one block.
void write_block(const Token* tokens, size_t count, const Method& method, BitWriter& out);

}  // namespace pack
