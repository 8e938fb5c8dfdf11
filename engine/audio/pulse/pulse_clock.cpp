#include "audio/pulse/pulse_clock.h"

#include <pulse/introspect.h>

#include <cstring>
#include <string>
#include <type_traits>

namespace bw::audio {

namespace {

// What the server says of one device, as far as its clock goes.
struct DeviceFacts {
  bool answered = false, found = false;
  std::uint32_t card = PA_INVALID_INDEX;
  std::uint32_t monitorOf = PA_INVALID_INDEX;  // sources only
  std::string driver;
};

// A clock, named: by card, by the server's timer, or by the device itself.
struct ClockName {
  enum Kind { Card, ServerTimer, OwnClock, Graph } kind;
  // The card, or the device: a sink's index, or a source's complemented
  // (sources and sinks are counted apart).
  std::uint32_t index;
  bool operator==(const ClockName&) const = default;
};

template <typename Info>
void keep(DeviceFacts& facts, const Info* info, int eol, PulseConnection& c) {
  if (eol != 0) {
    facts.answered = true;
    c.wake();
    return;
  }
  if (info == nullptr) return;
  facts.found = true;
  facts.card = info->card;
  facts.driver = info->driver != nullptr ? info->driver : "";
  if constexpr (std::is_same_v<Info, pa_source_info>) facts.monitorOf = info->monitor_of_sink;
}

struct Query {
  PulseConnection& connection;
  DeviceFacts facts;
};

void onSink(pa_context*, const pa_sink_info* info, int eol, void* self) {
  auto* q = static_cast<Query*>(self);
  keep(q->facts, info, eol, q->connection);
}
void onSource(pa_context*, const pa_source_info* info, int eol, void* self) {
  auto* q = static_cast<Query*>(self);
  keep(q->facts, info, eol, q->connection);
}

// With the lock held: the facts of sink or source `index`; found is false
// when the server did not answer by `deadline`.
DeviceFacts ask(PulseConnection& c, bool sink, std::uint32_t index,
                PulseConnection::Deadline deadline) {
  Query q{c, {}};
  pa_operation* op =
      sink ? pa_context_get_sink_info_by_index(c.context(), index, &onSink, &q)
           : pa_context_get_source_info_by_index(c.context(), index, &onSource, &q);
  if (op == nullptr) return {};
  const bool answered = c.waitUntil([&] { return q.facts.answered; }, deadline);
  // A late answer must not reach the query once it is gone.
  if (!answered) pa_operation_cancel(op);
  pa_operation_unref(op);
  if (!answered) return {};
  return q.facts;
}

ClockName clockOf(const DeviceFacts& d, std::uint32_t ownIndex) {
  if (d.driver == "PipeWire") return {ClockName::Graph, 0};
  if (d.card != PA_INVALID_INDEX) return {ClockName::Card, d.card};
  if (d.driver == "module-null-sink.c" || d.driver == "module-null-source.c") {
    return {ClockName::ServerTimer, 0};
  }
  return {ClockName::OwnClock, ownIndex};
}

}  // namespace

bool pulseDevicesShareClock(PulseConnection& c, std::uint32_t source, std::uint32_t sink,
                            PulseConnection::Deadline deadline) {
  if (source == PA_INVALID_INDEX || sink == PA_INVALID_INDEX) return false;
  PulseConnection::Lock lock(c);
  if (!c.usable()) return false;
  DeviceFacts in = ask(c, false, source, deadline);
  if (!in.found) return false;
  // A monitor runs on the clock of the sink it monitors.
  std::uint32_t inIndex = ~source;
  if (in.monitorOf != PA_INVALID_INDEX) {
    inIndex = in.monitorOf;
    in = ask(c, true, in.monitorOf, deadline);
    if (!in.found) return false;
  }
  const DeviceFacts out = ask(c, true, sink, deadline);
  return out.found && clockOf(in, inIndex) == clockOf(out, sink);
}

}  // namespace bw::audio
