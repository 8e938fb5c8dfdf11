#include "audio/simulated/simulated_band.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>
#include <string_view>

namespace bw::audio {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

// A voice is left out unless its whole band, plus this margin, lies inside
// +-fs/2.
constexpr double kVoiceGuardHz = 200.0;

// Smoothing time constants of the speech pattern, seconds.
constexpr double kPitchGlideSeconds = 0.08;
constexpr double kFormantGlideSeconds = 0.03;

// Voice band edges: raised-cosine tapers, Hz, so a harmonic fades in and out
// as the pitch glides instead of switching.
constexpr double kTaperLowEndHz = 450.0;
constexpr double kTaperHighStartHz = 2550.0;

constexpr double dbToAmplitude(double db) { return std::pow(10.0, db / 20.0); }

double wrapPhase(double phase) {
  if (phase >= kTwoPi) return phase - kTwoPi;
  if (phase < 0.0) return phase + kTwoPi;
  return phase;
}

double raisedCosine(double x) {  // 0 at x = 0, 1 at x = 1
  return 0.5 - 0.5 * std::cos(std::numbers::pi * x);
}

// splitmix64: spreads a small seed over a full, non-zero generator state.
std::uint64_t mixSeed(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  return x == 0 ? 0x2545F4914F6CDD1Dull : x;
}

// ---- Morse keying table: one entry per unit, 1 = key down. ----

constexpr const char* morseCode(char c) {
  constexpr const char* kLetters[26] = {
      ".-",   "-...", "-.-.", "-..",  ".",    "..-.", "--.",  "....", "..",
      ".---", "-.-",  ".-..", "--",   "-.",   "---",  ".--.", "--.-", ".-.",
      "...",  "-",    "..-",  "...-", ".--",  "-..-", "-.--", "--.."};
  constexpr const char* kDigits[10] = {"-----", ".----", "..---", "...--",
                                       "....-", ".....", "-....", "--...",
                                       "---..", "----."};
  if (c >= 'A' && c <= 'Z') return kLetters[c - 'A'];
  if (c >= '0' && c <= '9') return kDigits[c - '0'];
  return nullptr;
}

constexpr int kMaxCwUnits = 512;

struct Keying {
  std::array<std::uint8_t, kMaxCwUnits> units{};
  int count = 0;
};

// Dot 1 unit, dash 3, gap inside a letter 1, between letters 3, between
// words 7; a word gap follows the message before it repeats.
constexpr Keying buildKeying(const char* message) {
  Keying k;
  auto append = [&k](int value, int n) {
    for (int u = 0; u < n && k.count < kMaxCwUnits; ++u) {
      k.units[k.count++] = static_cast<std::uint8_t>(value);
    }
  };
  int pendingGap = 0;
  for (const char* c = message; *c != '\0'; ++c) {
    if (*c == ' ') {
      if (pendingGap > 0) pendingGap = 7;
      continue;
    }
    const char* code = morseCode(*c);
    if (code == nullptr) continue;
    append(0, pendingGap);
    for (const char* e = code; *e != '\0'; ++e) {
      if (e != code) append(0, 1);
      append(1, *e == '-' ? 3 : 1);
    }
    pendingGap = 3;
  }
  append(0, 7);
  return k;
}

constexpr Keying kKeying = buildKeying(SimulatedBand::kCwMessage);
static_assert(kKeying.count > 0 && kKeying.count < kMaxCwUnits,
              "the CW message must fit the keying table");

// ---- Speech: vowel formants and the harmonic amplitudes. ----

// Formant frequencies F1, F2, F3 of a few vowels, Hz.
constexpr std::array<std::array<double, 3>, 6> kVowels = {{
    {730.0, 1090.0, 2440.0},  // a
    {530.0, 1840.0, 2480.0},  // e
    {390.0, 1990.0, 2550.0},  // i
    {570.0, 840.0, 2410.0},   // o
    {440.0, 1020.0, 2240.0},  // u
    {660.0, 1720.0, 2410.0},  // ae
}};
constexpr std::array<double, 3> kFormantGain = {1.0, 0.5, 0.25};
constexpr std::array<double, 3> kFormantWidthHz = {90.0, 120.0, 170.0};

// Band-edge weight of an audio frequency: 0 outside kVoiceLowHz..kVoiceHighHz,
// raised-cosine tapers at both ends.
double bandWeight(double f) {
  const double lo = SimulatedBand::kVoiceLowHz;
  const double hi = SimulatedBand::kVoiceHighHz;
  if (f <= lo || f >= hi) return 0.0;
  if (f < kTaperLowEndHz) return raisedCosine((f - lo) / (kTaperLowEndHz - lo));
  if (f > kTaperHighStartHz) {
    return raisedCosine((hi - f) / (hi - kTaperHighStartHz));
  }
  return 1.0;
}

// Amplitudes of harmonics 1..kMax of pitch f0 (Hz), scaled so they sum to
// `level`: the magnitude of their sum can then never exceed `level`.
// Returns the highest harmonic with a non-zero amplitude.
template <std::size_t N>
int harmonicAmplitudes(double f0, const std::array<double, 3>& formantHz,
                       double level, std::array<double, N>& out) {
  double sum = 0.0;
  int highest = 0;
  out[0] = 0.0;
  for (std::size_t k = 1; k < N; ++k) {
    const double f = static_cast<double>(k) * f0;
    const double edge = bandWeight(f);
    double a = 0.0;
    if (edge > 0.0) {
      double shape = 0.03;  // floor between the formants
      for (std::size_t m = 0; m < 3; ++m) {
        const double x = (f - formantHz[m]) / kFormantWidthHz[m];
        shape += kFormantGain[m] / (1.0 + x * x);
      }
      // The glottal source falls off about 6 dB per octave.
      a = edge * shape / static_cast<double>(k);
      highest = static_cast<int>(k);
    }
    out[k] = a;
    sum += a;
  }
  const double scale = sum > 0.0 ? level / sum : 0.0;
  for (std::size_t k = 1; k < N; ++k) out[k] *= scale;
  return highest;
}

// Loudness within a syllable: raised-cosine attack and release.
double syllableShape(double x) {  // x: 0..1 through the syllable
  constexpr double kAttack = 0.25;
  constexpr double kRelease = 0.35;
  if (x <= 0.0 || x >= 1.0) return 0.0;
  if (x < kAttack) return raisedCosine(x / kAttack);
  if (x > 1.0 - kRelease) return raisedCosine((1.0 - x) / kRelease);
  return 1.0;
}

}  // namespace

