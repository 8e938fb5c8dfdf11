// Device and mixer queries for the exports, over the audio layer's devices
// (audio/devices.h), which gives the numbering, the name lengths and who owns
// the name texts. The exports see the engine only through core.
#pragma once

#include <cstdint>

namespace bw {

std::int32_t numInDevices();   // capture devices, the default one included
std::int32_t numOutDevices();  // playback devices, the default one included
// Engine-owned text, per calling thread; empty when the query fails.
const char* inDeviceName(std::int32_t device);
const char* outDeviceName(std::int32_t device);
std::int32_t numMixers();
const char* mixerName(std::int32_t mixer);  // as the device names
// Packed volume: low 16 bits left, high 16 bits right. 0 when the query fails.
std::uint32_t outVolume(std::int32_t device);
void setOutVolume(std::int32_t device, std::uint32_t volume);

}  // namespace bw
