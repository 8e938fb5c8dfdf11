// The console's whole run, in order: load and bind the engine, configure it
// and send the first receive block, open the window (with what the operator
// has around it, see window_assembly.h), start the engine, start the display
// thread, run the event loop, stop the display thread and the engine, save
// the settings, unload the engine.
#pragma once

#include <QString>

#include "app/options.h"

namespace lanternfly {

// The engine configuration the console always uses (the sample rate is
// kCaptureRateHz).
inline constexpr int kInputDevice = 2;
inline constexpr int kOutputDevice = 2;
inline constexpr int kBufferCount = 4;
inline constexpr int kBitsPerSample = 16;
// Blocks of 2^order frames: kBlockOrder as ever; with Low latency a quarter
// of that, which the engine's filters are designed for as they are for any
// order (their skirts four times as wide).
inline constexpr int kBlockOrder = 11;
inline constexpr int kLowLatencyBlockOrder = 9;

// The QSettings location of the console's saved settings.
inline constexpr const char* kSettingsOrganisation = "Brackwell";
inline constexpr const char* kSettingsApplication = "Lanternfly";

// Runs the console on the main thread of an existing QApplication, looking
// for libBrackwell.so in programDir first. The saved settings are read at
// start (values out of their limits reset, in one line on stderr), the
// options (already checked by parseOptions) override them for this run, and
// the settings are saved when the window closes (a failure said on stderr). Returns the
// exit code: 0 after the window was closed, 1 when the engine library could
// not be loaded (after a modal "Error" message box naming it), 2 when the
// options do not fit the saved settings.
int runConsole(const QString& programDir, const ConsoleOptions& options = {});

}  // namespace lanternfly