static_assert(SimulatedBand::kCwOffsetHz < SimulatedBand::kMinSampleRate / 2.0,
              "the CW carrier must fit at every supported rate");

// ---- Random ----

std::uint64_t SimulatedBand::Random::next() {
  state ^= state >> 12;
  state ^= state << 25;
  state ^= state >> 27;
  return state * 0x2545F4914F6CDD1Dull;
}

double SimulatedBand::Random::uniform() {
  return static_cast<double>((next() >> 11) + 1) * 0x1.0p-53;
}

double SimulatedBand::Random::range(double lo, double hi) {
  return lo + (hi - lo) * uniform();
}

// ---- Construction ----

SimulatedBand::SimulatedBand(int sampleRate, std::uint32_t seed)
    : sampleRate_(sampleRate) {
  static_assert(kMaxHarmonics * 100.0 >= kVoiceHighHz,
                "harmonics of the lowest pitch must reach the top of the band");
  // Bounds of the parts: noise radius <= 8.6 sigma per quadrature (see
  // renderNoise); the sum stays well inside full scale.
  // The tool signals add the impulses (0.538), the AM broadcast over both
  // paths (1.95 * 0.0054) and the heterodyne (0.0016).
  static_assert(0.1 + 0.0502 + 0.0252 + 8.6 * 0.00071 + 0.538 + 0.0105 + 0.0016 < 1.0);
  if (!isSupportedRate(sampleRate)) {
    throw std::invalid_argument("SimulatedBand: sample rate " +
                                std::to_string(sampleRate) +
                                " Hz is outside 8000..96000 Hz");
  }
  const double fs = sampleRate;
  const double tick = kControlFrames / fs;
  pitchSmoothing_ = 1.0 - std::exp(-tick / kPitchGlideSeconds);
  formantSmoothing_ = 1.0 - std::exp(-tick / kFormantGlideSeconds);

  noiseRandom_.state = mixSeed(seed);
  noiseSigma_ = std::sqrt(std::pow(10.0, kNoiseDbfs / 10.0) / 2.0);

  cwUnitFrames_ = std::max<std::int64_t>(
      1, std::llround(fs * 1.2 / kCwWordsPerMinute));
  cwEdgeFrames_ = std::max(1, static_cast<int>(std::lround(fs * kCwEdgeSeconds)));
  cwAmplitude_ = dbToAmplitude(kCwDbfs);
  cwStep_ = kTwoPi * kCwOffsetHz / fs;

  initVoice(upper_, kUpperVoiceCarrierHz, 1.0, kUpperVoicePeakDbfs, 100.0,
            150.0, (std::uint64_t{seed} << 8) ^ 0x55u);
  initVoice(lower_, kLowerVoiceCarrierHz, -1.0, kLowerVoicePeakDbfs, 160.0,
            220.0, (std::uint64_t{seed} << 8) ^ 0xAAu);
  initToolSignals(seed);
  // The two voices start talking at different moments.
  upper_.segmentFrames = std::llround(0.10 * fs);
  lower_.segmentFrames = std::llround(0.45 * fs);
}

