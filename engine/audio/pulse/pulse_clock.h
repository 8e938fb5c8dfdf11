// Whether a source and a sink of a PulseAudio-protocol server run on one
// clock, as far as the server can tell, for the playback stream to know
// whether it must keep its queue in step by resampling.
//
// A device runs on its card's clock when it has a card, a monitor on the
// clock of the sink it monitors, a filter (a remap sink, an equalizer) on
// its master's, and a null sink (or source) on the server's own timer; any other device (a pipe, a tunnel, a Bluetooth
// link without a card) on a clock of its own. PipeWire's server puts every
// device of a graph on the graph's driver and resamples its followers
// itself, so there two devices always share a clock.
#pragma once

#include <cstdint>

#include "audio/pulse/pulse_connection.h"

namespace bw::audio {

// `source` and `sink` are the server's device indices (those the streams
// play on). Asks the server, waiting at most until `deadline`; false (the
// clocks may differ) when it does not answer or a device is gone. Control
// thread, without the main loop's lock.
bool pulseDevicesShareClock(PulseConnection& connection, std::uint32_t source,
                            std::uint32_t sink, PulseConnection::Deadline deadline);

}  // namespace bw::audio
