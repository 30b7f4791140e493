// Routines shared by the decoder's own files; not part of the core's interface.
#pragma once

#include <cstdint>

#include "decode/decode.h"

// "Read ERROR" naming the program's own file, aborted set, exit code 1.
[[noreturn]] void fail_read();
// "Bad table" naming the program's own file, exit code 1.
[[noreturn]] void fail_bad_table();

// The symbol that bit_window starts with, by a table of table_bits bits over
// an alphabet of symbol_count and the tree behind it; does not consume. A
// walk that runs out of the 16 window bits or off the node arrays is refused
// as "Bad table".
uint16_t lookup_symbol(const uint16_t* table, int table_bits, uint16_t symbol_count);

// The tree part of lookup_symbol, for codes longer than the table: from
// entry v of a table of table_bits bits, by the top 16 bits of word.
uint32_t walk_tree(uint32_t v, uint64_t word, int table_bits, uint32_t symbol_count);

// count[len] for len 0 to 16: how many of the symbols have a code of len
// bits; a length above 16 is refused as "Bad table".
void count_code_lengths(const uint8_t* lengths, int symbol_count, uint32_t* count);

// build_decode_table, but the slots of the codes of left_out bits or fewer
// are not filled.
void build_decode_table_above(int symbol_count, const uint8_t* lengths, int table_bits,
                              uint16_t* table, int left_out);

// Reads a block header: the code count into block_remaining and the three
// codes of the block. For the block decoder's loop, which looks up codes of
// up to lit_short_bits bits in a table of its own, lit_lookup is filled
// only from the first slot of a longer code on; see complete_lit_lookup.
void read_block_header(bool for_loop = false);
constexpr int lit_short_bits = 10;

// lit_lookup as build_decode_table would have left it, where the loop's
// header left its first slots out.
void complete_lit_lookup();

// Parameters of a compressed method, by its digit '4' to '7'.
struct MethodParameters {
  uint16_t dict_bits;
  uint16_t position_count;
  uint16_t position_count_bits;
};
const MethodParameters& method_parameters(char method);
