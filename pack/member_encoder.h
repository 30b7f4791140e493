// Compresses members with -lh5-, -lh6- or -lh7-, a unit at a time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "pack/bit_writer.h"
#include "pack/lzh_format.h"
#include "pack/match_finder.h"
#include "pack/segment_coder.h"
#include "pack/segment_matcher.h"

namespace pack {

// The bytes of the dictionary in front of a unit that starts at member offset `start`.
inline uint32_t unit_prime(const Method& method, uint64_t start) {
  return static_cast<uint32_t>(std::min<uint64_t>(start, uint64_t(1) << method.dict_bits));
}

// Codes units: each on its own, so that several threads may code the units of one
// member, each with an encoder of its own.
class UnitEncoder {
 public:
  UnitEncoder(const Method& method, const EncoderTuning& tuning);

  // Codes data[prime .. prime + size) with data[0 .. prime) as its dictionary; size is
  // at most the tuning's unit. Replaces out with the unit's bits.
  void encode(const uint8_t* data, uint32_t prime, uint32_t size, CodedBits* out);

 private:
  EncoderTuning tuning_;
  MatchFinder finder_;
  SegmentCoder coder_;
  MatchCache cache_;
};

struct EncodedMember {
  uint64_t unpacked = 0;  // bytes read from the source
  uint16_t crc = 0;       // CRC-16 of those bytes
};

// Compresses one member on the calling thread, unit after unit: the same bytes as
// units coded on several threads.
class MemberEncoder {
 public:
  explicit MemberEncoder(const Method& method, const EncoderTuning& tuning = EncoderTuning());

  // Reads the source to its end and appends its compressed form to packed. Throws
  // std::runtime_error when the member reaches 4 GiB, and whatever the source throws.
  EncodedMember encode(ByteSource& source, std::vector<uint8_t>* packed);

 private:
  Method method_;
  EncoderTuning tuning_;
  UnitEncoder units_;
  std::vector<uint8_t> buffer_;
  CodedBits unit_bits_;
};

}  // namespace pack
