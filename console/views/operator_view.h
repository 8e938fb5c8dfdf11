// The operator view: the captured band with frequency rising to the right,
// each column the strongest of the bins it covers, a level scale in dB on
// the left, a frequency scale in kHz underneath (absolute when an LO is
// set) with the tuned frequency and passband marked as in the waterfall,
// and labelled readouts of the tuned frequency, the offset and the signal
// level in the passband. It fills whatever size it is given. Hovering
// names the frequency and level under the pointer, a left click tunes
// there. Main thread only.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "controls/receiver_settings.h"

class QLabel;

namespace lanternfly {

// Levels shown from top to bottom of the picture, dB relative to one bin at
// full scale (2^28).
inline constexpr double kOperatorTopDb = 0.0;
inline constexpr double kOperatorBottomDb = -160.0;

class OperatorView : public QWidget {
 public:
  explicit OperatorView(QWidget* parent);

  // Called for a left click on the picture with the offset from the band
  // centre (Hz) under the pointer.
  std::function<void(double offsetHz)> onTune;

  // A spectrum as the engine delivers it (M magnitudes); updates the
  // picture and the signal level.
  void showSpectrum(std::span<const double> spectrum);
  // The tuning the markers and the readouts show.
  void setTuning(const ReceiverSettings& settings);
  // dBm that a level of 0 dB corresponds to; none shows plain dB.
  void setCalibration(std::optional<double> dbmAtZeroDb);

  // The signal level in the passband from the last spectrum, dB.
  double levelDb() const { return levelDb_; }
  // Where the picture lies in this widget; the band's edges at its sides.
  QRect pictureRect() const;
  // The offset (Hz) shown at x in this widget's coordinates.
  double offsetAt(int x) const;
  // The picture as last drawn (for inspection).
  const QImage& picture() const { return picture_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void drawPicture(const QRect& area);
  void showReadouts();
  double columnLevelDb(int x) const;  // -infinity without a spectrum

  std::vector<double> spectrum_;
  std::vector<double> columns_;  // strongest bin per picture column
  std::vector<int> tops_;        // each column's top row
  std::vector<int> scratch_;     // paintColumns' working space
  QImage picture_;
  bool pictureStale_ = true;  // a spectrum came since the picture was drawn
  ReceiverSettings tuning_;
  std::optional<double> calibration_;
  double levelDb_;
  QLabel* frequency_ = nullptr;
  QLabel* offset_ = nullptr;
  QLabel* signal_ = nullptr;
};

}  // namespace lanternfly
