// One frame of the spectrum picture, drawn from the engine's spectrum, and
// the text of the signal readout. Pure functions: no engine, no window.
#pragma once

#include <QImage>
#include <QRgb>
#include <QString>
#include <span>
#include <vector>

namespace lanternfly {

inline constexpr int kPictureWidth = 512;    // columns, one bin each
inline constexpr int kPictureHeight = 200;   // rows, one decibel each
inline constexpr int kGridSpacing = 13;      // rows between grid lines
inline constexpr int kGridLines = 15;
inline constexpr QRgb kBackgroundColour = qRgb(0, 0, 0);
inline constexpr QRgb kColumnColour = qRgb(200, 200, 0);
inline constexpr QRgb kGridColour = qRgb(200, 0, 0);

// Bin shown in column x for block order n: (2^n - x * s) AND (2^(n+1) - 1)
// in 32-bit two's complement, where s = 2^(n+1) / 512 bins a column spans
// the band once (n - 3 at n = 11: (2048 - 8x) & 4095; at n = 9,
// (512 - 2x) & 1023). At least one bin a column.
int binForColumn(int x, int order);

// Top row of a column for a bin magnitude s: the level
// 20 * log10(32768 / (s / 8192)) dB truncated toward zero. Returns false when
// the level is not finite (s of 0, below 0, or not finite itself); the
// column is then left out.
bool columnTopRow(double s, int& row);

// Paints a picture of columns into `image` (Format_RGB32, any size): pixel
// (x, y) is `column` where y >= tops[x] and `background` above it, so a top
// at or below the last row leaves the column out and one above row 0 runs
// it to the top. tops holds one top row a column, image.width() of them.
// `scratch` is the caller's working space, kept between calls so that a
// picture drawn ten times a second allocates nothing.
void paintColumns(QImage& image, std::span<const int> tops, QRgb column, QRgb background,
                  std::vector<int>& scratch);

// Draws the full picture for the given spectrum (bins as delivered by the
// engine, at least 2^(order+1) values; a column whose bin lies beyond the
// span is left out): black background, one column per x from row 200 up to
// its top row (clipped to the picture), then the red grid rows 13, 26 ... 195
// over the columns. Format RGB32.
QImage drawSpectrumFrame(std::span<const double> spectrum, int order);

// Reduces a spectrum (bins as delivered by the engine, M values, bin k at
// k * rate / M above the band centre for k < M/2, below it from M/2 on) to
// columns.size() columns in frequency order, lowest frequency first: column
// c covers the bins of its 1/columns.size() slice of the band (at least
// one) and gets the strongest of them, so a narrow signal shows in full
// wherever it falls. NaN never wins; a column with no positive bin gets 0.
// Fewer than two bins give all zeros.
void strongestPerColumn(std::span<const double> spectrum, std::span<double> columns);

// The signal readout for an engine reading: nearest integer, halves to the
// even neighbour, as plain decimal ("-2", "4"). A reading that is not finite
// gives an empty text; one beyond the 64-bit range shows the nearest end.
QString signalReadoutText(double reading);

}  // namespace lanternfly
