// The operator view: columns keep the strongest bin they cover, the scales
// put frequencies and levels where the picture shows them, the signal level
// follows the passband, and in the running console the view is switched on
// and off, tunes where it is clicked, turns the waterfall with it and is
// remembered. Each case runs in its own process with its own settings.
#include <QApplication>
#include <QLabel>
#include <QSlider>
#include <QTest>
#include <cmath>
#include <limits>
#include <vector>

#include "app/console_app.h"
#include "console_harness.h"
#include "views/console_window.h"
#include "views/frequency_scale.h"
#include "views/operator_view.h"
#include "views/signal_level.h"
#include "views/spectrum_frame.h"
#include "views/waterfall_window.h"

using namespace lanternfly;

namespace {

constexpr int kBins = 4096;             // the console's spectrum, 11.71875 Hz a bin
constexpr double kFullScale = 268435456.0;  // 2^28: 0 dB

// Engine layout: bin k above the centre for k < M/2, below it from M/2 on.
std::size_t binAt(int offsetBins) {
  return static_cast<std::size_t>((offsetBins + kBins) % kBins);
}

// (OperatorView has no meta-object of its own, so findChild cannot tell it.)
OperatorView* operatorView(ConsoleWindow* window) {
  return dynamic_cast<OperatorView*>(window->findChild<QWidget*>(QStringLiteral("operatorView")));
}

}  // namespace

class OperatorViewTest : public QObject {
  Q_OBJECT
 private slots:
  void columnsShowTheStrongestBinTheyCover() {
    // Two equal tones, one on a bin the spectrum picture shows (a multiple
    // of 8) and one three bins off it: equal heights here, whatever the
    // number of columns.
    std::vector<double> spectrum(kBins, 1.0);
    spectrum[binAt(128)] = 1e6;
    spectrum[binAt(-85)] = 1e6;
    spectrum[binAt(300)] = std::numeric_limits<double>::quiet_NaN();
    for (int width : {512, 777, 4096}) {
      std::vector<double> columns(static_cast<std::size_t>(width));
      strongestPerColumn(spectrum, columns);
      auto columnOf = [&](int offsetBins) {
        return static_cast<std::size_t>((offsetBins + kBins / 2) * width / kBins);
      };
      QCOMPARE(columns[columnOf(128)], 1e6);
      QCOMPARE(columns[columnOf(-85)], 1e6);
      QVERIFY(!std::isnan(columns[columnOf(300)]));  // NaN never wins
      QCOMPARE(*std::max_element(columns.begin(), columns.end()), 1e6);
    }
    // Lowest frequency (bin M/2) first, highest (bin M/2 - 1) last.
    std::vector<double> edges(kBins, 0.0);
    edges[kBins / 2] = 5.0;
    edges[kBins / 2 - 1] = 7.0;
    std::vector<double> columns(300);
    strongestPerColumn(edges, columns);
    QCOMPARE(columns.front(), 5.0);
    QCOMPARE(columns.back(), 7.0);
  }

