#include "pack/match_pipeline.h"

#include <exception>

#include "pack/file_source.h"
#include "pack/pack_error.h"

namespace pack {
namespace {

// Segments in flight: one being coded, one being matched, and room for the two threads
// to run at different speeds for a while (members differ in which half costs more).
constexpr int segments_in_flight = 8;

struct Stopped {};

}  // namespace

MatchPipeline::MatchPipeline(const Method& method, const EncoderTuning& tuning,
                             std::vector<std::string> paths)
    : matcher_(method, tuning), paths_(std::move(paths)) {
  for (int i = 0; i < segments_in_flight; ++i) free_.push_back(std::make_unique<SegmentWork>());
  thread_ = std::thread([this] { run(); });
}

MatchPipeline::~MatchPipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

std::unique_ptr<SegmentWork> MatchPipeline::take_free() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return stopping_ || !free_.empty(); });
  if (stopping_) throw Stopped();
  std::unique_ptr<SegmentWork> work = std::move(free_.back());
  free_.pop_back();
  return work;
}

void MatchPipeline::push(PipelineItem item) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ready_.push_back(std::move(item));
  }
  changed_.notify_all();
}

void MatchPipeline::run() {
  size_t member = 0;
  try {
    for (; member < paths_.size(); ++member) {
      FileSource source(paths_[member]);
      matcher_.start(&source);
      for (;;) {
        std::unique_ptr<SegmentWork> work = take_free();
        if (!matcher_.next(work.get())) {
          recycle(std::move(work));
          break;
        }
        PipelineItem item;
        item.member = member;
        item.work = std::move(work);
        push(std::move(item));
      }
      PipelineItem item;
      item.kind = PipelineItem::end;
      item.member = member;
      item.size = matcher_.size();
      item.crc = matcher_.crc();
      push(std::move(item));
    }
  } catch (const Stopped&) {
  } catch (const PackError& e) {
    fail(member, e.what());
  } catch (const std::exception& e) {
    fail(member, about_file(paths_[member], e.what()));
  }
}

void MatchPipeline::fail(size_t member, const std::string& error) {
  PipelineItem item;
  item.kind = PipelineItem::failure;
  item.member = member;
  item.error = error;
  push(std::move(item));
}

PipelineItem MatchPipeline::next() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !ready_.empty(); });
  PipelineItem item = std::move(ready_.front());
  ready_.pop_front();
  return item;
}

void MatchPipeline::recycle(std::unique_ptr<SegmentWork> work) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(std::move(work));
  }
  changed_.notify_all();
}

}  // namespace pack
