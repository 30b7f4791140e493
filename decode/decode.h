// Decompression: CRC-16, bit input, Huffman tables, the block decoder of
// -lh4- to -lh7-, the output sink and the stored copy.
#pragma once

#include <cstdint>

#include "startup/work_area.h"

// crc_polynomial and the CRC-16 itself: format/lzh_format.h.

// ---- CRC-16 and bit input ----

void build_crc_table(uint16_t polynomial);
// Runs wa->crc over the bytes; a length of 0 or less changes nothing.
uint16_t update_crc(const uint8_t* data, int32_t length);
// The next compressed byte, or -1 when the refill failed.
int next_input_byte(FileHandle file, uint32_t wanted);
// Drops the top n bits of bit_window and shifts n new bits in.
void fill_bits(uint8_t n);
// The top n bits (1 to 16) of bit_window, then fill_bits(n).
uint16_t read_bits(uint8_t n);

// ---- Huffman tables ----

void build_decode_table(int16_t symbol_count, const uint8_t* lengths, int16_t table_bits,
                        uint16_t* table);

// ---- block decoder ----

// Decodes the current member (method '4' to '7') through the ring.
void decode_member();
void start_member_decoding(char method);
void load_small_lengths(int16_t symbol_count, int16_t count_bits, int16_t zero_run_after);
void load_lit_lengths();
uint16_t next_lit_symbol();
uint16_t next_position();

// ---- output sink and stored copy ----

void flush_ring(int32_t n);
void write_output(const uint8_t* data, uint32_t length, FileHandle file);
void copy_stored_member(int32_t size);
