#include "views/console_window.h"

#include <QLabel>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <algorithm>
#include <utility>

#include "views/operator_view.h"
#include "views/spectrum_frame.h"

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

QPoint onSomeScreen(const QPoint& position, const QSize& frame) {
  // The title bar's middle must lie on a screen for the window to be
  // found and dragged; otherwise it goes to the nearest corner of the
  // screen that is nearest.
  const QPoint grip = position + QPoint(frame.width() / 2, 10);
  const QList<QScreen*> screens = QGuiApplication::screens();
  for (const QScreen* screen : screens) {
    if (screen->availableGeometry().contains(grip)) return position;
  }
  const QScreen* nearest = QGuiApplication::primaryScreen();
  long long best = -1;
  for (const QScreen* screen : screens) {
    const QRect area = screen->availableGeometry();
    const QPoint d = grip - QPoint(std::clamp(grip.x(), area.left(), area.right()),
                                   std::clamp(grip.y(), area.top(), area.bottom()));
    const long long distance = 1LL * d.x() * d.x() + 1LL * d.y() * d.y();
    if (best < 0 || distance < best) {
      best = distance;
      nearest = screen;
    }
  }
  if (nearest == nullptr) return position;
  const QRect area = nearest->availableGeometry();
  const int right = std::max(area.left(), area.right() - frame.width() + 1);
  const int bottom = std::max(area.top(), area.bottom() - frame.height() + 1);
  return {std::clamp(position.x(), area.left(), right),
          std::clamp(position.y(), area.top(), bottom)};
}

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
  slider_->setRange(0, kSliderMaximum);
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
  const std::int32_t offsetHz = (slider_->sliderPosition() - kSliderCentre) * kHzPerSliderStep;
  offsetReadout_->setText(QString::number(offsetHz));
  if (onRetune_) onRetune_(offsetHz);
}

void ConsoleWindow::showTuning(std::int32_t offsetHz) {
  slider_->setValue(kSliderCentre + offsetHz / kHzPerSliderStep);
  offsetReadout_->setText(QString::number(offsetHz));
}

void ConsoleWindow::setReadoutHints(const QString& offset, const QString& signal) {
  offsetReadout_->setToolTip(offset);
  signalReadout_->setToolTip(signal);
}

void ConsoleWindow::placeAt(const QPoint& position) {
  move(onSomeScreen(position, frameGeometry().size()));
}

void ConsoleWindow::showFrame(const QImage& frame, const QString& signalText) {
  if (!frame.isNull()) frame_ = frame;
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
