#include "controls/receiver_settings.h"

#include <algorithm>
#include <cmath>

#include "brackwell/param_block.h"

namespace lanternfly {

ReceiveBlock encodeReceiveBlock(const ReceiverSettings& s) {
  SdrReceiveParams p = sdrConsoleParams();
  if (s.sideband == Sideband::Lower) {
    p.flags = (p.flags & ~SDR_FLAG_UPPER_SIDEBAND) | SDR_FLAG_LOWER_SIDEBAND;
  }
  if (s.swapIq) p.flags |= SDR_FLAG_SWAP_INPUT;
  p.iqPhaseCoef = s.iqPhaseCoef;
  p.iqGainCoef = s.iqGainCoef;
  p.lowCutHz = s.lowCutHz;
  p.highCutHz = s.highCutHz;
  p.tuneOffsetHz = s.tuneOffsetHz;
  switch (s.agc) {
    case AgcMode::Slow:
      p.agcBlocks = kAgcSlowBlocks;
      p.gain = s.agcCeiling;
      break;
    case AgcMode::Fast:
      p.agcBlocks = kAgcFastBlocks;
      p.gain = s.agcCeiling;
      break;
    case AgcMode::Off:
      // The block-count field keeps its value; without AGC it is not read.
      p.flags &= ~SDR_FLAG_AGC_ON;
      p.gain = s.fixedGain;
      break;
  }
  p.squelchLevel = s.squelchLevel;
  p.extensions = (s.exactTuning ? SDR_EXT_EXACT_TUNING : 0u) |
                 (s.autoIqBalance ? SDR_EXT_AUTO_IQ_BALANCE : 0u) |
                 (s.dcRemoval ? SDR_EXT_DC_REMOVAL : 0u);
  ReceiveBlock block{};
  sdrEncodeParams(&p, block.data());
  return block;
}

bool validPassband(int lowCutHz, int highCutHz) {
  return lowCutHz >= kLowestCutHz && highCutHz <= kHighestCutHz && lowCutHz < highCutHz;
}

std::int32_t nearestSliderOffset(double offsetHz) {
  if (std::isnan(offsetHz)) return 0;
  const double steps = std::nearbyint(offsetHz / kHzPerSliderStep);
  const double limit = kTuneLimitHz / kHzPerSliderStep;
  return static_cast<std::int32_t>(std::clamp(steps, -limit, limit)) * kHzPerSliderStep;
}

double tunedFrequencyHz(const ReceiverSettings& s) { return s.loHz + s.tuneOffsetHz; }

double passbandLowerEdgeHz(const ReceiverSettings& s) {
  return tunedFrequencyHz(s) + (s.sideband == Sideband::Upper ? s.lowCutHz : -s.highCutHz);
}

double passbandUpperEdgeHz(const ReceiverSettings& s) {
  return tunedFrequencyHz(s) + (s.sideband == Sideband::Upper ? s.highCutHz : -s.lowCutHz);
}

QString kiloHertzText(double hz) { return QStringLiteral("%1 kHz").arg(hz / 1000.0, 0, 'f', 3); }

QString tuningSummary(const ReceiverSettings& s) {
  return QStringLiteral("%1 %2 %3-%4 Hz")
      .arg(kiloHertzText(tunedFrequencyHz(s)),
           s.sideband == Sideband::Upper ? QStringLiteral("USB") : QStringLiteral("LSB"))
      .arg(s.lowCutHz)
      .arg(s.highCutHz);
}

std::uint32_t packedVolume(int percent) {
  const int p = std::clamp(percent, 0, 100);
  const std::uint32_t level = static_cast<std::uint32_t>((p * 0xFFFF + 50) / 100);
  return level | (level << 16);
}

}  // namespace lanternfly
