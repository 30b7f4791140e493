// The first half of compressing a member: reads its bytes, keeps the dictionary and
// finds the matches of every position, a segment at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pack/lzh_format.h"
#include "pack/match_finder.h"
#include "pack/optimal_parse.h"

namespace pack {

// Where a member's bytes come from: read() returns 0 at the end and throws on failure.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual size_t read(uint8_t* buffer, size_t size) = 0;
};

struct EncoderTuning {
  int search_depth = 24;        // tree nodes visited per position
  int nice_length = 96;         // a match at least this long is taken without weighing others
  int rounds = 2;               // parses of each block, each priced by the one before
  uint32_t segment = 1u << 18;  // input parsed and split into blocks at a time
};

// One segment of a member: its bytes and the matches found at each of them.
struct SegmentWork {
  std::vector<uint8_t> bytes;
  MatchCache cache;
  uint64_t end = 0;  // bytes of the member up to the end of this segment
};

class SegmentMatcher {
 public:
  SegmentMatcher(const Method& method, const EncoderTuning& tuning);

  // Starts a member with an empty dictionary.
  void start(ByteSource* source);

  // The next segment of the member; false once the member has ended. Throws
  // std::runtime_error when the member reaches 4 GiB, and whatever the source throws.
  bool next(SegmentWork* work);

  uint64_t size() const { return size_; }  // bytes read so far
  uint16_t crc() const { return crc_; }    // their CRC-16

 private:
  EncoderTuning tuning_;
  uint32_t window_;
  MatchFinder finder_;
  ByteSource* source_ = nullptr;
  std::vector<uint8_t> data_;  // data_[0] is the byte at position base_
  size_t fill_ = 0;            // valid bytes in data_
  uint32_t base_ = 0;
  uint32_t next_start_ = 0;  // where the next segment begins
  bool at_end_ = false;
  uint64_t size_ = 0;
  uint16_t crc_ = 0;
};

}  // namespace pack
