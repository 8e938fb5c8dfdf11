// Device and mixer queries with the engine's numbering: device 1 is the
// platform's default device of that direction, k >= 2 is platform device
// k - 2; mixers 1..count are platform mixers k - 1. Names are at most 32
// characters, in an engine-owned area per calling thread, valid until that
// thread's next name query; empty text when the query fails.
#pragma once

#include <cstdint>

namespace bw::audio {

std::int32_t numInDevices();   // platform capture devices + 1
std::int32_t numOutDevices();  // platform playback devices + 1
const char* inDeviceName(std::int32_t device);
const char* outDeviceName(std::int32_t device);
std::int32_t numMixers();
const char* mixerName(std::int32_t mixer);
// Packed volume: low 16 bits left, high 16 bits right. 0 when the query fails.
std::uint32_t outVolume(std::int32_t device);
void setOutVolume(std::int32_t device, std::uint32_t volume);

}  // namespace bw::audio