double SimulatedBand::amPeak() {
  return dbToAmplitude(kAmCarrierDbfs) * (1.0 + kAmModulation);
}

double SimulatedBand::impulseMagnitude() {
  return amPeak() * dbToAmplitude(kImpulseOverAmPeakDb);
}

unsigned SimulatedBand::componentsFromList(const char* list) {
  unsigned mask = kAllComponents;
  if (list == nullptr) return mask;
  const std::string_view text(list);
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find_first_of(", ", at), text.size());
    const std::string_view word = text.substr(at, end - at);
    if (word == "am") mask |= kAmBroadcast;
    if (word == "impulses") mask |= kImpulses;
    if (word == "carrier") mask |= kSteadyCarrier;
    if (word == "tools") mask |= kToolSignals;
    at = end + 1;
  }
  return mask;
}

void SimulatedBand::initToolSignals(std::uint32_t seed) {
  const double fs = sampleRate_;
  am_.present = kAmCarrierHz + kAmAudioHighHz + kVoiceGuardHz <= fs / 2.0;
  am_.amplitude = dbToAmplitude(kAmCarrierDbfs);
  am_.carrierStep = kTwoPi * kAmCarrierHz / fs;
  for (int k = 0; k < 2; ++k) am_.toneStep[k] = kTwoPi * kAmToneHz[k] / fs;
  am_.fadeStep = kTwoPi / (kAmFadeSeconds * fs);
  am_.delay = std::clamp(static_cast<int>(std::lround(fs / kAmNotchSpacingHz)), 1,
                         kMaxAmDelay);
  am_.steadyAmplitude = dbToAmplitude(kSteadyCarrierDbfs);
  am_.steadyStep = kTwoPi * kSteadyCarrierHz / fs;
  impulseRandom_.state = mixSeed((std::uint64_t{seed} << 8) ^ 0x33u);
  impulsePeriod_ = fs / kImpulsesPerSecond;
  framesToImpulse_ = std::llround(impulsePeriod_ * impulseRandom_.uniform());
}

void SimulatedBand::initVoice(Voice& v, double carrierHz, double side,
                              double peakDbfs, double pitchLowHz,
                              double pitchHighHz, std::uint64_t seed) {
  const double fs = sampleRate_;
  v.present = std::abs(carrierHz) + kVoiceHighHz + kVoiceGuardHz <= fs / 2.0;
  v.side = side;
  v.peak = dbToAmplitude(peakDbfs);
  v.pitchLowHz = pitchLowHz;
  v.pitchHighHz = pitchHighHz;
  v.carrierStep = kTwoPi * carrierHz / fs;
  v.random.state = mixSeed(seed);
  v.pitchHz = v.pitchTargetHz = 0.5 * (pitchLowHz + pitchHighHz);
  v.formantHz = v.formantTargetHz = kVowels[0];
  v.pitchStep = kTwoPi * v.pitchHz / fs;
  v.inPause = true;
}

// ---- Rendering ----

void SimulatedBand::render(double* i, double* q, int frames) {
  if (i == nullptr || q == nullptr || frames <= 0) return;
  int done = 0;
  while (done < frames) {
    if (controlLeft_ == 0) {
      controlTick();
      controlLeft_ = kControlFrames;
    }
    const int n = std::min(frames - done, controlLeft_);
    const int blockPos = kControlFrames - controlLeft_;
    renderNoise(i + done, q + done, n);
    renderCw(i + done, q + done, n);
    if (upper_.present) renderVoice(upper_, i + done, q + done, n, blockPos);
    if (lower_.present) renderVoice(lower_, i + done, q + done, n, blockPos);
    renderToolSignals(i + done, q + done, n);
    controlLeft_ -= n;
    done += n;
  }
}

