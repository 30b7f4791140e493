// Codes the units of the members on worker threads, a few units ahead of the writer,
// and hands the results out in order. The output does not depend on the number of
// threads or on which thread coded what: every unit is coded on its own.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pack/bit_writer.h"
#include "pack/segment_matcher.h"

namespace pack {

struct UnitResult {
  std::string error;           // not empty: the unit could not be coded
  std::vector<uint8_t> input;  // the unit's bytes behind its dictionary
  uint32_t prime = 0;          // bytes of the dictionary
  CodedBits bits;
};

// A file to compress and its size when it was listed; it is read in units of that.
struct PipelineMember {
  std::string path;
  uint64_t size = 0;
};

class MatchPipeline {
 public:
  MatchPipeline(const Method& method, const EncoderTuning& tuning,
                std::vector<PipelineMember> members, int threads);
  ~MatchPipeline();  // stops the threads
  MatchPipeline(const MatchPipeline&) = delete;
  MatchPipeline& operator=(const MatchPipeline&) = delete;

  // The units of member m are numbers first_unit(m) to first_unit(m + 1) - 1.
  size_t first_unit(size_t member) const { return first_unit_[member]; }
  // Member offset where unit u ends.
  uint64_t unit_end(size_t u) const { return jobs_[u].start + jobs_[u].size; }

  // The result of unit u, units taken in order; waits for it.
  std::unique_ptr<UnitResult> take(size_t u);

 private:
  struct Job {
    size_t member;
    uint64_t start;
    uint32_t size;
    bool last;  // the member's last unit: the file must end behind it
  };
  void work();
  void code(const Job& job, class UnitEncoder& encoder, UnitResult* result);

  Method method_;
  EncoderTuning tuning_;
  std::vector<PipelineMember> members_;
  std::vector<Job> jobs_;
  std::vector<size_t> first_unit_;
  std::vector<std::unique_ptr<UnitResult>> done_;
  uint64_t cost(size_t u) const;  // what unit u holds in memory until it is taken, about
  uint64_t budget_;               // the cost of the units handed out and not taken, at most
  uint64_t ahead_ = 0;            // the cost of those now
  size_t next_ = 0;               // the next unit to hand out
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::thread> threads_;
};

// The number of processors this process may run on.
int available_cores();

}  // namespace pack
