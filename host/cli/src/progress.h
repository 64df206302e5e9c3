// A progress bar on stderr, drawn only when stderr is a terminal and the render has already
// taken a moment, so that quick renders and redirected output stay quiet.
#pragma once

#include <chrono>
#include <cstdint>

namespace rmcli {

class ProgressBar {
 public:
  explicit ProgressBar(int sampleRate);
  ~ProgressBar();  // clears the bar
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void update(int64_t done, int64_t total);

 private:
  using Clock = std::chrono::steady_clock;
  int sampleRate_;
  bool terminal_;
  bool shown_ = false;
  Clock::time_point start_;
  Clock::time_point lastDraw_;
};

}  // namespace rmcli
