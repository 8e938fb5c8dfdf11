// PCM conversion at every width, both swaps, and the two mends: 8-bit device
// samples are unsigned (centred on 128), and 24-bit output saturates before
// its 16-bit value is stored.
#include <gtest/gtest.h>

#include "dsp/pcm.h"
#include "support/engine_fixture.h"

namespace bw::test {
namespace {

class PcmTest : public ::testing::Test {
 protected:
  static constexpr int kN = 256;  // frames a block
  std::vector<double> inI = std::vector<double>(2 * kN),
                      inQ = std::vector<double>(2 * kN);
  std::vector<std::int32_t> outLeft = std::vector<std::int32_t>(2 * kN),
                            outRight = std::vector<std::int32_t>(2 * kN);
  void unpack(const std::uint8_t* buffer, int bits, std::uint32_t swap) {
    unpackCapture(buffer, bits, swap, kN, inI.data(), inQ.data());
  }
  void packOut(std::uint8_t* buffer, int bits, std::uint32_t swap) {
    packPlayback(buffer, bits, swap, kN, outLeft.data(), outRight.data());
  }
  std::vector<std::uint8_t> frameBuffer(int bits, std::vector<std::uint8_t> first) {
    std::vector<std::uint8_t> buffer(kN * 2 * bits / 8, 0);
    std::copy(first.begin(), first.end(), buffer.begin());
    return buffer;
  }
  std::vector<std::uint8_t> pack(int bits, std::int32_t left, std::int32_t right,
                                 std::uint32_t swap = 0) {
    outLeft[0] = left;
    outRight[0] = right;
    std::vector<std::uint8_t> buffer(kN * 2 * bits / 8, 0xEE);
    packOut(buffer.data(), bits, swap);
    return {buffer.begin(), buffer.begin() + 2 * bits / 8};
  }
};

TEST_F(PcmTest, UnpacksEveryWidthWithSignAndScale) {
  struct Case {
    int bits;
    std::vector<std::uint8_t> frame;
    std::int32_t i, q;
  };
  const Case cases[] = {
      {8, {0x00, 0xFF}, -128, 127},  // unsigned bytes centred on 128
      {8, {0x80, 0x81}, 0, 1},
      {16, {0xFF, 0xFF, 0x01, 0x00}, -1, 1},
      {24, {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F}, -8388608, 8388607},
      {24, {0x01, 0x00, 0x00, 0xFF, 0xFF, 0xFF}, 1, -1},
      {32, {0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x7F}, INT32_MIN, INT32_MAX},
  };
  for (const Case& c : cases) {
    const auto buffer = frameBuffer(c.bits, c.frame);
    unpack(buffer.data(), c.bits, 0);
    EXPECT_EQ(inI[0], c.i) << c.bits;
    EXPECT_EQ(inQ[0], c.q) << c.bits;
    unpack(buffer.data(), c.bits, 0x10);
    EXPECT_EQ(inI[0], c.q) << c.bits << " swapped";
    EXPECT_EQ(inQ[0], c.i) << c.bits << " swapped";
  }
}

TEST_F(PcmTest, PacksEveryWidthAsTheFormatHoldsIt) {
  using Bytes = std::vector<std::uint8_t>;
  EXPECT_EQ(pack(16, 40000, -1), (Bytes{0x40, 0x9C, 0xFF, 0xFF}));  // wraps
  EXPECT_EQ(pack(32, INT32_MIN, 5), (Bytes{0, 0, 0, 0x80, 5, 0, 0, 0}));
  EXPECT_EQ(pack(24, 1, -32768), (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x80}));
  // 24-bit saturates instead of keeping the low 16 bits (0x11170 -> 0x7FFF).
  EXPECT_EQ(pack(24, 0x11170, -8388607), (Bytes{0x00, 0xFF, 0x7F, 0x00, 0x00, 0x80}));
  // 8-bit limits to -128..127 and stores value + 128.
  EXPECT_EQ(pack(8, 0, -1), (Bytes{0x80, 0x7F}));
  EXPECT_EQ(pack(8, 500, -500), (Bytes{0xFF, 0x00}));
}

TEST_F(PcmTest, SwapOutputExchangesChannelsWithinEachFrame) {
  for (int bits : {8, 16, 24, 32}) {
    const auto straight = pack(bits, 10, -20);
    const auto swapped = pack(bits, -20, 10, 0x20);
    EXPECT_EQ(straight, swapped) << bits;
  }
}

TEST_F(PcmTest, RoundTripKeepsSamplesAndTouchesOnlyTheFirstN) {
  const int n = kN;
  std::fill(inI.begin(), inI.end(), 77);
  std::vector<std::int32_t> i(n), q(n);
  for (int k = 0; k < n; ++k) {
    i[k] = (k * 131) % 65536 - 32768;
    q[k] = 32767 - (k * 71) % 65536;
  }
  const auto buffer = packFrames(i, q, 16);
  unpack(buffer.data(), 16, 0);
  EXPECT_TRUE(std::equal(i.begin(), i.end(), inI.begin()));
  EXPECT_TRUE(std::equal(q.begin(), q.end(), inQ.begin()));
  for (int k = n; k < 2 * kN; ++k) ASSERT_EQ(inI[k], 77);

  std::copy(i.begin(), i.end(), outLeft.begin());
  std::copy(q.begin(), q.end(), outRight.begin());
  std::vector<std::uint8_t> out(buffer.size());
  packOut(out.data(), 16, 0);
  EXPECT_EQ(out, buffer);
}

TEST_F(PcmTest, UnknownWidthConvertsNothing) {
  std::fill(inI.begin(), inI.end(), 9);
  const std::vector<std::uint8_t> buffer(4096, 0x12);
  unpack(buffer.data(), 12, 0);
  EXPECT_EQ(inI[0], 9);
  std::vector<std::uint8_t> out(4096, 0x34);
  packOut(out.data(), 12, 0);
  EXPECT_EQ(out, std::vector<std::uint8_t>(4096, 0x34));
}

}  // namespace
}  // namespace bw::test
