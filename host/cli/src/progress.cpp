#include "progress.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace rmcli {

namespace {
constexpr auto kDelay = std::chrono::milliseconds(400);     // quicker renders show no bar
constexpr auto kInterval = std::chrono::milliseconds(100);  // redraw rate
constexpr int kBarWidth = 30;
}  // namespace

ProgressBar::ProgressBar(int sampleRate)
    : sampleRate_(sampleRate), terminal_(isatty(STDERR_FILENO) == 1), start_(Clock::now()) {}

ProgressBar::~ProgressBar() {
  if (shown_) std::fputs("\r\033[K", stderr);
}

void ProgressBar::update(int64_t done, int64_t total) {
  if (!terminal_ || total <= 0) return;
  const auto now = Clock::now();
  if (now - start_ < kDelay || (shown_ && now - lastDraw_ < kInterval)) return;
  shown_ = true;
  lastDraw_ = now;
  const double fraction = static_cast<double>(done) / static_cast<double>(total);
  const int filled = static_cast<int>(fraction * kBarWidth);
  const std::string bar = std::string(filled, '#') + std::string(kBarWidth - filled, '-');
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const double audio = static_cast<double>(done) / sampleRate_;
  std::fprintf(stderr, "\rrendering [%s] %3d%%  %.1f / %.1f s  %.1fx real time\033[K", bar.c_str(),
               static_cast<int>(fraction * 100.0), audio, static_cast<double>(total) / sampleRate_,
               elapsed > 0.0 ? audio / elapsed : 0.0);
  std::fflush(stderr);
}

}  // namespace rmcli
