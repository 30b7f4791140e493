// The block decoder of -lh4- to -lh7-: Huffman-coded literals and matches
// rebuild a member's bytes in the 64 KiB ring, which is flushed whenever it
// is full and once at the end.
//
// The loop is the hot path of the program. It takes the bit stream in the
// bit reader's 64-bit word, held in locals: a symbol is one access to its
// code's table (a second for a code longer than the main table), whose
// entry gives the symbol and its length (for a position, the distance base
// and the count of extra bits); the word is refilled once per step while 8
// bytes of the data stand in in_buf (a step takes at most 47 bits; a
// literal that follows a literal needs none); the limits of in_buf, the
// ring, the block and the member are checked once for a run of steps that
// cannot pass them; and matches are copied in whole chunks of 16 or 8
// bytes, or by a pattern of 8 bytes for shorter distances. Near the end of
// in_buf and of the data the loop drops to careful steps that refill after
// every code, as the block header's reading does, so the file is read at
// the same moments whichever way the codes are taken.
#include "decode/decode_internal.h"

namespace {

// The entry of a code longer than the main table, out of the loop's way.
__attribute__((noinline)) uint32_t long_lit_entry(const uint32_t* table, uint32_t e,
                                                  uint64_t word) {
  return subtable_entry(table, lit_main_bits, e, word);
}

// The literal/length entry that word starts with.
inline __attribute__((always_inline)) uint32_t lit_entry_of(const uint32_t* table, uint64_t word) {
  uint32_t e = table[word >> (64 - lit_main_bits)];
  if (__builtin_expect((e & entry_link) != 0, 0)) e = long_lit_entry(table, e, word);
  return e;
}

struct Output {
  uint8_t* ring;
  uint32_t out_count;
  uint32_t fill;
  uint32_t member_size;
  bool progress;
};

// Hands the full ring to the sink and reports done bytes.
__attribute__((noinline)) void flush_full_ring(uint32_t done, const Output& o) {
  flush_ring(int32_t(ring_capacity));
  if (o.progress) show_progress(done, o.member_size);
}

struct Chunk16 {
  uint64_t low;
  uint64_t high;
};

inline Chunk16 load_16(const uint8_t* p) {
  return Chunk16{load_u64(p), load_u64(p + 8)};
}
inline void store_16(uint8_t* p, Chunk16 c) {
  store_u64(p, c.low);
  store_u64(p + 8, c.high);
}

// The copy of a match whose source and destination both lie, with 16 bytes
// behind them, inside the ring, as if one byte at a time: a distance
// shorter than the length repeats what the match has just written. Whole
// chunks are copied, or for distances below 8 a pattern of 8 bytes made of
// the distance's bytes; the bytes behind the match that the last store
// overwrites are put back: they are still part of the window.
inline __attribute__((always_inline)) void copy_in_one_piece(uint8_t* ring, uint32_t fill,
                                                             uint32_t src, uint32_t length,
                                                             uint32_t distance) {
  uint8_t* dst = ring + fill;
  const uint8_t* from = ring + src;
  if (__builtin_expect(src > fill || distance >= 16, 1)) {
    // Every chunk reads bytes that are final before the chunk is stored.
    Chunk16 behind = load_16(dst + length);
    uint32_t k = 0;
    do {
      store_16(dst + k, load_16(from + k));
      k += 16;
    } while (k < length);
    store_16(dst + length, behind);
    return;
  }
  uint64_t behind = load_u64(dst + length);
  if (distance >= 8) {
    uint32_t k = 0;
    do {
      store_u64(dst + k, load_u64(from + k));
      k += 8;
    } while (k < length);
  } else {
    uint64_t pattern = load_u64(from);
    if (distance == 1) {
      pattern = (pattern & 0xFF) * 0x0101010101010101ull;
    } else {
      // The first distance bytes (little-endian, the lowest first),
      // repeated; a step of a whole number of distances keeps it in phase.
      pattern &= ~uint64_t(0) >> (64 - 8 * distance);
      for (uint32_t shift = 8 * distance; shift < 64; shift *= 2) pattern |= pattern << shift;
    }
    uint32_t step = 8 - 8 % distance;
    uint32_t k = 0;
    do {
      store_u64(dst + k, pattern);
      k += step;
    } while (k < length);
  }
  store_u64(dst + length, behind);
}

// Copies a match of length bytes from distance value d, flushing the ring
// whenever it fills. out_count already includes the match.
void copy_match(Output& o, uint32_t length, uint32_t d) {
  constexpr uint32_t mask = ring_capacity - 1;
  uint8_t* const ring = o.ring;
  uint32_t fill = o.fill;
  uint32_t src = (fill - d - 1) & mask;
  uint32_t distance = d + 1;
  if (fill + length + 16 <= ring_capacity && src + length + 16 <= ring_capacity) {
    // In one piece, without a flush in between.
    o.fill = fill + length;
    copy_in_one_piece(ring, fill, src, length, distance);
    return;
  }
  while (length != 0) {
    uint32_t room = ring_capacity - fill;
    uint32_t n = length < room ? length : room;
    uint8_t* dst = ring + fill;
    for (uint32_t k = 0; k < n; ++k) dst[k] = ring[(src + k) & mask];
    src = (src + n) & mask;
    fill += n;
    length -= n;
    if (fill == ring_capacity) {
      flush_full_ring(o.out_count, o);
      fill = 0;
    }
  }
  o.fill = fill;
}

// One literal/length code and, for a match, its position, refilling
// after every code as the block header's reading does; for the steps near
// the end of in_buf, of the data and of the ring, which runs do not take.
__attribute__((noinline)) void decode_step(Bits& b, Output& o) {
  uint32_t e = lit_entry_of(wa->lit_table, b.word);
  skip_bits(b, entry_length(e));
  uint32_t c = entry_value(e);

  if (c < 256) {
    o.ring[o.fill++] = uint8_t(c);
    if (__builtin_expect(o.fill == ring_capacity, 0)) {
      flush_full_ring(o.out_count + 1, o);
      o.fill = 0;
    }
    ++o.out_count;
    return;
  }

  uint32_t p = table_entry(wa->small_table, small_main_bits, b.word);
  skip_bits(b, entry_length(p));
  uint32_t d = entry_value(p) + take_bits(b, entry_extra(p));
  // A match that would run past the member's size is cut there.
  uint32_t length = c - 253;
  uint32_t left = o.member_size - o.out_count;
  if (length > left) length = left;
  o.out_count += length;
  copy_match(o, length, d);
}

// Below this fill a step can neither fill the ring nor run its chunks past
// its end: no flush and no check of the ring within the run.
constexpr uint32_t run_fill_limit = ring_capacity - 256 - 16;

// A match inside a run, its destination below run_fill_limit; a source
// that wraps over the ring's end goes byte by byte.
inline __attribute__((always_inline)) void copy_in_run(uint8_t* ring, uint32_t fill, uint32_t src,
                                                       uint32_t length, uint32_t distance) {
  constexpr uint32_t mask = ring_capacity - 1;
  if (__builtin_expect(src + length + 16 > ring_capacity, 0)) {
    for (uint32_t k = 0; k < length; ++k) ring[fill + k] = ring[(src + k) & mask];
    return;
  }
  copy_in_one_piece(ring, fill, src, length, distance);
}

// Steps of the block while 8 bytes of the data stand in in_buf, the ring
// has room and the member wants more: each step refills the word and takes
// one code, and for a match its position, as decode_step does, but with all
// the bits of the step in the word at once. The limits are checked for runs
// of steps that cannot pass them: a step takes at most 6 bytes of in_buf
// and writes at most 256 bytes. Only entered with at least one step left in
// the block, fill below run_fill_limit and the refill fast.
__attribute__((noinline)) void run_steps(Bits& bits, Output& o, uint32_t& block_left) {
  constexpr uint32_t mask = ring_capacity - 1;
  const uint32_t* const lit_table = wa->lit_table;
  const uint32_t* const small_table = wa->small_table;
  uint8_t* const ring = o.ring;
  uint32_t fill = o.fill;
  const uint32_t first_fill = fill;
  // The run ends once the member's bytes are produced; what its last match
  // copied past them is taken back below, so that no member yields more
  // bytes than its header declares.
  const uint32_t wanted = o.member_size - o.out_count;
  const uint32_t stop = wanted < run_fill_limit - fill ? fill + wanted : run_fill_limit;
  // Below in_limit a refill reads 8 bytes of the data from in_buf.
  const uint8_t* const in_buf = wa->in_buf;
  const uint32_t in_buf_left = in_buf_size - bits.in_pos;
  const uint8_t* const first_in = in_buf + bits.in_pos;
  const uint8_t* const in_limit =
      first_in + (bits.remaining < in_buf_left ? bits.remaining : in_buf_left) - 7;
  const uint8_t* in = first_in;
  uint64_t word = bits.word;
  uint32_t count = bits.count;
  uint32_t steps = block_left;
  while (steps != 0 && fill < stop && in < in_limit) {
    uint32_t run = steps;
    uint32_t by_input = uint32_t(in_limit - in + 5) / 6;
    uint32_t by_output = (stop - fill + 255) / 256;
    if (run > by_input) run = by_input;
    if (run > by_output) run = by_output;
    steps -= run;
    do {
      word |= load_be64(in) >> count;
      in += (63 - count) >> 3;
      count |= 56;

      uint32_t e = lit_entry_of(lit_table, word);
      word <<= entry_length(e);
      count -= entry_length(e);
      if (e < (256u << entry_value_shift)) {
        ring[fill++] = uint8_t(entry_value(e));
        // A literal that follows needs no refill: 40 bits or more are left.
        // (A link's value is never below 256.)
        if (run > 1) {
          e = lit_table[word >> (64 - lit_main_bits)];
          if (e < (256u << entry_value_shift)) {
            word <<= entry_length(e);
            count -= entry_length(e);
            ring[fill++] = uint8_t(entry_value(e));
            --run;
          }
        }
        continue;
      }

      uint32_t p = table_entry(small_table, small_main_bits, word);
      word <<= entry_length(p);
      uint32_t extra = entry_extra(p);
      uint32_t d = entry_value(p) + uint32_t((word >> 1) >> (63 - extra));
      word <<= extra;
      count -= entry_length(p) + extra;

      uint32_t length = entry_value(e) - 253;
      copy_in_run(ring, fill, (fill - d - 1) & mask, length, d + 1);
      fill += length;
    } while (--run != 0);
  }

  block_left = steps;
  if (fill - first_fill > wanted) fill = first_fill + wanted;
  o.out_count += fill - first_fill;
  o.fill = fill;
  bits.word = word;
  bits.count = count;
  bits.in_pos += uint32_t(in - first_in);
  bits.remaining -= uint32_t(in - first_in);
  // As every code does outside the runs.
  if (count < 16) refill(bits);
}

}  // namespace

