// Sound through a private PulseAudio daemon for the live console tests: an
// I/Q recording of complex tones played into the band ("iqband") while the
// speaker's monitor is recorded, and the tones measured in what was heard.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/private_pulse.h"

namespace lanternfly::test {

constexpr int kLiveRate = 48000;  // Hz, both sinks

// Writes `seconds` of the sum of e^(j 2pi f t) over `hz` (negative: below
// the band centre), each at amplitude 8000, as 16-bit stereo WAV at
// kLiveRate with I in the left channel and Q in the right.
void writeIqTones(const std::string& path, std::initializer_list<double> hz, int seconds);

// Plays the WAV file `tone` into the band while recording the speaker; the
// left channel heard, at 16-bit scale. Empty when playing failed.
std::vector<double> playAndRecord(const bw::test::PrivatePulse& pulse, const std::string& tone);

// The loudest second of `left` (searched in quarter-second steps): its RMS
// and the power at `wanted` Hz over the power at `unwanted` Hz in dB (Hann
// window). Printed as well. `left` holds at least one second.
struct ToneContrast {
  double rms = 0, db = 0;
};
ToneContrast contrastInLoudestSecond(const std::vector<double>& left, double wanted,
                                     double unwanted);

}  // namespace lanternfly::test
