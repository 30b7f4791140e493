#include "pack/match_pipeline.h"

#include <sched.h>

#include <algorithm>
#include <exception>

#include "pack/file_source.h"
#include "pack/member_encoder.h"
#include "pack/pack_error.h"

namespace pack {

namespace {
// Memory a unit holds besides its bytes (its result, its bits' buffers), about.
constexpr uint64_t per_unit = 16 << 10;
}  // namespace

int available_cores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  return std::max(1u, std::thread::hardware_concurrency());
}

MatchPipeline::MatchPipeline(const Method& method, const EncoderTuning& tuning,
                             std::vector<PipelineMember> members, int threads)
    : method_(method), tuning_(tuning), members_(std::move(members)) {
  // Every member has a unit, an empty one too: its reading checks that the file is
  // still as long as it was listed.
  for (size_t m = 0; m < members_.size(); ++m) {
    first_unit_.push_back(jobs_.size());
    const uint64_t size = members_[m].size;
    uint64_t start = 0;
    do {
      const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(tuning.unit, size - start));
      jobs_.push_back({m, start, n, start + n == size});
      start += n;
    } while (start < size);
  }
  first_unit_.push_back(jobs_.size());
  done_.resize(jobs_.size());
  // Each thread codes one unit while the writer has about as many more to take. The
  // bound is on bytes, not units: behind a unit that takes long, the other threads go
  // on with many small ones.
  const size_t count = std::min<size_t>(std::max(threads, 1), jobs_.size());
  budget_ = 2 * count * (uint64_t(tuning.unit) + unit_prime(method, tuning.unit) + per_unit);
  for (size_t i = 0; i < count; ++i) threads_.emplace_back([this] { work(); });
}

MatchPipeline::~MatchPipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

uint64_t MatchPipeline::cost(size_t u) const {
  return jobs_[u].size + unit_prime(method_, jobs_[u].start) + per_unit;
}

void MatchPipeline::code(const Job& job, UnitEncoder& encoder, UnitResult* result) {
  const std::string& path = members_[job.member].path;
  try {
    FileSource source(path);
    result->prime = unit_prime(method_, job.start);
    const size_t wanted = size_t(result->prime) + job.size;
    result->input.resize(wanted);
    uint8_t beyond;
    if (source.read_at(job.start - result->prime, result->input.data(), wanted) != wanted ||
        (job.last && source.read_at(job.start + job.size, &beyond, 1) != 0)) {
      throw PackError(about_file(path, "changed while it was being packed"));
    }
    encoder.encode(result->input.data(), result->prime, job.size, &result->bits);
  } catch (const PackError& e) {
    result->error = e.what();
  } catch (const std::exception& e) {
    result->error = about_file(path, e.what());
  }
}

void MatchPipeline::work() {
  UnitEncoder encoder(method_, tuning_);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] {
      return stopping_ || (next_ < jobs_.size() && ahead_ + cost(next_) <= budget_);
    });
    if (stopping_) return;
    const size_t u = next_++;
    ahead_ += cost(u);
    lock.unlock();
    std::unique_ptr<UnitResult> result(new UnitResult);
    code(jobs_[u], encoder, result.get());
    lock.lock();
    done_[u] = std::move(result);
    changed_.notify_all();
  }
}

std::unique_ptr<UnitResult> MatchPipeline::take(size_t u) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this, u] { return done_[u] != nullptr; });
  std::unique_ptr<UnitResult> result = std::move(done_[u]);
  ahead_ -= cost(u);
  changed_.notify_all();
  return result;
}

}  // namespace pack
