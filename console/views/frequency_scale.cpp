#include "views/frequency_scale.h"

#include <algorithm>
#include <cmath>

#include "controls/receiver_settings.h"

namespace lanternfly {

double BandAxis::xForOffset(double offsetHz) const {
  const double t = (offsetHz + kCaptureRateHz / 2.0) / kCaptureRateHz;
  return (risingRight ? t : 1.0 - t) * width;
}

double BandAxis::offsetAtX(double x) const {
  const double t = x / width;
  return (risingRight ? t : 1.0 - t) * kCaptureRateHz - kCaptureRateHz / 2.0;
}

double roundStep(double minimum) {
  double decade = std::pow(10.0, std::floor(std::log10(minimum)));
  for (;; decade *= 10.0) {
    for (double m : {1.0, 2.0, 5.0}) {
      // A hair of tolerance so that an exact round minimum is taken as is.
      if (m * decade >= minimum * (1.0 - 1e-12)) return m * decade;
    }
  }
}

std::vector<ScaleTick> frequencyTicks(double loHz, double pixelsPerHz, double minSpacingPx) {
  std::vector<ScaleTick> ticks;
  if (!(pixelsPerHz > 0.0) || !(minSpacingPx > 0.0) || !std::isfinite(loHz)) return ticks;
  const double step = std::max(1000.0, roundStep(minSpacingPx / pixelsPerHz));
  const double half = kCaptureRateHz / 2.0;
  // Labels show absolute frequencies when there is an LO, so the ticks sit
  // on round absolute values, not round offsets.
  for (double f = std::ceil((loHz - half) / step) * step; f <= loHz + half; f += step) {
    // Without an LO, f is the offset itself.
    ticks.push_back({f - loHz, QString::number(f / 1000.0, 'f', 0)});
  }
  return ticks;
}

std::vector<ScaleTick> levelTicks(double topDb, double bottomDb, double pixelsPerDb,
                                  double minSpacingPx) {
  std::vector<ScaleTick> ticks;
  if (!(topDb > bottomDb) || !(pixelsPerDb > 0.0) || !(minSpacingPx > 0.0)) return ticks;
  const double step = std::max(1.0, roundStep(minSpacingPx / pixelsPerDb));
  for (double db = std::floor(topDb / step) * step; db >= bottomDb; db -= step) {
    ticks.push_back({db, QString::number(db, 'f', 0)});
  }
  return ticks;
}

}  // namespace lanternfly
