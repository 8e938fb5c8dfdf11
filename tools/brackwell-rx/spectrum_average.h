// The average of the engine's spectrum snapshots over a recording, and its
// CSV form: frequency from the band centre (Hz) and level (dB).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace bw::rx {

// Level written for an average magnitude of zero (and anything below it).
constexpr double kFloorDb = -200.0;

struct SpectrumPoint {
  double frequencyHz;  // relative to the centre of the captured band
  double levelDb;      // 20 log10 of the average linear magnitude
};

class SpectrumAverage {
 public:
  // `bins` = M, the transform length. Allocates once, here.
  explicit SpectrumAverage(std::size_t bins);

  // Adds one snapshot of M linear magnitudes (bin k = transform bin k).
  void add(const double* snapshot);

  // The average as points sorted from the lowest frequency to the highest:
  // bins M/2..M-2 (below the centre), then 0..M/2-1. Bin M-1 is left out:
  // the engine's snapshot never refreshes it, so it holds no measurement.
  std::vector<SpectrumPoint> points(double binWidthHz) const;

 private:
  std::vector<double> sum_;
  std::size_t count_ = 0;
};

// "frequency_hz,level_db" and one line per point.
std::string spectrumCsv(const std::vector<SpectrumPoint>& points);

// 20 log10(magnitude), kFloorDb for magnitudes that give less (zero included).
double magnitudeToDb(double magnitude);

}  // namespace bw::rx
