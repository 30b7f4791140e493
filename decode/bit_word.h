// The bit reader's stream in a 64-bit word held in locals, for the loops
// that take many codes at once: the block decoder and the list of
// literal/length code lengths. It takes the bits fill_bits would take and
// reads the file at the moments fill_bits would read it; load_bits takes
// the bit reader's fields over and store_bits gives them back as fill_bits
// would have left them.
#pragma once

#include <cstdint>

#include "decode/decode_internal.h"

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

// word holds count bits from bit 63 down; below them it may hold the bits
// of the data bytes that follow, which a later top-up puts in the same
// place again. Outside the loops' steps count is at least 16, as
// bit_window always holds 16 bits.
struct Bits {
  uint64_t word;
  uint32_t count;
  uint32_t in_pos;
  uint32_t data_end;    // in_pos + packed_remaining (modulo 2^32)
  uint32_t fast_limit;  // in_pos below it: 8 bytes of the data stand in in_buf
  uint32_t zeros;       // zero bytes supplied past the data since load_bits, at most 8 counted
};

// The bit reader's fields as a word.
Bits load_bits();
// Gives back the whole bytes taken beyond bit_window and its pending byte:
// zero bytes are dropped, data bytes return to in_buf.
void store_bits(Bits b);
// Byte by byte, for the end of in_buf and the end of the data; the file is
// read only when the word holds fewer than 16 bits. Leaves at most 56 bits.
Bits top_up_slow(Bits b);

// Tops the word up to 56 bits or more from in_buf; only below fast_limit.
inline __attribute__((always_inline)) void load_word(Bits& b, const uint8_t* in_buf) {
  b.word |= load_be64(in_buf + b.in_pos) >> b.count;
  b.in_pos += (63 - b.count) >> 3;
  b.count |= 56;
}

// Drops n bits (at most 16) and keeps at least 16 bits in the word, as
// fill_bits does.
inline __attribute__((always_inline)) void drop(Bits& b, const uint8_t* in_buf, uint32_t n) {
  b.word <<= n;
  b.count -= n;
  if (b.count < 16) {
    if (b.in_pos < b.fast_limit)
      load_word(b, in_buf);
    else
      b = top_up_slow(b);
  }
}
