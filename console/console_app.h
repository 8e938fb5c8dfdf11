// The console's whole run: load and bind the engine, configure and start it,
// open the window, start the display thread, run the event loop, then shut
// everything down in order.
#pragma once

#include <QString>

namespace lanternfly {

// The engine configuration the console always uses.
inline constexpr int kInputDevice = 2;
inline constexpr int kOutputDevice = 2;
inline constexpr int kBufferCount = 4;
inline constexpr int kBlockOrder = 11;
inline constexpr int kSampleRate = 48000;  // Hz
inline constexpr int kBitsPerSample = 16;

// Runs the console on the main thread of an existing QApplication, looking
// for libBrackwell.so in programDir first. Returns the exit code: 0 after the
// window was closed, 1 when the engine library could not be loaded (after a
// modal "Error" message box naming it).
int runConsole(const QString& programDir);

}  // namespace lanternfly
