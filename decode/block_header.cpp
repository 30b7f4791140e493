// The block header of -lh4- to -lh7-: the code-length code, the literal/length
// code and the position code, each sent as a list of code lengths; and the
// symbol decoders that use them.
#include "decode/bit_word.h"
#include "decode/decode_internal.h"
#include "startup/startup.h"

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

}  // namespace

const MethodParameters& method_parameters(char method) {
  // Only '4' to '7' reach the decoder; anything else is held to that range.
  int index = method & 0x0F;
  if (index < 4) index = 4;
  if (index > 7) index = 7;
  return methods[index - 4];
}

void start_member_decoding(char method) {
  const MethodParameters& m = method_parameters(method);
  wa->position_count = m.position_count;
  wa->position_count_bits = m.position_count_bits;
  wa->bit_window = 0;
  wa->pending_byte = 0;
  wa->pending_bits = 0;
  fill_bits(16);
  wa->block_remaining = 0;
}

void load_small_lengths(int16_t symbol_count, int16_t count_bits, int16_t zero_run_after) {
  uint8_t* lengths = wa->small_lengths;
  if (symbol_count < 0 || symbol_count > small_capacity) fail_bad_table();
  int n = read_bits(uint8_t(count_bits));
  if (n == 0) {
    bytes_fill(lengths, 0, uint32_t(symbol_count));
    uint16_t c = read_bits(uint8_t(count_bits));
    // A single symbol that takes no bits; it must belong to the alphabet.
    if (c >= symbol_count) fail_bad_table();
    for (int i = 0; i < 256; ++i) wa->small_lookup[i] = c;
    return;
  }
  int i = 0;
  do {
    int c = read_bits(3);
    if (c == 7) {
      // Unary escape: one more for every 1-bit up to the first 0-bit.
      for (uint32_t mask = 0x8000; mask != 0 && (wa->bit_window & mask) != 0; mask >>= 1) ++c;
      fill_bits(uint8_t(c - 6));
    }
    if (i >= small_capacity) fail_bad_table();
    lengths[i++] = uint8_t(c);
    if (i == zero_run_after) {
      int z = read_bits(2);
      if (i + z > small_capacity) fail_bad_table();
      for (; z > 0; --z) lengths[i++] = 0;
    }
  } while (i < n);
  for (; i < symbol_count; ++i) lengths[i] = 0;
  build_decode_table(symbol_count, lengths, 8, wa->small_lookup);
}

namespace {

// A lit_lookup that the loop's header left short: its first slot, which a
// code of up to lit_short_bits bits would hold, holds a value no build
// writes, and the lengths it was built from are kept to complete it. A
// block without a code keeps the table as it stands, so it is completed
// then; every other build fills that slot.
constexpr uint16_t short_table_mark = 0xFFFF;
uint8_t short_table_lengths[lit_symbols];

void read_lit_lengths(bool for_loop) {
  uint8_t* lengths = wa->lit_lengths;
  int n = read_bits(9);
  if (n == 0) {
    bytes_fill(lengths, 0, lit_symbols);
    uint16_t c = read_bits(9);
    if (c >= lit_symbols) fail_bad_table();
    for (int i = 0; i < 4096; ++i) wa->lit_lookup[i] = c;
    return;
  }
  // The lengths by the code-length code, taken through a word of bits as
  // lookup_symbol, fill_bits and read_bits would take them.
  const uint8_t* const in_buf = wa->in_buf;
  const uint16_t* const lookup = wa->small_lookup;
  const uint8_t* const code_lengths = wa->small_lengths;
  Bits b = load_bits();
  uint32_t shortest = 255;  // the shortest length of a code; 255: none
  int i = 0;
  while (i < n) {
    uint32_t c = lookup[b.word >> 56];
    if (c >= 19) c = walk_tree(c, b.word, 8, 19);
    drop(b, in_buf, code_lengths[c]);
    if (c <= 2) {
      int run = 1;
      if (c == 1) {
        run = int(b.word >> 60) + 3;
        drop(b, in_buf, 4);
      } else if (c == 2) {
        run = int(b.word >> 55) + 20;
        drop(b, in_buf, 9);
      }
      if (i + run > lit_symbols) fail_bad_table();
      for (; run > 0; --run) lengths[i++] = 0;
    } else {
      if (i >= lit_symbols) fail_bad_table();
      lengths[i++] = uint8_t(c - 2);
      if (c - 2 < shortest) shortest = c - 2;
    }
  }
  store_bits(b);
  for (; i < lit_symbols; ++i) lengths[i] = 0;
  if (shortest == 255) complete_lit_lookup();
  if (!for_loop || shortest > uint32_t(lit_short_bits)) {
    build_decode_table(lit_symbols, lengths, 12, wa->lit_lookup);
    return;
  }
  build_decode_table_above(lit_symbols, lengths, 12, wa->lit_lookup, lit_short_bits);
  // Kept by words: the copy is made for every block.
  for (int k = 0; k + 8 <= lit_symbols; k += 8)
    store_u64(short_table_lengths + k, load_u64(lengths + k));
  for (int k = lit_symbols & ~7; k < lit_symbols; ++k) short_table_lengths[k] = lengths[k];
  wa->lit_lookup[0] = short_table_mark;
}

}  // namespace

void complete_lit_lookup() {
  if (wa->lit_lookup[0] == short_table_mark)
    build_decode_table(lit_symbols, short_table_lengths, 12, wa->lit_lookup);
}

void load_lit_lengths() {
  read_lit_lengths(false);
}

void read_block_header(bool for_loop) {
  wa->block_remaining = read_bits(16);
  load_small_lengths(19, 5, 3);
  read_lit_lengths(for_loop);
  load_small_lengths(int16_t(wa->position_count), int16_t(wa->position_count_bits), -1);
}

uint16_t next_lit_symbol() {
  if (wa->block_remaining == 0) read_block_header();
  --wa->block_remaining;
  uint16_t j = lookup_symbol(wa->lit_lookup, 12, lit_symbols);
  fill_bits(wa->lit_lengths[j]);
  return j;
}

uint16_t next_position() {
  uint16_t j = lookup_symbol(wa->small_lookup, 8, wa->position_count);
  fill_bits(wa->small_lengths[j]);
  if (j <= 1) return j;
  return uint16_t((1u << (j - 1)) + read_bits(uint8_t(j - 1)));
}
