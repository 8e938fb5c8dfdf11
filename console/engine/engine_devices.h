// Device numbers and names as the engine reports them, and the engine
// configuration for a pair of devices. Main thread only; every query goes
// through a binding that may be null (then nothing is found).
#pragma once

#include <QString>
#include <QStringList>

#include "engine/engine_library.h"

namespace lanternfly {

// Names of capture (input) or playback devices 1..count, in order.
QStringList deviceNames(const EngineEntries& e, bool capture);
// The same names with each repeated one told apart by its place among its
// namesakes: "default", "pulse", "default" become "default #1", "pulse",
// "default #2".
QStringList distinctDeviceNames(const QStringList& names);
// Number of the device with this distinct name (as distinctDeviceNames
// gives it), else of the first with this plain name; 0 when there is none.
int deviceNumberForName(const EngineEntries& e, bool capture, const QString& name);
// One device's distinct name; empty when unknown.
QString deviceName(const EngineEntries& e, bool capture, int number);

// Words for an engine status code, for messages.
QString statusText(int status);

// The listing of --list on stdout: devices and mixers, numbered from 1.
QString deviceListing(const EngineEntries& e);

}  // namespace lanternfly
