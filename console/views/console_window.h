// The console's window: the spectrum picture, the offset and signal
// readouts and the tuning slider, all at fixed positions in a resizable
// window. Lives on the main thread.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>

#include "controls/receiver_settings.h"

class QLabel;
class QSlider;

namespace lanternfly {

class OperatorView;

// Window placement: outer top-left corner on the screen, client size.
inline constexpr int kWindowLeft = 257;
inline constexpr int kWindowTop = 303;
inline constexpr int kClientWidth = 531;
inline constexpr int kClientHeight = 313;
// Top-left of the spectrum picture in client coordinates.
inline constexpr int kPictureLeft = 10;
inline constexpr int kPictureTop = 10;
// The slider runs over the tuning range in tuning steps from 0; its middle
// position is offset 0.
inline constexpr int kSliderCentre = kTuneLimitHz / kHzPerSliderStep;
inline constexpr int kSliderMaximum = 2 * kSliderCentre;

// Where a window whose outer top-left corner is asked at `position`, with
// this outer size, goes: there when its title bar lies on a screen, else
// moved onto the screen nearest to it.
QPoint onSomeScreen(const QPoint& position, const QSize& frame);

class ConsoleWindow : public QWidget {
 public:
  // Called on every movement report of the slider with the new offset in Hz,
  // after the offset readout shows it.
  using RetuneHandler = std::function<void(std::int32_t offsetHz)>;

  explicit ConsoleWindow(RetuneHandler onRetune);

  // Shows a finished spectrum frame and the signal text together; a null
  // frame leaves the picture as it is. Main thread only.
  void showFrame(const QImage& frame, const QString& signalText);

  // Puts the operator view (a child of this window) in place of the
  // spectrum picture and the two readouts: it fills the window above the
  // slider, which lines up with its picture, and grows with the window.
  // Null puts the window back as it first opens.
  void setOperatorView(OperatorView* view);

  // Puts the slider at this offset (Hz, a multiple of the slider's step)
  // without a movement report, and shows it in the offset readout as a
  // report would.
  void showTuning(std::int32_t offsetHz);
  // Tooltips explaining the two readouts.
  void setReadoutHints(const QString& offset, const QString& signal);
  // Moves the window so that its outer top-left corner is at `position`,
  // or as near as keeps its title bar on a screen.
  void placeAt(const QPoint& position);

  // The controls themselves, for inspection; the console goes through the
  // calls above.
  QSlider* slider() const { return slider_; }
  QLabel* offsetReadout() const { return offsetReadout_; }
  QLabel* signalReadout() const { return signalReadout_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void sliderReported();
  void layOutOperatorView();

  RetuneHandler onRetune_;
  QSlider* slider_ = nullptr;
  QLabel* offsetReadout_ = nullptr;
  QLabel* signalReadout_ = nullptr;
  QImage frame_;  // the last frame; null until the first one arrives
  OperatorView* operatorView_ = nullptr;
};

}  // namespace lanternfly
