// The block header of -lh4- to -lh7-: the code-length code, the literal/length
// code and the position code, each sent as a list of code lengths and built
// into its table. The code-length code and the position code share
// small_table and small_lengths, one after the other.
#include "decode/decode_internal.h"

namespace {

// The parameters of a compressed method, from the format's table.
constexpr MethodParameters parameters_of(char digit) {
  return {find_lzh_method(digit)->dict_bits, find_lzh_method(digit)->position_count,
          find_lzh_method(digit)->position_count_bits};
}

constexpr MethodParameters methods[4] = {
    parameters_of('4'),
    parameters_of('5'),
    parameters_of('6'),
    parameters_of('7'),
};

constexpr int small_capacity = int(sizeof(WorkArea::small_lengths));
constexpr int code_length_symbols = lzh_code_length_alphabet;

}  // namespace

void read_small_code(Bits& b, int symbol_count, uint32_t count_bits, int zero_run_after,
                     TableKind kind) {
  uint8_t* lengths = wa->small_lengths;
  int n = int(take_bits(b, count_bits));
  if (n == 0) {
    bytes_fill(lengths, 0, uint32_t(symbol_count));
    uint32_t c = take_bits(b, count_bits);
    // A single symbol that takes no bits; it must belong to the alphabet.
    if (c >= uint32_t(symbol_count)) fail_bad_table();
    fill_single_symbol(c, small_main_bits, wa->small_table, kind);
    return;
  }
  int i = 0;
  do {
    uint32_t c = take_bits(b, 3);
    if (c == 7) {
      // Unary escape: one more for every 1-bit up to the first 0-bit, at
      // most 16; the 0-bit is taken too.
      uint32_t ones = uint32_t(__builtin_clzll(~b.word | 1ull << 47));
      skip_bits(b, ones);
      skip_bits(b, 1);
      c += ones;
    }
    if (i >= small_capacity) fail_bad_table();
    lengths[i++] = uint8_t(c);
    if (i == zero_run_after) {
      int z = int(take_bits(b, 2));
      if (i + z > small_capacity) fail_bad_table();
      for (; z > 0; --z) lengths[i++] = 0;
    }
  } while (i < n);
  for (; i < symbol_count; ++i) lengths[i] = 0;
  build_table(lengths, symbol_count, small_main_bits, wa->small_table, small_table_size, kind);
}

namespace {

// The literal/length code, its lengths sent through the code-length code.
void read_lit_code(Bits& b) {
  uint8_t* lengths = wa->lit_lengths;
  int n = int(take_bits(b, 9));
  if (n == 0) {
    bytes_fill(lengths, 0, lit_symbols);
    uint32_t c = take_bits(b, 9);
    if (c >= uint32_t(lit_symbols)) fail_bad_table();
    fill_single_symbol(c, lit_main_bits, wa->lit_table, table_symbols);
    return;
  }
  const uint32_t* table = wa->small_table;
  int i = 0;
  while (i < n) {
    uint32_t e = table_entry(table, small_main_bits, b.word);
    skip_bits(b, entry_length(e));
    uint32_t c = entry_value(e);
    if (c <= 2) {
      // 0: one zero length; 1: 3 to 18 of them; 2: 20 to 531.
      int run = 1;
      if (c == 1) run = int(take_bits(b, 4)) + 3;
      if (c == 2) run = int(take_bits(b, 9)) + 20;
      if (i + run > lit_symbols) fail_bad_table();
      for (; run > 0; --run) lengths[i++] = 0;
    } else {
      if (i >= lit_symbols) fail_bad_table();
      lengths[i++] = uint8_t(c - 2);
    }
  }
  for (; i < lit_symbols; ++i) lengths[i] = 0;
  build_table(lengths, lit_symbols, lit_main_bits, wa->lit_table, lit_table_size, table_symbols);
}

}  // namespace

const MethodParameters& method_parameters(char method) {
  // Only '4' to '7' reach the decoder; anything else is held to that range.
  int index = method & 0x0F;
  if (index < 4) index = 4;
  if (index > 7) index = 7;
  return methods[index - 4];
}

Bits start_member_decoding(char method) {
  const MethodParameters& m = method_parameters(method);
  wa->position_count = m.position_count;
  wa->position_count_bits = m.position_count_bits;
  wa->block_remaining = 0;
  Bits b{0, 0, wa->in_pos, wa->packed_remaining};
  refill(b);
  return b;
}

void read_block_header(Bits& b) {
  wa->block_remaining = uint16_t(take_bits(b, 16));
  read_small_code(b, code_length_symbols, 5, 3, table_symbols);
  read_lit_code(b);
  read_small_code(b, wa->position_count, wa->position_count_bits, -1, table_positions);
}
