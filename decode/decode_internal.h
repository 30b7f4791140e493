// The decoder's own pieces: the bit reader, the decoding tables and the
// block header; not part of the core's interface.
#pragma once

#include <cstdint>

#include "decode/decode.h"
#include "startup/startup.h"

// "Read ERROR" naming the program's own file, aborted set, exit code 1.
[[noreturn]] void fail_read();
// "Bad table" naming the program's own file, exit code 1.
[[noreturn]] void fail_bad_table();

typedef uint64_t __attribute__((__may_alias__, __aligned__(1))) unaligned_u64;

inline uint64_t load_u64(const uint8_t* p) {
  return *reinterpret_cast<const unaligned_u64*>(p);
}
inline void store_u64(uint8_t* p, uint64_t v) {
  *reinterpret_cast<unaligned_u64*>(p) = v;
}

inline uint64_t load_be64(const uint8_t* p) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  return __builtin_bswap64(load_u64(p));
#else
  return load_u64(p);
#endif
}

// ---- the bit reader ----
//
// The member's packed data, most significant bit first, in a 64-bit word:
// the next `count` bits of the stream stand from bit 63 down; below them the
// word may hold bits of the data bytes that follow, which a later refill
// puts in the same place again. A refill takes bytes from in_buf until the
// word holds 56 bits or more; only when the word holds fewer than 16 bits
// and in_buf is used up does it read the next piece of the member from the
// file (16 KiB, or the rest of the member's data when that is less). Past
// the member's data it supplies zero bytes and reads nothing. Whoever takes
// bits refills when fewer than 16 are left, so the file is read at the
// moment the 16 bits after the last code need a byte of the next piece, and
// never past the member.
struct Bits {
  uint64_t word;
  uint32_t count;
  uint32_t in_pos;     // the next byte of in_buf; in_buf_size or more: in_buf used up
  uint32_t remaining;  // bytes of the member's data not yet taken into the word
};

// The bit reader's state into the work area, where it stands after a member.
inline void save_bits(const Bits& b) {
  wa->bit_word = b.word;
  wa->bit_count = b.count;
  wa->in_pos = b.in_pos;
  wa->packed_remaining = b.remaining;
}

// True while 8 bytes of the member's data stand in in_buf from in_pos.
inline bool refill_is_fast(const Bits& b) {
  return b.in_pos <= in_buf_size - 8 && b.remaining >= 8;
}

// Byte by byte: at the end of in_buf, at the end of the data, and the read
// of the next piece.
Bits refill_slow(Bits b);

inline __attribute__((always_inline)) void refill(Bits& b) {
  if (__builtin_expect(refill_is_fast(b), 1)) {
    b.word |= load_be64(wa->in_buf + b.in_pos) >> b.count;
    uint32_t taken = (63 - b.count) >> 3;
    b.in_pos += taken;
    b.remaining -= taken;
    b.count |= 56;
  } else {
    b = refill_slow(b);
  }
}

// Drops n bits (0 to 16) and refills when fewer than 16 are left.
inline __attribute__((always_inline)) void skip_bits(Bits& b, uint32_t n) {
  b.word <<= n;
  b.count -= n;
  if (b.count < 16) refill(b);
}

// The next n bits (0 to 16) as a number, then skip_bits(n).
inline uint32_t take_bits(Bits& b, uint32_t n) {
  uint32_t value = uint32_t((b.word >> 1) >> (63 - n));
  skip_bits(b, n);
  return value;
}

// ---- decoding tables ----
//
// One table per code: a main table indexed by the next main_bits bits of
// the stream, and after it, for codes longer than main_bits, subtables
// indexed by the bits that follow. An entry is 32 bits:
constexpr uint32_t entry_length_mask = 0x1F;   // bits 0-4: the code's length in bits
constexpr uint32_t entry_extra_shift = 8;      // bits 8-11: a position's extra bits,
                                               // or a link's subtable index bits
constexpr uint32_t entry_link = 1u << 13;      // leads to a subtable
constexpr uint32_t entry_bad = 1u << 14;       // a symbol outside the alphabet
constexpr uint32_t entry_position = 1u << 15;  // the value is a position's distance base
constexpr uint32_t entry_value_shift = 16;     // bits 16-31: the symbol, the distance
                                               // base, or a link's first subtable entry
// Subtables start behind the main table, so a link's value is never below
// 256: a literal/length entry below 256 << 16 is a literal.

// What a table's entries hold: symbols, or positions with their extra bits.
enum TableKind : uint8_t { table_symbols, table_positions };

inline uint32_t entry_length(uint32_t e) {
  return e & entry_length_mask;
}
inline uint32_t entry_value(uint32_t e) {
  return e >> entry_value_shift;
}
inline uint32_t entry_extra(uint32_t e) {
  return (e >> entry_extra_shift) & 0xF;
}

// The entry of a link or of a bad entry, by the bits behind the main
// table; "Bad table" for a bad one.
uint32_t subtable_entry(const uint32_t* table, uint32_t main_bits, uint32_t e, uint64_t word);

// The entry of the code that word starts with; does not consume.
inline __attribute__((always_inline)) uint32_t table_entry(const uint32_t* table,
                                                           uint32_t main_bits, uint64_t word) {
  uint32_t e = table[word >> (64 - main_bits)];
  if (__builtin_expect((e & (entry_link | entry_bad)) != 0, 0))
    e = subtable_entry(table, main_bits, e, word);
  return e;
}

// Builds the table of the code given by lengths[0 .. symbol_count - 1].
// Lengths above 16, and lists that are not one complete code, are refused
// as "Bad table". A list of zeros (no code) keeps the table's symbols: each
// now takes no bits, and one outside the alphabet is refused when it is
// met.
void build_table(const uint8_t* lengths, int symbol_count, uint32_t main_bits, uint32_t* table,
                 uint32_t capacity, TableKind kind);

// The code of a single symbol that takes no bits.
void fill_single_symbol(uint32_t symbol, uint32_t main_bits, uint32_t* table, TableKind kind);

// ---- the block header ----

// Parameters of a compressed method, by its digit '4' to '7'.
struct MethodParameters {
  uint16_t dict_bits;
  uint16_t position_count;
  uint16_t position_count_bits;
};
const MethodParameters& method_parameters(char method);

// Sets the method's position alphabet and block_remaining to 0, and starts
// the bit reader.
Bits start_member_decoding(char method);

// A small code's lengths into small_lengths and its table into small_table:
// the code-length code (19 symbols, count field of 5 bits, a zero run after
// the third length) or the position code (no zero run: -1).
void read_small_code(Bits& b, int symbol_count, uint32_t count_bits, int zero_run_after,
                     TableKind kind);

// Reads a block header: the code count into block_remaining, then the
// code-length code, the literal/length code and the position code, each
// into its table.
void read_block_header(Bits& b);
