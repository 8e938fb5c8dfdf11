#include "audio/lost_audio_report.h"

#include <unistd.h>

#include <cstdio>

namespace bw::audio {

void LostAudioReport::check(std::uint64_t dropped, std::uint64_t underruns,
                            double ratio, double queued, double now) noexcept {
  if (dropped == dropped_ && underruns == underruns_) return;
  if (said_ && now - lastLine_ < kInterval) return;
  char latency[32] = "unknown";
  if (queued >= 0.0) std::snprintf(latency, sizeof latency, "%.1f ms", queued * 1e3);
  char line[256];
  const int n = std::snprintf(
      line, sizeof line,
      "Brackwell: audio lost in playback: blocks dropped %llu, silent gaps "
      "%llu (since the start %llu and %llu); rate ratio %.6f, queue latency "
      "%s\n",
      static_cast<unsigned long long>(dropped - dropped_),
      static_cast<unsigned long long>(underruns - underruns_),
      static_cast<unsigned long long>(dropped),
      static_cast<unsigned long long>(underruns), ratio, latency);
  if (n > 0) {
    // Nothing to do about a standard error that refuses the line.
    [[maybe_unused]] const ssize_t w =
        ::write(STDERR_FILENO, line, static_cast<std::size_t>(n) < sizeof line
                                         ? static_cast<std::size_t>(n)
                                         : sizeof line - 1);
  }
  dropped_ = dropped;
  underruns_ = underruns;
  lastLine_ = now;
  said_ = true;
}

}  // namespace bw::audio
