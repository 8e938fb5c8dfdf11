// Playback on a clock of its own: a simulated hour of capture blocks and
// playback periods on clocks that differ, driven by hand much faster than
// real time, through the playback stream and its rate matcher.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <numbers>
#include <utility>
#include <random>
#include <vector>

#include "audio/lost_audio_report.h"
#include "audio/pumped_playback.h"
#include "primitives/pcm_codec.h"

namespace bw::audio {
namespace {

constexpr std::uint32_t kRate = 48000, kBlock = 2048, kPeriod = 480;
constexpr int kSlots = 4;
constexpr double kTwoPi = 2 * std::numbers::pi;

class ClockedPlayback : public PumpedPlaybackStream {
 public:
  using PumpedPlaybackStream::PumpedPlaybackStream;
  using PumpedPlaybackStream::noteUnderrun;
  using PumpedPlaybackStream::readyFrames;
  using PumpedPlaybackStream::render;
  double time = 0;

 protected:
  double now() const override { return time; }
  Result startConsumer() override { return Result::Ok; }
  void stopConsumer() override {}
};

struct Clocks {
  double ppm;           // playback's clock against capture's
  double writeJitter;   // a block is written up to this late (s)
  double renderJitter;  // a period is pulled up to this late (s)
  // Frames pulled at once (0: kPeriod), as a sound server refilling its
  // buffer does, in two calls split at a random frame of the second half.
  std::uint32_t burst = 0;
  double start = 0;  // the first pull (s): a backlog builds before it
  // A device that stalls from stallAt for stallFor (s) and plays on: the
  // pulls it missed never come. With stallEvery, again every stallEvery s,
  // each of these told to the stream as a sound server's underflow is.
  double stallAt = 0, stallFor = 0, stallEvery = 0;
  // A device with a buffer of two pulls that takes only what the stream
  // has ready and the rest after the next write, as a sound server given
  // only what is queued does; it starts once it holds a pull.
  bool onlyReady = false;
};

// Streams `seconds` of 32-bit blocks made by `fill(first frame, pcm)` from
// a capture clock to a playback clock told that they differ, through a ring
// of kSlots buffers as the engine's capture notification uses it (a block
// whose buffer is still queued is dropped). `played(first frame, when it
// plays (s), pcm)` sees each period. Returns the blocks dropped and the
// underruns (less the stalls told, with the onlyReady device's gaps).
std::pair<std::uint64_t, std::uint64_t> stream(
    const Clocks& c, double seconds, const std::function<void(std::uint64_t, std::uint8_t*)>& fill,
    const std::function<void(std::uint64_t, double, const std::uint8_t*)>& played) {
  ClockedPlayback p({kFormatPcm, 2, kRate, kRate * 8, 8, 32, 0}, nullptr);
  p.matchClocks(true);
  const std::uint32_t period = c.burst != 0 ? c.burst : kPeriod;
  p.keepQueueNear(period + kRate / 200);  // as the sound-server backend does
  std::vector<std::uint8_t> buffers(kSlots * kBlock * 8), out(period * 8);
  std::vector<WaveHeader> headers(kSlots);
  for (int k = 0; k < kSlots; ++k) {
    headers[k].lpData = &buffers[k * kBlock * 8];
    headers[k].dwBufferLength = kBlock * 8;
    prepareHeader(headers[k]);
  }
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uint64_t dropped = 0, blocks = 0, periods = 0, told = 0;
  // The onlyReady device's buffer, and its gaps once started.
  std::vector<std::uint8_t> device(2 * period * 8);
  std::size_t held = 0;
  std::uint64_t dry = 0;
  bool started = false;
  const auto topUp = [&] {
    const std::size_t n = std::min(2 * period - held, p.readyFrames());
    if (n > 0) p.render(&device[8 * held], n, held);
    held += n;
  };
  const auto stalled = [&](double t) {
    const double since = t - c.stallAt;
    return since >= 0 && (c.stallEvery > 0 ? std::fmod(since, c.stallEvery) : since) < c.stallFor;
  };
  bool inStall = false;
  // When the playback clock is due to pull period n, before any jitter.
  const auto plays = [&](std::uint64_t frame) {
    return c.start + double(frame) / (kRate * (1 + c.ppm * 1e-6));
  };
  const auto due = [&](std::uint64_t n) { return plays(n * period); };
  double nextWrite = double(kBlock) / kRate + c.writeJitter * unit(random), nextRender = c.start;
  while (std::min(nextWrite, nextRender) < seconds) {
    if (nextWrite < nextRender) {
      p.time = nextWrite;
      WaveHeader& h = headers[blocks % kSlots];
      if (h.dwFlags.load() & kHeaderInQueue) {
        ++dropped;
      } else {
        fill(blocks * kBlock, h.lpData);
        p.write(h);
        if (c.onlyReady) topUp();
      }
      nextWrite = double(++blocks + 1) * kBlock / kRate + c.writeJitter * unit(random);
    } else if (stalled(nextRender)) {
      if (!inStall && c.stallEvery > 0) {
        p.time = nextRender;
        p.noteUnderrun();
        ++told;
      }
      inStall = true;
      nextRender = due(++periods);
    } else {
      inStall = false;
      p.time = nextRender;
      if (c.onlyReady) {
        // Plays a pull from its buffer (silence for what it lacks), then
        // asks for more.
        started = started || held >= period;
        const std::size_t n = started ? std::min<std::size_t>(held, period) : 0;
        dry += started && n < period;
        std::copy_n(device.begin(), 8 * n, out.begin());
        std::fill(out.begin() + 8 * n, out.end(), 0);
        std::memmove(device.data(), device.data() + 8 * n, 8 * (held - n));
        held -= n;
        topUp();
      } else {
        const std::uint32_t split =
            c.burst != 0 ? period / 2 + std::uint32_t(unit(random) * (period / 2 - 1)) : period;
        p.render(out.data(), split);
        if (split < period) p.render(out.data() + 8 * split, period - split);
      }
      for (std::uint32_t k = 0; k < period; k += kPeriod) {
        const std::uint64_t frame = std::uint64_t(periods) * period + k;
        played(frame, plays(frame), out.data() + 8 * k);
      }
      ++periods;
      nextRender = due(periods) + c.renderJitter * unit(random);
    }
  }
  return {dropped, p.counters().underruns - told + dry};
}

// Left and right at frame n: a 1 Hz cosine and sine at 2^30, so that the
// phase of what is played tells which frame it was.
struct TimeCode {
  std::vector<std::uint8_t> code = std::vector<std::uint8_t>(kRate * 8);  // one second
  double latency = 0.1;  // of the last frame measured (s)

