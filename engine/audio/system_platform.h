// The platform of a real run: the sound cards (PortAudio) followed by the
// simulated front end in each direction, and the ALSA cards as mixers. The
// default device is the cards' default, or the simulated device when there
// is no card.
//
// The cards that are ALSA's PCMs of PulseAudio's plugin (the sound server's
// default source and sink) keep their numbers and names but stream through
// libpulse (audio/pulse/), unless BW_SOUND_SERVER=alsa leaves them to the
// plugin and PortAudio; BW_SOUND_SERVER=pulse, the default, chooses libpulse.
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
