#include "app/console_session.h"

#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <utility>

#include "app/console_app.h"
#include "engine/engine_devices.h"
#include "views/console_window.h"
#include "views/picture_pointer.h"
#include "views/spectrum_frame.h"

namespace lanternfly {
namespace {

void showError(const QString& text, QWidget* over) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Error"), text, QMessageBox::Ok, over);
  box.exec();
}

QString refusedDevicesText(int input, int output, int status) {
  return QStringLiteral(
             "Cannot use capture device %1 and playback device %2: %3\n"
             "Right-click the window to choose other devices.")
      .arg(input)
      .arg(output)
      .arg(statusText(status));
}

}  // namespace

int blockOrder(const ConsoleState& state) {
  return state.lowLatency ? kLowLatencyBlockOrder : kBlockOrder;
}

int configureEngine(const EngineEntries& e, int input, int output, int order) {
  if (e.sdrSetGlobal == nullptr) return SDR_OK;
  return e.sdrSetGlobal(input, output, kBufferCount, order, kCaptureRateHz, kBitsPerSample);
}

ConsoleSession::ConsoleSession(const EngineEntries& engine, ConsoleState state,
                               DevicePair devices)
    : e_(engine),
      state_(state),
      devices_(std::move(devices)),
      order_(blockOrder(state_)),
      block_(encodeReceiveBlock(state_.receiver, state_.lowLatency)) {}

ConsoleSession::~ConsoleSession() = default;

void ConsoleSession::attach(ConsoleWindow* window, DisplayLoop* display) {
  window_ = window;
  display_ = display;
  if (display_ != nullptr) display_->setPictureWanted(!state_.operatorView);
  if (window_ != nullptr) window_->installEventFilter(this);
}

bool ConsoleSession::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_ && event->type() == QEvent::Close) closing_ = true;
  return false;
}

void ConsoleSession::send() {
  block_ = encodeReceiveBlock(state_.receiver, state_.lowLatency);
  if (e_.sdrSetNewParam != nullptr) e_.sdrSetNewParam(block_.data());
}

void ConsoleSession::change(const ConsoleState& next, bool sendAnyway) {
  const ConsoleState before = state_;
  state_ = next;
  const ReceiverSettings& was = before.receiver;
  const ReceiverSettings& now = state_.receiver;
  if (now.tuneOffsetHz != was.tuneOffsetHz && window_ != nullptr) {
    window_->showTuning(now.tuneOffsetHz);
  }
  if (now.volumePercent != was.volumePercent && now.volumePercent >= 0 &&
      e_.sdrSetOutVolume != nullptr) {
    e_.sdrSetOutVolume(devices_.output, packedVolume(now.volumePercent));
  }
  if (state_.lowLatency != before.lowLatency) {
    changeOrder(before);
    send();
  } else if (sendAnyway || now != was) {
    send();
  }
  if (state_.operatorView != before.operatorView) drawPictureWhenShown();
  for (const Watcher& w : watchers_) w(before, state_);
}

void ConsoleSession::drawPictureWhenShown() {
  if (display_ != nullptr) display_->setPictureWanted(!state_.operatorView);
  // The picture was not drawn while hidden: the last spectrum's, at once,
  // rather than an old one until the next frame.
  if (!state_.operatorView && window_ != nullptr) {
    window_->showFrame(drawSpectrumFrame(lastSpectrum_, order_), window_->signalReadout()->text());
  }
}

void ConsoleSession::changeOrder(const ConsoleState& before) {
  const int wanted = blockOrder(state_);
  if (display_ != nullptr) display_->stop();
  if (e_.sdrStop != nullptr) e_.sdrStop();
  const int status = configureAndStart(devices_.input, devices_.output);
  if (status != SDR_OK) {
    state_.lowLatency = before.lowLatency;
    if (e_.sdrStop != nullptr) e_.sdrStop();
    configureAndStart(devices_.input, devices_.output);
  }
  if (display_ != nullptr) display_->start();
  if (status != SDR_OK) {
    showError(QStringLiteral("Cannot run the receiver at blocks of %1 frames: %2")
                  .arg(1 << wanted)
                  .arg(statusText(status)),
              window_);
  }
}

void ConsoleSession::apply(const ConsoleState& next) { change(next, false); }

void ConsoleSession::apply(const ReceiverSettings& settings) {
  ConsoleState next = state_;
  next.receiver = settings;
  change(next, true);
}

