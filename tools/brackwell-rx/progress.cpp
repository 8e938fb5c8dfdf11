#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace bw::rx {

namespace {
constexpr int kBarWidth = 40;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
}  // namespace

ProgressBar::ProgressBar(std::int64_t totalFrames, int sampleRate, bool enabled)
    : total_(totalFrames), rate_(sampleRate), enabled_(enabled) {}

void ProgressBar::update(std::int64_t framesDone) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  const bool complete = total_ > 0 && framesDone >= total_;
  if (drawn_ && now - last_ < kRedrawInterval && !complete) return;
  last_ = now;
  drawn_ = true;
  const double seconds = static_cast<double>(framesDone) / rate_;
  if (total_ > 0) {
    const double part = std::clamp(static_cast<double>(framesDone) / total_, 0.0, 1.0);
    const int filled = static_cast<int>(part * kBarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kBarWidth, '.');
    std::fprintf(stderr, "\r[%s] %3d%%  %.1f / %.1f s", bar.c_str(),
                 static_cast<int>(part * 100.0), seconds,
                 static_cast<double>(total_) / rate_);
  } else {
    std::fprintf(stderr, "\r%.1f s", seconds);
  }
  std::fflush(stderr);
}

void ProgressBar::finish() {
  if (enabled_ && drawn_) std::fputc('\n', stderr);
  drawn_ = false;
}

bool stderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::string summaryLine(std::int64_t frames, std::int64_t blocks,
                        double audioSeconds, double wallSeconds,
                        double loopSeconds) {
  const auto factor = [audioSeconds](double wall) {
    return wall > 0.0 ? audioSeconds / wall : 0.0;
  };
  char text[240];
  std::snprintf(text, sizeof text,
                "%lld frames, %lld blocks, %.3f s of audio in %.3f s "
                "(%.1fx real time; %.3f s, %.1fx in the block loop)",
                static_cast<long long>(frames), static_cast<long long>(blocks),
                audioSeconds, wallSeconds, factor(wallSeconds), loopSeconds,
                factor(loopSeconds));
  return text;
}

}  // namespace bw::rx
