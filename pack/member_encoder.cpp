#include "pack/member_encoder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "pack/crc16.h"

namespace pack {

UnitEncoder::UnitEncoder(const Method& method, const EncoderTuning& tuning)
    : tuning_(tuning),
      finder_(method.dict_bits, tuning.search_depth, tuning.nice_length, tuning.good_length),
      coder_(method, tuning) {
  cache_.nice_length = static_cast<uint32_t>(tuning.nice_length);
}

void UnitEncoder::encode(const uint8_t* data, uint32_t prime, uint32_t size, CodedBits* out) {
  const uint32_t data_end = prime + size;
  finder_.reset();
  // The dictionary enters the tree as a segment would, long matches passed over fast.
  find_segment_matches(finder_, data, 0, prime, data_end, tuning_.nice_length, &cache_);
  coder_.start();
  for (uint32_t start = prime; start < data_end;) {
    const uint32_t end = std::min(data_end, start + tuning_.segment);
    find_segment_matches(finder_, data, start, end, data_end, tuning_.nice_length, &cache_);
    coder_.code(data + start, end - start, cache_);
    start = end;
  }
  coder_.finish(out);
}

MemberEncoder::MemberEncoder(const Method& method, const EncoderTuning& tuning)
    : method_(method), tuning_(tuning), units_(method, tuning) {}

EncodedMember MemberEncoder::encode(ByteSource& source, std::vector<uint8_t>* packed) {
  EncodedMember result;
  BitWriter bits;
  buffer_.resize(size_t(tuning_.unit) + (size_t(1) << method_.dict_bits));
  uint32_t prime = 0;
  for (bool at_end = false; !at_end;) {
    // Fill the unit behind its dictionary.
    size_t size = 0;
    while (size < tuning_.unit) {
      const size_t n = source.read(buffer_.data() + prime + size, tuning_.unit - size);
      if (n == 0) {
        at_end = true;
        break;
      }
      if (result.unpacked + size + n > 0xFFFFFFFFull)
        throw std::runtime_error("is 4 GiB or larger");
      size += n;
    }
    if (size == 0) break;
    result.crc = crc16_update(result.crc, buffer_.data() + prime, size);
    units_.encode(buffer_.data(), prime, static_cast<uint32_t>(size), &unit_bits_);
    bits.append(unit_bits_);
    result.unpacked += size;
    // The next unit's dictionary: the end of what was read.
    const uint32_t next_prime = unit_prime(method_, result.unpacked);
    std::memmove(buffer_.data(), buffer_.data() + prime + size - next_prime, next_prime);
    prime = next_prime;
  }
  bits.flush();
  std::vector<uint8_t> bytes;
  bits.take_whole_bytes(&bytes);
  packed->insert(packed->end(), bytes.begin(), bytes.end());
  return result;
}

}  // namespace pack
