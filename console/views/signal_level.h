// The operator view's signal level: the power of the spectrum's bins inside
// the receiver's passband, in dB, and its text, in dBm and S-units once a
// one-point calibration says what a level of 0 dB is in dBm. Pure
// functions: no engine, no window.
#pragma once

#include <QString>
#include <optional>
#include <span>

#include "controls/receiver_settings.h"

namespace lanternfly {

// The S-meter's reference: S9 is -73 dBm, each S-unit 6 dB.
inline constexpr double kS9Dbm = -73.0;
inline constexpr double kDbPerSUnit = 6.0;

// Power of the bins (engine layout, M magnitudes, bin width rate / M) whose
// frequency lies in the passband of `s` (edges relative to the tuned
// frequency, on the side the sideband selects), in dB relative to one bin
// at the picture's full scale (2^28): 10 log10(sum (S / 2^28)^2). The sum
// rises with a signal in the passband and ignores everything outside it.
// -infinity when the passband holds no energy (or no bin); NaN bins are
// skipped.
double passbandLevelDb(std::span<const double> spectrum, const ReceiverSettings& s,
                       int sampleRateHz);

// "S7", "S9", "S9+12": S-units for a level in dBm, whole units below S9
// (S0 at the bottom), whole dB above it.
QString sUnitText(double dBm);

// The readout: "-87.5 dB" without a calibration; with one (dBm at 0 dB),
// "-61.5 dBm  S9+12". A level that is not finite reads "no signal".
QString signalLevelText(double levelDb, std::optional<double> calibrationDbm);

}  // namespace lanternfly
