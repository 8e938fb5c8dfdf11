#include "views/spectrum_frame.h"

#include <algorithm>
#include <array>
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

void paintColumns(QImage& image, std::span<const int> tops, QRgb column, QRgb background,
                  std::vector<int>& scratch) {
  const int w = image.width();
  const int h = image.height();
  if (w <= 0 || h <= 0 || tops.size() < static_cast<std::size_t>(w)) return;
  // Each row is the row above it plus the columns that start on it, so every
  // row after the first is one copy and a few pixels: far less work than
  // deciding pixel by pixel. The columns are sorted by their first row
  // (counting sort): startAt[y]..startAt[y + 1] index the columns of row y.
  scratch.assign(static_cast<std::size_t>(h) + 2 + static_cast<std::size_t>(w), 0);
  const std::span<int> startAt(scratch.data(), static_cast<std::size_t>(h) + 2);
  const std::span<int> byRow(scratch.data() + h + 2, static_cast<std::size_t>(w));
  auto firstRow = [&](int x) {
    return static_cast<std::size_t>(std::clamp(tops[static_cast<std::size_t>(x)], 0, h));
  };
  for (int x = 0; x < w; ++x) ++startAt[firstRow(x) + 1];
  for (std::size_t y = 1; y < startAt.size(); ++y) startAt[y] += startAt[y - 1];
  for (int x = 0; x < w; ++x) byRow[static_cast<std::size_t>(startAt[firstRow(x)]++)] = x;
  // Placing moved each row's start to its end: startAt[y] is now where the
  // columns of row y end, and row 0's begin at index 0.

  // Rows through one pointer: scanLine() checks for sharing on every call.
  uchar* const bits = image.bits();
  const qsizetype stride = image.bytesPerLine();
  auto rowAt = [&](int y) { return reinterpret_cast<QRgb*>(bits + y * stride); };
  int next = 0;  // index into byRow of the first column starting on row y
  for (int y = 0; y < h; ++y) {
    QRgb* line = rowAt(y);
    if (y == 0) {
      std::fill(line, line + w, background);
    } else {
      std::copy(rowAt(y - 1), rowAt(y - 1) + w, line);
    }
    const int end = startAt[static_cast<std::size_t>(y)];
    for (; next < end; ++next) line[byRow[static_cast<std::size_t>(next)]] = column;
  }
}

QImage drawSpectrumFrame(std::span<const double> spectrum, int order) {
  QImage image(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
  // The column runs from row 200, just below the picture, up to row `top`;
  // a column without a bin or a finite level is left out.
  std::array<int, kPictureWidth> tops{};
  for (int x = 0; x < kPictureWidth; ++x) {
    const int k = binForColumn(x, order);
    int top = 0;
    const bool shown = static_cast<std::size_t>(k) < spectrum.size() &&
                       columnTopRow(spectrum[static_cast<std::size_t>(k)], top);
    tops[static_cast<std::size_t>(x)] = shown ? top : kPictureHeight;
  }
  std::vector<int> scratch;
  paintColumns(image, tops, kColumnColour, kBackgroundColour, scratch);

  for (int j = 1; j <= kGridLines; ++j) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(kGridSpacing * j));
    std::fill(line, line + kPictureWidth, kGridColour);
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
