#include "console_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QInputDialog>
#include <QMenu>

#include "console_session.h"
#include "console_window.h"
#include "engine_devices.h"

namespace lanternfly {

ConsoleMenu::ConsoleMenu(ConsoleSession& session, ConsoleWindow& window)
    : QObject(&window), session_(session), window_(window), menu_(new QMenu(&window)) {
  menu_->setObjectName(QStringLiteral("consoleMenu"));
  auto change = [this](auto edit) {
    return [this, edit] {
      ReceiverSettings s = session_.settings();
      edit(s);
      session_.apply(s);
    };
  };
  auto askDouble = [this](const QString& label, double value, double low, double high, int decimals,
                          double& out) {
    bool ok = false;
    out = QInputDialog::getDouble(&window_, QStringLiteral("Lanternfly"), label, value, low, high,
                                  decimals, &ok);
    return ok;
  };

  QMenu* sideband = menu_->addMenu(QStringLiteral("Sideband"));
  auto* sidebands = new QActionGroup(this);
  sidebands->addAction(add(sideband, QStringLiteral("Upper (USB)"), "usb", Qt::Key_U));
  sidebands->addAction(add(sideband, QStringLiteral("Lower (LSB)"), "lsb", Qt::Key_L));
  connect(action("usb"), &QAction::triggered, this,
          change([](ReceiverSettings& s) { s.sideband = Sideband::Upper; }));
  connect(action("lsb"), &QAction::triggered, this,
          change([](ReceiverSettings& s) { s.sideband = Sideband::Lower; }));

  QMenu* band = menu_->addMenu(QStringLiteral("Passband"));
  for (int k = 0; k < 3; ++k) {
    const Passband p = kPassbandPresets[k];
    const QByteArray name = "band" + QByteArray::number(k + 1);
    QAction* a = add(band,
                     QStringLiteral("%1 (%2..%3 Hz)")
                         .arg(QLatin1String(p.name))
                         .arg(p.lowCutHz)
                         .arg(p.highCutHz),
                     name.constData(), QKeySequence(Qt::Key_1 + k));
    connect(a, &QAction::triggered, this, change([p](ReceiverSettings& s) {
              s.lowCutHz = p.lowCutHz;
              s.highCutHz = p.highCutHz;
            }));
  }
  connect(add(band, QStringLiteral("Custom..."), "bandCustom", Qt::Key_B), &QAction::triggered,
          this, [this] {
            ReceiverSettings s = session_.settings();
            bool ok = false;
            const int low = QInputDialog::getInt(&window_, QStringLiteral("Lanternfly"),
                                                 QStringLiteral("Low edge (Hz):"), s.lowCutHz,
                                                 kLowestCutHz, kHighestCutHz - 1, 10, &ok);
            if (!ok) return;
            const int high = QInputDialog::getInt(
                &window_, QStringLiteral("Lanternfly"), QStringLiteral("High edge (Hz):"),
                std::max(s.highCutHz, low + 1), low + 1, kHighestCutHz, 10, &ok);
            if (!ok || !validPassband(low, high)) return;
            s.lowCutHz = low;
            s.highCutHz = high;
            session_.apply(s);
          });

  QMenu* agc = menu_->addMenu(QStringLiteral("Automatic gain"));
  auto* agcs = new QActionGroup(this);
  agcs->addAction(add(agc, QStringLiteral("Slow hold"), "agcSlow", Qt::Key_A));
  agcs->addAction(add(agc, QStringLiteral("Fast hold"), "agcFast", Qt::Key_F));
  agcs->addAction(add(agc, QStringLiteral("Off, fixed gain..."), "agcOff", Qt::Key_G));
  connect(action("agcSlow"), &QAction::triggered, this,
          change([](ReceiverSettings& s) { s.agc = AgcMode::Slow; }));
  connect(action("agcFast"), &QAction::triggered, this,
          change([](ReceiverSettings& s) { s.agc = AgcMode::Fast; }));
  connect(action("agcOff"), &QAction::triggered, this, [this, askDouble] {
    double gain = 0;
    ReceiverSettings s = session_.settings();
    if (askDouble(QStringLiteral("Fixed gain (linear factor):"), s.fixedGain, 0.0, 1e9, 3, gain)) {
      s.agc = AgcMode::Off;
      s.fixedGain = gain;
      session_.apply(s);
    }
    refreshChecks();
  });

  connect(add(menu_, QStringLiteral("Squelch level..."), "squelch", Qt::Key_S), &QAction::triggered,
          this, [this, askDouble] {
            double level = 0;
            ReceiverSettings s = session_.settings();
            if (askDouble(QStringLiteral("Squelch level (sample units, 0 = open):"), s.squelchLevel,
                          0.0, 1e9, 1, level)) {
              s.squelchLevel = level;
              session_.apply(s);
            }
          });
  connect(add(menu_, QStringLiteral("Output volume..."), "volume", Qt::Key_V), &QAction::triggered,
          this, [this] {
            ReceiverSettings s = session_.settings();
            bool ok = false;
            const int pct = QInputDialog::getInt(
                &window_, QStringLiteral("Lanternfly"), QStringLiteral("Output volume (%):"),
                s.volumePercent < 0 ? 100 : s.volumePercent, 0, 100, 5, &ok);
            if (!ok) return;
            s.volumePercent = pct;
            session_.apply(s);
          });

  menu_->addSeparator();
  add(menu_, QStringLiteral("Swap I and Q"), "swapIq", Qt::Key_I)->setCheckable(true);
  connect(action("swapIq"), &QAction::triggered, this,
          change([](ReceiverSettings& s) { s.swapIq = !s.swapIq; }));
  connect(add(menu_, QStringLiteral("Balance, phase..."), "balancePhase", Qt::Key_P),
          &QAction::triggered, this, [this, askDouble] {
            double v = 0;
            ReceiverSettings s = session_.settings();
            if (askDouble(QStringLiteral("Phase coefficient (imaginary += c x real):"),
                          s.iqPhaseCoef, -1.0, 1.0, 6, v)) {
              s.iqPhaseCoef = v;
              session_.apply(s);
            }
          });
  connect(add(menu_, QStringLiteral("Balance, gain..."), "balanceGain",
              QKeySequence(Qt::SHIFT | Qt::Key_P)),
          &QAction::triggered, this, [this, askDouble] {
            double v = 0;
            ReceiverSettings s = session_.settings();
            if (askDouble(QStringLiteral("Gain coefficient (real x (1 + c)):"), s.iqGainCoef, -1.0,
                          1.0, 6, v)) {
              s.iqGainCoef = v;
              session_.apply(s);
            }
          });
  connect(add(menu_, QStringLiteral("LO frequency..."), "lo", Qt::Key_O), &QAction::triggered, this,
          [this, askDouble] {
            double khz = 0;
            ReceiverSettings s = session_.settings();
            if (askDouble(QStringLiteral("Local oscillator (kHz):"), s.loHz / 1000.0, 0.0, 1e9, 3,
                          khz)) {
              s.loHz = khz * 1000.0;
              session_.apply(s);
            }
          });

  menu_->addSeparator();
  QMenu* capture = menu_->addMenu(QStringLiteral("Capture device"));
  capture->setObjectName(QStringLiteral("captureDevices"));
  QMenu* playback = menu_->addMenu(QStringLiteral("Playback device"));
  playback->setObjectName(QStringLiteral("playbackDevices"));
  connect(capture, &QMenu::aboutToShow, this, [this, capture] { fillDevices(capture, true); });
  connect(playback, &QMenu::aboutToShow, this, [this, playback] { fillDevices(playback, false); });

  menu_->addSeparator();
  connect(add(menu_, QStringLiteral("Waterfall"), "waterfall", Qt::Key_W), &QAction::triggered,
          this, [this] { session_.toggleWaterfall(); });
  connect(add(menu_, QStringLiteral("Restart receiver"), "restart", Qt::Key_R), &QAction::triggered,
          this, [this] { session_.restart(); });
  connect(add(menu_, QStringLiteral("Close"), "close", QKeySequence(Qt::CTRL | Qt::Key_Q)),
          &QAction::triggered, &window_, &QWidget::close);

  for (QAction* a :
       {action("usb"), action("lsb"), action("agcSlow"), action("agcFast"), action("agcOff")}) {
    a->setCheckable(true);
  }
  connect(menu_, &QMenu::aboutToShow, this, [this] { refreshChecks(); });
  refreshChecks();

  window_.setContextMenuPolicy(Qt::CustomContextMenu);
  connect(&window_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { menu_->popup(window_.mapToGlobal(at)); });
}

QAction* ConsoleMenu::add(QMenu* into, const QString& text, const char* name,
                          const QKeySequence& keys) {
  auto* a = new QAction(text, into);
  a->setObjectName(QLatin1String(name));
  a->setShortcut(keys);
  // Also from the waterfall window; a modal dialog still blocks them.
  a->setShortcutContext(Qt::ApplicationShortcut);
  into->addAction(a);
  // On the window too, so the shortcut works while the menu is closed.
  window_.addAction(a);
  return a;
}

QAction* ConsoleMenu::action(const char* name) const {
  return menu_->findChild<QAction*>(QLatin1String(name));
}

void ConsoleMenu::refreshChecks() {
  const ReceiverSettings& s = session_.settings();
  action("usb")->setChecked(s.sideband == Sideband::Upper);
  action("lsb")->setChecked(s.sideband == Sideband::Lower);
  action("agcSlow")->setChecked(s.agc == AgcMode::Slow);
  action("agcFast")->setChecked(s.agc == AgcMode::Fast);
  action("agcOff")->setChecked(s.agc == AgcMode::Off);
  action("swapIq")->setChecked(s.swapIq);
}

void ConsoleMenu::fillDevices(QMenu* into, bool capture) {
  into->clear();
  const DevicePair& now = session_.devices();
  const QStringList names = deviceNames(session_.engine(), capture);
  for (qsizetype k = 0; k < names.size(); ++k) {
    const int number = static_cast<int>(k) + 1;
    QAction* a = into->addAction(QStringLiteral("%1  %2").arg(number).arg(names[k]));
    a->setObjectName(QStringLiteral("device%1").arg(number));
    a->setCheckable(true);
    a->setChecked(number == (capture ? now.input : now.output));
    connect(a, &QAction::triggered, this, [this, capture, number] {
      const DevicePair& d = session_.devices();
      session_.changeDevices(capture ? number : d.input, capture ? d.output : number);
    });
  }
  if (names.isEmpty()) into->addAction(QStringLiteral("(none)"))->setEnabled(false);
}

}  // namespace lanternfly
