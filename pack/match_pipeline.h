// Runs the match finding of the members on a thread of its own, a few segments ahead
// of the coding on the calling thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pack/segment_matcher.h"

namespace pack {

struct PipelineItem {
  enum Kind { segment, end, failure } kind = segment;
  size_t member = 0;                  // index into the paths given
  std::unique_ptr<SegmentWork> work;  // segment: the segment's bytes and matches
  uint64_t size = 0;                  // end: bytes read
  uint16_t crc = 0;                   // end: their CRC-16
  std::string error;                  // failure: what went wrong
};

class MatchPipeline {
 public:
  // Reads paths in order and finds their matches.
  MatchPipeline(const Method& method, const EncoderTuning& tuning, std::vector<std::string> paths);
  ~MatchPipeline();  // stops the thread
  MatchPipeline(const MatchPipeline&) = delete;
  MatchPipeline& operator=(const MatchPipeline&) = delete;

  // The next item, in member order; waits for it.
  PipelineItem next();
  // Hands a segment back once it is coded.
  void recycle(std::unique_ptr<SegmentWork> work);

 private:
  void run();
  std::unique_ptr<SegmentWork> take_free();
  void push(PipelineItem item);
  // Ends the items with the error that stopped the reading of a member.
  void fail(size_t member, const std::string& error);

  SegmentMatcher matcher_;
  std::vector<std::string> paths_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<PipelineItem> ready_;
  std::vector<std::unique_ptr<SegmentWork>> free_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace pack
