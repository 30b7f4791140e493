#include "pack/segment_matcher.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "pack/crc16.h"

namespace pack {

SegmentMatcher::SegmentMatcher(const Method& method, const EncoderTuning& tuning)
    : tuning_(tuning),
      window_(1u << method.dict_bits),
      finder_(method.dict_bits, tuning.search_depth) {
  data_.resize(size_t(window_) + tuning_.segment + max_match);
}

void SegmentMatcher::start(ByteSource* source) {
  finder_.reset();
  source_ = source;
  fill_ = 0;
  base_ = 0;
  next_start_ = 0;
  at_end_ = false;
  size_ = 0;
  crc_ = 0;
}

bool SegmentMatcher::next(SegmentWork* work) {
  // Keep the dictionary in front of the segment, then read up to a segment and the
  // longest match beyond it.
  const uint32_t keep = std::max(base_, next_start_ > window_ ? next_start_ - window_ : 0u);
  std::memmove(data_.data(), data_.data() + (keep - base_), fill_ - (keep - base_));
  fill_ -= keep - base_;
  base_ = keep;
  const size_t wanted = size_t(next_start_ - base_) + tuning_.segment + max_match;
  while (!at_end_ && fill_ < wanted) {
    const size_t n = source_->read(data_.data() + fill_, data_.size() - fill_);
    if (n == 0) {
      at_end_ = true;
      break;
    }
    if (size_ + n > 0xFFFFFFFFull) throw std::runtime_error("is 4 GiB or larger");
    crc_ = crc16_update(crc_, data_.data() + fill_, n);
    size_ += n;
    fill_ += n;
  }
  const uint32_t data_end = base_ + static_cast<uint32_t>(fill_);
  if (next_start_ >= data_end) return false;
  const uint32_t start = next_start_;
  const uint32_t end = std::min<uint32_t>(start + tuning_.segment, data_end);
  const uint32_t span = end - start;
  const uint8_t* bytes = data_.data() + (start - base_);
  work->bytes.assign(bytes, bytes + span);
  work->end = end;

  MatchCache& cache = work->cache;
  cache.first.resize(span + 1);
  size_t used = 0;
  // Behind a long match, positions only enter the tree; each keeps the rest of that
  // match, so that a block may start inside it.
  uint32_t skip_until = start, long_end = 0;
  uint16_t long_distance = 0;
  for (uint32_t pos = start; pos < end; ++pos) {
    cache.first[pos - start] = static_cast<uint32_t>(used);
    const uint32_t limit = std::min<uint32_t>(max_match, data_end - pos);
    const uint8_t* cur = data_.data() + (pos - base_);
    if (cache.pairs.size() < used + max_match) cache.pairs.resize(2 * (used + max_match));
    if (pos < skip_until) {
      finder_.skip(cur, pos, limit);
      if (long_end - pos >= static_cast<uint32_t>(min_match)) {
        cache.pairs[used++] = Match{static_cast<uint16_t>(long_end - pos), long_distance};
      }
      continue;
    }
    const int found = finder_.find(cur, pos, limit, cache.pairs.data() + used);
    used += found;
    if (found > 0 && cache.pairs[used - 1].length >= tuning_.nice_length) {
      long_end = pos + cache.pairs[used - 1].length;
      long_distance = cache.pairs[used - 1].distance;
      skip_until = std::min(long_end, end);
    }
  }
  cache.first[span] = static_cast<uint32_t>(used);
  next_start_ = end;
  return true;
}

}  // namespace pack
