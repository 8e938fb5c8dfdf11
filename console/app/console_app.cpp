#include "app/console_app.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <cstdio>
#include <utility>
#include <vector>

#include "app/console_session.h"
#include "app/settings_store.h"
#include "app/window_assembly.h"
#include "engine/engine_devices.h"
#include "engine/engine_library.h"
#include "views/console_window.h"
#include "views/display_loop.h"

namespace lanternfly {
namespace {

void showMissingEngine(const QString& why) {
  // The box names the file; the loader's reason goes to the terminal.
  std::fprintf(stderr, "Lanternfly: cannot load %s: %s\n", kEngineFileName,
               why.toLocal8Bit().constData());
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Error"),
                  QStringLiteral("No %1").arg(QString::fromLatin1(kEngineFileName)),
                  QMessageBox::Ok);
  box.exec();
}

// The saved settings, with one line on the terminal about values that were
// not accepted and about a file that cannot be used; `notes` gets the same
// lines for the window.
SavedConsole loadReported(SettingsFile& file, QStringList& notes) {
  QStringList reset;
  const SavedConsole loaded = file.load(&reset);
  if (!file.problem().isEmpty()) notes.append(file.problem());
  if (!reset.isEmpty()) {
    notes.append(QStringLiteral("saved settings out of range or unreadable, reset to defaults: ") +
                 reset.join(QStringLiteral(", ")));
  }
  for (const QString& line : notes) {
    std::fprintf(stderr, "Lanternfly: %s\n", line.toLocal8Bit().constData());
  }
  return loaded;
}

// The same lines beside the window, for an operator who started the console
// from the desktop and sees no terminal. Not modal: the receiver runs on.
void showSettingsNotes(QWidget* window, const QStringList& notes) {
  if (notes.isEmpty()) return;
  QStringList sentences = notes;
  for (QString& line : sentences) line[0] = line[0].toUpper();
  auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Saved settings"),
                              sentences.join(QLatin1Char('\n')), QMessageBox::Ok, window);
  box->setObjectName(QStringLiteral("settingsNotes"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

// The device to open: the option's number, else the saved name's number,
// else the console's default. Names are asked for only when one is saved.
int chooseDevice(const EngineEntries& e, bool capture, std::optional<int> option,
                 const QString& savedName, int fallback, QString& name) {
  if (option) return *option;
  if (savedName.isEmpty()) return fallback;
  if (const int number = deviceNumberForName(e, capture, savedName); number > 0) {
    name = savedName;
    return number;
  }
  std::fprintf(stderr, "Lanternfly: saved %s device \"%s\" is not present; using device %d\n",
               capture ? "capture" : "playback", savedName.toLocal8Bit().constData(), fallback);
  return fallback;
}

DevicePair chooseDevices(const EngineEntries& e, const ConsoleOptions& options,
                         const SavedConsole& loaded) {
  DevicePair d;
  d.input = chooseDevice(e, true, options.device(true), loaded.inputDeviceName, kInputDevice,
                         d.inputName);
  d.output = chooseDevice(e, false, options.device(false), loaded.outputDeviceName, kOutputDevice,
                          d.outputName);
  return d;
}

// The engine's refusal of the devices at start, worth a box and a line on
// the terminal when the operator chose them (by option or by a saved name,
// also one not listed now: the sound server may not have answered); the
// console's own default devices run silently as ever.
int refusalToReport(const ConsoleOptions& options, const SavedConsole& loaded,
                    const DevicePair& devices, int configured, int started) {
  const bool chosen = options.device(true) || options.device(false) ||
                      !loaded.inputDeviceName.isEmpty() || !loaded.outputDeviceName.isEmpty();
  const int status = configured != SDR_OK ? configured : started;
  if (!chosen || status == SDR_OK) return SDR_OK;
  std::fprintf(stderr, "Lanternfly: capture device %d and playback device %d: %s\n",
               devices.input, devices.output, statusText(status).toLocal8Bit().constData());
  return status;
}

}  // namespace

int runConsole(const QString& programDir, const ConsoleOptions& options) {
  SettingsFile settingsFile;
  QStringList settingsNotes;
  const SavedConsole loaded = loadReported(settingsFile, settingsNotes);
  SavedConsole startedWith = loaded;
  if (QString why; !applyOptions(options, startedWith, why)) {
    std::fprintf(stderr, "Lanternfly: %s\n", why.toLocal8Bit().constData());
    return 2;
  }

  // Load the engine and bind its operations.
  EngineLibrary engine;
  if (!engine.load(programDir)) {
    // Without the engine there is nothing to drive: no operation is called.
    showMissingEngine(engine.errorText());
    return 1;
  }
  // Every call below goes through a binding that may be null when the
  // library does not export that name; a null one is skipped.
  const EngineEntries& e = engine.entries();

  // Configure it and send the first receive block.
  const DevicePair devices = chooseDevices(e, options, loaded);
  startedWith.inputDeviceName = devices.inputName;
  startedWith.outputDeviceName = devices.outputName;
  const int configured =
      configureEngine(e, devices.input, devices.output, blockOrder(startedWith));
  ConsoleSession session(e, startedWith, devices);
  if (e.sdrSetNewParam != nullptr) e.sdrSetNewParam(session.block().data());
  if (const int volume = startedWith.receiver.volumePercent;
      volume >= 0 && e.sdrSetOutVolume != nullptr) {
    e.sdrSetOutVolume(devices.output, packedVolume(volume));
  }

  // Open the window, assembled with all that the operator has around it.
  ConsoleWindow window([&session](std::int32_t offsetHz) { session.retune(offsetHz); });
  WindowAssembly assembly(session, window, loaded);
  window.show();

  // Start the engine, then the display thread. Frames reach the window as
  // one queued call carrying both the picture and the text, so the window
  // never shows half a frame.
  const int started = e.sdrStart != nullptr ? e.sdrStart(nullptr) : SDR_OK;
  ConsoleSession* target = &session;
  DisplayLoop display(e.sdrGetSmetr, e.sdrGetSpectrum, session.order(),
                      std::vector<double>(kSpectrumBufferValues, 0.0),
                      [target](DisplayFrame frame) {
                        QMetaObject::invokeMethod(
                            target,
                            [target, frame = std::move(frame)]() mutable {
                              target->onFrame(std::move(frame));
                            },
                            Qt::QueuedConnection);
                      });
  session.attach(&window, &display);
  display.start();
  assembly.started(refusalToReport(options, loaded, devices, configured, started));
  showSettingsNotes(&window, settingsNotes);

  QApplication::exec();

  // Shutdown: the display thread ends between frames before the engine
  // stops; unloading the library runs the engine's tear-down.
  display.stop();
  if (e.sdrStop != nullptr) e.sdrStop();

  SavedConsole now;
  static_cast<ConsoleState&>(now) = session.state();
  now.inputDeviceName = session.devices().inputName;
  now.outputDeviceName = session.devices().outputName;
  assembly.collect(now);
  if (!settingsFile.save(settingsToSave(loaded, startedWith, now)) && settingsFile.usable()) {
    std::fprintf(stderr, "Lanternfly: %s\n", settingsFile.problem().toLocal8Bit().constData());
  }

  engine.unload();
  return 0;
}

}  // namespace lanternfly
