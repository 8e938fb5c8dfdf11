#include "console_window.h"

#include <QLabel>
#include <QPainter>
#include <QSlider>
#include <utility>

#include "receive_block.h"
#include "spectrum_frame.h"

namespace lanternfly {
namespace {

QLabel* makeReadout(QWidget* parent, const char* name, int x, int y) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(x, y, 100, 20);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

}  // namespace

ConsoleWindow::ConsoleWindow(RetuneHandler onRetune)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      onRetune_(std::move(onRetune)) {
  setWindowTitle(QStringLiteral("Lanternfly"));
  // Outer corner at the screen position, client area of the given size;
  // the children keep absolute positions, so resizing moves nothing.
  move(kWindowLeft, kWindowTop);
  resize(kClientWidth, kClientHeight);
  setBackgroundRole(QPalette::Window);
  setAutoFillBackground(true);

  slider_ = new QSlider(Qt::Horizontal, this);
  slider_->setObjectName(QStringLiteral("tuningSlider"));
  slider_->setGeometry(10, 260, 520, 40);
  slider_->setRange(kSliderMinimum, kSliderMaximum);
  // Positioned before the reports are connected: the start position is no
  // movement and leaves the offset readout empty.
  slider_->setValue(kSliderCentre);

  offsetReadout_ = makeReadout(this, "offsetReadout", 10, 240);
  signalReadout_ = makeReadout(this, "signalReadout", 200, 240);

  // Every movement report retunes, also one that leaves the position as it
  // was: keyboard and page steps, wheel and each step of a drag arrive as
  // actions (sliderPosition already moved), the end of a drag as a release.
  connect(slider_, &QSlider::actionTriggered, this, [this](int) { sliderReported(); });
  connect(slider_, &QSlider::sliderReleased, this, [this] { sliderReported(); });
}

void ConsoleWindow::sliderReported() {
  const std::int32_t offsetHz = tuneOffsetForPosition(slider_->sliderPosition());
  offsetReadout_->setText(QString::number(offsetHz));
  if (onRetune_) onRetune_(offsetHz);
}

void ConsoleWindow::showFrame(const QImage& frame, const QString& signalText) {
  frame_ = frame;
  signalReadout_->setText(signalText);
  update(kPictureLeft, kPictureTop, kPictureWidth, kPictureHeight);
}

void ConsoleWindow::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  if (frame_.isNull()) return;
  QPainter painter(this);
  painter.drawImage(QPoint(kPictureLeft, kPictureTop), frame_);
}

}  // namespace lanternfly
