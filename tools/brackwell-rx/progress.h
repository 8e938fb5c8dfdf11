// The progress bar on standard error (only when it is a terminal) and the
// closing line of a run.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace bw::rx {

class ProgressBar {
 public:
  // totalFrames <= 0: unknown length, the bar shows seconds only.
  ProgressBar(std::int64_t totalFrames, int sampleRate, bool enabled);
  // Redraws at most ten times a second.
  void update(std::int64_t framesDone);
  // Ends the bar's line (if one was drawn).
  void finish();

 private:
  std::int64_t total_;
  int rate_;
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_{};
};

// True when standard error is a terminal.
bool stderrIsTerminal();

// "N frames, B blocks, S s of audio in W s (R x real time; L s, Q x in the
// block loop)": the whole run's wall time, and the loop's without the
// engine's set-up (transform planning).
std::string summaryLine(std::int64_t frames, std::int64_t blocks,
                        double audioSeconds, double wallSeconds,
                        double loopSeconds);

}  // namespace bw::rx
