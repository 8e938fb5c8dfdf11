// SimulatedBand: the signal behind the simulated capture device "Simulated
// I/Q band". It renders complex baseband i[n] + j q[n] (a positive offset is
// the rotation exp(+j 2 pi f t), i.e. above the band centre) holding band
// noise, a CW carrier keying a Morse message on a loop, and two synthesised
// single-sideband voices, one above and one below the centre. Full scale is
// magnitude 1.0; levels are dBFS against it. Everything is repeatable for a
// given sample rate and seed, whatever the split of the render calls.
//
// Three more signals, off unless asked for (kToolSignals), are there to try
// the receiver's modes and noise tools on:
// - an AM broadcast (carrier at kAmCarrierHz, a two-tone chord at
//   kAmModulation) arriving over two paths whose difference drifts, so that
//   notches kAmNotchSpacingHz apart sweep through it once every
//   kAmFadeSeconds: selective fading, the carrier falling up to 26 dB below
//   its sidebands while the sidebands 1 kHz from it peak (try SAM, SAM_UPPER
//   and SAM_LOWER against AM);
// - a steady carrier kSteadyCarrierHz above the band centre, a heterodyne
//   2250 Hz above the AM carrier, in its upper sideband (the automatic
//   notch; SAM_LOWER leaves it out);
// - impulse noise: kImpulsesPerSecond impulses a second, each one sample
//   (about 10 us at 96000 Hz, 21 us at 48000 Hz) with a random phase, 40 dB
//   above the AM broadcast's peak (the noise blanker).
// The AM broadcast and its heterodyne are left out below 44100 Hz, where
// they do not fit; the impulses are there at every rate.
#pragma once

#include <array>
#include <cstdint>

namespace bw::audio {

class SimulatedBand {
 public:
  // Signal components, for setComponents().
  enum Component : unsigned {
    kNoise = 1u,
    kCw = 2u,
    kUpperVoice = 4u,
    kLowerVoice = 8u,
    kAllComponents = 15u,  // the band as rendered by default
    kAmBroadcast = 16u,
    kImpulses = 32u,
    kSteadyCarrier = 64u,
    kToolSignals = kAmBroadcast | kImpulses | kSteadyCarrier,
    kEveryComponent = kAllComponents | kToolSignals,
  };

  static constexpr int kMinSampleRate = 8000;   // Hz
  static constexpr int kMaxSampleRate = 96000;  // Hz

  // Offsets relative to the band centre, Hz.
  static constexpr double kCwOffsetHz = 1500.0;             // keyed CW carrier
  static constexpr double kUpperVoiceCarrierHz = 6000.0;    // USB voice: audio above this
  static constexpr double kLowerVoiceCarrierHz = -9000.0;   // LSB voice: audio below this
  // Audio band of both voices, Hz from their carrier (outward).
  static constexpr double kVoiceLowHz = 300.0;
  static constexpr double kVoiceHighHz = 2800.0;

  // Levels, dBFS. Noise: total power of the complex white noise over the
  // whole band -fs/2..+fs/2 (E|n|^2 = 10^(kNoiseDbfs/10)). CW: carrier
  // magnitude when the key is down. Voices: peak magnitude (the envelope
  // never exceeds it; it is reached at the glottal pulses of a loud syllable).
  static constexpr double kNoiseDbfs = -60.0;
  static constexpr double kCwDbfs = -20.0;
  static constexpr double kUpperVoicePeakDbfs = -26.0;
  static constexpr double kLowerVoicePeakDbfs = -32.0;

  // The tool signals (offsets Hz from the band centre, levels dBFS).
  static constexpr double kAmCarrierHz = 15000.0;
  static constexpr double kAmCarrierDbfs = -50.0;     // one path's carrier
  static constexpr double kAmModulation = 0.7;        // peak, both tones
  static constexpr double kAmToneHz[2] = {440.0, 1100.0};
  static constexpr double kAmAudioHighHz = 4000.0;    // the station's band
  static constexpr double kAmEchoGain = 0.95;         // second path / first
  static constexpr double kAmNotchSpacingHz = 2000.0; // 1 / the paths' delay
  static constexpr double kAmFadeSeconds = 4.0;       // one sweep of a notch
  static constexpr double kSteadyCarrierHz = kAmCarrierHz + 2250.0;
  static constexpr double kSteadyCarrierDbfs = -56.0;
  static constexpr double kImpulsesPerSecond = 100.0; // on average
  static constexpr double kImpulseOverAmPeakDb = 40.0;
  // The AM broadcast's peak magnitude over one path, and the impulses'.
  static double amPeak();
  static double impulseMagnitude();

  // The mask named by `list`: words separated by commas or spaces, each
  // "am", "impulses", "carrier" or "tools" (all three), added to the
  // default band; unknown words are left out. Null or empty: the default.
  static unsigned componentsFromList(const char* list);

  // Morse keying: the message is sent from time 0, followed by a word space,
  // and repeats. One dot lasts 1.2 / kCwWordsPerMinute seconds; key edges are
  // raised-cosine ramps of kCwEdgeSeconds.
  static constexpr const char* kCwMessage = "CQ CQ DE LANTERNFLY TEST";
  static constexpr double kCwWordsPerMinute = 18.0;
  static constexpr double kCwEdgeSeconds = 0.005;

  // True for 8000..96000 Hz.
  static constexpr bool isSupportedRate(int sampleRate) {
    return sampleRate >= kMinSampleRate && sampleRate <= kMaxSampleRate;
  }

