// The waterfall: a separate, resizable window with the captured band over
// time (newest row at the top), a frequency axis in kHz (LO + offset) and a
// marker at the tuned frequency with its passband. Its frequency runs the
// way the main window's picture runs: rising to the left like the spectrum
// picture, or to the right like the operator view. Rows come from the
// display thread's frames, so it reads nothing from the engine itself.
// Main thread only.
#pragma once

#include <QImage>
#include <QWidget>
#include <array>
#include <functional>
#include <span>

#include "controls/receiver_settings.h"

namespace lanternfly {

inline constexpr int kWaterfallColumns = 1024;   // history width, columns
inline constexpr int kWaterfallRows = 400;       // history depth, frames
inline constexpr int kWaterfallAxisHeight = 22;  // pixels under the picture

class WaterfallWindow : public QWidget {
 public:
  WaterfallWindow();

  // Called when the user closes the window.
  std::function<void()> onClosed;

  // Adds one spectrum (2^(order+1) magnitudes, bin k at k * rate / M above
  // the centre for k < M/2, below it from M/2 on) as the newest row.
  void addSpectrum(std::span<const double> spectrum);
  // The tuning shown by the title, the axis and the marker.
  void setTuning(const ReceiverSettings& settings);
  // Frequency rising to the right on screen, or (the default) to the left.
  // The history keeps the lowest frequency in column 0 either way.
  void setRisingRight(bool risingRight);
  bool risingRight() const { return risingRight_; }

  // Column of the history for a frequency offset from the band centre (Hz);
  // the band runs from -24000 Hz at column 0 up to +24000 Hz.
  static double columnForOffset(double offsetHz);
  // Colour of a bin magnitude: dark blue for the weakest, through cyan and
  // yellow, to white at the picture's full scale (2^28).
  static QRgb colourForMagnitude(double magnitude);

  int rowsAdded() const { return rowsAdded_; }
  const QImage& history() const { return history_; }
  int newestRow() const { return head_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  QImage history_;  // ring of rows; head_ is the newest
  // The same ring as it appears on screen (mirrored when rising to the
  // left), so that painting is a plain scaled copy without a transform.
  QImage shown_;
  int head_ = 0;
  int rowsAdded_ = 0;
  ReceiverSettings tuning_;
  bool risingRight_ = false;
  std::array<double, kWaterfallColumns> columns_{};  // one row's strongest bins
};

}  // namespace lanternfly
