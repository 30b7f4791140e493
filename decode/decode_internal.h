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

// Reads a block header: the code count into block_remaining and the three
// codes of the block.
void read_block_header();

// Parameters of a compressed method, by its digit '4' to '7'.
struct MethodParameters {
  uint16_t dict_bits;
  uint16_t position_count;
  uint16_t position_count_bits;
};
const MethodParameters& method_parameters(char method);
