#include "views/signal_level.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace lanternfly {

double passbandLevelDb(std::span<const double> spectrum, const ReceiverSettings& s,
                       int sampleRateHz) {
  const auto m = static_cast<std::ptrdiff_t>(spectrum.size());
  if (m < 2 || sampleRateHz <= 0) return -std::numeric_limits<double>::infinity();
  const double binHz = static_cast<double>(sampleRateHz) / static_cast<double>(m);
  const double low = passbandLowerEdgeHz(s) - s.loHz;  // offsets from the band centre
  const double high = passbandUpperEdgeHz(s) - s.loHz;
  // Bin index i in -M/2 .. M/2 - 1 lies i * binHz from the centre.
  const auto first = static_cast<std::ptrdiff_t>(std::max(std::ceil(low / binHz), -m / 2.0));
  const auto last = static_cast<std::ptrdiff_t>(std::min(std::floor(high / binHz), m / 2.0 - 1));
  constexpr double kFullScale = 268435456.0;  // 2^28
  double power = 0.0;
  for (std::ptrdiff_t i = first; i <= last; ++i) {
    const double v = spectrum[static_cast<std::size_t>(i < 0 ? i + m : i)] / kFullScale;
    if (!std::isnan(v)) power += v * v;
  }
  return 10.0 * std::log10(power);
}

QString sUnitText(double dBm) {
  if (const long long over = std::llround(dBm - kS9Dbm); over > 0) {
    return QStringLiteral("S9+%1").arg(over);
  }
  const double units = std::floor(9.0 + (dBm - kS9Dbm) / kDbPerSUnit + 1e-9);
  return QStringLiteral("S%1").arg(static_cast<int>(std::max(0.0, units)));
}

QString signalLevelText(double levelDb, std::optional<double> calibrationDbm) {
  if (!std::isfinite(levelDb)) return QStringLiteral("no signal");
  if (!calibrationDbm) return QStringLiteral("%1 dB").arg(levelDb, 0, 'f', 1);
  const double dBm = levelDb + *calibrationDbm;
  return QStringLiteral("%1 dBm  %2").arg(dBm, 0, 'f', 1).arg(sUnitText(dBm));
}

}  // namespace lanternfly
