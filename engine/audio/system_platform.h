// The platform of a real run: the sound cards (PortAudio) followed by the
// simulated front end in each direction, and the ALSA cards as mixers. The
// default device is the cards' default, or the simulated device when there
// is no card.
#pragma once

#include <memory>

#include "audio/platform.h"

namespace bw::audio {

// Starts PortAudio (quietly) and lists the devices.
std::unique_ptr<AudioPlatform> makeSystemPlatform();

}  // namespace bw::audio
