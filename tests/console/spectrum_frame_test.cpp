// The spectrum picture and the signal readout text, checked pixel by pixel
// against the drawing rules: level = 20 log10(32768 / (S / 8192)) dB, one row
// per dB from the top, column from the bottom edge up to that row, red grid
// rows 13j over everything, and bin (2048 - 8x) AND 4095 in column x.
#include <QTest>
#include <cfenv>
#include <cmath>
#include <limits>
#include <vector>

#include "views/spectrum_frame.h"

using namespace lanternfly;

namespace {

constexpr int kOrder = 11;
constexpr int kBins = 4096;
constexpr double kFullScale = 268435456.0;  // 2^28 = 32768 * 8192: level 0 dB
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kYellow = qRgb(200, 200, 0);
const QRgb kRed = qRgb(200, 0, 0);

bool isGridRow(int y) { return y % 13 == 0 && y >= 13 && y <= 195; }

// The bin of column x written out case by case: x = 0 shows 2048, x = 1..256
// count down 2040..0, x = 257..511 count down 4088..2056.
int expectedBin(int x) {
  if (x == 0) return 2048;
  if (x <= 256) return 2048 - 8 * x;
  return 4096 + 2048 - 8 * x;
}

// A magnitude whose level is `db` plus half a decibel, so truncation gives
// exactly `db` whatever the last bit of the logarithm.
double binForLevel(int db) { return kFullScale / std::pow(10.0, (db + 0.5) / 20.0); }

// Checks column x: grid rows red, rows from `top` down yellow, rows above it
// black. top >= 200 means no column.
void checkColumn(const QImage& image, int x, int top) {
  for (int y = 0; y < 200; ++y) {
    const QRgb want = isGridRow(y) ? kRed : (y >= top ? kYellow : kBlack);
    if (image.pixel(x, y) != want) {
      QFAIL(qPrintable(QStringLiteral("x %1 y %2: got %3, want %4 (column top %5)")
                           .arg(x)
                           .arg(y)
                           .arg(image.pixel(x, y), 8, 16)
                           .arg(want, 8, 16)
                           .arg(top)));
    }
  }
}

void checkAllColumns(const QImage& image, int top) {
  QCOMPARE(image.size(), QSize(512, 200));
  for (int x = 0; x < 512; ++x) {
    checkColumn(image, x, top);
    if (QTest::currentTestFailed()) return;
  }
}

}  // namespace

class SpectrumFrameTest : public QObject {
  Q_OBJECT
 private slots:
  void columnTopFollowsTheLevel() {
    // One magnitude in every bin; the top row each column must reach (200:
    // no column, only background and grid).
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
      double magnitude;
      int top;
    } cases[] = {
        {kFullScale, 0},           // 0 dB fills the column
        {1.0e15, 0},               // stronger still: clipped to the picture
        {kFullScale / 10.0, 20},   // 20 dB: rows 20..199
        {binForLevel(199), 199},   // one row left
        {kFullScale * 1.0e-10, 200},  // exactly 200 dB: below the picture
        {1.0e-300, 200},
        {std::numeric_limits<double>::denorm_min(), 200},
        // No finite level: no column.
        {0.0, 200}, {-0.0, 200}, {-1.0, 200}, {-kFullScale, 200},
        {std::numeric_limits<double>::quiet_NaN(), 200}, {inf, 200}, {-inf, 200},
    };
    for (const auto& c : cases) {
      checkAllColumns(drawSpectrumFrame(std::vector<double>(kBins, c.magnitude), kOrder), c.top);
      if (QTest::currentTestFailed()) {
        qWarning("for a magnitude of %g", c.magnitude);
        return;
      }
    }
  }

  void columnXShowsBin2048Minus8xModulo4096() {
    QCOMPARE(binForColumn(0, kOrder), 2048);
    QCOMPARE(binForColumn(1, kOrder), 2040);
    QCOMPARE(binForColumn(256, kOrder), 0);
    QCOMPARE(binForColumn(257, kOrder), 4088);
    QCOMPARE(binForColumn(511, kOrder), 2056);
    // Low latency's order 9 (1024 bins) spans the band once, as order 11 does.
    QCOMPARE(binForColumn(0, 9), 512);
    QCOMPARE(binForColumn(256, 9), 0);
    QCOMPARE(binForColumn(511, 9), 514);

    // Every bin that is a multiple of 8 gets its own level; all others, and
    // the buffer beyond 4096, are full scale, so reading a wrong bin shows.
    std::vector<double> spectrum(8193, kFullScale);
    for (int k = 0; k < kBins; k += 8) spectrum[k] = binForLevel(5 + (k / 8) % 190);
    const QImage image = drawSpectrumFrame(spectrum, kOrder);
    for (int x = 0; x < 512; ++x) {
      QCOMPARE(binForColumn(x, kOrder), expectedBin(x));
      checkColumn(image, x, 5 + (expectedBin(x) / 8) % 190);
      if (QTest::currentTestFailed()) return;
    }
  }

  void shortSpectrumLeavesOutColumnsBeyondIt() {
    // Bins 0..99 only: columns 244..256 (bins 96..0) are drawn, the rest not.
    const QImage image = drawSpectrumFrame(std::vector<double>(100, kFullScale), kOrder);
    for (int x = 0; x < 512; ++x) {
      checkColumn(image, x, expectedBin(x) < 100 ? 0 : 200);
      if (QTest::currentTestFailed()) return;
    }
  }

  void readoutRoundsHalvesToEven() {
    QCOMPARE(signalReadoutText(2.5), QStringLiteral("2"));
    QCOMPARE(signalReadoutText(3.5), QStringLiteral("4"));
    QCOMPARE(signalReadoutText(-2.5), QStringLiteral("-2"));
    QCOMPARE(signalReadoutText(-0.4), QStringLiteral("0"));
    QCOMPARE(signalReadoutText(999.5), QStringLiteral("1000"));
    QCOMPARE(signalReadoutText(1000.0), QStringLiteral("1000"));
    QCOMPARE(signalReadoutText(-1234567.7), QStringLiteral("-1234568"));
    // 2^53 + 2 is exact and even; no digit grouping, no exponent.
    QCOMPARE(signalReadoutText(9007199254740994.0), QStringLiteral("9007199254740994"));
  }

  void readoutIgnoresTheThreadsRoundingMode() {
    const int saved = std::fegetround();
    std::fesetround(FE_UPWARD);
    const QString up = signalReadoutText(2.5);
    std::fesetround(FE_DOWNWARD);
    const QString down = signalReadoutText(3.5);
    std::fesetround(saved);
    QCOMPARE(up, QStringLiteral("2"));
    QCOMPARE(down, QStringLiteral("4"));
  }

  void readoutOfUnrepresentableReadings() {
    QCOMPARE(signalReadoutText(1.0e300), QStringLiteral("9223372036854775807"));
    QCOMPARE(signalReadoutText(-1.0e300), QStringLiteral("-9223372036854775808"));
    QCOMPARE(signalReadoutText(std::numeric_limits<double>::quiet_NaN()), QString());
    QCOMPARE(signalReadoutText(std::numeric_limits<double>::infinity()), QString());
  }
};

QTEST_APPLESS_MAIN(SpectrumFrameTest)
#include "spectrum_frame_test.moc"
