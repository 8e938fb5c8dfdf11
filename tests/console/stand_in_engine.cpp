// A stand-in for libBrackwell.so, for the console's tests. It exports the
// fourteen operations (or, built with STAND_IN_PARTIAL, only some of them)
// and writes one line per call to the file named by BW_STAND_IN_LOG:
//   load | unload | <name> [arguments]
//   | sdrSetNewParam <65 bytes in hex, 128 for a version-2 block>
//   | sdrStop inflight=<display calls running at that moment>
// Behaviour is chosen by environment variables read at load:
//   BW_STAND_IN_SMETR        the value sdrGetSmetr returns (default 0)
//   BW_STAND_IN_BIN          the value of every spectrum bin (default 0)
//   BW_STAND_IN_CLOSE_AFTER  after this many sdrGetSpectrum calls, ask every
//                            top-level window to close (as its close button)
//   BW_STAND_IN_REFUSE_IN    sdrStart answers 1 while this capture device is
//                            configured
//   BW_STAND_IN_STOP_AFTER   after this many sdrGetSpectrum calls since the
//                            last sdrStart, the engine acts as if its sound
//                            device failed: sdrGetSpectrum answers 3
//   BW_STAND_IN_NOTE_BOXES   each sdrGetSpectrum call logs `box <text>` while
//                            a modal message box runs its own event loop
// Devices 1..3 are named "Card A", "Card B", "Card C" both ways.
#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "brackwell/brackwell.h"
#include "brackwell/param_block.h"

#define STAND_IN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

[[maybe_unused]] constexpr int kSpectrumValues = 4096;  // M for the console's order 11

std::mutex logMutex;
std::FILE* logFile = nullptr;
double smetrValue = 0.0;
double binValue = 0.0;
long closeAfter = 0;
long refuseInput = 0;
long stopAfter = 0;
// Receives the queued box checks; deleted at unload, which drops checks
// still queued while their code is loaded.
QObject* boxWatcher = nullptr;
std::atomic<int> configuredInput{0};
[[maybe_unused]] std::atomic<long> spectrumCalls{0};  // unused when partial
[[maybe_unused]] std::atomic<long> spectrumCallsSinceStart{0};
std::atomic<int> displayCallsInFlight{0};

void logLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(logMutex);
  if (logFile == nullptr) return;
  std::fputs(line.c_str(), logFile);
  std::fputc('\n', logFile);
  std::fflush(logFile);
}

double envDouble(const char* name) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::strtod(text, nullptr) : 0.0;
}

__attribute__((constructor)) void onLoad() {
  if (const char* path = std::getenv("BW_STAND_IN_LOG")) logFile = std::fopen(path, "a");
  smetrValue = envDouble("BW_STAND_IN_SMETR");
  binValue = envDouble("BW_STAND_IN_BIN");
  closeAfter = static_cast<long>(envDouble("BW_STAND_IN_CLOSE_AFTER"));
  refuseInput = static_cast<long>(envDouble("BW_STAND_IN_REFUSE_IN"));
  stopAfter = static_cast<long>(envDouble("BW_STAND_IN_STOP_AFTER"));
  if (std::getenv("BW_STAND_IN_NOTE_BOXES") != nullptr) boxWatcher = new QObject;
  logLine("load");
}

__attribute__((destructor)) void onUnload() {
  delete boxWatcher;
  logLine("unload");
  std::lock_guard<std::mutex> lock(logMutex);
  if (logFile != nullptr) std::fclose(logFile);
  logFile = nullptr;
}

// Counts a display-thread call for as long as it runs.
struct InFlight {
  InFlight() { ++displayCallsInFlight; }
  ~InFlight() { --displayCallsInFlight; }
};

[[maybe_unused]] void closeAllWindows() {
  QMetaObject::invokeMethod(
      qApp,
      [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
          if (w->isVisible()) w->close();
        }
      },
      Qt::QueuedConnection);
}

[[maybe_unused]] const char* cardName(int32_t device) {
  static const char* const kNames[] = {"Card A", "Card B", "Card C"};
  return device >= 1 && device <= 3 ? kNames[device - 1] : "";
}

}  // namespace

