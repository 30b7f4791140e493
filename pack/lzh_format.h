// The LZH block format and the compression methods as the encoder names
// them; the values are those of format/lzh_format.h, which the stub reads by.
#pragma once

#include <cstdint>

#include "format/lzh_format.h"

namespace pack {

constexpr int literal_alphabet = lzh_literal_alphabet;  // 256 bytes and match lengths 3..256
constexpr int length_code_alphabet = lzh_code_length_alphabet;  // sends the literal/length lengths
constexpr int max_position_alphabet = lzh_max_position_alphabet;
constexpr int max_code_bits = lzh_max_code_bits;
constexpr int min_match = lzh_min_match;
constexpr int max_match = lzh_max_match;
constexpr uint32_t max_block_symbols = 65535;  // a count of 0 is read differently by other tools

struct Method {
  char digit;               // '0', '5', '6' or '7'
  int dict_bits;            // dictionary of the method: distances stay inside it
  int position_count;       // position symbols
  int position_count_bits;  // width of the count field of the position lengths
};

// The method of a digit; false for a method kobrix-pack does not write.
bool method_of(char digit, Method* method);

// Position symbol of a distance value d (d + 1 bytes back): 0, 1, or the bit length of d.
inline int position_symbol(uint32_t d) {
  return d == 0 ? 0 : 32 - __builtin_clz(d);
}

// Extra bits that follow position symbol j.
inline int position_extra_bits(int j) {
  return j < 2 ? 0 : j - 1;
}

// Literal/length symbol of a match length.
inline int length_symbol(int length) {
  return length + 253;
}

}  // namespace pack