void ConsoleSession::retune(std::int32_t offsetHz) {
  // The window already shows the slider's offset.
  const ConsoleState before = state_;
  state_.receiver.tuneOffsetHz = offsetHz;
  send();
  for (const Watcher& w : watchers_) w(before, state_);
}

void ConsoleSession::tuneToColumn(int x) {
  tuneToOffset(columnOffsetHz(x, order_, kCaptureRateHz));
}

void ConsoleSession::tuneToOffset(double offsetHz) {
  ReceiverSettings s = state_.receiver;
  s.tuneOffsetHz = nearestSliderOffset(offsetHz);
  // Also when the offset stays: every click sends, like every slider report.
  if (s.tuneOffsetHz == state_.receiver.tuneOffsetHz && window_ != nullptr) {
    window_->showTuning(s.tuneOffsetHz);
  }
  apply(s);
}

QString ConsoleSession::describeColumn(int x) const {
  const double offset = columnOffsetHz(x, order_, kCaptureRateHz);
  QString text = kiloHertzText(state_.receiver.loHz + offset);
  const int k = binForColumn(x, order_);
  if (static_cast<std::size_t>(k) < lastSpectrum_.size()) {
    const double db = magnitudeDb(lastSpectrum_[static_cast<std::size_t>(k)]);
    text += std::isfinite(db) ? QStringLiteral("\n%1 dB").arg(db, 0, 'f', 1)
                              : QStringLiteral("\nno signal");
  }
  return text;
}

int ConsoleSession::configureAndStart(int input, int output) {
  order_ = blockOrder(state_);
  if (display_ != nullptr) display_->setOrder(order_);
  lastSpectrum_.clear();
  int status = configureEngine(e_, input, output, order_);
  if (status == SDR_OK && e_.sdrStart != nullptr) status = e_.sdrStart(nullptr);
  return status;
}

bool ConsoleSession::changeDevices(int input, int output) {
  const DevicePair previous = devices_;
  // The display thread must not read the engine across its stop and start.
  if (display_ != nullptr) display_->stop();
  if (e_.sdrStop != nullptr) e_.sdrStop();
  const int status = configureAndStart(input, output);
  bool ok = status == SDR_OK;
  if (ok) {
    devices_ = {input, output, deviceName(e_, true, input), deviceName(e_, false, output)};
    if (state_.receiver.volumePercent >= 0 && e_.sdrSetOutVolume != nullptr) {
      e_.sdrSetOutVolume(output, packedVolume(state_.receiver.volumePercent));
    }
  } else {
    if (e_.sdrStop != nullptr) e_.sdrStop();
    configureAndStart(previous.input, previous.output);
  }
  if (display_ != nullptr) display_->start();
  if (!ok) showError(refusedDevicesText(input, output, status), window_);
  return ok;
}

void ConsoleSession::reportRefusedDevices(int status) {
  // From the event loop, so that the window is up behind the box.
  QTimer::singleShot(0, this, [this, status] {
    showError(refusedDevicesText(devices_.input, devices_.output, status), window_);
  });
}

bool ConsoleSession::restart() {
  if (display_ != nullptr) display_->stop();
  if (e_.sdrStop != nullptr) e_.sdrStop();
  const int status = e_.sdrStart != nullptr ? e_.sdrStart(nullptr) : SDR_OK;
  if (display_ != nullptr) display_->start();
  if (status != SDR_OK) {
    showError(QStringLiteral("Cannot start the receiver: %1").arg(statusText(status)), window_);
  }
  return status == SDR_OK;
}

void ConsoleSession::onFrame(DisplayFrame frame) {
  if (window_ != nullptr) window_->showFrame(frame.picture, frame.signalText);
  if (!frame.spectrum.empty()) {
    lastSpectrum_ = std::move(frame.spectrum);
    for (const SpectrumWatcher& w : spectrumWatchers_) w(lastSpectrum_);
  }
  if (frame.engineStopped && !stoppedBoxOpen_) {
    // Shown from the event loop, not from inside this frame's delivery.
    stoppedBoxOpen_ = true;
    QTimer::singleShot(0, this, [this] { showEngineStopped(); });
  }
}

void ConsoleSession::showEngineStopped() {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Error"),
                  QStringLiteral("Sound device stopped"), QMessageBox::Ok, window_);
  QPushButton* again = box.addButton(QStringLiteral("Restart"), QMessageBox::AcceptRole);
  box.setDefaultButton(again);
  box.exec();
  stoppedBoxOpen_ = false;
  if (box.clickedButton() == again) restart();
}

}  // namespace lanternfly