#ifndef STAND_IN_PARTIAL
STAND_IN_EXPORT int32_t sdrGetNumInDevice(void) {
  logLine("sdrGetNumInDevice");
  return 3;
}
STAND_IN_EXPORT int32_t sdrGetNumOutDevice(void) {
  logLine("sdrGetNumOutDevice");
  return 3;
}
STAND_IN_EXPORT const char* sdrGetNameInDevice(int32_t device) {
  logLine("sdrGetNameInDevice " + std::to_string(device));
  return cardName(device);
}
STAND_IN_EXPORT const char* sdrGetNameOutDevice(int32_t device) {
  logLine("sdrGetNameOutDevice " + std::to_string(device));
  return cardName(device);
}
STAND_IN_EXPORT int32_t sdrGetNumMixer(void) {
  logLine("sdrGetNumMixer");
  return 0;
}
STAND_IN_EXPORT const char* sdrGetNameMixer(int32_t mixer) {
  logLine("sdrGetNameMixer " + std::to_string(mixer));
  return "";
}
STAND_IN_EXPORT uint32_t sdrGetOutVolume(int32_t device) {
  logLine("sdrGetOutVolume " + std::to_string(device));
  return 0;
}
STAND_IN_EXPORT int32_t sdrSetOutVolume(int32_t device, uint32_t volume) {
  logLine("sdrSetOutVolume " + std::to_string(device) + " " + std::to_string(volume));
  return 0;
}
#endif

STAND_IN_EXPORT int32_t sdrSetGlobal(int32_t inputDevice, int32_t outputDevice,
                                     int32_t bufferCount, int32_t order, int32_t sampleRate,
                                     int32_t bitsPerSample) {
  logLine("sdrSetGlobal " + std::to_string(inputDevice) + " " + std::to_string(outputDevice) +
          " " + std::to_string(bufferCount) + " " + std::to_string(order) + " " +
          std::to_string(sampleRate) + " " + std::to_string(bitsPerSample));
  configuredInput = inputDevice;
  return 0;
}

STAND_IN_EXPORT int32_t sdrSetNewParam(const void* block) {
  static const char kHex[] = "0123456789abcdef";
  std::string line = "sdrSetNewParam ";
  const auto* bytes = static_cast<const unsigned char*>(block);
  const int size = bytes[0] >= SDR_PARAM_VERSION_MODES ? SDR_PARAM_BLOCK_V2_BYTES
                                                       : SDR_PARAM_BLOCK_BYTES;
  for (int i = 0; i < size; ++i) {
    line += kHex[bytes[i] >> 4];
    line += kHex[bytes[i] & 15];
  }
  logLine(line);
  return 0;
}

STAND_IN_EXPORT int32_t sdrStop(void) {
  logLine("sdrStop inflight=" + std::to_string(displayCallsInFlight.load()));
  // Longer than the display thread's pause: a display thread still running
  // would make calls that land after this line in the log.
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  return 0;
}

#ifndef STAND_IN_PARTIAL
STAND_IN_EXPORT int32_t sdrGetSpectrum(double* dest) {
  InFlight inFlight;
  logLine("sdrGetSpectrum");
  if (boxWatcher != nullptr) {  // queued: with a box open, runs in the box's loop
    QMetaObject::invokeMethod(boxWatcher, [] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        logLine("box " + box->text().toStdString());
      }
    }, Qt::QueuedConnection);
  }
  if (stopAfter > 0 && ++spectrumCallsSinceStart > stopAfter) return SDR_NOT_RUNNING;
  for (int k = 0; k < kSpectrumValues; ++k) dest[k] = binValue;
  // Long enough that a shutdown which did not wait for the display thread
  // would meet a call still running.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (++spectrumCalls == closeAfter) closeAllWindows();
  return 0;
}

STAND_IN_EXPORT double sdrGetSmetr(void) {
  InFlight inFlight;
  logLine("sdrGetSmetr");
  return smetrValue;
}

STAND_IN_EXPORT int32_t sdrStart(SdrBlockHook hook) {
  logLine(std::string("sdrStart ") + (hook == nullptr ? "0" : "hook"));
  if (refuseInput != 0 && configuredInput == refuseInput) return SDR_DEVICE_REFUSED;
  spectrumCallsSinceStart = 0;
  return 0;
}
#endif
