// The simulated band's signals for trying the receiver's tools: off unless
// asked for; the AM broadcast's carrier fading far below its sidebands; the
// heterodyne steady at its level; the impulses at their rate and level.
// Components are measured by correlation with their frequency over windows.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "audio/simulated/simulated_band.h"

namespace bw::audio {
namespace {

using Band = SimulatedBand;
using Complex = std::complex<double>;
constexpr int kRate = 48000;

std::vector<Complex> render(unsigned mask, double seconds, int rate = kRate) {
  Band band(rate);
  band.setComponents(mask);
  std::vector<double> i(static_cast<std::size_t>(seconds * rate)), q(i.size());
  band.render(i.data(), q.data(), static_cast<int>(i.size()));
  std::vector<Complex> x(i.size());
  for (std::size_t n = 0; n < x.size(); ++n) x[n] = {i[n], q[n]};
  return x;
}

// Magnitude of the component at hz over x[from, from + count): 50 ms windows
// hold whole periods of every frequency here.
double magnitudeAt(const std::vector<Complex>& x, double hz, std::size_t from,
                   std::size_t count) {
  Complex sum = 0.0;
  for (std::size_t n = from; n < from + count; ++n) {
    sum += x[n] * std::polar(1.0, -2.0 * std::numbers::pi * hz * n / kRate);
  }
  return std::abs(sum) / count;
}

TEST(SimulatedToolSignals, OffByDefaultAndNamedInTheList) {
  Band band(kRate);
  std::vector<double> i(9600), q(9600);
  band.render(i.data(), q.data(), 9600);
  const auto standard = render(Band::kAllComponents, 0.2);
  for (std::size_t n = 0; n < i.size(); ++n) ASSERT_EQ(Complex(i[n], q[n]), standard[n]) << n;
  EXPECT_EQ(Band::componentsFromList(nullptr), Band::kAllComponents);
  EXPECT_EQ(Band::componentsFromList("tools"), Band::kEveryComponent);
  EXPECT_EQ(Band::componentsFromList("am, carrier,bogus"),
            Band::kAllComponents | Band::kAmBroadcast | Band::kSteadyCarrier);
  EXPECT_FALSE(Band(32000).hasAmBroadcast());
  EXPECT_TRUE(Band(44100).hasAmBroadcast());
}

TEST(SimulatedToolSignals, CarrierFadesBelowItsSidebandsAndImpulsesStandAbove) {
  const std::size_t window = kRate / 20;
  const auto am = render(Band::kAmBroadcast, Band::kAmFadeSeconds);
  double strongest = 0.0, weakest = 1.0, sidebandAtWeakest = 0.0;
  for (std::size_t from = 0; from + window <= am.size(); from += window) {
    const double carrier = magnitudeAt(am, Band::kAmCarrierHz, from, window);
    strongest = std::max(strongest, carrier);
    if (carrier < weakest) {
      weakest = carrier;
      sidebandAtWeakest = magnitudeAt(am, Band::kAmCarrierHz + Band::kAmToneHz[1], from, window);
    }
  }
  EXPECT_GT(20.0 * std::log10(strongest / weakest), 20.0);
  EXPECT_GT(sidebandAtWeakest, 2.0 * weakest);

  const auto steady = render(Band::kSteadyCarrier, 0.1);
  EXPECT_NEAR(20.0 * std::log10(magnitudeAt(steady, Band::kSteadyCarrierHz, 0, window)),
              Band::kSteadyCarrierDbfs, 0.01);

  const auto impulses = render(Band::kImpulses, 2.0);
  int count = 0;
  for (const Complex& v : impulses) {
    if (std::abs(v) == 0.0) continue;
    ++count;
    EXPECT_NEAR(20.0 * std::log10(std::abs(v) / Band::amPeak()), Band::kImpulseOverAmPeakDb, 1e-9);
  }
  EXPECT_NEAR(count, 2.0 * Band::kImpulsesPerSecond, 20);
}

}  // namespace
}  // namespace bw::audio
