// The parts of brackwell-rx called directly: option parsing, sample layout
// conversion and spectrum averaging. Expected values are hand-computed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "number_parse.h"
#include "options.h"
#include "pcm_layout.h"
#include "spectrum_average.h"

namespace bw::rx {
namespace {

ParseResult parse(std::vector<std::string_view> args) {
  args.push_back("in.wav");
  args.push_back("out.wav");
  return parseOptions(args);
}

// Every field, the mode's tail and the version byte too.
std::vector<std::uint8_t> encoded(const ReceiveParams& p) {
  std::vector<std::uint8_t> block(SDR_PARAM_BLOCK_V2_BYTES);
  sdrEncodeParamsV2(&p, &p.modes, block.data());
  block[0] = p.version;
  return block;
}

// Without options the block is the console's with every extension on; as
// the engine, the console's own (extensions word 0).
TEST(RxOptions, WithoutOptionsTheBlockIsTheConsolesWithTheExtensions) {
  const ParseResult r = parse({});
  ASSERT_TRUE(r.ok()) << r.error;
  ReceiveParams withExtensions = consoleParams();
  withExtensions.extensions = 0x7;
  EXPECT_EQ(encoded(r.options.params), encoded(withExtensions));
  EXPECT_EQ(r.options.params.flags, 0x00106F80u);
  EXPECT_FALSE(r.options.asEngine);
  for (const auto& args : {std::vector<std::string_view>{"--as-engine"},
                           {"--no-exact-tuning", "--no-auto-iq-balance", "--no-dc-removal"}}) {
    const ParseResult off = parse(args);
    ASSERT_TRUE(off.ok()) << off.error;
    EXPECT_EQ(encoded(off.options.params), encoded(consoleParams())) << args.front();
  }
  EXPECT_EQ(r.options.order, 11);
  EXPECT_EQ(r.options.inputPath, "in.wav");
  EXPECT_EQ(r.options.outputPath, "out.wav");
}

// Each option changes its own field and nothing else in the block.
TEST(RxOptions, EachOptionChangesOneField) {
  struct Case {
    std::vector<std::string_view> args;
    void (*expect)(ReceiveParams&);
  };
  const Case cases[] = {
      {{"--tune", "-1000"}, [](ReceiveParams& p) { p.tuneOffsetHz = -1000; }},
      {{"--low=400"}, [](ReceiveParams& p) { p.lowCutHz = 400; }},
      {{"--high", "3000"}, [](ReceiveParams& p) { p.highCutHz = 3000; }},
      {{"--lsb"}, [](ReceiveParams& p) { p.flags = 0x00206F80; }},
      {{"--fixed-gain", "2.5"}, [](ReceiveParams& p) { p.flags &= ~0x800u; p.gain = 2.5; }},
      {{"--gain", "1e2"}, [](ReceiveParams& p) { p.gain = 100; }},
      {{"--hold", "3"}, [](ReceiveParams& p) { p.agcBlocks = 3; }},
      {{"--squelch", "12.5"}, [](ReceiveParams& p) { p.squelchLevel = 12.5; }},
      {{"--no-squelch"}, [](ReceiveParams& p) { p.flags &= ~0x2000u; }},
      {{"--output-gain", "0.5"}, [](ReceiveParams& p) { p.outputGain = 0.5; }},
      {{"--phase-coef", "-0.01"}, [](ReceiveParams& p) { p.iqPhaseCoef = -0.01; }},
      {{"--gain-coef", "0.02"}, [](ReceiveParams& p) { p.iqGainCoef = 0.02; }},
      {{"--swap-iq"}, [](ReceiveParams& p) { p.flags |= 0x10u; }},
      {{"--flags", "0x4000"}, [](ReceiveParams& p) { p.flags = 0x4000; }},
      {{"--no-exact-tuning"}, [](ReceiveParams& p) { p.extensions = 0x6; }},
      {{"--no-auto-iq-balance"}, [](ReceiveParams& p) { p.extensions = 0x5; }},
      {{"--no-dc-removal"}, [](ReceiveParams& p) { p.extensions = 0x3; }},
      {{"--no-dc-removal", "--dc-removal"}, [](ReceiveParams&) {}},
      {{"--minimum-phase"}, [](ReceiveParams& p) { p.extensions |= 0x10; }},
      // A mode other than single sideband, or a tool: version 2 with the
      // mode's own passband unless an edge is given.
      {{"--mode", "am"},
       [](ReceiveParams& p) { p.version = 2, p.modes.mode = 3, p.lowCutHz = 100, p.highCutHz = 4500; }},
      {{"--pitch", "600", "--mode", "cwr", "--low", "300"},
       [](ReceiveParams& p) { p.version = 2, p.modes = {2, 600, 0, 0, 0, 0, 0}, p.highCutHz = 850; }},
      {{"--mode", "lsb"}, [](ReceiveParams& p) { p.flags = 0x00206F80; }},
      {{"--lsb", "--mode", "usb"}, [](ReceiveParams&) {}},
      {{"--nb", "--notch", "--nr"}, [](ReceiveParams& p) { p.version = 2, p.modes.tools = 7; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    const ParseResult r = parse(c.args);
    ASSERT_TRUE(r.ok()) << r.error;
    ReceiveParams expected = toolParams();
    c.expect(expected);
    EXPECT_EQ(encoded(r.options.params), encoded(expected));
  }
}

TEST(RxOptions, TheFlagsWordAndAsEngineComeFirstWhereverTheyStand) {
  const ParseResult r = parse({"--lsb", "--swap-iq", "--flags", "106F80"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.options.params.flags, 0x00206F90u);
  // An extension switched on stays on around --as-engine.
  for (const auto& args : {std::vector<std::string_view>{"--dc-removal", "--as-engine"},
                           {"--as-engine", "--dc-removal"}}) {
    const ParseResult e = parse(args);
    ASSERT_TRUE(e.ok()) << e.error;
    EXPECT_TRUE(e.options.asEngine);
    EXPECT_EQ(e.options.params.extensions, 0x4u) << args.front();
  }
}

TEST(RxOptions, OrderSpectrumAndHelp) {
  const ParseResult r = parse({"--order", "16", "--spectrum", "s.csv"});
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.options.order, 16);
  EXPECT_EQ(r.options.spectrumPath, "s.csv");
  const std::vector<std::string_view> help = {"--help"};
  EXPECT_TRUE(parseOptions(help).options.showHelp);
  for (const char* name : {"--no-exact-tuning", "--no-auto-iq-balance", "--no-dc-removal",
                           "--exact-tuning", "--auto-iq-balance", "--dc-removal", "--mode",
                           "--pitch", "--nb", "--notch", "--nr"}) {
    EXPECT_NE(usageText().find(name), std::string::npos) << name;
  }
  // After "--" a name starting with '-' is a file.
  const std::vector<std::string_view> dashed = {"--", "-in.wav", "out.wav"};
  EXPECT_EQ(parseOptions(dashed).options.inputPath, "-in.wav");
}

TEST(RxOptions, ChecksAgainstTheSampleRate) {
  RxOptions o;
  o.params.tuneOffsetHz = 4000;
  EXPECT_EQ(checkAgainstRate(o, 8000), "");
  o.params.tuneOffsetHz = -4001;
  EXPECT_NE(checkAgainstRate(o, 8000).find("--tune"), std::string::npos);
  o.params.tuneOffsetHz = 0;
  o.params.highCutHz = 4000;  // half of 8000 Hz: no band-pass reaches it
  EXPECT_NE(checkAgainstRate(o, 8000).find("--high"), std::string::npos);
  EXPECT_EQ(checkAgainstRate(o, 11025), "");
}

TEST(RxNumbers, OnlyWholeNumbersOfTheirKind) {
  EXPECT_EQ(parseInt32("-2147483648"), std::numeric_limits<std::int32_t>::min());
  for (std::string_view bad : {"", " 1", "1 ", "+1", "1.0", "0x10", "2147483648", "12abc"}) {
    EXPECT_FALSE(parseInt32(bad)) << bad;
  }
  EXPECT_EQ(parseFiniteDouble("1.5e3"), 1500.0);
  EXPECT_EQ(parseFiniteDouble("-0.25"), -0.25);
  for (std::string_view bad : {"", "nan", "inf", "-inf", "1e400", "1,5", "0x1p3", "1.5x"}) {
    EXPECT_FALSE(parseFiniteDouble(bad)) << bad;
  }
  EXPECT_EQ(parseHex32("0x00106F80"), 0x00106F80u);
  EXPECT_EQ(parseHex32("FFFFFFFF"), 0xFFFFFFFFu);
  for (std::string_view bad : {"", "0x", "-1", "+1", "100000000", "0xg", "1 "}) {
    EXPECT_FALSE(parseHex32(bad)) << bad;
  }
}

// Byte layouts worked by hand: 16-bit -1 is FF FF; 24-bit -8388608 is
// 00 00 80; 8-bit samples are offset by 128 (-1 is 7F); 32-bit is stored
// whole.
TEST(RxPcmLayout, PacksTheTopBitsInTheEnginesLayout) {
  const std::int32_t fullScale[] = {-65536, 1 << 16, INT32_MIN, 0x7FFF0000, 0, -(1 << 24)};
  std::uint8_t pcm16[12], pcm24[18], pcm8[6], pcm32[24];
  packEnginePcm(fullScale, 6, 16, pcm16);
  packEnginePcm(fullScale, 6, 24, pcm24);
  packEnginePcm(fullScale, 6, 8, pcm8);
  packEnginePcm(fullScale, 6, 32, pcm32);
  const std::uint8_t want16[] = {0xFF, 0xFF, 0x01, 0x00, 0x00, 0x80,
                                 0xFF, 0x7F, 0x00, 0x00, 0x00, 0xFF};
  const std::uint8_t want24[] = {0x00, 0xFF, 0xFF, 0x00, 0x01, 0x00, 0x00, 0x00, 0x80,
                                 0x00, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF};
  const std::uint8_t want8[] = {0x7F, 0x80, 0x00, 0xFF, 0x80, 0x7F};
  EXPECT_EQ(std::memcmp(pcm16, want16, sizeof want16), 0);
  EXPECT_EQ(std::memcmp(pcm24, want24, sizeof want24), 0);
  EXPECT_EQ(std::memcmp(pcm8, want8, sizeof want8), 0);
  EXPECT_EQ(std::memcmp(pcm32, fullScale, sizeof pcm32), 0);  // little-endian host

  // Back again: exact for values with nothing below the width's bits.
  for (int bits : {16, 24, 32}) {
    std::uint8_t pcm[24];
    std::int32_t back[6];
    packEnginePcm(fullScale, 6, bits, pcm);
    unpackEnginePcm(pcm, 6, bits, back);
    for (int s = 0; s < 6; ++s) EXPECT_EQ(back[s], fullScale[s]) << bits << " bits";
  }
  std::int32_t back8[6];
  unpackEnginePcm(want8, 6, 8, back8);
  EXPECT_EQ(back8[2], INT32_MIN);  // byte 0x00 = -128
  EXPECT_EQ(back8[5], -(1 << 24));
}

TEST(RxPcmLayout, FloatSaturatesAtFullScale) {
  EXPECT_EQ(floatToFullScale(0.5), 1 << 30);
  EXPECT_EQ(floatToFullScale(-1.0), INT32_MIN);
  EXPECT_EQ(floatToFullScale(1.0), INT32_MAX);   // 2^31 does not fit: clamped
  EXPECT_EQ(floatToFullScale(7.0), INT32_MAX);   // no wrap
  EXPECT_EQ(floatToFullScale(-1e300), INT32_MIN);
  EXPECT_EQ(floatToFullScale(std::nan("")), 0);
  EXPECT_EQ(floatToFullScale(-1.0 / 65536), -32768);
}

// M = 8, bin width 10 Hz: rows for bins 4..6 (-40..-20 Hz), then 0..3.
TEST(RxSpectrum, AveragesSnapshotsInFrequencyOrder) {
  SpectrumAverage average(8);
  const double a[8] = {1, 10, 100, 1000, 0, 2, 20, 99};
  const double b[8] = {3, 10, 100, 1000, 0, 6, 20, 99};
  average.add(a);
  average.add(b);
  const auto points = average.points(10.0);
  ASSERT_EQ(points.size(), 7u);
  const double hz[7] = {-40, -30, -20, 0, 10, 20, 30};
  const double db[7] = {kFloorDb, 20 * std::log10(4.0), 20 * std::log10(20.0), 20 * std::log10(2.0),
                        20, 40, 60};
  for (int k = 0; k < 7; ++k) {
    EXPECT_DOUBLE_EQ(points[k].frequencyHz, hz[k]) << k;
    EXPECT_NEAR(points[k].levelDb, db[k], 1e-12) << k;
  }
  EXPECT_EQ(spectrumCsv({points[0], points[6]}),
            "frequency_hz,level_db\n-40.000000,-200.000\n30.000000,60.000\n");
}

}  // namespace
}  // namespace bw::rx
