#include "views/picture_pointer.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QToolTip>
#include <QWidget>
#include <cmath>
#include <limits>
#include <utility>

#include "views/console_window.h"
#include "views/spectrum_frame.h"

namespace lanternfly {
namespace {

// Column under a window point, or -1 outside the picture.
int columnAt(QPoint p) {
  const QPoint local = p - QPoint(kPictureLeft, kPictureTop);
  if (local.x() < 0 || local.x() >= kPictureWidth || local.y() < 0 || local.y() >= kPictureHeight) {
    return -1;
  }
  return local.x();
}

}  // namespace

double columnOffsetHz(int x, int order, int sampleRateHz) {
  const int m = 2 << order;
  const int k = binForColumn(x, order);
  const double binHz = static_cast<double>(sampleRateHz) / m;
  return (k < m / 2 ? k : k - m) * binHz;
}

double magnitudeDb(double magnitude) {
  if (!(magnitude > 0.0)) return -std::numeric_limits<double>::infinity();
  return 20.0 * std::log10(magnitude / 268435456.0);
}

PicturePointer::PicturePointer(QWidget* window, std::function<QString(int)> describe,
                               std::function<void(int)> tuneTo)
    : QObject(window), window_(window), describe_(std::move(describe)), tuneTo_(std::move(tuneTo)) {
  // The frequency readout is wanted also while another window has focus.
  window_->setAttribute(Qt::WA_AlwaysShowToolTips);
  window_->installEventFilter(this);
}

bool PicturePointer::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_) return false;
  switch (event->type()) {
    case QEvent::ToolTip: {
      auto* help = static_cast<QHelpEvent*>(event);
      const int x = columnAt(help->pos());
      if (x < 0) {
        QToolTip::hideText();
        return false;
      }
      // The rectangle keeps the tip up only while the pointer stays on
      // this column.
      QToolTip::showText(help->globalPos(), describe_(x), window_,
                         QRect(kPictureLeft + x, kPictureTop, 1, kPictureHeight));
      return true;
    }
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      const int x = columnAt(mouse->position().toPoint());
      if (mouse->button() != Qt::LeftButton || x < 0) return false;
      tuneTo_(x);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace lanternfly
