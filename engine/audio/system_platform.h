// The platform of a real run: the sound cards (PortAudio) followed by the
// simulated front end in each direction, and the ALSA cards as mixers. The
// default device is the cards' default, or the simulated device when there
// is no card.
//
// When the sound server did not let the cards be listed, which devices exist
// is unknown, and so is the place the simulated device would have after
// them: each direction then has one device, the default, which stands for
// the unlisted cards, has no name and is refused at open. A number never
// reaches the simulated device because a listing failed.
#pragma once

#include <memory>

#include "audio/platform.h"

namespace bw::audio {

// Starts PortAudio (quietly) and lists the devices.
std::unique_ptr<AudioPlatform> makeSystemPlatform();

}  // namespace bw::audio
