#include "pack/member_encoder.h"

namespace pack {

MemberEncoder::MemberEncoder(const Method& method, const EncoderTuning& tuning)
    : matcher_(method, tuning), coder_(method, tuning) {}

EncodedMember MemberEncoder::encode(ByteSource& source, std::vector<uint8_t>* packed) {
  matcher_.start(&source);
  coder_.start();
  while (matcher_.next(&work_)) coder_.code(work_, packed);
  coder_.finish(packed);
  EncodedMember result;
  result.unpacked = matcher_.size();
  result.crc = matcher_.crc();
  return result;
}

}  // namespace pack
