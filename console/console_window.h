// The console's window: the spectrum picture, the offset and signal
// readouts and the tuning slider, all at fixed positions in a resizable
// window. Lives on the main thread.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>

class QLabel;
class QSlider;

namespace lanternfly {

// Window placement: outer top-left corner on the screen, client size.
inline constexpr int kWindowLeft = 257;
inline constexpr int kWindowTop = 303;
inline constexpr int kClientWidth = 531;
inline constexpr int kClientHeight = 313;
// Top-left of the spectrum picture in client coordinates.
inline constexpr int kPictureLeft = 10;
inline constexpr int kPictureTop = 10;

class ConsoleWindow : public QWidget {
 public:
  // Called on every movement report of the slider with the new offset in Hz,
  // after the offset readout shows it.
  using RetuneHandler = std::function<void(std::int32_t offsetHz)>;

  explicit ConsoleWindow(RetuneHandler onRetune);

  // Shows a finished spectrum frame and the signal text together. Main
  // thread only.
  void showFrame(const QImage& frame, const QString& signalText);

  QSlider* slider() const { return slider_; }
  QLabel* offsetReadout() const { return offsetReadout_; }
  QLabel* signalReadout() const { return signalReadout_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void sliderReported();

  RetuneHandler onRetune_;
  QSlider* slider_ = nullptr;
  QLabel* offsetReadout_ = nullptr;
  QLabel* signalReadout_ = nullptr;
  QImage frame_;  // the last frame; null until the first one arrives
};

}  // namespace lanternfly
