// The block decoder code by code, through the bit reader and the tables as
// the block header leaves them: the reference for the runs of decode_member,
// with their refills, chunked copies and checks of limits once per run.
// Free of GoogleTest, so that the decoder's fuzz target builds it as well.
#pragma once

#include <array>
#include <cstdint>

// Decodes the member of wa->header as decode_member does, one byte at a time.
void reference_decode_member();

// What of the decoder the program or the next member sees once a member is
// decoded, beside the reads of the file: where the stream stands (its bit
// phase and next 16 bits), the block's codes left, the counts and the CRC.
// How far in_buf has been taken into the bit reader's word is not part of
// it: the runs take 8 bytes at a time, the careful steps fewer.
std::array<uint32_t, 6> decoder_state();
