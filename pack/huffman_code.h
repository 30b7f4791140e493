// Length-limited Huffman codes in the canonical order the decoder assumes.
#pragma once

#include <cstdint>

namespace pack {

// Optimal code lengths of at most max_bits for the symbols with nonzero frequency
// (package-merge). Unused symbols get 0. With one used symbol it gets length 1; the
// block writer sends such a code in its single-symbol form instead.
void limited_code_lengths(const uint32_t* freq, int count, int max_bits, uint8_t* lengths);

// Canonical codes for the lengths: shorter codes first, equal lengths in symbol order.
void canonical_codes(const uint8_t* lengths, int count, uint16_t* codes);

}  // namespace pack