  void scalesPlaceAndLabelTheBand() {
    const BandAxis right{960.0, true};
    const BandAxis left{960.0, false};
    QCOMPARE(right.xForOffset(-24000), 0.0);
    QCOMPARE(right.xForOffset(1500), 510.0);
    QCOMPARE(left.xForOffset(1500), 450.0);  // mirrored about the centre
    for (double hz : {-24000.0, -1000.0, 0.0, 1500.0, 23990.0}) {
      QCOMPARE(right.offsetAtX(right.xForOffset(hz)), hz);
      QCOMPARE(left.offsetAtX(left.xForOffset(hz)), hz);
    }
    // With an LO the labels are round absolute kHz, spaced at least as asked.
    const double pixelsPerHz = 960.0 / 48000.0;
    const auto ticks = frequencyTicks(7000300.0, pixelsPerHz, 70.0);
    QVERIFY(ticks.size() >= 5);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
      const double absolute = 7000300.0 + ticks[i].value;
      QCOMPARE(std::fmod(absolute, 5000.0), 0.0);
      QCOMPARE(ticks[i].label, QString::number(absolute / 1000.0, 'f', 0));
      QVERIFY(std::abs(ticks[i].value) <= 24000.0);
      if (i > 0) QVERIFY((ticks[i].value - ticks[i - 1].value) * pixelsPerHz >= 70.0);
    }
    // Without one they are the offsets.
    const auto offsets = frequencyTicks(0.0, pixelsPerHz, 70.0);
    QCOMPARE(offsets.front().label, QStringLiteral("-20"));
    QCOMPARE(offsets.back().label, QStringLiteral("20"));
    const auto levels = levelTicks(0.0, -160.0, 2.0, 24.0);
    QCOMPARE(levels.front().label, QStringLiteral("0"));
    QCOMPARE(levels.back().value, -160.0);
    QCOMPARE(levels[1].value, -20.0);
  }

  void signalLevelFollowsThePassband() {
    ReceiverSettings s;  // USB, 300..2700 Hz above the tuned offset 0
    std::vector<double> spectrum(kBins, kFullScale * 1e-6);
    const double quiet = passbandLevelDb(spectrum, s, 48000);
    spectrum[binAt(-128)] = kFullScale * 1e-2;  // -1500 Hz: outside USB
    QCOMPARE(passbandLevelDb(spectrum, s, 48000), quiet);
    spectrum[binAt(128)] = kFullScale * 1e-2;  // +1500 Hz: inside
    const double loud = passbandLevelDb(spectrum, s, 48000);
    QVERIFY2(std::abs(loud - -40.0) < 0.1, qPrintable(QString::number(loud)));
    s.mode = ReceiveMode::Lsb;  // the other side now
    QVERIFY(std::abs(passbandLevelDb(spectrum, s, 48000) - loud) < 0.1);
    s.tuneOffsetHz = 6000;  // both tones far below the passband
    QCOMPARE(passbandLevelDb(spectrum, s, 48000), quiet);
    QVERIFY(std::isinf(passbandLevelDb(std::vector<double>(kBins, 0.0), s, 48000)));

    QCOMPARE(sUnitText(-73.0), QStringLiteral("S9"));
    QCOMPARE(sUnitText(-79.0), QStringLiteral("S8"));
    QCOMPARE(sUnitText(-78.9), QStringLiteral("S8"));
    QCOMPARE(sUnitText(-63.0), QStringLiteral("S9+10"));
    QCOMPARE(sUnitText(-200.0), QStringLiteral("S0"));
    QCOMPARE(signalLevelText(-40.0, std::nullopt), QStringLiteral("-40.0 dB"));
    QCOMPARE(signalLevelText(-40.0, -33.0), QStringLiteral("-73.0 dBm  S9"));
    QCOMPARE(signalLevelText(-std::numeric_limits<double>::infinity(), -33.0),
             QStringLiteral("no signal"));
  }

  void viewDrawsTheToneWhereAClickTunes() {
    QWidget parent;
    OperatorView view(&parent);
    view.resize(900, 400);
    ReceiverSettings s;
    s.loHz = 7000000;
    view.setTuning(s);
    std::vector<double> spectrum(kBins, kFullScale * 1e-7);
    spectrum[binAt(128)] = kFullScale * 1e-2;  // +1500 Hz
    view.showSpectrum(spectrum);
    QCOMPARE(view.findChild<QLabel*>(QStringLiteral("offsetHzReadout"))->text(),
             QStringLiteral("Offset: 0 Hz"));
    QCOMPARE(view.findChild<QLabel*>(QStringLiteral("frequencyReadout"))->text(),
             QStringLiteral("Frequency: 7000.000 kHz"));
    QCOMPARE(view.grab().size(), QSize(900, 400));  // paints the picture

    // The tallest column stands where the scale puts +1500 Hz, and a click
    // there tunes to +1500 Hz within a column's width.
    const QImage& picture = view.picture();
    int tallest = -1, tallestTop = picture.height();
    for (int x = 0; x < picture.width(); ++x) {
      for (int y = 0; y < picture.height(); ++y) {
        if (picture.pixel(x, y) == qRgb(200, 200, 0)) {
          if (y < tallestTop) tallest = x, tallestTop = y;
          break;
        }
      }
    }
    const QRect area = view.pictureRect();
    QCOMPARE(tallest, static_cast<int>(BandAxis{double(area.width()), true}.xForOffset(1500)));
    double tunedTo = 0;
    view.onTune = [&](double hz) { tunedTo = hz; };
    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(area.left() + tallest, area.center().y()));
    QVERIFY2(std::abs(tunedTo - 1500.0) <= 48000.0 / area.width(), qPrintable(QString::number(tunedTo)));
    // 40 dB above a floor of -140 dB: the level shows it.
    QVERIFY(view.findChild<QLabel*>(QStringLiteral("levelReadout"))->text().startsWith(
        QLatin1String("Signal: -40")));
  }

  void switchIsRememberedAndTurnsTheWaterfall() {
    ConsoleRun first;
    first([](ConsoleWindow* window) {
      press(window, Qt::Key_W);
      WaterfallWindow* waterfall = shownWaterfall();
      QVERIFY(waterfall != nullptr);
      QVERIFY(!waterfall->risingRight());  // like the spectrum picture
      press(window, Qt::Key_D);
      auto* view = operatorView(window);
      QVERIFY(view != nullptr && view->isVisible());
      QVERIFY(waterfall->risingRight());
      QVERIFY(!window->offsetReadout()->isVisible());
      QVERIFY(window->width() > kClientWidth);
      // A click right of the centre moves the thumb right of its centre.
      const QRect area = view->pictureRect();
      const int x = area.left() + area.width() * 3 / 4;
      QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(x, area.center().y()));
      const int steps = static_cast<int>(std::lround(view->offsetAt(x) / 10));
      QVERIFY(std::abs(steps - 1200) <= 48000 / 10 / area.width() + 1);  // 3/4 across: +12 kHz
      QCOMPARE(window->slider()->value(), 2400 + steps);
      QCOMPARE(view->findChild<QLabel*>(QStringLiteral("offsetHzReadout"))->text(),
               QStringLiteral("Offset: %1 Hz").arg(steps * 10));
    });
    QCOMPARE(first.exitCode, 0);
    qputenv("BW_STAND_IN_BIN", "26843545.6");  // 2^28 / 10: columns from row 20 down
    ConsoleRun second;
    second([](ConsoleWindow* window) {
      auto* view = operatorView(window);
      QVERIFY(view != nullptr && view->isVisible());
      QVERIFY(window->slider()->value() > 2400 + 1190);  // the tuning kept
      QTRY_VERIFY_WITH_TIMEOUT(std::isfinite(view->levelDb()), 10000);
      press(window, Qt::Key_D);  // back to the window as it first opens
      // The picture, not drawn behind the view, shows the last spectrum at
      // once rather than nothing until the next frame.
      const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
      QCOMPARE(QColor(shot.pixel(kPictureLeft + 100, kPictureTop + 100)).rgb(), qRgb(200, 200, 0));
      QVERIFY(!view->isVisible());
      QVERIFY(window->offsetReadout()->isVisible());
      QCOMPARE(window->size(), QSize(kClientWidth, kClientHeight));
      QCOMPARE(window->slider()->geometry(), QRect(10, 260, 520, 40));
    });
    qunsetenv("BW_STAND_IN_BIN");
    QCOMPARE(second.exitCode, 0);
    QCOMPARE(savedSettings().value(QStringLiteral("display/operatorView")).toString(),
             QStringLiteral("false"));
  }
};

QTEST_MAIN(OperatorViewTest)
#include "operator_view_test.moc"
