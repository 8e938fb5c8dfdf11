#include "views/spectrum_frame.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace lanternfly {

int binForColumn(int x, int order) {
  // Unsigned arithmetic wraps exactly like 32-bit two's complement.
  const std::uint32_t half = std::uint32_t{1} << order;
  const std::uint32_t step =
      std::max<std::uint32_t>((std::uint32_t{2} << order) / kPictureWidth, 1);
  const std::uint32_t mask = (std::uint32_t{1} << (order + 1)) - 1;
  return static_cast<int>((half - static_cast<std::uint32_t>(x) * step) & mask);
}

bool columnTopRow(double s, int& row) {
  const double reference = std::pow(2.0, 15);  // 32768
  const double level = 20.0 * std::log10(reference / (s / 8192.0));
  if (!std::isfinite(level)) return false;
  // Finite levels stay within a few thousand dB; clamp before converting all
  // the same so no value can overflow int.
  const double truncated = std::trunc(level);
  if (truncated < -1.0e6) {
    row = -1000000;
  } else if (truncated > 1.0e6) {
    row = 1000000;
  } else {
    row = static_cast<int>(truncated);
  }
  return true;
}

QImage drawSpectrumFrame(std::span<const double> spectrum, int order) {
  QImage image(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
  image.fill(kBackgroundColour);
  // Rows through one pointer: scanLine() checks for sharing on every call,
  // which per pixel cost more than the drawing itself.
  uchar* const bits = image.bits();
  const qsizetype stride = image.bytesPerLine();
  auto pixelAt = [&](int y) { return reinterpret_cast<QRgb*>(bits + y * stride); };

  for (int x = 0; x < kPictureWidth; ++x) {
    const int k = binForColumn(x, order);
    if (static_cast<std::size_t>(k) >= spectrum.size()) continue;
    int top = 0;
    if (!columnTopRow(spectrum[static_cast<std::size_t>(k)], top)) continue;
    // The column runs from row 200, just below the picture, up to row `top`;
    // only rows 0..199 exist.
    const int first = top < 0 ? 0 : top;
    for (int y = first; y < kPictureHeight; ++y) pixelAt(y)[x] = kColumnColour;
  }

  for (int j = 1; j <= kGridLines; ++j) {
    QRgb* line = pixelAt(kGridSpacing * j);
    for (int x = 0; x < kPictureWidth; ++x) line[x] = kGridColour;
  }
  return image;
}

void strongestPerColumn(std::span<const double> spectrum, std::span<double> columns) {
  const std::size_t m = spectrum.size();
  const std::size_t n = columns.size();
  for (std::size_t c = 0; c < n; ++c) {
    double strongest = 0.0;
    if (m >= 2) {
      // Frequency position j (0 = lowest) is bin (j + M/2) mod M.
      const std::size_t first = m * c / n;
      const std::size_t last = std::max(first + 1, m * (c + 1) / n);
      for (std::size_t j = first; j < last; ++j) {
        const double v = spectrum[(j + m / 2) % m];
        if (v > strongest) strongest = v;  // NaN never wins
      }
    }
    columns[c] = strongest;
  }
}

QString signalReadoutText(double reading) {
  if (!std::isfinite(reading)) return QString();
  // Round to nearest with ties to even, whatever mode the thread is in.
  const int savedMode = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double rounded = std::nearbyint(reading);
  std::fesetround(savedMode);

  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  std::int64_t value = 0;
  if (rounded >= kLimit) {
    value = std::numeric_limits<std::int64_t>::max();
  } else if (rounded < -kLimit) {
    value = std::numeric_limits<std::int64_t>::min();
  } else {
    value = static_cast<std::int64_t>(rounded);
  }
  return QString::number(value);
}

}  // namespace lanternfly