void SimulatedBand::renderNoise(double* i, double* q, int frames) {
  if ((components_ & kNoise) == 0) {
    for (int n = 0; n < frames; ++n) {
      noiseRandom_.next();  // keep the sequence where it would be
      noiseRandom_.next();
      i[n] = 0.0;
      q[n] = 0.0;
    }
    return;
  }
  // Box-Muller: one pair of uniforms gives one complex Gaussian sample. The
  // radius is bounded (uniform() >= 2^-53), so |noise| <= 8.6 sigma * sqrt 2.
  for (int n = 0; n < frames; ++n) {
    const double r = noiseSigma_ * std::sqrt(-2.0 * std::log(noiseRandom_.uniform()));
    const double angle = kTwoPi * noiseRandom_.uniform();
    i[n] = r * std::cos(angle);
    q[n] = r * std::sin(angle);
  }
}

void SimulatedBand::renderCw(double* i, double* q, int frames) {
  const bool audible = (components_ & kCw) != 0;
  for (int n = 0; n < frames; ++n) {
    // The envelope ramps by one step per sample toward the key's state, so
    // rising and falling edges are the same raised cosine and the keyed
    // length is kept.
    if (kKeying.units[cwUnitIndex_] != 0) {
      if (cwEdgePos_ < cwEdgeFrames_) ++cwEdgePos_;
    } else if (cwEdgePos_ > 0) {
      --cwEdgePos_;
    }
    if (audible && cwEdgePos_ > 0) {
      const double env =
          cwEdgePos_ == cwEdgeFrames_
              ? 1.0
              : raisedCosine(static_cast<double>(cwEdgePos_) / cwEdgeFrames_);
      const double a = cwAmplitude_ * env;
      i[n] += a * std::cos(cwPhase_);
      q[n] += a * std::sin(cwPhase_);
    }
    cwPhase_ = wrapPhase(cwPhase_ + cwStep_);
    if (++cwUnitPos_ == cwUnitFrames_) {
      cwUnitPos_ = 0;
      if (++cwUnitIndex_ == kKeying.count) cwUnitIndex_ = 0;
    }
  }
}

void SimulatedBand::renderVoice(Voice& v, double* i, double* q, int frames,
                                int blockPos) {
  const unsigned bit = &v == &upper_ ? kUpperVoice : kLowerVoice;
  const bool audible = (components_ & bit) != 0 && v.harmonics > 0;
  for (int n = 0; n < frames; ++n) {
    const double m = blockPos + n;
    if (audible) {
      // Harmonic k of the pitch is the phasor z^k, z = exp(+-j pitchPhase):
      // a spectrum on one side of the carrier only. The lower sideband uses
      // the conjugate, mirroring the audio below its carrier.
      const double zr = std::cos(v.pitchPhase);
      const double zi = v.side * std::sin(v.pitchPhase);
      double wr = zr;
      double wi = zi;
      double sr = 0.0;
      double si = 0.0;
      for (int k = 1; k <= v.harmonics; ++k) {
        const double a = v.amplitude[k] + v.amplitudeDelta[k] * m;
        sr += a * wr;
        si += a * wi;
        const double t = wr * zr - wi * zi;
        wi = wr * zi + wi * zr;
        wr = t;
      }
      const double cr = std::cos(v.carrierPhase);
      const double ci = std::sin(v.carrierPhase);
      i[n] += sr * cr - si * ci;
      q[n] += sr * ci + si * cr;
    }
    v.pitchPhase = wrapPhase(v.pitchPhase + v.pitchStep + v.pitchStepDelta * m);
    v.carrierPhase = wrapPhase(v.carrierPhase + v.carrierStep);
  }
}

