#include "controls/receiver_settings.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "brackwell/param_block.h"

namespace lanternfly {

namespace {
constexpr std::uint8_t kEngineModes[] = {
    SDR_MODE_SIDEBAND, SDR_MODE_SIDEBAND,  SDR_MODE_CW,        SDR_MODE_CW_REVERSED, SDR_MODE_AM,
    SDR_MODE_SAM,      SDR_MODE_SAM_UPPER, SDR_MODE_SAM_LOWER, SDR_MODE_FM};
constexpr const char* kModeNames[] = {"USB", "LSB",   "CW",    "CW-R", "AM",
                                      "SAM", "SAM-U", "SAM-L", "FM"};

std::uint8_t engineMode(ReceiveMode m) { return kEngineModes[static_cast<int>(m)]; }

// By ReceiveMode. CW spans 50..1000 Hz; AM and SAM reach the engine's
// highest edge, FM its own.
constexpr std::array<int, 6> kCwWidths = {50, 100, 200, 300, 500, 1000};
constexpr std::array<int, 6> kAmEdges = {2500, 3000, 4000, 4500, 5000, 6000};
const ModeWidths kModeWidths[] = {
    {nullptr, 0, 0, {}},
    {nullptr, 0, 0, {}},
    {&ReceiverSettings::cwWidthHz, 50, 1000, kCwWidths},
    {&ReceiverSettings::cwWidthHz, 50, 1000, kCwWidths},
    {&ReceiverSettings::amHighCutHz, 1000, SDR_MAX_CUT_HZ, kAmEdges},
    {&ReceiverSettings::samHighCutHz, 1000, SDR_MAX_CUT_HZ, kAmEdges},
    {&ReceiverSettings::samSideHighCutHz, 1000, SDR_MAX_CUT_HZ, kAmEdges},
    {&ReceiverSettings::samSideHighCutHz, 1000, SDR_MAX_CUT_HZ, kAmEdges},
    {&ReceiverSettings::fmHighCutHz, 2500, SDR_MAX_FM_CUT_HZ, {4000, 5000, 5500, 6500, 7000, 8000}},
};
}  // namespace

const char* modeName(ReceiveMode mode) { return kModeNames[static_cast<int>(mode)]; }

bool isCwMode(ReceiveMode m) { return m == ReceiveMode::Cw || m == ReceiveMode::CwReversed; }

const ModeWidths& modeWidths(ReceiveMode mode) { return kModeWidths[static_cast<int>(mode)]; }

int defaultModeWidth(ReceiveMode mode, int fmDeviationHz) {
  if (engineMode(mode) == SDR_MODE_SIDEBAND) return 0;
  std::int32_t low = 0, high = 0;
  sdrModePassband(engineMode(mode), 0, fmDeviationHz, &low, &high);
  return isCwMode(mode) ? high - low : high;
}

void modePassband(const ReceiverSettings& s, int& lowCutHz, int& highCutHz) {
  if (engineMode(s.mode) == SDR_MODE_SIDEBAND) {
    lowCutHz = s.lowCutHz;
    highCutHz = s.highCutHz;
    return;
  }
  std::int32_t low = 0, high = 0;
  sdrModePassband(engineMode(s.mode), s.cwPitchHz, s.fmDeviationHz, &low, &high);
  const int chosen = s.*modeWidths(s.mode).field;
  if (isCwMode(s.mode)) {
    // Centred on the pitch; below 50 Hz there is nothing to hear.
    const int from = s.cwPitchHz - chosen / 2;
    lowCutHz = std::max(from, kLowestCutHz);
    highCutHz = from + chosen;
  } else {
    lowCutHz = low;
    highCutHz = chosen;
  }
}

ReceiveBlock encodeReceiveBlock(const ReceiverSettings& s) {
  SdrReceiveParams p = sdrConsoleParams();
  if (s.mode == ReceiveMode::Lsb) {
    p.flags = (p.flags & ~SDR_FLAG_UPPER_SIDEBAND) | SDR_FLAG_LOWER_SIDEBAND;
  }
  if (s.swapIq) p.flags |= SDR_FLAG_SWAP_INPUT;
  p.iqPhaseCoef = s.iqPhaseCoef;
  p.iqGainCoef = s.iqGainCoef;
  modePassband(s, p.lowCutHz, p.highCutHz);
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
                 (s.dcRemoval ? SDR_EXT_DC_REMOVAL : 0u) |
                 (s.windowedSpectrum ? SDR_EXT_WINDOWED_SPECTRUM : 0u) |
                 (s.minimumPhase ? SDR_EXT_MINIMUM_PHASE : 0u);
  SdrReceiveModes m{};
  m.mode = engineMode(s.mode);
  m.pitchHz = isCwMode(s.mode) ? s.cwPitchHz : 0;
  m.fmDeviationHz = m.mode == SDR_MODE_FM ? s.fmDeviationHz : 0;
  m.tools = (s.noiseBlanker ? SDR_TOOL_NOISE_BLANKER : 0u) | (s.notch ? SDR_TOOL_NOTCH : 0u) |
            (s.noiseReduction ? SDR_TOOL_NOISE_REDUCTION : 0u);
  ReceiveBlock block{};
  if (m.mode == SDR_MODE_SIDEBAND && m.tools == 0 && !s.windowedSpectrum) {
    sdrEncodeParams(&p, block.data());
  } else {
    sdrEncodeParamsV2(&p, &m, block.data());
  }
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

namespace {
// The passband's edges as offsets from the carrier, Hz: above it, below
// it, or either side.
std::pair<double, double> passbandAroundCarrier(const ReceiverSettings& s) {
  int low = 0, high = 0;
  modePassband(s, low, high);
  switch (s.mode) {
    case ReceiveMode::Usb:
    case ReceiveMode::SamUpper:
      return {low, high};
    case ReceiveMode::Lsb:
    case ReceiveMode::SamLower:
      return {-high, -low};
    case ReceiveMode::Cw:  // the carrier is heard at the pitch
      return {low - s.cwPitchHz, high - s.cwPitchHz};
    case ReceiveMode::CwReversed:
      return {s.cwPitchHz - high, s.cwPitchHz - low};
    default:
      return {-high, high};
  }
}
}  // namespace

double passbandLowerEdgeHz(const ReceiverSettings& s) {
  return tunedFrequencyHz(s) + passbandAroundCarrier(s).first;
}

double passbandUpperEdgeHz(const ReceiverSettings& s) {
  return tunedFrequencyHz(s) + passbandAroundCarrier(s).second;
}

QString kiloHertzText(double hz) { return QStringLiteral("%1 kHz").arg(hz / 1000.0, 0, 'f', 3); }

QString tuningSummary(const ReceiverSettings& s) {
  int low = 0, high = 0;
  modePassband(s, low, high);
  return QStringLiteral("%1 %2 %3-%4 Hz")
      .arg(kiloHertzText(tunedFrequencyHz(s)), QLatin1String(modeName(s.mode)))
      .arg(low)
      .arg(high);
}

std::uint32_t packedVolume(int percent) {
  const int p = std::clamp(percent, 0, 100);
  const std::uint32_t level = static_cast<std::uint32_t>((p * 0xFFFF + 50) / 100);
  return level | (level << 16);
}

}  // namespace lanternfly
