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

class OperatorView;

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

  // Puts the operator view (a child of this window) in place of the
  // spectrum picture and the two readouts: it fills the window above the
  // slider, which lines up with its picture, and grows with the window.
  // Null puts the window back as it first opens.
  void setOperatorView(OperatorView* view);

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
