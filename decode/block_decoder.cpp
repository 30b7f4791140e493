// The block decoder of -lh4- to -lh7-: Huffman-coded literals and matches
// rebuild a member's bytes in the 64 KiB ring, which is flushed whenever it
// is full and once at the end.
//
// The loop is the hot path of the program. It runs the same bit stream as
// fill_bits, but holds it in a 64-bit word in locals: a symbol is decoded by
// one access to a table that holds it with its code length (for a position,
// with its extra bits), the word is topped up once per step while 8 bytes of
// the data stand in in_buf (a step takes at most 47 bits; a literal that
// follows a literal needs none), the limits of in_buf, the ring, the block
// and the member are checked once for a run of steps that cannot pass them,
// and matches are copied in whole chunks of 16 or 8 bytes, or by a pattern
// of 8 bytes for shorter distances. Its input reads are those of the bit
// reader exactly: near the end of in_buf and of the data the loop drops to
// careful steps that keep 16 bits as fill_bits does, so a refill of in_buf
// happens at the moment fill_bits would make it; and the bit reader's fields
// are brought back to the state fill_bits would have left before a block
// header is read and at the end of the member.
#include "decode/bit_word.h"
#include "decode/decode_internal.h"
#include "startup/startup.h"

namespace {

// Lookup tables of the loop, rebuilt at every block header. The
// literal/length table is indexed by 10 bits, a quarter of lit_lookup, so
// that building it for a small block costs little: an entry holds the
// symbol from bit 6 and its code length in bits 0 to 5, or, for the slots
// of codes longer than 10 bits, bit 31 alone, and the symbol is then looked
// up in lit_lookup and the tree behind it (which is all of lit_lookup the
// loop's block headers fill). A position entry holds what taking the code
// and its extra bits needs: in bits 0 to 5 the shift that brings them down
// from the top of the word (63 when they take no bits), their count in bits
// 8 to 15, a mask of as many bits as there are extra bits in bits 16 to 31
// and the distance value without them from bit 32; or with bit 7 a tree
// node from bit 32.
constexpr uint32_t lit_table_bits = lit_short_bits;  // the header leaves these codes to the loop
constexpr uint32_t lit_long_flag = 0x80000000u;
constexpr uint64_t position_node_flag = 0x80u;

struct FastTables {
  uint32_t lit[1u << lit_table_bits];
  uint64_t position[256];
};

// In zero-filled memory: at a fixed address they take no register in the
// loop, and they cost the program file nothing.
FastTables fast_tables;

inline uint32_t lit_entry(uint32_t symbol, const uint8_t* lengths) {
  return symbol << 6 | lengths[symbol];
}

inline uint64_t position_entry(uint32_t symbol, const uint8_t* lengths) {
  uint32_t extra_bits = symbol > 1 ? symbol - 1 : 0;
  uint32_t base = symbol > 1 ? 1u << extra_bits : symbol;
  uint32_t total = lengths[symbol] + extra_bits;
  uint32_t shift = total != 0 ? 64 - total : 63;
  return uint64_t(base) << 32 | ((1u << extra_bits) - 1) << 16 | total << 8 | shift;
}

inline uint32_t position_total(uint64_t e) {
  return (uint32_t(e) >> 8) & 0xFF;
}
inline uint32_t position_extra(uint64_t e) {
  uint32_t mask = uint32_t(e) >> 16;
  return mask != 0 ? 32 - uint32_t(__builtin_clz(mask)) : 0;
}

// The distance value of a position entry whose code and extra bits stand at
// the top of word.
inline uint32_t position_value(uint64_t e, uint64_t word) {
  return uint32_t(e >> 32) + (uint32_t(word >> (e & 63)) & (uint32_t(e) >> 16));
}

// The literal/length entries. Where lit_lengths hold a code, the slots of
// its codes of up to 10 bits are filled in their canonical order, a range
// for each code, as build_decode_table fills lit_lookup from them; the
// slots of longer codes follow them. Without a code (lit_lookup is then one
// symbol throughout, or the earlier block's) every slot goes to lit_lookup.
void build_lit_entries(uint32_t* out) {
  constexpr uint32_t slots = 1u << lit_table_bits;
  const uint8_t* lengths = wa->lit_lengths;
  uint32_t count[17];
  count_code_lengths(lengths, lit_symbols, count);
  uint32_t slot = 0;
  if (count[0] != uint32_t(lit_symbols)) {
    uint32_t next[lit_table_bits + 1];
    for (uint32_t len = 1; len <= lit_table_bits; ++len) {
      next[len] = slot;
      slot += count[len] << (lit_table_bits - len);
    }
    for (int ch = 0; ch < lit_symbols; ++ch) {
      uint32_t len = lengths[ch];
      if (len - 1 >= lit_table_bits) continue;  // no code, or one longer than the table
      uint32_t entry = lit_entry(uint32_t(ch), lengths);
      uint32_t* p = out + next[len];
      uint32_t n = 1u << (lit_table_bits - len);
      if (n == 1) {
        *p = entry;
      } else {
        uint64_t two = uint64_t(entry) << 32 | entry;
        for (uint32_t k = 0; k < n; k += 2) store_u64(reinterpret_cast<uint8_t*>(p + k), two);
      }
      next[len] += n;
    }
  }
  for (; slot < slots; ++slot) out[slot] = lit_long_flag;
}

// The entry of a code longer than the table, or of any code of a block
// without one: by lit_lookup, and the tree for codes longer than 12 bits.
__attribute__((noinline)) uint32_t long_lit_entry(uint64_t word) {
  uint32_t v = wa->lit_lookup[word >> 52];
  if (v >= uint32_t(lit_symbols)) v = walk_tree(v, word, 12, lit_symbols);
  return lit_entry(v, wa->lit_lengths);
}

// The literal/length entry that word starts with.
inline __attribute__((always_inline)) uint32_t lit_entry_of(const FastTables& t, uint64_t word) {
  uint32_t e = t.lit[word >> (64 - lit_table_bits)];
  if (__builtin_expect((e & lit_long_flag) != 0, 0)) e = long_lit_entry(word);
  return e;
}

void build_fast_tables(FastTables& t) {
  build_lit_entries(t.lit);
  const uint16_t* lookup = wa->small_lookup;
  const uint8_t* lengths = wa->small_lengths;
  const uint32_t position_count = wa->position_count;
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t v = lookup[i];
    t.position[i] =
        v >= position_count ? position_node_flag | uint64_t(v) << 32 : position_entry(v, lengths);
  }
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

// One literal/length code and, for a match, its position, keeping 16 bits
// in the word after every drop as fill_bits does; for the steps near the end
// of in_buf, of the data and of the ring, which runs do not take.
__attribute__((noinline)) void decode_step(Bits& b, Output& o, const FastTables& t,
                                           const uint8_t* in_buf) {
  if (b.count < 16) b = top_up_slow(b);
  uint32_t e = lit_entry_of(t, b.word);
  drop(b, in_buf, e & 63);
  uint32_t c = e >> 6;

  if (c < 256) {
    o.ring[o.fill++] = uint8_t(c);
    if (__builtin_expect(o.fill == ring_capacity, 0)) {
      flush_full_ring(o.out_count + 1, o);
      o.fill = 0;
    }
    ++o.out_count;
    return;
  }

  uint64_t p = t.position[b.word >> 56];
  if (__builtin_expect((p & position_node_flag) != 0, 0))
    p = position_entry(walk_tree(uint32_t(p >> 32), b.word, 8, wa->position_count),
                       wa->small_lengths);
  uint32_t extra_bits = position_extra(p);
  drop(b, in_buf, position_total(p) - extra_bits);
  uint32_t d = uint32_t(p >> 32) + uint32_t((b.word >> 32) >> (32 - extra_bits));
  drop(b, in_buf, extra_bits);
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
// has room and the member wants more: each step tops the word up and takes
// one code, and for a match its position, as decode_step does, but with all
// the bits of the step in the word at once. The
// limits are checked for runs of steps that cannot pass them: a step takes
// at most 6 bytes of in_buf and writes at most 256 bytes. Only entered with
// at least one step left in the block, fill below run_fill_limit and in_pos
// below fast_limit.
__attribute__((noinline)) void run_steps(Bits& bits, Output& o, const FastTables& t,
                                         const uint8_t* in_buf, uint32_t& block_left) {
  constexpr uint32_t mask = ring_capacity - 1;
  uint8_t* const ring = o.ring;
  uint32_t fill = o.fill;
  const uint32_t first_fill = fill;
  // The run ends once the member's bytes are produced; what its last match
  // copied past them is taken back below, so that no member yields more
  // bytes than its header declares.
  const uint32_t wanted = o.member_size - o.out_count;
  const uint32_t stop = wanted < run_fill_limit - fill ? fill + wanted : run_fill_limit;
  const uint8_t* const in_limit = in_buf + bits.fast_limit;
  const uint8_t* in = in_buf + bits.in_pos;
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

      uint32_t e = lit_entry_of(t, word);
      word <<= e & 63;
      count -= e & 63;
      if (e < (256u << 6)) {
        ring[fill++] = uint8_t(e >> 6);
        // A literal that follows needs no top-up: 40 bits or more are left.
        if (run > 1) {
          e = t.lit[word >> (64 - lit_table_bits)];
          if (e < (256u << 6)) {
            word <<= e & 63;
            count -= e & 63;
            ring[fill++] = uint8_t(e >> 6);
            --run;
          }
        }
        continue;
      }

      uint64_t p = t.position[word >> 56];
      if (__builtin_expect((p & position_node_flag) != 0, 0))
        p = position_entry(walk_tree(uint32_t(p >> 32), word, 8, wa->position_count),
                           wa->small_lengths);
      uint32_t d = position_value(p, word);
      word <<= position_total(p);
      count -= position_total(p);

      uint32_t length = (e >> 6) - 253;
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
  bits.in_pos = uint32_t(in - in_buf);
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
  start_member_decoding(method);
  wa->out_count = 0;
  wa->ring_fill = 0;

  const uint8_t* const in_buf = wa->in_buf;
  FastTables& tables = fast_tables;
  Output o;
  o.ring = wa->ring;
  o.out_count = 0;
  o.fill = 0;
  o.member_size = wa->member_size;
  o.progress = wa->output_file != invalid_file;
  uint32_t block_left = 0;
  Bits b = load_bits();

  while (o.out_count < o.member_size) {
    if (__builtin_expect(block_left == 0, 0)) {
      store_bits(b);
      read_block_header(true);
      block_left = wa->block_remaining != 0 ? wa->block_remaining : 0x10000u;
      build_fast_tables(tables);
      b = load_bits();
    }
    // A step takes at most 16 + 16 + 15 bits. With 8 bytes of data in
    // in_buf the bit reader would not read the file within it either.
    if (__builtin_expect(b.in_pos < b.fast_limit && o.fill < run_fill_limit, 1)) {
      run_steps(b, o, tables, in_buf, block_left);
      continue;
    }
    --block_left;
    decode_step(b, o, tables, in_buf);
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
  store_bits(b);
}
