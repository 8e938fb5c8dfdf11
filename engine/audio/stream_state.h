// The audio layer's part of the engine state: the platform in use and the
// open capture and playback streams.
#pragma once

namespace bw::audio {

struct StreamState {
  // Filled in by the streaming layer.
};

}  // namespace bw::audio
