#include "pack/progress_display.h"

#include <unistd.h>

#include <cstdio>

namespace pack {
namespace {

constexpr auto delay_before_showing = std::chrono::milliseconds(500);
constexpr auto interval = std::chrono::milliseconds(100);
constexpr size_t name_width = 40;

}  // namespace

bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) == 1;
}

ProgressDisplay::ProgressDisplay(uint64_t total, bool enabled)
    : total_(total), enabled_(enabled), started_(Clock::now()), last_(started_) {}

void ProgressDisplay::update(uint64_t done, const std::string& name) {
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (now - started_ < delay_before_showing || (shown_ && now - last_ < interval)) return;
  last_ = now;
  shown_ = true;
  const unsigned percent = total_ == 0 ? 100 : static_cast<unsigned>(done * 100 / total_);
  std::string shown = name;
  if (shown.size() > name_width) shown = "..." + shown.substr(shown.size() - (name_width - 3));
  std::fprintf(stderr, "\r\033[Kkobrix-pack: %3u%%  %.1f of %.1f MB  %s",
               percent > 100 ? 100 : percent, done / 1048576.0, total_ / 1048576.0, shown.c_str());
  std::fflush(stderr);
}

void ProgressDisplay::finish() {
  if (!shown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace pack
