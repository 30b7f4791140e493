// Decoding tables: a canonical code, given by its code lengths, becomes a
// main table indexed by the next main_bits bits and, for the longer codes,
// subtables behind it, one for each main entry that starts such codes,
// as large as the codes under that entry need. Lists that do not describe
// a usable code are refused as "Bad table".
#include "decode/decode_internal.h"

namespace {

// n entries of value; n is a power of two.
inline void fill_entries(uint32_t* p, uint32_t value, uint32_t n) {
  if (n == 1) {
    *p = value;
    return;
  }
  uint64_t two = uint64_t(value) << 32 | value;
  for (uint32_t i = 0; i < n; i += 2) store_u64(reinterpret_cast<uint8_t*>(p + i), two);
}

uint32_t make_entry(uint32_t symbol, uint32_t length, TableKind kind) {
  if (kind == table_symbols) return symbol << entry_value_shift | length;
  // Position j >= 2 is 2^(j - 1) and j - 1 extra bits; 0 and 1 stand alone.
  uint32_t extra = symbol > 1 ? symbol - 1 : 0;
  uint32_t base = symbol > 1 ? 1u << extra : symbol;
  return base << entry_value_shift | extra << entry_extra_shift | entry_position | length;
}

uint32_t entry_symbol(uint32_t e) {
  uint32_t value = entry_value(e);
  if ((e & entry_position) == 0 || value <= 1) return value;
  return entry_extra(e) + 1;
}

// count[len] for len 0 to 16: how many of the symbols have a code of len
// bits; a length above 16 (which only the unary escape of the small codes
// can send) is refused as "Bad table".
void count_code_lengths(const uint8_t* lengths, int symbol_count, uint32_t* count) {
  for (int len = 0; len <= 16; ++len) count[len] = 0;
  for (int i = 0; i < symbol_count; ++i) {
    if (lengths[i] > 16) fail_bad_table();
    ++count[lengths[i]];
  }
}

// A list of zeros sends no code: the table keeps the symbols it holds, and
// each takes no bits now, as the new lengths say. One outside this
// alphabet is marked, and refused as "Bad table" if a code reaches it.
void keep_symbols(int symbol_count, uint32_t* table, uint32_t capacity, TableKind kind) {
  for (uint32_t i = 0; i < capacity; ++i) {
    uint32_t e = table[i];
    if ((e & entry_link) != 0) continue;
    uint32_t symbol = entry_symbol(e);
    table[i] = (e & entry_bad) != 0 || symbol >= uint32_t(symbol_count)
                   ? entry_bad
                   : make_entry(symbol, 0, kind);
  }
}

}  // namespace

void fail_bad_table() {
  report_file_error("Bad table", wa->module_path);
  fatal_exit(1);
}

uint32_t subtable_entry(const uint32_t* table, uint32_t main_bits, uint32_t e, uint64_t word) {
  if ((e & entry_bad) == 0) {
    uint32_t sub_bits = entry_extra(e);
    e = table[entry_value(e) + uint32_t((word << main_bits) >> (64 - sub_bits))];
  }
  if ((e & entry_bad) != 0) fail_bad_table();
  return e;
}

void fill_single_symbol(uint32_t symbol, uint32_t main_bits, uint32_t* table, TableKind kind) {
  fill_entries(table, make_entry(symbol, 0, kind), 1u << main_bits);
}

void build_table(const uint8_t* lengths, int symbol_count, uint32_t main_bits, uint32_t* table,
                 uint32_t capacity, TableKind kind) {
  uint32_t count[17];
  count_code_lengths(lengths, symbol_count, count);

  // The code space the lengths take, in units of 2^-16: exactly one
  // complete code, or nothing at all.
  uint32_t space = 0;
  for (int len = 1; len <= 16; ++len) space += count[len] << (16 - len);
  if (space == 0) {
    keep_symbols(symbol_count, table, capacity, kind);
    return;
  }
  if (space != 0x10000) fail_bad_table();

  // The symbols in canonical order: by length, then by symbol.
  uint16_t sorted[lit_symbols];
  uint32_t offset[17];
  offset[1] = 0;
  for (int len = 1; len < 16; ++len) offset[len + 1] = offset[len] + count[len];
  for (int ch = 0; ch < symbol_count; ++ch)
    if (lengths[ch] != 0) sorted[offset[lengths[ch]]++] = uint16_t(ch);

  // code: where the next code starts, left-aligned to 16 bits.
  uint32_t code = 0;
  uint32_t i = 0;
  for (uint32_t len = 1; len <= main_bits; ++len)
    for (uint32_t n = count[len]; n != 0; --n) {
      fill_entries(table + (code >> (16 - main_bits)), make_entry(sorted[i++], len, kind),
                   1u << (main_bits - len));
      code += 1u << (16 - len);
    }

  uint32_t next_free = 1u << main_bits;
  uint32_t prefix = ~0u;
  uint32_t start = 0;
  uint32_t sub_bits = 0;
  for (uint32_t len = main_bits + 1; len <= 16; ++len)
    for (; count[len] != 0; --count[len]) {
      uint32_t p = code >> (16 - main_bits);
      if (p != prefix) {
        // A new subtable: as many index bits as the codes left fill
        // completely under this main entry, the shortest first.
        prefix = p;
        sub_bits = len - main_bits;
        int32_t left = 1 << sub_bits;
        for (;;) {
          left -= int32_t(count[main_bits + sub_bits]);
          if (left <= 0 || main_bits + sub_bits >= 16) break;
          ++sub_bits;
          left <<= 1;
        }
        start = next_free;
        next_free += 1u << sub_bits;
        if (next_free > capacity) fail_bad_table();
        table[p] = start << entry_value_shift | sub_bits << entry_extra_shift | entry_link;
      }
      uint32_t shift = 16 - main_bits - sub_bits;
      uint32_t index = (code >> shift) & ((1u << sub_bits) - 1);
      fill_entries(table + start + index, make_entry(sorted[i++], len, kind),
                   1u << (main_bits + sub_bits - len));
      code += 1u << (16 - len);
    }
}
