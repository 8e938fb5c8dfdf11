// The operator view's scales: where an offset from the band centre falls
// across a picture of some width, and which round values get a labelled
// tick (frequencies in kHz, levels in dB). Pure functions: no window.
#pragma once

#include <QString>
#include <vector>

namespace lanternfly {

// The captured band, -24000..+24000 Hz about its centre, spread across
// `width` pixels, frequency rising to the right or to the left.
struct BandAxis {
  double width = 1.0;  // pixels
  bool risingRight = true;

  // Pixel position of an offset (Hz); the band's edges fall at 0 and width.
  double xForOffset(double offsetHz) const;
  // The offset (Hz) at pixel position x; the inverse of xForOffset.
  double offsetAtX(double x) const;
};

struct ScaleTick {
  double value;  // frequency offset from the band centre (Hz), or level (dB)
  QString label;
};

// The smallest of 1, 2, 5 x 10^k that is at least `minimum` (> 0).
double roundStep(double minimum);

// Ticks for the band's offsets -24000..+24000 Hz, at round absolute
// frequencies (LO + offset) no closer than `minSpacingPx` on an axis of
// `pixelsPerHz`; labelled in kHz, absolute when an LO is set (loHz != 0),
// else the offset itself. Steps of 1 kHz or more.
std::vector<ScaleTick> frequencyTicks(double loHz, double pixelsPerHz, double minSpacingPx);

// Ticks at round levels from topDb down to bottomDb (topDb > bottomDb), no
// closer than `minSpacingPx` at `pixelsPerDb`; labelled in whole dB.
std::vector<ScaleTick> levelTicks(double topDb, double bottomDb, double pixelsPerDb,
                                  double minSpacingPx);

}  // namespace lanternfly
