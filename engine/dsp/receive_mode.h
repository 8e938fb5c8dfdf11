// How the receive mode of a version-2 block drives the chain's spectral part:
// which filter shape it designs, where it tunes and which sideband it keeps.
// The detector that turns the baseband into audio is dsp/mode_detector.h.
#pragma once

#include <cstdint>

#include "dsp/receive_params.h"

namespace bw {

// The shape of the band filter a mode uses.
enum class BandShape : std::uint8_t {
  Sideband,       // the windowed band-pass of single sideband (version 1)
  SteepBandPass,  // CW: a band-pass whose skirts are more than 90 dB down
  LowPass,        // AM, SAM, FM: -high..+high around the carrier, DC kept
};

// True for the modes whose baseband a detector turns into audio: every known
// mode but SIDEBAND. An unknown mode is played as SIDEBAND.
bool isDetectedMode(std::uint8_t mode);

BandShape bandShapeFor(std::uint8_t mode);

// The CW pitch (Hz): 0 gives SDR_DEFAULT_PITCH_HZ, others are held within
// SDR_MIN_PITCH_HZ..SDR_MAX_PITCH_HZ.
std::int32_t cwPitchHz(const SdrReceiveModes& m);

// The FM peak deviation (Hz): 0 or less gives 5000, more than
// SDR_MAX_FM_CUT_HZ gives SDR_MAX_FM_CUT_HZ.
std::int32_t fmDeviationHz(const SdrReceiveModes& m);

// The parameters the chain runs a block on. SIDEBAND, an unknown mode and
// flags 0 (pass-through) give p itself. Every other mode tunes after the
// rotation's order (ShiftEarly on), so that the passband is around the
// carrier:
//   CW: tunes to offset - pitch and keeps the upper sideband, so the carrier
//     is heard at the pitch; CW_REVERSED tunes to offset + pitch and keeps
//     the lower one. The band stays the audio band around the pitch.
//   AM, SAM*, FM: keep both sidebands; the high edge is held at
//     SDR_MAX_CUT_HZ (FM: SDR_MAX_FM_CUT_HZ).
ReceiveParams modeParams(const ReceiveParams& p);

}  // namespace bw
