// A one-line progress display on stderr, shown only on a terminal and only once
// packing has taken more than a moment.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace pack {

class ProgressDisplay {
 public:
  // total: bytes to pack. enabled: whether stderr is a terminal.
  ProgressDisplay(uint64_t total, bool enabled);
  ~ProgressDisplay() { finish(); }

  void update(uint64_t done, const std::string& name);
  // Clears the line.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;
  uint64_t total_;
  bool enabled_;
  bool shown_ = false;
  Clock::time_point started_, last_;
};

// Whether stderr is a terminal.
bool stderr_is_terminal();

}  // namespace pack
