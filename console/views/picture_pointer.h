// The pointer over the spectrum picture: hovering shows a tooltip with the
// frequency under it and that column's level, a left click tunes there.
// Installed as an event filter on the console window (which it does not
// otherwise change). Main thread only.
#pragma once

#include <QObject>
#include <functional>

class QWidget;

namespace lanternfly {

// Frequency offset from the band centre (Hz) shown by picture column x
// (0..511) for the console's block order and sample rate: column 256 is the
// centre, frequency rises towards the left edge and falls towards the right.
double columnOffsetHz(int x, int order, int sampleRateHz);

// Level of a bin magnitude in dB relative to the picture's full height
// (2^28 = 0 dB); -infinity for 0.
double magnitudeDb(double magnitude);

class PicturePointer : public QObject {
 public:
  // describe(x) gives the tooltip for column x; tuneTo(x) is called for a
  // left click on column x.
  PicturePointer(QWidget* window, std::function<QString(int x)> describe,
                 std::function<void(int x)> tuneTo);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* window_;
  std::function<QString(int)> describe_;
  std::function<void(int)> tuneTo_;
};

}  // namespace lanternfly
