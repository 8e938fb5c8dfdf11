// Translucent fills over tall areas, painted without waking Qt's thread pool.
#pragma once

#include <QColor>
#include <QRectF>

class QPainter;

namespace lanternfly {

// Rows a single fill may cover before Qt's raster engine splits it across
// its thread pool (96 rows and more there).
inline constexpr int kRowsPerFillStrip = 64;

// Fills `area` (device pixels; top and bottom on whole rows) with `colour`
// in strips of kRowsPerFillStrip rows. The pixels are those of one
// fillRect: the strips meet on whole rows. A fill over a few hundred rows
// would otherwise hand strips to pool threads and wait for them, two thread
// wake-ups a strip, which for a few dozen columns costs more than the
// blending on a machine with two cores.
void fillInStrips(QPainter& painter, const QRectF& area, const QColor& colour);

}  // namespace lanternfly
