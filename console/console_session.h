// The running console's receiver state and what the operator does with it:
// retuning, receiver changes sent as a new parameter block, device changes
// (stop, reconfigure, start; the previous devices back when that fails),
// restarting an engine whose sound device stopped, and the frames of the
// display thread fanned out to the window, the pointer and the waterfall.
// Main thread only; the display loop is stopped around every stop/start of
// the engine.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "display_loop.h"
#include "engine_library.h"
#include "receive_block.h"
#include "receiver_settings.h"

namespace lanternfly {

class ConsoleWindow;
class WaterfallWindow;

struct DevicePair {
  int input = 0;  // device numbers, from 1
  int output = 0;
  QString inputName;  // as the engine named them; empty when not asked
  QString outputName;
};

class ConsoleSession : public QObject {
 public:
  ConsoleSession(const EngineEntries& engine, ReceiverSettings settings, DevicePair devices);
  ~ConsoleSession() override;

  // The window and the display loop the session drives; set once at start.
  void attach(ConsoleWindow* window, DisplayLoop* display);

  const ReceiverSettings& settings() const { return settings_; }
  const DevicePair& devices() const { return devices_; }
  const ReceiveBlock& block() const { return block_; }
  const EngineEntries& engine() const { return e_; }

  // Sends the block for these settings; moves the slider when the tuning
  // changed. The volume is sent to the playback device when it changed.
  void apply(const ReceiverSettings& settings);
  // The slider reported this offset (Hz).
  void retune(std::int32_t offsetHz);
  // Tunes to picture column x as a slider move there would.
  void tuneToColumn(int x);
  // Tunes to the slider step nearest to offsetHz as a slider move there
  // would; every call sends, also one that leaves the offset as it was.
  void tuneToOffset(double offsetHz);
  // The tooltip for picture column x: frequency (LO + offset, kHz) and level.
  QString describeColumn(int x) const;

  // Stops the engine, configures it for the new devices and starts it.
  // When the engine refuses either, says so in a modal "Error" box and puts
  // the previous devices back (configured and started). True on success.
  bool changeDevices(int input, int output);
  // Stops and starts the engine on its current devices; a failure is shown
  // in a modal "Error" box. True when the engine started.
  bool restart();

  // Shows the waterfall window, or hides it when shown.
  void toggleWaterfall();
  WaterfallWindow* waterfall() const { return waterfall_.get(); }
  // Whether the operator has the waterfall open (kept across runs).
  bool waterfallOpen() const { return waterfallOpen_; }
  // The waterfall's frequency rises to the right (else to the left), now
  // and when it is first opened.
  void setWaterfallRisingRight(bool risingRight);

  // Additions outside the specified window: told of every spectrum a frame
  // brings and of the settings after every block sent.
  std::function<void(std::span<const double> spectrum)> onSpectrum;
  std::function<void(const ReceiverSettings& settings)> onSent;

  // A frame from the display thread, on the main thread.
  void onFrame(DisplayFrame frame);

 protected:
  // Notes the main window's close, which ends the run.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void send();
  void showEngineStopped();
  int configureAndStart(int input, int output);

  const EngineEntries& e_;
  ReceiverSettings settings_;
  DevicePair devices_;
  ReceiveBlock block_{};
  ConsoleWindow* window_ = nullptr;
  DisplayLoop* display_ = nullptr;
  std::vector<double> lastSpectrum_;
  std::unique_ptr<WaterfallWindow> waterfall_;
  bool stoppedBoxOpen_ = false;
  bool waterfallOpen_ = false;
  bool waterfallRisingRight_ = false;
  bool closing_ = false;  // the main window is closing: the run ends
};

// Engine configuration the console uses besides the devices.
int configureEngine(const EngineEntries& e, int input, int output);

}  // namespace lanternfly
