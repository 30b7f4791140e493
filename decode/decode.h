// Decompression: CRC-16, the block decoder of -lh4- to -lh7-, the output
// sink and the stored copy.
#pragma once

#include <cstdint>

#include "startup/work_area.h"

// crc_polynomial and the CRC-16 itself: format/lzh_format.h.

// ---- CRC-16 ----

void build_crc_table(uint16_t polynomial);
// Runs wa->crc over the bytes; a length of 0 or less changes nothing.
uint16_t update_crc(const uint8_t* data, int32_t length);

// ---- block decoder ----

// Decodes the current member (method '4' to '7') through the ring.
void decode_member();

// ---- output sink and stored copy ----

void flush_ring(int32_t n);
void write_output(const uint8_t* data, uint32_t length, FileHandle file);
void copy_stored_member(int32_t size);
