// The slow loop that keeps a playback queue at its level when the capture
// and playback clocks differ: from the queue's length, seen once a block,
// it sets the ratio at which the resampler reads the queue (input frames a
// played frame; above 1 drains it faster).
//
// The level it keeps is the one the stream settled on at its start (the
// mean over kLatch after kSettle), so it adds no latency of its own; after
// an underrun, the one it settled on after the gap. The measurements pass
// two low-pass stages and a PI loop turns the smoothed error into the
// ratio. While the error stays inside kDeadBand the ratio stays exactly 1,
// so that a pair on one clock plays its samples unchanged; once it leaves
// the band the loop runs for the rest of the stream: for kAcquire with
// gains that find a difference of up to kMaxCorrection within a few
// milliseconds of the level, then with gains about seven times slower,
// which follow the milliseconds by which a loaded machine's writes wander
// so little that the ratio hardly moves within a second: a tone through
// the resampler keeps its purity. A control that is not armed (the clocks
// are known to be one) only measures.
//
// One thread at a time (the one that writes to the playback queue).
#pragma once

namespace bw::audio {

class RateControl {
 public:
  // Time constants and limits, in seconds or as a ratio.
  static constexpr double kSettle = 0.5;      // ignored after a start
  static constexpr double kLatch = 3.0;        // averaged into the level
  static constexpr double kDeadBand = 0.0025;  // error before the loop runs
  static constexpr double kMaxCorrection = 0.005;  // |ratio - 1| at most
  static constexpr double kAcquire = 60.0;     // running with kAcquiring
  // Error past which the integral stands still: clocks a thousandth apart
  // hold the queue within a few milliseconds of its level, and a larger
  // error is a step (a device that stalled), which the proportional part
  // alone answers; integrated, it would stay in the ratio as a drift that
  // is not there, for as long as the integral takes to unwind.
  static constexpr double kIntegrateBand = 0.008;
  // Time constant of each low-pass stage (s); proportional (1/s) and
  // integral (1/s^2) gains.
  struct Gains {
    double smoothing, proportional, integral;
  };
  // Crosses over near 0.2 rad/s: takes out a step of 1000 ppm in about a
  // minute.
  static constexpr Gains kAcquiring{2.0, 0.2, 0.008};
  // Near 0.03 rad/s, critically damped. The queue seen at each write
  // wanders by the writes' lateness (a 2 ms spread leaves about 0.05 ms in
  // the smoothed queue), and the proportional part turns that into a ratio
  // that drifts by a few ppm over seconds: a bend in a tone's phase. Stages
  // of 8 s rather than 4 halve that drift: a 1 kHz tone at 100 ppm,
  // simulated, has a median SINAD over 20 s of 100 dB rather than 92, and
  // 94 rather than 79 through a server given only what is queued. The
  // price is a slower return: the latency is held within 4.0 ms over an
  // hour (2.6 at 4 s), and 1.5 s after each gap a server reports it is
  // back within 3.4 ms of where it was (2.8).
  static constexpr Gains kTracking{8.0, 0.05, 0.0005};

  // Whether the loop may leave ratio 1 at all (the clocks may differ).
  explicit RateControl(bool armed = true) : armed_(armed) {}

  // One look at the queue: `queued` seconds ahead of the newest frame,
  // `elapsed` seconds of stream since the previous look. Returns the ratio.
  double update(double queued, double elapsed);
  // Playback ran dry (or a backlog was trimmed): the level is taken again
  // (over kLatch) from the queue as the gap left it, while the ratio stays
  // at the clocks' difference the loop has found and a loop that ran goes
  // on towards the level it held until then. A gap while a level is being
  // taken leaves that wait as it is.
  void relatch();

  double ratio() const { return 1.0 + correction_; }
  // The smoothed queue length (s) and the level held (s; 0 until latched).
  double smoothedQueue() const { return smoothed_; }
  double level() const { return level_; }
  bool running() const { return running_; }
  bool latched() const { return latched_; }

 private:
  bool armed_;
  bool started_ = false, latched_ = false, running_ = false;
  double age_ = 0.0;             // stream seconds seen
  double runTime_ = 0.0;         // stream seconds the loop has run
  double latchSum_ = 0.0, latchTime_ = 0.0;
  double level_ = 0.0, first_ = 0.0, smoothed_ = 0.0;  // two low-pass stages
  double integral_ = 0.0, correction_ = 0.0;
};

}  // namespace bw::audio
