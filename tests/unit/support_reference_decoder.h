// The block decoder symbol by symbol through next_lit_symbol and
// next_position: the reference for the fast loop of decode_member. Free of
// GoogleTest, so that the decoder's fuzz target builds it as well.
#pragma once

// Decodes the member of wa->header as decode_member does, one byte at a time.
void reference_decode_member();
