#include "audio/pulse/pulse_clock.h"

#include <pulse/introspect.h>
#include <pulse/proplist.h>

#include <cstring>
#include <string>
#include <type_traits>

namespace bw::audio {

namespace {

// What the server says of one device, as far as its clock goes.
struct DeviceFacts {
  bool answered = false, found = false;
  std::uint32_t index = PA_INVALID_INDEX;
  std::uint32_t card = PA_INVALID_INDEX;
  std::uint32_t monitorOf = PA_INVALID_INDEX;  // sources only
  std::string driver;
  std::string master;  // a filter's (remap, equalizer...): the device it feeds
};

// A clock, named: by card, by the server's timer, or by the device itself.
struct ClockName {
  enum Kind { Card, ServerTimer, OwnClock, Graph } kind;
  std::uint32_t index;  // the card's, or the device's (see below)
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
  facts.index = info->index;
  facts.card = info->card;
  const char* master = pa_proplist_gets(info->proplist, PA_PROP_DEVICE_MASTER_DEVICE);
  facts.master = master != nullptr ? master : "";
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

// With the lock held: the facts of sink or source `index`, or of the one
// named `name` when it is not empty; found is false when the server did not
// answer by `deadline`.
DeviceFacts ask(PulseConnection& c, bool sink, std::uint32_t index, const std::string& name,
                PulseConnection::Deadline deadline) {
  Query q{c, {}};
  pa_context* context = c.context();
  pa_operation* op =
      sink ? (name.empty() ? pa_context_get_sink_info_by_index(context, index, &onSink, &q)
                           : pa_context_get_sink_info_by_name(context, name.c_str(), &onSink, &q))
           : (name.empty()
                  ? pa_context_get_source_info_by_index(context, index, &onSource, &q)
                  : pa_context_get_source_info_by_name(context, name.c_str(), &onSource, &q));
  if (op == nullptr) return {};
  const bool answered = c.waitUntil([&] { return q.facts.answered; }, deadline);
  // A late answer must not reach the query once it is gone.
  if (!answered) pa_operation_cancel(op);
  pa_operation_unref(op);
  if (!answered) return {};
  return q.facts;
}

// With the lock held: the facts of the device whose clock device `index`
// runs on: a monitor's sink, a filter's master (and theirs). `sink` says
// which kind it is in the end. found is false when that is not known.
DeviceFacts clockDevice(PulseConnection& c, bool& sink, std::uint32_t index,
                        PulseConnection::Deadline deadline) {
  constexpr int kMostSteps = 8;  // a chain of filters longer than any in use
  DeviceFacts d = ask(c, sink, index, {}, deadline);
  for (int step = 0; d.found; ++step) {
    if (step == kMostSteps) return {};
    if (!sink && d.monitorOf != PA_INVALID_INDEX) {
      sink = true;
      d = ask(c, true, d.monitorOf, {}, deadline);
    } else if (!d.master.empty()) {
      d = ask(c, sink, 0, d.master, deadline);
    } else {
      break;
    }
  }
  return d;
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
  bool inIsSink = false, outIsSink = true;
  const DeviceFacts in = clockDevice(c, inIsSink, source, deadline);
  if (!in.found) return false;
  const DeviceFacts out = clockDevice(c, outIsSink, sink, deadline);
  // Sinks and sources are counted apart: a source's own clock is named by
  // its index complemented.
  return out.found && clockOf(in, inIsSink ? in.index : ~in.index) ==
                          clockOf(out, outIsSink ? out.index : ~out.index);
}

}  // namespace bw::audio