  TimeCode() {
    for (std::uint32_t n = 0; n < kRate; ++n) {
      pcm::write<32>(&code[8 * n], std::lround(std::ldexp(std::cos(kTwoPi * n / kRate), 30)));
      pcm::write<32>(&code[8 * n + 4], std::lround(std::ldexp(std::sin(kTwoPi * n / kRate), 30)));
    }
  }
  void fill(std::uint64_t first, std::uint8_t* at) const {
    for (std::uint32_t k = 0; k < kBlock; ++k) {
      std::memcpy(at + 8 * k, &code[8 * ((first + k) % kRate)], 8);
    }
  }
  // The latency of the frame at pcm, played at playedAt (s): when it plays
  // less when it was captured. False for silence.
  bool measure(double playedAt, const std::uint8_t* pcm) {
    const double x = pcm::read<32>(pcm), y = pcm::read<32>(pcm + 4);
    if (std::hypot(x, y) < 1e8) return false;
    const double guess = playedAt - latency;
    latency = playedAt - (guess + std::remainder(std::atan2(y, x) / kTwoPi - guess, 1.0));
    return true;
  }
};

// Under a sanitizer every sample costs a hundred times as much: there five
// and a half simulated minutes check memory and threads, and the normal
// build holds the hour.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kHour = 330;
#else
constexpr double kHour = 3600;
#endif

TEST(RateMatcher, HoldsTheLatencyForAnHourOnClocksApart) {
  // The first pull comes late: the level is taken after the backlog that
  // leaves is trimmed, at the end of the first second. Half-way the device
  // stalls: the backlog that leaves is trimmed too, and the latency is back
  // within kBack, the ratio not wound away from the clocks'.
  constexpr double kSettled = 300, kLevelFrom = 1.5, kStart = 0.1;
  constexpr double kStallAt = (kSettled + kHour) / 2, kStall = 0.040, kBack = 20;
  for (const double ppm : {0.0, -1000.0, -100.0, 100.0, 1000.0}) {
    SCOPED_TRACE(ppm);
    // Latency of each period's first frame, from the phase of the time code.
    TimeCode t;
    const std::vector<std::uint8_t>& code = t.code;
    double target = 0, targetTime = 0, worst = 0;
    std::uint64_t next = 0;  // 0 ppm: the frame that must come out next, unchanged
    bool exact = true;
    const auto [dropped, underruns] = stream(
        {ppm, 0.010, 0.002, 960, kStart, kStallAt, kStall}, kHour,
        [&](std::uint64_t first, std::uint8_t* at) { t.fill(first, at); },
        [&](std::uint64_t frame, double playedAt, const std::uint8_t* pcm) {
          // On one clock the code comes out unchanged up to the stall; the
          // step may take the loop out of ratio 1 after it.
          for (const std::uint8_t* at = pcm;
               ppm == 0 && exact && frame < kStallAt * kRate && at < pcm + kPeriod * 8; at += 8) {
            if (std::equal(at, at + 8, &code[8 * (next % kRate)])) {
              ++next;
            } else if (!std::all_of(at, at + 8, [](std::uint8_t b) { return b == 0; })) {
              // Only the start-up backlog may be trimmed: the code goes on
              // from a later frame.
              std::uint64_t k = 0;
              while (k < kRate && !std::equal(at, at + 8, &code[8 * k])) ++k;
              exact = exact && frame < 5 * kRate && k < kRate;
              next += (k + kRate - next % kRate) % kRate + 1;
            }
          }
          if (!t.measure(playedAt, pcm)) return;
          const double latency = t.latency;
          if (playedAt > kLevelFrom && playedAt < kLevelFrom + 3) target += latency, targetTime += 1;
          if (playedAt > kSettled && (playedAt < kStallAt || playedAt > kStallAt + kBack)) {
            worst = std::max(worst, std::abs(latency - target / targetTime));
          }
        });
    EXPECT_EQ(dropped, 0u);
    EXPECT_EQ(underruns, 0u);
    EXPECT_LE(worst, 0.005) << "target " << target / targetTime;
    EXPECT_TRUE(exact && (ppm != 0 || next > (kStallAt - 1) * kRate));
    std::printf("%+6.0f ppm: latency %.1f ms, after %.0f s within %.2f ms of it\n", ppm,
                1e3 * target / targetTime, kSettled, 1e3 * worst);
  }
}

TEST(RateMatcher, StartsWithoutAGapOnClocksFarApart) {
  // A sound server's short period (256 frames) leaves the queue a few
  // milliseconds above dry: clocks a thousandth apart must not drain it
  // before the matcher has taken its level and runs. A server given only
  // what is ready is never given more than the matcher can play.
  for (const auto& [ppm, onlyReady] :
       {std::pair{-1000.0, false}, {1000.0, false}, {-1000.0, true}, {1000.0, true}}) {
    SCOPED_TRACE(testing::Message() << ppm << " ppm, only what is ready " << onlyReady);
    Clocks c{ppm, 0.002, 0.001, 256, 0.01};
    c.onlyReady = onlyReady;
    const auto [dropped, underruns] = stream(
        c, 120,
        [](std::uint64_t, std::uint8_t* at) { std::memset(at, 1, kBlock * 8); },
        [](std::uint64_t, double, const std::uint8_t*) {});
    EXPECT_EQ(dropped + underruns, 0u);
  }
}

TEST(RateMatcher, TrimsWhatAServerMissedAtEachGapItReports) {
  // A sound server that runs dry for 12 ms every 10 s and says so (its
  // underflow) plays on without what it missed. Each rise that leaves in the
  // queue is trimmed: a second and a half after each gap the latency is back
  // near where it was before the first, the loop not wound away from the
  // clocks by rises it took for drift.
  constexpr double kStart = 0.01, kFrom = 60, kEvery = 10, kGap = 0.012, kBack = 1.5;
  for (const double ppm : {-100.0, 100.0}) {
    SCOPED_TRACE(ppm);
    TimeCode t;
    double before = 0, worst = 0;
    const auto [dropped, underruns] = stream(
        {ppm, 0.002, 0.001, 256, kStart, kFrom, kGap, kEvery}, 600,
        [&](std::uint64_t first, std::uint8_t* at) { t.fill(first, at); },
        [&](std::uint64_t, double playedAt, const std::uint8_t* pcm) {
          if (!t.measure(playedAt, pcm)) return;
          if (playedAt < kFrom) before = t.latency;
          if (playedAt > kFrom && std::fmod(playedAt - kFrom, kEvery) > kBack) {
            worst = std::max(worst, std::abs(t.latency - before));
          }
        });
    EXPECT_EQ(dropped + underruns, 0u);
    EXPECT_LE(worst, 0.004);
    std::printf("%+6.0f ppm: within %.2f ms of the latency before the gaps\n", ppm, 1e3 * worst);
  }
}

// Power of what is left of y after the best a cos(wm) + b sin(wm) (least
// squares), over the power of that tone.
double residualOverTone(const std::vector<double>& y, double w) {
  double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
  for (std::size_t m = 0; m < y.size(); ++m) {
    const double c = std::cos(w * m), s = std::sin(w * m);
    cc += c * c, ss += s * s, cs += c * s, yc += y[m] * c, ys += y[m] * s;
  }
  const double a = (yc * ss - ys * cs) / (cc * ss - cs * cs);
  const double b = (ys * cc - yc * cs) / (cc * ss - cs * cs);
  double residual = 0;
  for (std::size_t m = 0; m < y.size(); ++m) {
    residual += std::pow(y[m] - a * std::cos(w * m) - b * std::sin(w * m), 2);
  }
  return residual / ((a * a + b * b) / 2 * y.size());
}

TEST(RateMatcher, KeepsATonePureAt100Ppm) {
  // A 1 kHz tone at -6 dB, settled for 400 s, then five seconds played,
  // each measured: the loop's ratio drifts by a little over seconds, and
  // one second alone may catch it straight or at a bend.
  constexpr double kTone = 1000, kFrom = 400;
  constexpr int kSeconds = 5;
  for (const bool onlyReady : {false, true}) {
    SCOPED_TRACE(testing::Message() << "only what is ready " << onlyReady);
    Clocks c{100, 0.002, 0.001, 960};
    c.onlyReady = onlyReady;
    std::vector<double> left;
    stream(
        c, kFrom + kSeconds,
        [](std::uint64_t first, std::uint8_t* at) {
          for (std::uint32_t k = 0; k < kBlock; ++k, at += 8) {
            const double v = std::ldexp(std::sin(kTwoPi * kTone * double(first + k) / kRate), 30);
            pcm::write<32>(at, static_cast<std::int32_t>(std::lround(v)));
            pcm::write<32>(at + 4, static_cast<std::int32_t>(std::lround(v)));
          }
        },
        [&](std::uint64_t frame, double, const std::uint8_t* pcm) {
          if (frame < kFrom * kRate) return;
          for (std::uint32_t k = 0; k < kPeriod; ++k) left.push_back(pcm::read<32>(pcm + 8 * k));
        });
    std::vector<double> sinads;
    for (int s = 0; s < kSeconds; ++s) {
      const std::vector<double> second(left.begin() + s * kRate, left.begin() + (s + 1) * kRate);
      // The tone comes out at its frequency over the clocks' ratio, to
      // within what the control has left: the best frequency near that.
      const double w = kTwoPi * kTone / kRate / (1 + 100e-6);
      double lo = w * (1 - 5e-6), hi = w * (1 + 5e-6);
      for (int k = 0; k < 50; ++k) {
        const double a = hi - (hi - lo) * 0.618, b = lo + (hi - lo) * 0.618;
        const bool lower = residualOverTone(second, a) < residualOverTone(second, b);
        (lower ? hi : lo) = lower ? b : a;
      }
      sinads.push_back(-10 * std::log10(residualOverTone(second, (lo + hi) / 2)));
    }
    std::sort(sinads.begin(), sinads.end());
    EXPECT_GE(sinads[kSeconds / 2], 90.0);
    std::printf("SINAD over %d s: %.1f to %.1f dB, median %.1f\n", kSeconds, sinads.front(),
                sinads.back(), sinads[kSeconds / 2]);
  }
}

TEST(LostAudioReport, SaysWhatWasLostAtMostOnceAMinute) {
  LostAudioReport r;
  testing::internal::CaptureStderr();
  r.check(0, 0, 1.0, 0.05, 10);       // nothing lost
  r.check(2, 1, 1.0001, 0.0632, 20);  // said
  r.check(3, 1, 1.0001, 0.0632, 79);  // held: said a minute after the last
  r.check(3, 1, 1.0001, -1, 80);
  r.check(3, 1, 1.0001, -1, 200);     // nothing more lost
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Brackwell: audio lost in playback: blocks dropped 2, silent gaps 1 (since the start "
            "2 and 1); rate ratio 1.000100, queue latency 63.2 ms\n"
            "Brackwell: audio lost in playback: blocks dropped 1, silent gaps 0 (since the start "
            "3 and 1); rate ratio 1.000100, queue latency unknown\n");
}

}  // namespace
}  // namespace bw::audio
