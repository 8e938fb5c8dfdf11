// The platform the engine's audio layer uses: one a test installed, or else
// the system platform (sound cards and simulated front end), which starts on
// first use and ends at tear-down, so that loading the engine never touches
// the sound system.
#pragma once

#include "audio/platform.h"

namespace bw::audio {

// The platform in use; starts the system platform if needed. Control
// threads only (device queries, start and stop).
AudioPlatform& audioPlatform();

// Puts `platform` (not owned; it must outlive its use) in place of the
// system platform, or goes back to the system platform for nullptr. Call
// while no stream is open.
void installAudioPlatform(AudioPlatform* platform);

// Ends the system platform if it was started; the next use starts it again.
void endSystemPlatform();

}  // namespace bw::audio

namespace bw::audio {

// The platform device index of an engine device number of a direction: 1 is
// the platform's default device, k >= 2 is platform device k - 2. kNoDevice
// for a number that names no device.
int platformDevice(AudioPlatform& platform, Direction direction,
                   std::int32_t number);

}  // namespace bw::audio
