// Second-order sections (biquads) for the detectors' audio: Butterworth-style
// low-, high- and band-pass designs by the bilinear transform, and the step
// that runs one sample through a section. Header only; nothing allocates.
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>

#include "primitives/chain_helpers.h"

namespace bw {

// The coefficients of one section, normalised so that a0 = 1:
// y = b0 x + b1 x' + b2 x'' - a1 y' - a2 y''.
struct Biquad {
  double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;

  enum class Kind { LowPass, HighPass, BandPass };
  // A section of `kind` at hz (the corner; the centre of a band-pass, whose
  // peak gain is 1) for sampleRate (Hz), of quality q (1/sqrt 2: a
  // second-order Butterworth). hz is held within 1 Hz..0.45 sampleRate.
  static Biquad design(Kind kind, double hz, double sampleRate,
                       double q = std::numbers::sqrt2 / 2) {
    hz = std::clamp(hz, 1.0, 0.45 * sampleRate);
    const double w = 2.0 * std::numbers::pi * hz / sampleRate;
    const double c = std::cos(w);
    const double alpha = std::sin(w) / (2.0 * q);
    const double a0 = 1.0 + alpha;
    Biquad f;
    switch (kind) {
      case Kind::LowPass:
        f.b0 = f.b2 = (1.0 - c) / 2.0 / a0;
        f.b1 = (1.0 - c) / a0;
        break;
      case Kind::HighPass:
        f.b0 = f.b2 = (1.0 + c) / 2.0 / a0;
        f.b1 = -(1.0 + c) / a0;
        break;
      case Kind::BandPass:
        f.b0 = alpha / a0;
        f.b1 = 0.0;
        f.b2 = -alpha / a0;
        break;
    }
    f.a1 = -2.0 * c / a0;
    f.a2 = (1.0 - alpha) / a0;
    return f;
  }
};

// What a section carries from sample to sample (direct form I: the last two
// inputs and outputs), and so from block to block. The output's own terms
// come last, so that a sample waits on the one before for one multiply and
// one add only.
struct BiquadState {
  double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
  bool operator==(const BiquadState&) const = default;

  double step(const Biquad& f, double x) {
    const double y = (f.b0 * x + f.b1 * x1 + f.b2 * x2 - f.a2 * y2) - f.a1 * y1;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }
  // Runs x[0..n-1] through the section in place at the kernel set's best
  // (nsp::biquad): the same as step over each sample, to rounding.
  void run(const Biquad& f, double* x, int n) {
    const double coef[5] = {f.b0, f.b1, f.b2, f.a1, f.a2};
    double state[4] = {x1, x2, y1, y2};
    nsp::biquad(x, n, coef, state);
    x1 = state[0];
    x2 = state[1];
    y1 = state[2];
    y2 = state[3];
  }
  // Called once a block: a section left ringing down on silence would
  // otherwise reach subnormal values, which are slow on every x86.
  void flushTiny() {
    for (double* v : {&x1, &x2, &y1, &y2}) {
      if (std::abs(*v) < 1e-200) *v = 0.0;
    }
  }
};

}  // namespace bw
