#include "controls/console_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QHash>
#include <QInputDialog>
#include <QMenu>
#include <cmath>
#include <cstring>

#include "app/console_session.h"
#include "engine/engine_devices.h"
#include "views/console_window.h"

namespace lanternfly {

ConsoleMenu::ConsoleMenu(ConsoleSession& session, ConsoleWindow& window)
    : QObject(&window), session_(session), window_(window), menu_(new QMenu(&window)) {
  menu_->setObjectName(QStringLiteral("consoleMenu"));
  // Rows that set one field, or share a check mark rule within a submenu,
  // exclude each other.
  QHash<QString, QActionGroup*> groups;
  for (const Control& row : controls()) {
    if (row.menu == nullptr) continue;
    const QString path = QString::fromUtf8(row.menu);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    QMenu* into = slash < 0 ? menu_ : submenu(path.left(slash));
    if (row.sectionStart) menu_->addSeparator();
    if (row.kind == ControlKind::Devices) {
      QMenu* devices = menu_->addMenu(path);
      devices->setObjectName(QLatin1String(row.name));
      const bool capture = row.choice != 0;
      connect(devices, &QMenu::aboutToShow, this,
              [this, devices, capture] { fillDevices(devices, capture); });
      continue;
    }
    auto* a = new QAction(path.mid(slash + 1), into);
    a->setObjectName(QLatin1String(row.name));
    if (row.keys != nullptr) {
      a->setShortcut(QKeySequence(QLatin1String(row.keys), QKeySequence::PortableText));
    }
    // Also from the waterfall window; a modal dialog still blocks them.
    a->setShortcutContext(Qt::ApplicationShortcut);
    a->setCheckable(checkable(row));
    into->addAction(a);
    // On the window too, so the shortcut works while the menu is closed.
    window_.addAction(a);
    if (row.kind == ControlKind::Choice || (row.kind == ControlKind::Command && row.checked)) {
      const QString group = row.setting != nullptr ? QLatin1String(row.setting) : path.left(slash);
      if (!groups.contains(group)) groups.insert(group, new QActionGroup(this));
      groups[group]->addAction(a);
    }
    const Control* r = &row;
    connect(a, &QAction::triggered, this, [this, r] {
      triggerControl(*r, *this);
      // A cancelled dialog leaves the state, and so the marks, as they were.
      refreshChecks();
    });
  }
  connect(menu_, &QMenu::aboutToShow, this, [this] { refreshChecks(); });
  session_.watch([this](const ConsoleState&, const ConsoleState&) { refreshChecks(); });
  refreshChecks();

  window_.setContextMenuPolicy(Qt::CustomContextMenu);
  connect(&window_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { menu_->popup(window_.mapToGlobal(at)); });
}

QMenu* ConsoleMenu::submenu(const QString& path) {
  QMenu* at = menu_;
  for (const QString& title : path.split(QLatin1Char('/'))) {
    QMenu* found = nullptr;
    for (QAction* a : at->actions()) {
      if (a->menu() != nullptr && a->text() == title) found = a->menu();
    }
    at = found != nullptr ? found : at->addMenu(title);
  }
  return at;
}

QAction* ConsoleMenu::action(const char* name) const {
  return menu_->findChild<QAction*>(QLatin1String(name));
}

const ConsoleState& ConsoleMenu::state() const { return session_.state(); }

void ConsoleMenu::apply(const ConsoleState& next) { session_.apply(next); }

std::optional<double> ConsoleMenu::ask(const Control& row, double start, double low,
                                       double high) {
  bool ok = false;
  const QString title = QStringLiteral("Lanternfly");
  const QString label = QString::fromUtf8(row.dialog);
  const double scale = row.dialogScale;
  if (row.decimals == 0) {
    const int v = QInputDialog::getInt(&window_, title, label, static_cast<int>(start),
                                       static_cast<int>(low), static_cast<int>(high),
                                       static_cast<int>(row.step), &ok);
    return ok ? std::optional<double>(v) : std::nullopt;
  }
  const double v = QInputDialog::getDouble(&window_, title, label, start / scale, low / scale,
                                           high / scale, row.decimals, &ok);
  return ok ? std::optional<double>(v * scale) : std::nullopt;
}

void ConsoleMenu::restart() { session_.restart(); }

void ConsoleMenu::close() { window_.close(); }

void ConsoleMenu::refreshChecks() {
  for (const Control& row : controls()) {
    QAction* a = action(row.name);
    if (a == nullptr) continue;
    if (row.label) {
      const QString text = row.label(session_.state());
      a->setText(text);
      a->setVisible(!text.isEmpty());
    }
    if (checkable(row)) a->setChecked(isChecked(row, session_.state()));
  }
}

void ConsoleMenu::fillDevices(QMenu* into, bool capture) {
  into->clear();
  const DevicePair& now = session_.devices();
  const QStringList names = distinctDeviceNames(deviceNames(session_.engine(), capture));
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