// Every part advances whether it is heard or not, so that switching one on
// resumes it where it would have been (the second path's first `delay`
// samples aside: it echoes nothing while the broadcast is off).
void SimulatedBand::renderToolSignals(double* i, double* q, int frames) {
  const bool am = am_.present && (components_ & kAmBroadcast) != 0;
  const bool steady = am_.present && (components_ & kSteadyCarrier) != 0;
  const double half = 0.5 * kAmModulation;  // each tone's share
  for (int n = 0; n < frames; ++n) {
    if (am) {
      const double envelope =
          am_.amplitude * (1.0 + half * (std::cos(am_.tonePhase[0]) + std::cos(am_.tonePhase[1])));
      const double xi = envelope * std::cos(am_.carrierPhase);
      const double xq = envelope * std::sin(am_.carrierPhase);
      // The second path: the first, delay samples late, turned by the
      // drifting phase difference.
      const double ei = am_.ringI[am_.ringPos], eq = am_.ringQ[am_.ringPos];
      const double ci = kAmEchoGain * std::cos(am_.fadePhase);
      const double cq = kAmEchoGain * std::sin(am_.fadePhase);
      i[n] += xi + ei * ci - eq * cq;
      q[n] += xq + ei * cq + eq * ci;
      am_.ringI[am_.ringPos] = xi;
      am_.ringQ[am_.ringPos] = xq;
      am_.ringPos = am_.ringPos + 1 == am_.delay ? 0 : am_.ringPos + 1;
    }
    if (steady) {
      i[n] += am_.steadyAmplitude * std::cos(am_.steadyPhase);
      q[n] += am_.steadyAmplitude * std::sin(am_.steadyPhase);
    }
    am_.steadyPhase = wrapPhase(am_.steadyPhase + am_.steadyStep);
    am_.carrierPhase = wrapPhase(am_.carrierPhase + am_.carrierStep);
    for (int k = 0; k < 2; ++k) am_.tonePhase[k] = wrapPhase(am_.tonePhase[k] + am_.toneStep[k]);
    am_.fadePhase = wrapPhase(am_.fadePhase + am_.fadeStep);
  }

  for (int n = 0; n < frames; ++n) {
    if (framesToImpulse_-- != 0) continue;
    const double angle = kTwoPi * impulseRandom_.uniform();
    if ((components_ & kImpulses) != 0) {
      i[n] += impulseMagnitude() * std::cos(angle);
      q[n] += impulseMagnitude() * std::sin(angle);
    }
    // Intervals spread evenly over half to one and a half mean periods.
    framesToImpulse_ = std::llround(impulsePeriod_ * (0.5 + impulseRandom_.uniform())) - 1;
  }
}

// ---- Speech pattern, once per control block ----

void SimulatedBand::controlTick() {
  for (Voice* v : {&upper_, &lower_}) {
    if (!v->present) continue;
    // The block that ended reached start + delta * kControlFrames; that is
    // where the new block starts.
    for (int k = 0; k <= kMaxHarmonics; ++k) {
      v->amplitude[k] += v->amplitudeDelta[k] * kControlFrames;
    }
    v->pitchStep += v->pitchStepDelta * kControlFrames;

    advanceSpeech(*v);

    const double x = v->inPause ? 0.0
                                : static_cast<double>(v->segmentPos) /
                                      static_cast<double>(v->segmentFrames);
    const double level = v->peak * v->stress * syllableShape(x);
    std::array<double, kMaxHarmonics + 1> target{};
    const int highest = harmonicAmplitudes(v->pitchHz, v->formantHz, level, target);
    int active = highest;
    for (int k = 0; k <= kMaxHarmonics; ++k) {
      v->amplitudeDelta[k] = (target[k] - v->amplitude[k]) / kControlFrames;
      if (v->amplitude[k] != 0.0) active = std::max(active, k);
    }
    v->harmonics = active;
    const double step = kTwoPi * v->pitchHz / sampleRate_;
    v->pitchStepDelta = (step - v->pitchStep) / kControlFrames;
  }
}

void SimulatedBand::advanceSpeech(Voice& v) {
  v.segmentPos += kControlFrames;
  if (v.segmentPos >= v.segmentFrames) startSegment(v);
  v.pitchHz += (v.pitchTargetHz - v.pitchHz) * pitchSmoothing_;
  for (std::size_t m = 0; m < 3; ++m) {
    v.formantHz[m] += (v.formantTargetHz[m] - v.formantHz[m]) * formantSmoothing_;
  }
}

// Phrases of 3..8 syllables (150..300 ms each) with the pitch drifting down
// through the phrase, separated by pauses of 350..900 ms.
void SimulatedBand::startSegment(Voice& v) {
  const double fs = sampleRate_;
  v.segmentPos = 0;
  if (!v.inPause && v.syllablesLeft == 0) {
    v.inPause = true;
    v.stress = 0.0;
    v.segmentFrames = std::llround(v.random.range(0.35, 0.9) * fs);
    return;
  }
  if (v.inPause) {
    v.inPause = false;
    v.syllablesLeft = static_cast<int>(v.random.range(3.0, 9.0)) - 1;
    v.pitchTargetHz = v.random.range(
        0.5 * (v.pitchLowHz + v.pitchHighHz), v.pitchHighHz);
  } else {
    --v.syllablesLeft;
    v.pitchTargetHz = std::clamp(v.pitchTargetHz * v.random.range(0.88, 1.03),
                                 v.pitchLowHz, v.pitchHighHz);
  }
  v.segmentFrames = std::llround(v.random.range(0.15, 0.30) * fs);
  const auto vowel = std::min<std::size_t>(
      kVowels.size() - 1,
      static_cast<std::size_t>(v.random.uniform() * static_cast<double>(kVowels.size())));
  v.formantTargetHz = kVowels[vowel];
  v.stress = v.random.range(0.7, 1.0);
}

}  // namespace bw::audio
