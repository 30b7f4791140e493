// Compresses one member with -lh5-, -lh6- or -lh7- on the calling thread.
#pragma once

#include <cstdint>
#include <vector>

#include "pack/lzh_format.h"
#include "pack/segment_coder.h"
#include "pack/segment_matcher.h"

namespace pack {

struct EncodedMember {
  uint64_t unpacked = 0;  // bytes read from the source
  uint16_t crc = 0;       // CRC-16 of those bytes
};

class MemberEncoder {
 public:
  explicit MemberEncoder(const Method& method, const EncoderTuning& tuning = EncoderTuning());

  // Reads the source to its end and appends its compressed form to packed.
  EncodedMember encode(ByteSource& source, std::vector<uint8_t>* packed);

 private:
  SegmentMatcher matcher_;
  SegmentCoder coder_;
  SegmentWork work_;
};

}  // namespace pack
