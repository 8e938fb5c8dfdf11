#include "views/waterfall_window.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "views/spectrum_frame.h"
#include "views/translucent_fill.h"

namespace lanternfly {
namespace {

constexpr double kFullScale = 268435456.0;  // 2^28: the picture's 0 dB
constexpr double kFloorDb = -140.0;         // darkest colour at or below

QRgb paletteAt(double t) {
  // Dark blue -> blue -> cyan -> yellow -> white.
  static constexpr int kStops[][3] = {
      {0, 0, 32}, {0, 0, 200}, {0, 200, 220}, {230, 220, 0}, {255, 255, 255}};
  t = std::clamp(t, 0.0, 1.0) * 4.0;
  const int i = std::min(static_cast<int>(t), 3);
  const double f = t - i;
  auto mix = [&](int c) {
    return static_cast<int>(kStops[i][c] + f * (kStops[i + 1][c] - kStops[i][c]) + 0.5);
  };
  return qRgb(mix(0), mix(1), mix(2));
}

}  // namespace

WaterfallWindow::WaterfallWindow()
    : QWidget(nullptr, Qt::Window),
      history_(kWaterfallColumns, kWaterfallRows, QImage::Format_RGB32) {
  setObjectName(QStringLiteral("waterfall"));
  // Closing the main window ends the program even while this one is open.
  setAttribute(Qt::WA_QuitOnClose, false);
  // paintEvent covers every pixel (the history above, the axis below), so
  // Qt need not fill the background first at every new row.
  setAttribute(Qt::WA_OpaquePaintEvent);
  history_.fill(paletteAt(0.0));
  shown_ = history_;
  resize(720, 360);
  setMinimumSize(200, 80);
  setTuning(tuning_);
}

double WaterfallWindow::columnForOffset(double offsetHz) {
  return (offsetHz + kCaptureRateHz / 2.0) * kWaterfallColumns / kCaptureRateHz;
}

QRgb WaterfallWindow::colourForMagnitude(double magnitude) {
  if (!(magnitude > 0.0)) return paletteAt(0.0);
  const double db = 20.0 * std::log10(magnitude / kFullScale);
  return paletteAt((db - kFloorDb) / -kFloorDb);
}

void WaterfallWindow::addSpectrum(std::span<const double> spectrum) {
  if (spectrum.size() < 2) return;
  head_ = (head_ + kWaterfallRows - 1) % kWaterfallRows;
  auto* row = reinterpret_cast<QRgb*>(history_.scanLine(head_));
  // Lowest frequency on the left of the history; the shown copy is
  // mirrored when the band rises to the left.
  strongestPerColumn(spectrum, columns_);
  for (int c = 0; c < kWaterfallColumns; ++c) row[c] = colourForMagnitude(columns_[c]);
  auto* shownRow = reinterpret_cast<QRgb*>(shown_.scanLine(head_));
  if (risingRight_) {
    std::copy(row, row + kWaterfallColumns, shownRow);
  } else {
    std::reverse_copy(row, row + kWaterfallColumns, shownRow);
  }
  ++rowsAdded_;
  // Only the picture moves; the axis stays as it is.
  update(0, 0, width(), std::max(1, height() - kWaterfallAxisHeight));
}

void WaterfallWindow::setRisingRight(bool risingRight) {
  if (risingRight == risingRight_) return;
  risingRight_ = risingRight;
  shown_ = history_.mirrored(!risingRight_, false);
  update();
}

void WaterfallWindow::setTuning(const ReceiverSettings& settings) {
  tuning_ = settings;
  setWindowTitle(QStringLiteral("Lanternfly waterfall: %1").arg(tuningSummary(settings)));
  update();
}

void WaterfallWindow::closeEvent(QCloseEvent* event) {
  QWidget::closeEvent(event);
  if (onClosed) onClosed();
}

void WaterfallWindow::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  const int w = width();
  const int picture = std::max(1, height() - kWaterfallAxisHeight);
  // The ring drawn in two slices: newest row first, at the top.
  const int newer = kWaterfallRows - head_;
  const double rowHeight = static_cast<double>(picture) / kWaterfallRows;
  p.drawImage(QRectF(0, 0, w, newer * rowHeight), shown_,
              QRectF(0, head_, kWaterfallColumns, newer));
  if (head_ > 0) {
    p.drawImage(QRectF(0, newer * rowHeight, w, head_ * rowHeight), shown_,
                QRectF(0, 0, kWaterfallColumns, head_));
  }

  const double xPerColumn = static_cast<double>(w) / kWaterfallColumns;
  auto xForOffset = [&](double offsetHz) {
    const double x = columnForOffset(offsetHz) * xPerColumn;
    return risingRight_ ? x : w - x;
  };
  auto xFor = [&](double absoluteHz) { return xForOffset(absoluteHz - tuning_.loHz); };
  // Passband shaded, tuned frequency as a line.
  const double left = xFor(passbandLowerEdgeHz(tuning_));
  const double right = xFor(passbandUpperEdgeHz(tuning_));
  fillInStrips(p, QRectF(std::min(left, right), 0, std::max(1.0, std::abs(right - left)), picture),
               QColor(255, 255, 255, 60));
  p.setPen(QColor(255, 60, 60));
  const double tuned = xFor(tunedFrequencyHz(tuning_));
  p.drawLine(QPointF(tuned, 0), QPointF(tuned, picture));

  // A new row repaints the picture alone; the axis' text stays as it is.
  if (event->rect().bottom() < picture) return;

  // Axis: a tick every 5 kHz of offset, labelled with the absolute
  // frequency in kHz.
  p.fillRect(0, picture, w, kWaterfallAxisHeight, palette().window());
  p.setPen(palette().windowText().color());
  for (int offset = -20000; offset <= 20000; offset += 5000) {
    const double x = xForOffset(offset);
    p.drawLine(QPointF(x, picture), QPointF(x, picture + 4));
    const QString label = QString::number((tuning_.loHz + offset) / 1000.0, 'f', 1);
    p.drawText(QRectF(x - 50, picture + 4, 100, kWaterfallAxisHeight - 4),
               Qt::AlignHCenter | Qt::AlignTop, label);
  }
  p.setPen(QColor(255, 60, 60));
  p.drawLine(QPointF(tuned, picture), QPointF(tuned, picture + 6));
}

}  // namespace lanternfly
