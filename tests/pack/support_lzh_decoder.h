// An independent decoder of the LZH block format for the builder's tests. It refuses all
// that other decoders may refuse: codes not complete or longer than 16 bits, a block size
// of 0, distances beyond the method's dictionary or before the member's first byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/sample_data.h"

struct DecodeReport {
  std::string error;  // empty when the data decoded cleanly
  uint32_t blocks = 0;
  uint32_t longest_distance = 0;  // bytes back
};

// Decodes size bytes of a -lh5-, -lh6- or -lh7- member from packed.
DecodeReport reference_decode(const std::vector<uint8_t>& packed, uint32_t size, char method,
                              std::vector<uint8_t>* out);
