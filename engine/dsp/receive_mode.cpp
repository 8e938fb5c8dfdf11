#include "dsp/receive_mode.h"

#include <algorithm>
#include <limits>

namespace bw {

bool isDetectedMode(std::uint8_t mode) {
  return mode != SDR_MODE_SIDEBAND && mode < SDR_MODE_COUNT;
}

BandShape bandShapeFor(std::uint8_t mode) {
  switch (mode) {
    case SDR_MODE_CW:
    case SDR_MODE_CW_REVERSED: return BandShape::SteepBandPass;
    case SDR_MODE_AM:
    case SDR_MODE_SAM:
    case SDR_MODE_SAM_UPPER:
    case SDR_MODE_SAM_LOWER:
    case SDR_MODE_FM: return BandShape::LowPass;
    default: return BandShape::Sideband;
  }
}

std::int32_t cwPitchHz(const SdrReceiveModes& m) {
  if (m.pitchHz == 0) return SDR_DEFAULT_PITCH_HZ;
  return std::clamp<std::int32_t>(m.pitchHz, SDR_MIN_PITCH_HZ, SDR_MAX_PITCH_HZ);
}

std::int32_t fmDeviationHz(const SdrReceiveModes& m) {
  if (m.fmDeviationHz <= 0) return 5000;
  return std::min<std::int32_t>(m.fmDeviationHz, SDR_MAX_FM_CUT_HZ);
}

ReceiveParams modeParams(const ReceiveParams& p) {
  const std::uint8_t mode = p.modes.mode;
  if (!isDetectedMode(mode) || p.flags == 0) return p;
  ReceiveParams q = p;
  constexpr std::uint32_t kSidebands = SDR_FLAG_UPPER_SIDEBAND | SDR_FLAG_LOWER_SIDEBAND;
  q.flags = (p.flags & ~kSidebands) | SDR_FLAG_SHIFT_EARLY;
  switch (mode) {
    case SDR_MODE_CW:
    case SDR_MODE_CW_REVERSED: {
      const bool reversed = mode == SDR_MODE_CW_REVERSED;
      // Saturating: an offset at the end of the int32 range stays in it.
      const std::int64_t tune = std::int64_t{p.tuneOffsetHz} +
                                (reversed ? cwPitchHz(p.modes) : -cwPitchHz(p.modes));
      q.tuneOffsetHz = static_cast<std::int32_t>(
          std::clamp<std::int64_t>(tune, std::numeric_limits<std::int32_t>::min(),
                                   std::numeric_limits<std::int32_t>::max()));
      q.flags |= reversed ? SDR_FLAG_LOWER_SIDEBAND : SDR_FLAG_UPPER_SIDEBAND;
      break;
    }
    case SDR_MODE_FM: q.highCutHz = std::min(p.highCutHz, SDR_MAX_FM_CUT_HZ); break;
    default: q.highCutHz = std::min(p.highCutHz, SDR_MAX_CUT_HZ); break;
  }
  return q;
}

}  // namespace bw