void decode_member() {
  const uint8_t* header = wa->header;
  const char method = char(header[5]);
  wa->dict_bits = method_parameters(method).dict_bits;
  wa->member_size = get_u32(header + 11);
  wa->packed_remaining = get_u32(header + 7);
  wa->crc = 0;
  wa->ring_size = ring_capacity;
  Bits b = start_member_decoding(method);
  wa->out_count = 0;
  wa->ring_fill = 0;

  Output o;
  o.ring = wa->ring;
  o.out_count = 0;
  o.fill = 0;
  o.member_size = wa->member_size;
  o.progress = wa->output_file != invalid_file;
  uint32_t block_left = 0;

  while (o.out_count < o.member_size) {
    if (__builtin_expect(block_left == 0, 0)) {
      read_block_header(b);
      block_left = wa->block_remaining != 0 ? wa->block_remaining : 0x10000u;
    }
    // A step takes at most 16 + 16 + 15 bits. With 8 bytes of data in
    // in_buf the bit reader does not read the file within it either.
    if (__builtin_expect(refill_is_fast(b) && o.fill < run_fill_limit, 1)) {
      run_steps(b, o, block_left);
      continue;
    }
    --block_left;
    decode_step(b, o);
  }

  if (o.fill != 0) {
    flush_ring(int32_t(o.fill));
    // The count with the last bytes, which shows as 100%; held at the
    // largest count for a member of nearly 4 GiB.
    uint32_t done = o.out_count + o.fill;
    if (o.progress) show_progress(done >= o.out_count ? done : 0xFFFFFFFFu, o.member_size);
  }
  wa->out_count = o.out_count;
  wa->ring_fill = o.fill;
  wa->block_remaining = uint16_t(block_left);
  save_bits(b);
}
