// The first half of compressing a stretch of input: the matches of every position of a
// segment, found in the dictionary before it.
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

constexpr int min_level = 1;
constexpr int max_level = 9;
constexpr int default_level = 6;  // the defaults of EncoderTuning

struct EncoderTuning {
  int search_depth = 20;        // tree nodes visited per position
  int nice_length = 96;         // a match at least this long is taken without weighing others
  int good_length = 32;         // a match this long cuts the rest of the search to a quarter
  int rounds = 2;               // parses of each segment, each priced by the one before
  uint32_t segment = 1u << 18;  // input parsed and split into blocks at a time
  // A member is coded in units of this many bytes, each on its own with the bytes
  // before it as its dictionary, so that units can be coded on several threads; the
  // output depends on this size, never on the number of threads.
  uint32_t unit = 1u << 20;
};

// The tuning of a compression level, min_level (fastest) to max_level (smallest).
EncoderTuning tuning_for_level(int level);

// Finds the matches of positions [start, end) of data, whose bytes are readable up to
// data_end, and enters every position into the finder (positions before start must
// have been entered). Behind a match of the nice length or longer the positions are
// only entered and get no matches: the parse takes such a match whole.
void find_segment_matches(MatchFinder& finder, const uint8_t* data, uint32_t start, uint32_t end,
                          uint32_t data_end, int nice_length, MatchCache* cache);

}  // namespace pack
