#include "spectrum_average.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace bw::rx {

SpectrumAverage::SpectrumAverage(std::size_t bins) : sum_(bins, 0.0) {}

void SpectrumAverage::add(const double* snapshot) {
  for (std::size_t k = 0; k < sum_.size(); ++k) sum_[k] += snapshot[k];
  ++count_;
}

double magnitudeToDb(double magnitude) {
  if (!(magnitude > 0.0)) return kFloorDb;
  return std::max(kFloorDb, 20.0 * std::log10(magnitude));
}

std::vector<SpectrumPoint> SpectrumAverage::points(double binWidthHz) const {
  const std::size_t m = sum_.size();
  std::vector<SpectrumPoint> out;
  if (m < 2) return out;
  out.reserve(m - 1);
  const double scale = count_ ? 1.0 / static_cast<double>(count_) : 0.0;
  auto push = [&](std::size_t k, double bin) {
    out.push_back({bin * binWidthHz, magnitudeToDb(sum_[k] * scale)});
  };
  for (std::size_t k = m / 2; k + 1 < m; ++k) {
    push(k, static_cast<double>(k) - static_cast<double>(m));
  }
  for (std::size_t k = 0; k < m / 2; ++k) push(k, static_cast<double>(k));
  return out;
}

std::string spectrumCsv(const std::vector<SpectrumPoint>& points) {
  std::string text = "frequency_hz,level_db\n";
  char line[64];
  for (const SpectrumPoint& p : points) {
    const int n = std::snprintf(line, sizeof line, "%.6f,%.3f\n", p.frequencyHz,
                                p.levelDb);
    text.append(line, static_cast<std::size_t>(n));
  }
  return text;
}

}  // namespace bw::rx
