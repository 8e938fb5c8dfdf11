// Capture-to-playback latency the way a listener hears it, on a private
// sound server set up with Sinks::OneMonitor: tone bursts are played into
// "iqband" (whose monitor the receiver captures) while one recording of
// "mix"'s monitor hears both iqband (front pair) and "speaker" (rear pair,
// where the receiver plays), on the server's one clock. Each burst's onset
// in the front pair and its first onset in the rear pair after it are a
// latency.
//
// The receiver must already be running on iqband's monitor and speaker (or
// any device that ends in them) and pass a tone at +toneHz above the band
// centre, at a fixed gain: an onset is where a burst first reaches half of
// its own peak.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/private_pulse.h"

namespace bw::test {

struct LatencyRun {
  int repeats = 20;
  double toneHz = 1000;      // above the band centre (Hz)
  double burstMs = 40;       // each burst's length
  double spacingMs = 300;    // from one burst to the next (more than the latency)
};

struct LatencyFigures {
  std::vector<double> ms;  // one per burst heard, in the order played
  int missed = 0;          // bursts played but not heard (or not recorded)
  std::string error;       // why nothing could be measured; empty when measured
  double median() const;
  double p95() const;
  double max() const;
};

// The console's receiver with the AGC off at a fixed gain (a burst's onset
// stays sharp) and the SDR_EXT_* bits `extensions` on: the engine's devices
// in and out, its ring of 4 blocks of 2^order frames, 48 kHz, 16 bits;
// started. SDR_OK or the first refusal.
int startFixedGainReceiver(int in, int out, int order, std::uint32_t extensions = 0);

// Plays run.repeats bursts (I/Q, 16-bit stereo at 48 kHz) and measures each.
// Takes about repeats x spacing plus a second.
LatencyFigures measureLatency(const PrivatePulse& server, const LatencyRun& run = {});

}  // namespace bw::test
