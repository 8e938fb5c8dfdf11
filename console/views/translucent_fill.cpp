#include "views/translucent_fill.h"

#include <QPainter>
#include <algorithm>

namespace lanternfly {

void fillInStrips(QPainter& painter, const QRectF& area, const QColor& colour) {
  for (double top = area.top(); top < area.bottom(); top += kRowsPerFillStrip) {
    const double rows = std::min<double>(kRowsPerFillStrip, area.bottom() - top);
    painter.fillRect(QRectF(area.left(), top, area.width(), rows), colour);
  }
}

}  // namespace lanternfly
