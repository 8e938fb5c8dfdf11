// Outcomes of the engine's operations; the exports map them to the public
// status codes of brackwell.h.
#pragma once

namespace bw {

enum class Status {
  Ok,
  DeviceRefused,  // the sound system refused to open or start a device
  BadArgument,
  NotRunning,
  Running,        // refused because the engine runs
  NotConfigured,  // no format configured yet
};

}  // namespace bw
