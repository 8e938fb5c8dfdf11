// What the operator can change about the receiver, and how it becomes the
// engine's receive-parameter block. The defaults are the console's fixed
// receiver (upper sideband, 300..2700 Hz, slow AGC with ceiling 1000,
// squelch level 0, tuning offset 0, no extensions, no noise tools), which
// encodes to exactly the 65-byte block the console has always sent first.
// Plain values: no engine, no window.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "brackwell/param_block.h"

namespace lanternfly {

// The receive modes. Usb and Lsb are the engine's own chain; the others are
// carried by a version-2 block. In every mode the tuning offset is the
// carrier's (in CW the tone is heard at the pitch).
enum class ReceiveMode { Usb, Lsb, Cw, CwReversed, Am, Sam, SamUpper, SamLower, Fm };
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

// FM peak deviations the console offers, Hz.
inline constexpr int kFmNarrowDeviationHz = 2500;
inline constexpr int kFmDeviationHz = 5000;

// The engine's receive-parameter block: 65 bytes of version 1 (the rest
// zero) or the whole of a version-2 block, as its version byte says.
using ReceiveBlock = std::array<std::uint8_t, SDR_PARAM_BLOCK_V2_BYTES>;

// The passband a mode starts with (sdrModePassband's), in the unit of its
// field in ModeWidths; 0 for USB and LSB, which keep their edges.
int defaultModeWidth(ReceiveMode mode, int fmDeviationHz = kFmDeviationHz);

struct ReceiverSettings {
  ReceiveMode mode = ReceiveMode::Usb;
  int lowCutHz = 300;  // audio passband of USB and LSB, Hz
  int highCutHz = 2700;
  int cwPitchHz = SDR_DEFAULT_PITCH_HZ;  // the tone CW is heard at, Hz
  int fmDeviationHz = kFmDeviationHz;    // FM peak deviation, Hz
  // Each other mode's passband, remembered while another mode is in use:
  // see ModeWidths for the units.
  int cwWidthHz = defaultModeWidth(ReceiveMode::Cw);
  int amHighCutHz = defaultModeWidth(ReceiveMode::Am);
  int samHighCutHz = defaultModeWidth(ReceiveMode::Sam);
  int samSideHighCutHz = defaultModeWidth(ReceiveMode::SamUpper);
  int fmHighCutHz = defaultModeWidth(ReceiveMode::Fm);
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
  bool windowedSpectrum = false;  // the pictures' spectrum under a window
  bool minimumPhase = false;      // the band filter in minimum phase: less delay
  // The noise tools, in any mode.
  bool noiseBlanker = false;
  bool notch = false;
  bool noiseReduction = false;

  bool operator==(const ReceiverSettings&) const = default;
};

// The passband choices of a mode other than USB and LSB, held in one number
// a mode: the width centred on the pitch (CW and CW-R, the low edge held at
// SDR_MIN_CUT_HZ), or the high edge of the audio (AM and SAM: either side
// of the carrier; SAM-U and SAM-L: the one side; FM: either side), the low
// edge staying the mode's own. Hz.
struct ModeWidths {
  int ReceiverSettings::*field;  // where the mode keeps it; null for USB and LSB
  int lowestHz, highestHz;       // what the field is held to
  std::array<int, 6> choices;    // the Passband menu's, ascending
};
const ModeWidths& modeWidths(ReceiveMode mode);

// The block for these settings: version 1 for USB and LSB with no noise
// tool and no windowed spectrum (the extensions word carries the extensions
// switched on, 0 for none), else version 2 with the mode's passband.
ReceiveBlock encodeReceiveBlock(const ReceiverSettings& s);

// The passband the block carries, audio Hz: the operator's edges in USB and
// LSB, the mode's low edge (sdrModePassband) and its field's width or high
// edge in the others.
void modePassband(const ReceiverSettings& s, int& lowCutHz, int& highCutHz);
// CW or CW-R: the passband is centred on the pitch.
bool isCwMode(ReceiveMode mode);
// "USB", "LSB", "CW", "CW-R", "AM", "SAM", "SAM-U", "SAM-L", "FM".
const char* modeName(ReceiveMode mode);

// True when 0 < low < high and both lie in 50..6000 Hz.
bool validPassband(int lowCutHz, int highCutHz);

// Nearest tuning offset the slider can reach (10 Hz steps, +-24000 Hz).
std::int32_t nearestSliderOffset(double offsetHz);

// Absolute frequency tuned (the carrier's in every mode), and the edges of
// the passband on the band, in Hz.
double tunedFrequencyHz(const ReceiverSettings& s);
double passbandLowerEdgeHz(const ReceiverSettings& s);
double passbandUpperEdgeHz(const ReceiverSettings& s);

// A frequency in Hz as kHz with three decimals: "14200.000 kHz".
QString kiloHertzText(double hz);
// One line: "14200.000 kHz USB 300-2700 Hz" (the block's passband).
QString tuningSummary(const ReceiverSettings& s);

// Packed output volume for sdrSetOutVolume: both channels, 0..0xFFFF.
std::uint32_t packedVolume(int percent);

}  // namespace lanternfly
