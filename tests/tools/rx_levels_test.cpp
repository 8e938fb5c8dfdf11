// brackwell-rx's output levels and start: a float recording comes out at the
// level of its 16-bit copy in every gain mode, the automatic gain starts with
// the history of the first blocks (and --as-engine with the engine's empty
// one, which with the extensions off is the only difference), and clipping is
// reported.
// Levels are measured from the output samples.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "dsp/receive_chain.h"
#include "dsp/receive_params.h"
#include "pcm_layout.h"
#include "rx_test_support.h"

namespace bw::rx::test {
namespace {

constexpr int kRate = 48000;
constexpr std::size_t kBlock = 2048;  // default order 11
constexpr int kHold = 10;             // the console's AGC hold

double dB(double ratio) { return 20.0 * std::log10(ratio); }

class LevelsTest : public RxTest {
 protected:
  // Runs `input` with `options`; the output's left channel at 16-bit scale
  // (1.0 = 32768 for a float output), and what the program said.
  std::vector<double> run(const fs::path& input, std::vector<std::string> options,
                          std::string* said = nullptr) {
    options.push_back(input.string());
    options.push_back(file("out.wav").string());
    const RunResult r = runRx(options);
    EXPECT_EQ(r.exitCode, 0) << r.errorText;
    if (said) *said = r.errorText;
    return readWav(file("out.wav")).channel(0, 16);
  }
};

TEST_F(LevelsTest, FloatComesOutAtTheLevelOfItsSixteenBitCopyInEveryGainMode) {
  const Frames loud = complexTone(8000, 1500, kRate, 12 * kBlock);
  const Frames quiet = complexTone(100, 1500, kRate, 12 * kBlock);
  struct Mode { const Frames* signal; std::vector<std::string> options; };
  const Mode modes[] = {{&loud, {}},
                        {&quiet, {"--gain", "5"}},  // the ceiling holds it
                        {&loud, {"--fixed-gain", "2"}},
                        {&loud, {"--hold", "1", "--output-gain", "0.25"}}};
  for (const Mode& m : modes) {
    SCOPED_TRACE(m.options.empty() ? "AGC" : m.options.front() + " " + m.options[1]);
    writeWav(file("in16.wav"), *m.signal, kRate, Storage::Pcm16);
    writeWav(file("inf.wav"), *m.signal, kRate, Storage::Float);
    const double level16 = rms(run(file("in16.wav"), m.options), 2 * kBlock, 8 * kBlock);
    const auto floatOut = run(file("inf.wav"), m.options);
    EXPECT_EQ(readWav(file("out.wav")).format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const double levelF = rms(floatOut, 2 * kBlock, 8 * kBlock);
    EXPECT_GT(level16, 10.0);
    EXPECT_NEAR(dB(levelF / level16), 0.0, 1.0);
  }
  // As the engine, a float recording is 32-bit PCM in and out.
  writeWav(file("inf.wav"), loud, kRate, Storage::Float);
  run(file("inf.wav"), {"--as-engine"});
  EXPECT_EQ(readWav(file("out.wav")).format, SF_FORMAT_WAV | SF_FORMAT_PCM_32);
}

TEST_F(LevelsTest, TheFirstBlocksAreHeardAndTheRestIsTheEngines) {
  // A tone that steps down after 4 blocks, so the first blocks' history is
  // not simply the steady one.
  Frames signal = complexTone(3000, 1200, kRate, 4 * kBlock);
  const Frames rest = complexTone(1200, 1200, kRate, 14 * kBlock);
  signal.insert(signal.end(), rest.begin(), rest.end());
  writeWav(file("in.wav"), signal, kRate, Storage::Pcm16);
  const auto engine = run(file("in.wav"), {"--as-engine"});
  const auto tool =
      run(file("in.wav"), {"--no-exact-tuning", "--no-auto-iq-balance", "--no-dc-removal"});
  ASSERT_EQ(engine.size(), tool.size());

  // The engine is silent while its history fills; the tool plays those
  // blocks (after the filter's start in block 0) at the engine's later level.
  const std::size_t lead = (kHold - 1) * kBlock;
  EXPECT_EQ(rms(engine, 0, lead), 0.0);
  const double steady = rms(engine, lead + kBlock, 4 * kBlock);
  EXPECT_GT(steady, 3000);
  for (std::size_t b = 1; b < kHold - 1; ++b) {
    EXPECT_GT(rms(tool, b * kBlock, kBlock), 0.3 * steady) << "block " << b;
  }
  // From the blocks the AGC holds on, the output is the engine's.
  for (std::size_t n = kHold * kBlock; n < tool.size(); ++n) {
    ASSERT_EQ(tool[n], engine[n]) << "frame " << n;
  }

  // A recording shorter than the history is heard too.
  writeWav(file("short.wav"), complexTone(3000, 1200, kRate, 3 * kBlock), kRate,
           Storage::Pcm16);
  EXPECT_GT(rms(run(file("short.wav"), {}), kBlock, 2 * kBlock), 5000);
}

TEST_F(LevelsTest, ClippingIsReportedInOneLine) {
  const Frames signal = complexTone(8000, 1500, kRate, 6 * kBlock);
  writeWav(file("in24.wav"), signal, kRate, Storage::Pcm24);
  writeWav(file("in16.wav"), signal, kRate, Storage::Pcm16);
  const std::string line = "% of the output samples are clipped";
  std::string said;
  // 24 bits play as 16: a fixed gain of 1 makes a square wave of the tone.
  const auto square = run(file("in24.wav"), {"--fixed-gain", "1"}, &said);
  EXPECT_GT(rms(square, kBlock, 4 * kBlock), 32000);
  EXPECT_NE(said.find(line), std::string::npos) << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;  // and the summary
  run(file("in24.wav"), {"--fixed-gain", "0.0039"}, &said);
  EXPECT_EQ(said.find(line), std::string::npos) << said;
  run(file("in16.wav"), {"--fixed-gain", "1"}, &said);
  EXPECT_EQ(said.find(line), std::string::npos) << said;
}

// --as-engine is the engine's chain itself: the same blocks through a
// ReceiveChain here give the same samples, for 16 bits and for float (which
// the engine takes as 32-bit samples). Both processes plan their transforms
// from the wisdom the program leaves in a cache folder of the test's own, so
// that they use the same FFTW algorithms.
TEST_F(LevelsTest, AsEngineIsTheChainBitForBit) {
  constexpr int kOrder = 8;
  constexpr std::size_t kFrames = std::size_t{1} << kOrder;
  const char* oldCache = std::getenv("XDG_CACHE_HOME");
  const std::string savedCache = oldCache ? oldCache : "";
  setenv("XDG_CACHE_HOME", file("cache").c_str(), 1);
  Frames signal = complexTone(3000, 1200, kRate, 12 * kFrames);
  const Frames rest = complexTone(700, -900, kRate, 20 * kFrames + 30);
  signal.insert(signal.end(), rest.begin(), rest.end());
  for (const auto& [storage, bits] : {std::pair{Storage::Pcm16, 16}, {Storage::Float, 32}}) {
    SCOPED_TRACE(bits);
    writeWav(file("in.wav"), signal, kRate, storage);
    run(file("in.wav"), {"--as-engine", "--jobs", "1", "--order", std::to_string(kOrder)});
    const Recording out = readWav(file("out.wav"));

    std::vector<double> spectrum(2 * kFrames);
    SpectrumSnapshot snapshot;
    snapshot.values = spectrum.data();
    snapshot.capacity = static_cast<std::int64_t>(spectrum.size());
    ReceiveChain chain(directPrimitives(), snapshot);
    ASSERT_TRUE(chain.configure({kOrder, kRate, bits}));
    const ReceiveParams params = consoleParams();
    std::vector<std::uint8_t> in(chain.bufferBytes()), played(chain.bufferBytes());
    std::vector<std::int32_t> block(2 * kFrames), expected;
    for (std::size_t at = 0; at < signal.size(); at += 2 * kFrames) {
      const std::size_t count = std::min(2 * kFrames, signal.size() - at);
      std::fill(block.begin(), block.end(), 0);
      for (std::size_t s = 0; s < count; ++s) block[s] = signal[at + s] * 65536;
      packEnginePcm(block.data(), block.size(), bits, in.data());
      chain.process(params, in.data(), played.data());
      unpackEnginePcm(played.data(), count, bits, block.data());
      expected.insert(expected.end(), block.begin(), block.begin() + count);
    }
    ASSERT_EQ(out.samples.size(), expected.size());
    EXPECT_TRUE(out.samples == expected);
  }
  if (oldCache) {
    setenv("XDG_CACHE_HOME", savedCache.c_str(), 1);
  } else {
    unsetenv("XDG_CACHE_HOME");
  }
}

}  // namespace
}  // namespace bw::rx::test
