// Huffman decoding tables: a canonical code, given by its code lengths,
// becomes a direct lookup table of table_bits bits plus, for longer codes, a
// binary tree in tree_left / tree_right. Lists that do not describe a usable
// code are refused as "Bad table".
#include "decode/bit_word.h"
#include "decode/decode_internal.h"
#include "startup/startup.h"

namespace {

// n slots of value; n is a power of two.
inline void fill_slots(uint16_t* p, uint16_t value, uint32_t n) {
  if (n < 4) {
    for (uint32_t i = 0; i < n; ++i) p[i] = value;
    return;
  }
  uint64_t four = value * 0x0001000100010001ull;
  for (uint32_t i = 0; i < n; i += 4) store_u64(reinterpret_cast<uint8_t*>(p + i), four);
}

}  // namespace

void fail_bad_table() {
  report_file_error("Bad table", wa->module_path);
  fatal_exit(1);
}

void count_code_lengths(const uint8_t* lengths, int symbol_count, uint32_t* count) {
  if (symbol_count < 64) {
    for (int len = 0; len <= 16; ++len) count[len] = 0;
    for (int i = 0; i < symbol_count; ++i) {
      // Lengths above 16 can come only from the unary escape of the small codes.
      if (lengths[i] > 16) fail_bad_table();
      ++count[lengths[i]];
    }
    return;
  }
  // Four tallies in turn: runs of one length (mostly 0) would otherwise
  // wait on each other's increments.
  uint32_t tally[4][32] = {};
  uint32_t largest = 0;
  int i = 0;
  for (; i + 4 <= symbol_count; i += 4) {
    uint32_t a = lengths[i], b = lengths[i + 1], c = lengths[i + 2], d = lengths[i + 3];
    largest |= a | b | c | d;
    ++tally[0][a & 31];
    ++tally[1][b & 31];
    ++tally[2][c & 31];
    ++tally[3][d & 31];
  }
  for (; i < symbol_count; ++i) {
    largest |= lengths[i];
    ++tally[0][lengths[i] & 31];
  }
  if (largest > 31) fail_bad_table();
  for (int len = 17; len < 32; ++len)
    if (tally[0][len] + tally[1][len] + tally[2][len] + tally[3][len] != 0) fail_bad_table();
  for (int len = 0; len <= 16; ++len)
    count[len] = tally[0][len] + tally[1][len] + tally[2][len] + tally[3][len];
}

void build_decode_table(int16_t symbol_count, const uint8_t* lengths, int16_t table_bits,
                        uint16_t* table) {
  build_decode_table_above(symbol_count, lengths, table_bits, table, 0);
}

void build_decode_table_above(int symbol_count, const uint8_t* lengths, int table_bits,
                              uint16_t* table, int left_out) {
  uint32_t count[17];
  count_code_lengths(lengths, symbol_count, count);

  // First codes of each length, left-aligned to 16 bits. The sum must be
  // exactly one complete code (65536) or nothing at all: an over-full list
  // whose sum wraps to a multiple of 65536 is refused too, since filling it
  // would run past the table and the node arrays.
  uint32_t start[18];
  uint32_t weight[17];
  start[1] = 0;
  for (int len = 1; len <= 16; ++len) start[len + 1] = start[len] + (count[len] << (16 - len));
  if (start[17] == 0) return;  // no codes: table and nodes stay as they are
  if (start[17] != 0x10000) fail_bad_table();

  const int shift = 16 - table_bits;
  const uint32_t table_size = 1u << table_bits;
  for (int len = 1; len <= table_bits; ++len) {
    start[len] >>= shift;
    weight[len] = 1u << (table_bits - len);
  }
  for (int len = table_bits + 1; len <= 16; ++len) weight[len] = 1u << (16 - len);

  // Every slot under a long code starts empty.
  for (uint32_t i = start[table_bits + 1] >> shift; i < table_size; ++i) table[i] = 0;

  uint32_t free_node = uint32_t(symbol_count);
  const uint32_t mask = 1u << (15 - table_bits);
  for (int ch = 0; ch < symbol_count; ++ch) {
    int len = lengths[ch];
    if (len == 0) continue;
    uint32_t k = start[len];
    uint32_t next = k + weight[len];
    if (len <= table_bits) {
      if (len > left_out) fill_slots(table + k, uint16_t(ch), next - k);
    } else {
      uint16_t* p = &table[k >> shift];
      for (int step = len - table_bits; step > 0; --step) {
        if (*p == 0) {
          if (free_node >= uint32_t(tree_nodes)) fail_bad_table();
          wa->tree_left[free_node] = 0;
          wa->tree_right[free_node] = 0;
          *p = uint16_t(free_node++);
        }
        uint32_t node = *p;
        if (node < uint32_t(symbol_count) || node >= uint32_t(tree_nodes)) fail_bad_table();
        p = (k & mask) != 0 ? &wa->tree_right[node] : &wa->tree_left[node];
        k = (k << 1) & 0xFFFF;
      }
      *p = uint16_t(ch);
    }
    start[len] = next;
  }
}

uint16_t lookup_symbol(const uint16_t* table, int table_bits, uint16_t symbol_count) {
  const uint32_t window = wa->bit_window;
  return uint16_t(walk_tree(table[window >> (16 - table_bits)], uint64_t(window) << 48, table_bits,
                            symbol_count));
}

uint32_t walk_tree(uint32_t v, uint64_t word, int table_bits, uint32_t symbol_count) {
  uint32_t window = uint32_t(word >> 48);
  uint32_t mask = 1u << (15 - table_bits);
  while (v >= symbol_count) {
    if (mask == 0 || v >= uint32_t(tree_nodes)) fail_bad_table();
    v = (window & mask) != 0 ? wa->tree_right[v] : wa->tree_left[v];
    mask >>= 1;
  }
  return v;
}
