// brackwell-rx on recordings with tones at known offsets: the audio comes out
// where the chain puts it. Expected frequencies and levels come from the
// chain's definition: with a fixed gain of 1 the band-pass has gain 1 in its
// passband, so a complex tone of amplitude A at +f (300 < f < 2700 Hz) gives
// a real tone A cos(2π f n / rate) on both channels; tuning by T Hz rotates
// by round(T / binWidth) bins raised to an even count.
#include <cmath>

#include "rx_test_support.h"

namespace bw::rx::test {
namespace {

constexpr int kRate = 48000;
constexpr int kBlock = 2048;          // default order 11
constexpr double kAmplitude = 10000;  // 16-bit units
// Blocks 1..4 of the output: block 0 holds the filter's start-up (the tail
// of the 2048-tap response is still building), the later ones are steady.
constexpr std::size_t kSteadyFrom = kBlock, kSteadyLength = 4 * kBlock;

class ReceiveTest : public RxTest {
 protected:
  // Writes `tone` (5 blocks and a partial one), runs brackwell-rx with
  // `options` and returns the output's left channel at 16-bit scale.
  std::vector<double> receive(const Frames& tone, std::vector<std::string> options) {
    writeWav(file("in.wav"), tone, kRate, Storage::Pcm16);
    options.push_back(file("in.wav").string());
    options.push_back(file("out.wav").string());
    const RunResult run = runRx(options);
    EXPECT_EQ(run.exitCode, 0) << run.errorText;
    const Recording out = readWav(file("out.wav"));
    EXPECT_EQ(out.frames(), static_cast<std::int64_t>(tone.size() / 2));
    EXPECT_EQ(out.channel(0), out.channel(1)) << "MonoOutput: both channels alike";
    return out.channel(0, 16);
  }
  static Frames tone(double frequencyHz) {
    return complexTone(kAmplitude, frequencyHz, kRate, 5 * kBlock + 777);
  }
  static double amplitudeAt(const std::vector<double>& x, double f) {
    return toneAmplitude(x, f, kRate, kSteadyFrom, kSteadyLength);
  }
  static double level(const std::vector<double>& x) {
    return rms(x, kSteadyFrom, kSteadyLength);
  }
};

TEST_F(ReceiveTest, UpperSidebandToneComesOutAtItsOffsetWithItsAmplitude) {
  const auto audio = receive(tone(1500), {"--fixed-gain", "1"});
  EXPECT_NEAR(amplitudeAt(audio, 1500), kAmplitude, 0.01 * kAmplitude);
  // Nothing else: a pure tone's RMS is its amplitude / sqrt(2).
  EXPECT_NEAR(level(audio), kAmplitude / std::sqrt(2.0), 0.01 * kAmplitude);
}

TEST_F(ReceiveTest, TuningRotatesByAnEvenNumberOfBinsAsTheEngineAndExactlyByDefault) {
  // As the engine: 1000 / 11.71875 = 85.33 -> 85 -> 86 bins = 1007.8125 Hz.
  const double expected = 1500 - 86 * (kRate / 4096.0);
  const auto audio =
      receive(tone(1500), {"--fixed-gain", "1", "--tune", "1000", "--as-engine"});
  EXPECT_NEAR(amplitudeAt(audio, expected), kAmplitude, 0.01 * kAmplitude);
  EXPECT_NEAR(level(audio), kAmplitude / std::sqrt(2.0), 0.01 * kAmplitude);
  // With exact tuning (on by default) the tone lands 1000 Hz down.
  const auto exact = receive(tone(1500), {"--fixed-gain", "1", "--tune", "1000"});
  EXPECT_NEAR(amplitudeAt(exact, 500), kAmplitude, 0.01 * kAmplitude);
}

TEST_F(ReceiveTest, LowerSidebandRejectsAToneAboveTheCentreAndPassesOneBelow) {
  const auto above = receive(tone(1500), {"--fixed-gain", "1", "--lsb"});
  EXPECT_LT(level(above), 0.01 * kAmplitude);
  const auto below = receive(tone(-1500), {"--fixed-gain", "1", "--lsb"});
  EXPECT_NEAR(amplitudeAt(below, 1500), kAmplitude, 0.01 * kAmplitude);
}

TEST_F(ReceiveTest, SwappingIAndQMirrorsTheBand) {
  // A tone below the centre is outside the upper sideband...
  const auto plain = receive(tone(-1500), {"--fixed-gain", "1"});
  EXPECT_LT(level(plain), 0.01 * kAmplitude);
  // ...and Q + jI = j·conj(I + jQ) puts it above, where it is received.
  const auto swapped = receive(tone(-1500), {"--fixed-gain", "1", "--swap-iq"});
  EXPECT_NEAR(amplitudeAt(swapped, 1500), kAmplitude, 0.01 * kAmplitude);
}

TEST_F(ReceiveTest, OutputHasTheInputsFrameCountRateAndWidth) {
  struct Case { std::int64_t frames; const char* order; };
  for (const Case c : {Case{0, "11"}, Case{1, "11"}, Case{2047, "11"},
                       Case{2048, "11"}, Case{2049, "11"}, Case{1000, "8"}}) {
    writeWav(file("n.wav"), complexTone(1000, 700, 22050, c.frames), 22050,
             Storage::Pcm24);
    const RunResult run = runRx({"--order", c.order, file("n.wav"), file("o.wav")});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const Recording out = readWav(file("o.wav"));
    EXPECT_EQ(out.frames(), c.frames);
    EXPECT_EQ(out.rate, 22050);
    EXPECT_EQ(out.channels, 2);
    EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
  }
}

TEST_F(ReceiveTest, EightBitRecordingsStayUnsignedEightBit) {
  // 100 units at 8 bits = 25600 at 16-bit scale.
  writeWav(file("in8.wav"), complexTone(25600, 1500, kRate, 6 * kBlock), kRate,
           Storage::U8);
  const RunResult run = runRx({"--fixed-gain", "1", file("in8.wav"), file("out8.wav")});
  ASSERT_EQ(run.exitCode, 0) << run.errorText;
  const Recording out = readWav(file("out8.wav"));
  EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_PCM_U8);
  const auto audio = out.channel(0, 24);
  // Rounding to 8 bits on the way in and out: about one unit.
  EXPECT_NEAR(toneAmplitude(audio, 1500, kRate, kSteadyFrom, kSteadyLength), 100, 2);
  EXPECT_NEAR(rms(audio, kSteadyFrom, kSteadyLength), 100 / std::sqrt(2.0), 2);
}

// The same recording stored at 16, 24, 32 bits and as float is the same
// signal scaled by a power of two, and the AGC takes the scale out: the
// engine plays the same 16-bit-scale values for all four. The 24-bit output
// carries them in its top 16 bits, the 32-bit output as they are, the float
// output at the 16-bit recording's level.
TEST_F(ReceiveTest, EveryInputWidthGivesTheSameAudio) {
  Frames signal = complexTone(9000, 1200, kRate, 8 * kBlock + 100);
  const Frames second = complexTone(3000, -2000, kRate, 8 * kBlock + 100);
  for (std::size_t s = 0; s < signal.size(); ++s) signal[s] += second[s];

  struct Case { Storage storage; int shift; int format; };
  const Case cases[] = {{Storage::Pcm16, 16, SF_FORMAT_PCM_16},
                        {Storage::Pcm24, 16, SF_FORMAT_PCM_24},
                        {Storage::Pcm32, 0, SF_FORMAT_PCM_32},
                        {Storage::Float, 16, SF_FORMAT_FLOAT}};
  std::vector<std::vector<double>> outputs;
  for (const Case& c : cases) {
    writeWav(file("w.wav"), signal, kRate, c.storage);
    const RunResult run = runRx({"--hold", "1", file("w.wav"), file("w_out.wav")});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const Recording out = readWav(file("w_out.wav"));
    EXPECT_EQ(out.format, SF_FORMAT_WAV | c.format);
    outputs.push_back(out.channel(0, c.shift));
  }
  // The AGC brings the peak to 16384: the audio is really there.
  EXPECT_GT(rms(outputs[0], kSteadyFrom, kSteadyLength), 5000);
  for (std::size_t k = 1; k < outputs.size(); ++k) {
    ASSERT_EQ(outputs[k].size(), outputs[0].size());
    double worst = 0;
    for (std::size_t n = 0; n < outputs[0].size(); ++n) {
      worst = std::max(worst, std::abs(outputs[k][n] - outputs[0][n]));
    }
    EXPECT_LE(worst, 1.0) << "storage " << k << " differs beyond rounding";
  }
}

}  // namespace
}  // namespace bw::rx::test
