// The block decoder code by code, through the bit reader and tables as the
// block header leaves them: the reference for decode_member's runs. Free of
// GoogleTest, so that the decoder's fuzz target builds it as well.
#pragma once

#include <array>
#include <cstdint>

// Decodes the member of wa->header as decode_member does, one byte at a time.
void reference_decode_member();

// What the program or the next member sees of the decoder once a member is
// decoded: the stream's bit phase and next 16 bits, the block's codes left,
// the counts and the CRC (not how far in_buf went into the bit reader).
std::array<uint32_t, 6> decoder_state();
