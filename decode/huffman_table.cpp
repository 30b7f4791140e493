// Huffman decoding tables: a canonical code, given by its code lengths,
// becomes a direct lookup table of table_bits bits plus, for longer codes, a
// binary tree in tree_left / tree_right. Lists that do not describe a usable
// code are refused as "Bad table".
#include "decode/decode_internal.h"
#include "startup/startup.h"

void fail_bad_table() {
  report_file_error("Bad table", wa->module_path);
  fatal_exit(1);
}

void build_decode_table(int16_t symbol_count, const uint8_t* lengths, int16_t table_bits,
                        uint16_t* table) {
  uint32_t count[17] = {};
  for (int i = 0; i < symbol_count; ++i) {
    // Lengths above 16 can come only from the unary escape of the small codes.
    if (lengths[i] > 16) fail_bad_table();
    ++count[lengths[i]];
  }

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
      for (uint32_t i = k; i < next; ++i) table[i] = uint16_t(ch);
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
  uint32_t v = table[window >> (16 - table_bits)];
  uint32_t mask = 1u << (15 - table_bits);
  while (v >= symbol_count) {
    if (mask == 0 || v >= uint32_t(tree_nodes)) fail_bad_table();
    v = (window & mask) != 0 ? wa->tree_right[v] : wa->tree_left[v];
    mask >>= 1;
  }
  return uint16_t(v);
}
