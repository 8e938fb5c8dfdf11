// Says on standard error, in one line and at most once a minute, that the
// live path lost audio: blocks whose output was dropped because playback
// had fallen a ring behind, and silence put in because playback found
// nothing queued, with the rate ratio and the latency of the playback queue.
#pragma once

#include <cstdint>

namespace bw::audio {

class LostAudioReport {
 public:
  static constexpr double kInterval = 60.0;  // seconds between lines at least

  // Totals since the start: blocks dropped, underruns; the ratio at which
  // playback reads what is written and its queue's length (s; negative:
  // unknown); `now` in seconds on a steady clock. Writes a line when the
  // totals grew since the last line and that line is a minute old. From the
  // processing thread, outside a block: formats on the stack and writes
  // with one write(2), taking no lock.
  void check(std::uint64_t dropped, std::uint64_t underruns, double ratio,
             double queued, double now) noexcept;

 private:
  std::uint64_t dropped_ = 0, underruns_ = 0;  // totals at the last line
  double lastLine_ = 0.0;
  bool said_ = false;
};

}  // namespace bw::audio
