#include "console_window.h"

#include <QLabel>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <utility>

#include "operator_view.h"
#include "receive_block.h"
#include "spectrum_frame.h"

namespace lanternfly {
namespace {

// The window's size when the operator view first opens it wider.
constexpr int kOperatorWidth = 800;
constexpr int kOperatorHeight = 480;
// Room under the operator view for the slider.
constexpr int kSliderBand = 46;

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
  if (operatorView_ == nullptr) update(kPictureLeft, kPictureTop, kPictureWidth, kPictureHeight);
}

void ConsoleWindow::setOperatorView(OperatorView* view) {
  if (view == operatorView_) return;
  if (operatorView_ != nullptr) operatorView_->hide();
  operatorView_ = view;
  offsetReadout_->setVisible(view == nullptr);
  signalReadout_->setVisible(view == nullptr);
  if (view == nullptr) {
    setMinimumSize(0, 0);
    slider_->setGeometry(10, 260, 520, 40);
    resize(kClientWidth, kClientHeight);
  } else {
    setMinimumSize(kClientWidth, kClientHeight);
    if (size() == QSize(kClientWidth, kClientHeight)) resize(kOperatorWidth, kOperatorHeight);
    layOutOperatorView();
    view->show();
  }
  update();
}

void ConsoleWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (operatorView_ != nullptr) layOutOperatorView();
}

void ConsoleWindow::layOutOperatorView() {
  operatorView_->setGeometry(0, 0, width(), height() - kSliderBand);
  // The thumb's centre travels over the picture's width, so that it stands
  // under the tuned frequency: the slider is wider by a thumb's length.
  const QRect picture = operatorView_->pictureRect();
  const int thumb = slider_->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, slider_);
  slider_->setGeometry(picture.left() - thumb / 2, height() - kSliderBand + 2,
                       picture.width() + thumb, 40);
}

void ConsoleWindow::paintEvent(QPaintEvent* event) {
  QWidget::paintEvent(event);
  if (frame_.isNull() || operatorView_ != nullptr) return;
  QPainter painter(this);
  painter.drawImage(QPoint(kPictureLeft, kPictureTop), frame_);
}

}  // namespace lanternfly
