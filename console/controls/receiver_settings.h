// What the operator can change about the receiver, and how it becomes the
// engine's 65-byte receive-parameter block. The defaults are the console's
// fixed receiver (upper sideband, 300..2700 Hz, slow AGC with ceiling 1000,
// squelch level 0, tuning offset 0, no extensions), which encodes to exactly the block the
// console has always sent first. Plain values: no engine, no window.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "brackwell/param_block.h"

namespace lanternfly {

enum class Sideband { Upper, Lower };
// Slow and fast hold take the minimum gain over 10 or 2 recent blocks; Off
// applies the fixed gain instead.
enum class AgcMode { Slow, Fast, Off };

inline constexpr int kAgcSlowBlocks = 10;
inline constexpr int kAgcFastBlocks = 2;
// Passband edges the engine accepts as they are (Hz of audio).
inline constexpr int kLowestCutHz = SDR_MIN_CUT_HZ;
inline constexpr int kHighestCutHz = SDR_MAX_CUT_HZ;
// The captured band's width: the sample rate the engine is configured with.
inline constexpr int kCaptureRateHz = 48000;
// Tuning range, Hz either side of the band centre, and the step of the
// slider that tunes it.
inline constexpr int kTuneLimitHz = kCaptureRateHz / 2;
inline constexpr int kHzPerSliderStep = 10;

// The engine's receive-parameter block.
using ReceiveBlock = std::array<std::uint8_t, SDR_PARAM_BLOCK_BYTES>;

struct ReceiverSettings {
  Sideband sideband = Sideband::Upper;
  int lowCutHz = 300;  // audio passband, Hz
  int highCutHz = 2700;
  AgcMode agc = AgcMode::Slow;
  double agcCeiling = 1000.0;     // linear factor, the AGC's largest gain
  double fixedGain = 1000.0;      // linear factor applied when the AGC is off
  double squelchLevel = 0.0;      // envelope threshold, sample units; 0 = open
  bool swapIq = false;            // captured channels are Q, I instead of I, Q
  double iqPhaseCoef = 0.0;       // balance: imaginary += coef * real
  double iqGainCoef = 0.0;        // balance: real *= 1 + coef
  std::int32_t tuneOffsetHz = 0;  // above the band centre, multiple of 10
  double loHz = 0.0;              // receiver's local oscillator: the band centre, Hz
  int volumePercent = -1;         // output volume 0..100 %, -1 = never set
  // Receiver extensions beyond the engine's own chain (the block's
  // extensions word); all off unless the operator switches them on.
  bool exactTuning = false;    // tune to the offset itself, not the even-bin grid
  bool autoIqBalance = false;  // estimate and correct the I/Q mismatch
  bool dcRemoval = false;      // subtract each channel's DC offset

  bool operator==(const ReceiverSettings&) const = default;
};

// The block for these settings (version 1; the extensions word carries the
// extensions switched on, 0 for none).
ReceiveBlock encodeReceiveBlock(const ReceiverSettings& s);

// True when 0 < low < high and both lie in 50..6000 Hz.
bool validPassband(int lowCutHz, int highCutHz);

// Nearest tuning offset the slider can reach (10 Hz steps, +-24000 Hz).
std::int32_t nearestSliderOffset(double offsetHz);

// Absolute frequency tuned, and the passband's edges, in Hz.
double tunedFrequencyHz(const ReceiverSettings& s);
double passbandLowerEdgeHz(const ReceiverSettings& s);
double passbandUpperEdgeHz(const ReceiverSettings& s);

// A frequency in Hz as kHz with three decimals: "14200.000 kHz".
QString kiloHertzText(double hz);
// One line: "14200.000 kHz USB 300-2700 Hz".
QString tuningSummary(const ReceiverSettings& s);

// Packed output volume for sdrSetOutVolume: both channels, 0..0xFFFF.
std::uint32_t packedVolume(int percent);

}  // namespace lanternfly
