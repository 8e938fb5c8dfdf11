#include "views/operator_view.h"

#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <limits>

#include "views/frequency_scale.h"
#include "views/picture_pointer.h"
#include "views/signal_level.h"
#include "views/spectrum_frame.h"
#include "views/translucent_fill.h"

namespace lanternfly {
namespace {

// Margins around the picture: the level scale's labels on the left, the
// frequency scale and then the readouts underneath.
constexpr int kLevelScaleWidth = 44;
constexpr int kRightMargin = 16;
constexpr int kTopMargin = 8;
constexpr int kFrequencyScaleHeight = 22;
constexpr int kReadoutHeight = 22;
constexpr QRgb kColumn = qRgb(200, 200, 0);
constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kGrid = qRgb(90, 0, 0);

QLabel* makeReadout(QWidget* parent, const char* name) {
  auto* label = new QLabel(parent);
  label->setObjectName(QLatin1String(name));
  label->setTextFormat(Qt::PlainText);
  return label;
}

}  // namespace

OperatorView::OperatorView(QWidget* parent)
    : QWidget(parent), levelDb_(-std::numeric_limits<double>::infinity()) {
  setObjectName(QStringLiteral("operatorView"));
  setAttribute(Qt::WA_OpaquePaintEvent, false);
  frequency_ = makeReadout(this, "frequencyReadout");
  offset_ = makeReadout(this, "offsetHzReadout");
  signal_ = makeReadout(this, "levelReadout");
  frequency_->setToolTip(QStringLiteral("Tuned frequency: LO + offset"));
  offset_->setToolTip(QStringLiteral("Tuning offset from the centre of the captured band"));
  signal_->setToolTip(
      QStringLiteral("Power in the passband; dBm and S-units once calibrated (S9 = -73 dBm)"));
  showReadouts();
}

QRect OperatorView::pictureRect() const {
  const int h = height() - kTopMargin - kFrequencyScaleHeight - kReadoutHeight;
  return {kLevelScaleWidth, kTopMargin, std::max(1, width() - kLevelScaleWidth - kRightMargin),
          std::max(1, h)};
}

double OperatorView::offsetAt(int x) const {
  const QRect r = pictureRect();
  // The pixel's centre, so that each column names the middle of its slice.
  return BandAxis{static_cast<double>(r.width()), true}.offsetAtX(x - r.left() + 0.5);
}

void OperatorView::showSpectrum(std::span<const double> spectrum) {
  spectrum_.assign(spectrum.begin(), spectrum.end());
  levelDb_ = passbandLevelDb(spectrum_, tuning_, kCaptureRateHz);
  showReadouts();
  // Only the picture changes; the scales stay as they are.
  pictureStale_ = true;
  update(pictureRect());
}

void OperatorView::setTuning(const ReceiverSettings& settings) {
  tuning_ = settings;
  levelDb_ = passbandLevelDb(spectrum_, tuning_, kCaptureRateHz);
  showReadouts();
  update();
}

void OperatorView::setCalibration(std::optional<double> dbmAtZeroDb) {
  calibration_ = dbmAtZeroDb;
  showReadouts();
}

void OperatorView::showReadouts() {
  frequency_->setText(QStringLiteral("Frequency: %1").arg(kiloHertzText(tunedFrequencyHz(tuning_))));
  offset_->setText(QStringLiteral("Offset: %1 Hz").arg(tuning_.tuneOffsetHz));
  signal_->setText(QStringLiteral("Signal: %1").arg(signalLevelText(levelDb_, calibration_)));
}

void OperatorView::resizeEvent(QResizeEvent*) {
  const int y = height() - kReadoutHeight;
  const int w = width() - kLevelScaleWidth;
  frequency_->setGeometry(kLevelScaleWidth, y, w * 2 / 5, kReadoutHeight);
  offset_->setGeometry(kLevelScaleWidth + w * 2 / 5, y, w / 5, kReadoutHeight);
  signal_->setGeometry(kLevelScaleWidth + w * 3 / 5, y, w * 2 / 5, kReadoutHeight);
}

double OperatorView::columnLevelDb(int x) const {
  if (x < 0 || static_cast<std::size_t>(x) >= columns_.size() || spectrum_.empty()) {
    return -std::numeric_limits<double>::infinity();
  }
  return magnitudeDb(columns_[static_cast<std::size_t>(x)]);
}

void OperatorView::drawPicture(const QRect& area) {
  if (!pictureStale_ && picture_.size() == area.size()) return;
  pictureStale_ = false;
  if (picture_.size() != area.size()) picture_ = QImage(area.size(), QImage::Format_RGB32);
  const int w = area.width();
  const int h = area.height();
  columns_.resize(static_cast<std::size_t>(w));
  tops_.resize(static_cast<std::size_t>(w));
  strongestPerColumn(spectrum_, columns_);
  const double rowsPerDb = h / (kOperatorTopDb - kOperatorBottomDb);
  for (int x = 0; x < w; ++x) {
    const double db = columnLevelDb(x);
    // No column (top below the picture) for -infinity, NaN and the floor.
    tops_[static_cast<std::size_t>(x)] =
        db > kOperatorBottomDb
            ? std::max(0, static_cast<int>((kOperatorTopDb - db) * rowsPerDb))
            : h;
  }
  // Each column yellow from its top down, black above it.
  paintColumns(picture_, tops_, kColumn, kBlack, scratch_);
  // Grid at the level scale's ticks, over the columns as in the spectrum
  // picture.
  for (const ScaleTick& t : levelTicks(kOperatorTopDb, kOperatorBottomDb, rowsPerDb, 24)) {
    const int y = static_cast<int>((kOperatorTopDb - t.value) * rowsPerDb);
    if (y <= 0 || y >= h) continue;
    auto* line = reinterpret_cast<QRgb*>(picture_.scanLine(y));
    std::fill(line, line + w, kGrid);
  }
}

void OperatorView::paintEvent(QPaintEvent* event) {
  const QRect area = pictureRect();
  drawPicture(area);
  QPainter p(this);
  p.drawImage(area.topLeft(), picture_);

  const BandAxis axis{static_cast<double>(area.width()), true};
  auto xFor = [&](double absoluteHz) {
    return area.left() + axis.xForOffset(absoluteHz - tuning_.loHz);
  };
  const double low = xFor(passbandLowerEdgeHz(tuning_));
  const double high = xFor(passbandUpperEdgeHz(tuning_));
  const double tuned = xFor(tunedFrequencyHz(tuning_));
  p.setClipRect(area);
  fillInStrips(p, QRectF(low, area.top(), std::max(1.0, high - low), area.height()),
               QColor(255, 255, 255, 60));
  p.setPen(QColor(255, 60, 60));
  p.drawLine(QPointF(tuned, area.top()), QPointF(tuned, area.bottom()));
  p.setClipping(false);
  // A new spectrum repaints the picture alone; the scales, whose text costs
  // more to lay out than the picture to copy, stay as they are.
  if (area.contains(event->rect())) return;

  // Frequency scale under the picture, the passband and the tuned
  // frequency marked on it too.
  const int scaleTop = area.bottom() + 1;
  p.fillRect(QRectF(low, scaleTop, std::max(1.0, high - low), 3), QColor(255, 60, 60, 120));
  p.setPen(palette().windowText().color());
  const double pixelsPerHz = area.width() / static_cast<double>(kCaptureRateHz);
  for (const ScaleTick& t : frequencyTicks(tuning_.loHz, pixelsPerHz, 70)) {
    const double x = area.left() + axis.xForOffset(t.value);
    p.drawLine(QPointF(x, scaleTop), QPointF(x, scaleTop + 4));
    p.drawText(QRectF(x - 40, scaleTop + 4, 80, kFrequencyScaleHeight - 4),
               Qt::AlignHCenter | Qt::AlignTop, t.label);
  }
  p.setPen(QColor(255, 60, 60));
  p.drawLine(QPointF(tuned, scaleTop), QPointF(tuned, scaleTop + 7));

  // Level scale on the left.
  p.setPen(palette().windowText().color());
  const double rowsPerDb = area.height() / (kOperatorTopDb - kOperatorBottomDb);
  for (const ScaleTick& t : levelTicks(kOperatorTopDb, kOperatorBottomDb, rowsPerDb, 24)) {
    const double y = area.top() + (kOperatorTopDb - t.value) * rowsPerDb;
    p.drawLine(QPointF(area.left() - 4, y), QPointF(area.left() - 1, y));
    p.drawText(QRectF(0, y - 8, area.left() - 6, 16), Qt::AlignRight | Qt::AlignVCenter, t.label);
  }
  p.drawText(QRectF(0, area.bottom() + 4, area.left() - 6, kFrequencyScaleHeight - 4),
             Qt::AlignRight | Qt::AlignTop, QStringLiteral("kHz"));
}

void OperatorView::mousePressEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (event->button() != Qt::LeftButton || !pictureRect().contains(at)) {
    QWidget::mousePressEvent(event);
    return;
  }
  if (onTune) onTune(offsetAt(at.x()));
  event->accept();
}

bool OperatorView::event(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QWidget::event(event);
  auto* help = static_cast<QHelpEvent*>(event);
  const QRect area = pictureRect();
  if (!area.contains(help->pos())) {
    // The readouts' own tips.
    return QWidget::event(event);
  }
  const int x = help->pos().x();
  const double db = columnLevelDb(x - area.left());
  QString text = kiloHertzText(tuning_.loHz + offsetAt(x));
  text += std::isfinite(db) ? QStringLiteral("\n%1 dB").arg(db, 0, 'f', 1)
                            : QStringLiteral("\nno signal");
  QToolTip::showText(help->globalPos(), text, this, QRect(x, area.top(), 1, area.height()));
  return true;
}

}  // namespace lanternfly
