#include "console_session.h"

#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <cmath>
#include <utility>

#include "console_app.h"
#include "console_window.h"
#include "engine_devices.h"
#include "picture_pointer.h"
#include "spectrum_frame.h"
#include "waterfall_window.h"

namespace lanternfly {
namespace {

void showError(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Error"), text, QMessageBox::Ok);
  box.exec();
}

}  // namespace

int configureEngine(const EngineEntries& e, int input, int output) {
  if (e.sdrSetGlobal == nullptr) return SDR_OK;
  return e.sdrSetGlobal(input, output, kBufferCount, kBlockOrder, kSampleRate, kBitsPerSample);
}

ConsoleSession::ConsoleSession(const EngineEntries& engine, ReceiverSettings settings,
                               DevicePair devices)
    : e_(engine),
      settings_(settings),
      devices_(std::move(devices)),
      block_(encodeReceiveBlock(settings_)) {}

ConsoleSession::~ConsoleSession() = default;

void ConsoleSession::attach(ConsoleWindow* window, DisplayLoop* display) {
  window_ = window;
  display_ = display;
  if (window_ != nullptr) window_->installEventFilter(this);
}

bool ConsoleSession::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_ && event->type() == QEvent::Close) closing_ = true;
  return false;
}

void ConsoleSession::send() {
  block_ = encodeReceiveBlock(settings_);
  if (e_.sdrSetNewParam != nullptr) e_.sdrSetNewParam(block_.data());
  if (waterfall_) waterfall_->setTuning(settings_);
  if (onSent) onSent(settings_);
}

void ConsoleSession::apply(const ReceiverSettings& settings) {
  const bool retuned = settings.tuneOffsetHz != settings_.tuneOffsetHz;
  const bool louder = settings.volumePercent != settings_.volumePercent;
  settings_ = settings;
  if (retuned && window_ != nullptr) {
    // Positioned without a movement report; the readout shows the offset
    // as after one.
    window_->slider()->setValue(kSliderCentre + settings_.tuneOffsetHz / kHzPerSliderStep);
    window_->offsetReadout()->setText(QString::number(settings_.tuneOffsetHz));
  }
  if (louder && settings_.volumePercent >= 0 && e_.sdrSetOutVolume != nullptr) {
    e_.sdrSetOutVolume(devices_.output, packedVolume(settings_.volumePercent));
  }
  send();
}

void ConsoleSession::retune(std::int32_t offsetHz) {
  settings_.tuneOffsetHz = offsetHz;
  send();
}

void ConsoleSession::tuneToColumn(int x) {
  tuneToOffset(columnOffsetHz(x, kBlockOrder, kSampleRate));
}

void ConsoleSession::tuneToOffset(double offsetHz) {
  ReceiverSettings s = settings_;
  s.tuneOffsetHz = nearestSliderOffset(offsetHz);
  // Also when the offset stays: every click sends, like every slider report.
  if (s.tuneOffsetHz == settings_.tuneOffsetHz) {
    if (window_ != nullptr) window_->offsetReadout()->setText(QString::number(s.tuneOffsetHz));
    send();
  } else {
    apply(s);
  }
}

QString ConsoleSession::describeColumn(int x) const {
  const double offset = columnOffsetHz(x, kBlockOrder, kSampleRate);
  QString text = kiloHertzText(settings_.loHz + offset);
  const int k = binForColumn(x, kBlockOrder);
  if (static_cast<std::size_t>(k) < lastSpectrum_.size()) {
    const double db = magnitudeDb(lastSpectrum_[static_cast<std::size_t>(k)]);
    text += std::isfinite(db) ? QStringLiteral("\n%1 dB").arg(db, 0, 'f', 1)
                              : QStringLiteral("\nno signal");
  }
  return text;
}

int ConsoleSession::configureAndStart(int input, int output) {
  int status = configureEngine(e_, input, output);
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
    if (settings_.volumePercent >= 0 && e_.sdrSetOutVolume != nullptr) {
      e_.sdrSetOutVolume(output, packedVolume(settings_.volumePercent));
    }
  } else {
    if (e_.sdrStop != nullptr) e_.sdrStop();
    configureAndStart(previous.input, previous.output);
  }
  if (display_ != nullptr) display_->start();
  if (!ok) {
    showError(QStringLiteral("Cannot use capture device %1 and playback device %2: %3")
                  .arg(input)
                  .arg(output)
                  .arg(statusText(status)));
  }
  return ok;
}

bool ConsoleSession::restart() {
  if (display_ != nullptr) display_->stop();
  if (e_.sdrStop != nullptr) e_.sdrStop();
  const int status = e_.sdrStart != nullptr ? e_.sdrStart(nullptr) : SDR_OK;
  if (display_ != nullptr) display_->start();
  if (status != SDR_OK) {
    showError(QStringLiteral("Cannot start the receiver: %1").arg(statusText(status)));
  }
  return status == SDR_OK;
}

void ConsoleSession::toggleWaterfall() {
  if (!waterfall_) {
    waterfall_ = std::make_unique<WaterfallWindow>();
    waterfall_->setTuning(settings_);
    waterfall_->setRisingRight(waterfallRisingRight_);
    // Quitting closes every window after the main one: only a close before
    // the main window's is the operator's.
    waterfall_->onClosed = [this] {
      if (!closing_) waterfallOpen_ = false;
    };
  }
  waterfallOpen_ = !waterfall_->isVisible();
  if (waterfallOpen_) {
    waterfall_->show();
    waterfall_->raise();
  } else {
    waterfall_->hide();
  }
}

void ConsoleSession::setWaterfallRisingRight(bool risingRight) {
  waterfallRisingRight_ = risingRight;
  if (waterfall_) waterfall_->setRisingRight(risingRight);
}

void ConsoleSession::onFrame(DisplayFrame frame) {
  if (window_ != nullptr) window_->showFrame(frame.picture, frame.signalText);
  if (!frame.spectrum.empty()) {
    lastSpectrum_ = std::move(frame.spectrum);
    if (waterfall_ && waterfall_->isVisible()) waterfall_->addSpectrum(lastSpectrum_);
    if (onSpectrum) onSpectrum(lastSpectrum_);
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