  // sampleRate in Hz (8000..96000; otherwise throws std::invalid_argument).
  // seed makes the noise and the voices' speech pattern repeatable. A voice
  // is left out unless its band plus 200 Hz fits inside +-sampleRate/2: the
  // upper one needs 18000 Hz, the lower one 24000 Hz; at 8000 Hz only the
  // noise and the CW remain. Allocates nothing (save a refusal's message).
  explicit SimulatedBand(int sampleRate, std::uint32_t seed = 1);

  // Renders the next `frames` complex baseband samples into i[0..frames) and
  // q[0..frames) (caller-owned, not overlapping). The magnitude never exceeds
  // 1.0 (the parts' bounds add up to about 0.19). frames <= 0 or a null
  // pointer renders nothing. No allocation, no locks, no I/O: it runs on a
  // real-time thread. One thread at a time.
  void render(double* i, double* q, int frames);

  // Chooses which components render (a mask of Component; kAllComponents
  // by default).
  // Skipped components keep their timing, so switching one back on resumes it
  // where it would have been. Call from the rendering thread or before it runs.
  void setComponents(unsigned mask) { components_ = mask & kEveryComponent; }

  int sampleRate() const { return sampleRate_; }
  // Whether the voices fit at this sample rate (independent of the mask).
  bool hasUpperVoice() const { return upper_.present; }
  bool hasLowerVoice() const { return lower_.present; }
  bool hasAmBroadcast() const { return am_.present; }

 private:
  // xorshift64* generator: cheap, repeatable, good enough for band noise.
  struct Random {
    std::uint64_t state;
    std::uint64_t next();
    double uniform();            // (0, 1]
    double range(double lo, double hi);
  };

  // Amplitudes and pitch are updated every kControlFrames samples and
  // interpolated linearly in between, so nothing steps (no splatter).
  static constexpr int kControlFrames = 16;
  // Harmonics of a 100 Hz pitch up to the top of the voice band.
  static constexpr int kMaxHarmonics = 32;

  struct Voice {
    bool present = false;
    double side = 1.0;          // +1: upper sideband, -1: lower
    double peak = 0.0;          // linear peak magnitude
    double pitchLowHz = 0.0;
    double pitchHighHz = 0.0;
    double carrierStep = 0.0;   // radians per sample
    double carrierPhase = 0.0;  // radians, [0, 2 pi)
    double pitchPhase = 0.0;    // fundamental's phase, radians, [0, 2 pi)
    // Speech pattern, advanced at control ticks.
    Random random{};
    double pitchHz = 0.0;       // smoothed pitch
    double pitchTargetHz = 0.0;
    std::array<double, 3> formantHz{};
    std::array<double, 3> formantTargetHz{};
    int syllablesLeft = 0;      // in this phrase, after the current one
    std::int64_t segmentFrames = 0;  // length of the current syllable or pause
    std::int64_t segmentPos = 0;     // frames into it
    bool inPause = true;
    double stress = 0.0;        // loudness of the current syllable, 0..1
    // Amplitudes and pitch step at the start of the current control block;
    // sample m of the block uses start + delta * m.
    std::array<double, kMaxHarmonics + 1> amplitude{};  // index k: harmonic k
    std::array<double, kMaxHarmonics + 1> amplitudeDelta{};
    double pitchStep = 0.0;     // radians per sample
    double pitchStepDelta = 0.0;
    int harmonics = 0;          // highest k with a non-zero amplitude
  };

  // Each render* writes (noise) or adds (the others) `frames` samples that
  // lie inside one control block, starting `blockPos` samples into it.
  void renderNoise(double* i, double* q, int frames);
  void renderCw(double* i, double* q, int frames);
  void renderVoice(Voice& v, double* i, double* q, int frames, int blockPos);
  void renderToolSignals(double* i, double* q, int frames);
  void initToolSignals(std::uint32_t seed);
  void controlTick();
  void advanceSpeech(Voice& v);
  void startSegment(Voice& v);
  void initVoice(Voice& v, double carrierHz, double side, double peakDbfs,
                 double pitchLowHz, double pitchHighHz, std::uint64_t seed);

  int sampleRate_;
  unsigned components_ = kAllComponents;
  int controlLeft_ = 0;  // samples until the next control tick
  double pitchSmoothing_ = 0.0;    // one-pole coefficients per control tick
  double formantSmoothing_ = 0.0;

  Random noiseRandom_{};
  double noiseSigma_ = 0.0;  // per quadrature component

  // CW keying: position in the message's table of Morse units.
  int cwUnitIndex_ = 0;
  std::int64_t cwUnitFrames_ = 0;  // samples per Morse unit
  std::int64_t cwUnitPos_ = 0;
  int cwEdgeFrames_ = 0;           // samples per key edge
  int cwEdgePos_ = 0;              // 0 = key up .. cwEdgeFrames_ = key down
  double cwAmplitude_ = 0.0;
  double cwStep_ = 0.0;            // radians per sample
  double cwPhase_ = 0.0;           // radians, [0, 2 pi)

  Voice upper_;
  Voice lower_;

  // The AM broadcast: the first path's samples wait in `ring` for the
  // second path, `delay` samples later.
  static constexpr int kMaxAmDelay = 64;
  struct Am {
    bool present = false;
    double amplitude = 0.0;  // the carrier's, linear
    double carrierStep = 0.0, carrierPhase = 0.0;
    double toneStep[2] = {}, tonePhase[2] = {};
    double fadeStep = 0.0, fadePhase = 0.0;  // the paths' phase difference
    int delay = 1, ringPos = 0;
    std::array<double, kMaxAmDelay> ringI{}, ringQ{};
    double steadyAmplitude = 0.0, steadyStep = 0.0, steadyPhase = 0.0;
  };
  Am am_;
  Random impulseRandom_{};
  std::int64_t framesToImpulse_ = 0;
  double impulsePeriod_ = 0.0;  // samples, on average
};

}  // namespace bw::audio
