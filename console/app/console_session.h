// The running console's state and what the operator does with it:
// retuning, receiver changes sent as a new parameter block, device changes
// (stop, reconfigure, start; the previous devices back when that fails),
// restarting an engine whose sound device stopped, a change of block order
// (Low latency: stop, reconfigure, start), and the frames of the display
// thread handed to the window and to the views watching.
// Main thread only; the display loop is stopped around every stop/start of
// the engine.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "controls/control_table.h"
#include "controls/receiver_settings.h"
#include "engine/engine_library.h"
#include "views/display_loop.h"

namespace lanternfly {

class ConsoleWindow;

struct DevicePair {
  int input = 0;  // device numbers, from 1
  int output = 0;
  QString inputName;  // as the engine named them; empty when not asked
  QString outputName;
};

class ConsoleSession : public QObject {
 public:
  // Told of every change of the state, after the engine has its new block.
  using Watcher = std::function<void(const ConsoleState& before, const ConsoleState& now)>;
  // Told of every spectrum the display thread delivers (2^(order+1) bins).
  using SpectrumWatcher = std::function<void(const std::vector<double>& spectrum)>;

  ConsoleSession(const EngineEntries& engine, ConsoleState state, DevicePair devices);
  ~ConsoleSession() override;

  // The window and the display loop the session drives; set once at start.
  void attach(ConsoleWindow* window, DisplayLoop* display);
  // The views beside the window (the waterfall, the operator view) attach here.
  void watch(Watcher watcher) { watchers_.push_back(std::move(watcher)); }
  void watchSpectra(SpectrumWatcher watcher) { spectrumWatchers_.push_back(std::move(watcher)); }

  const ConsoleState& state() const { return state_; }
  const ReceiverSettings& settings() const { return state_.receiver; }
  const DevicePair& devices() const { return devices_; }
  const ReceiveBlock& block() const { return block_; }
  const EngineEntries& engine() const { return e_; }
  // The block order the engine was last configured with, which the picture's
  // columns and the spectra follow.
  int order() const { return order_; }
  // The main window is closing: the run ends, and windows closing after it
  // are not the operator's choice.
  bool closing() const { return closing_; }

  // Makes `next` the state: sends the block when the receiver changed,
  // moves the slider when the tuning did, sends the volume to the playback
  // device when it changed, then tells the watchers.
  void apply(const ConsoleState& next);
  // The same for the receiver alone; the block is sent even when it is the
  // same as before, as for a repeated slider report.
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
  // Says in the same box as a refused device change that the engine
  // refused these devices at start; the window stays for another choice.
  void reportRefusedDevices(int status);

  // A frame from the display thread, on the main thread.
  void onFrame(DisplayFrame frame);

 protected:
  // Notes the main window's close, which ends the run.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void send();
  void change(const ConsoleState& next, bool sendAnyway);
  void showEngineStopped();
  // The spectrum picture drawn or not as the operator view hides it or not.
  void drawPictureWhenShown();
  int configureAndStart(int input, int output);
  // Runs the engine at the order the state asks for; on a refusal says so
  // and goes back to the previous order (and Low latency setting).
  void changeOrder(const ConsoleState& before);

  const EngineEntries& e_;
  ConsoleState state_;
  DevicePair devices_;
  int order_;
  ReceiveBlock block_{};
  ConsoleWindow* window_ = nullptr;
  DisplayLoop* display_ = nullptr;
  std::vector<double> lastSpectrum_;
  std::vector<Watcher> watchers_;
  std::vector<SpectrumWatcher> spectrumWatchers_;
  bool stoppedBoxOpen_ = false;
  bool closing_ = false;  // the main window is closing: the run ends
};

// The block order for the state: kBlockOrder, or kLowLatencyBlockOrder with
// Low latency.
int blockOrder(const ConsoleState& state);
// Engine configuration the console uses besides the devices and the order.
int configureEngine(const EngineEntries& e, int input, int output, int order);

}  // namespace lanternfly
