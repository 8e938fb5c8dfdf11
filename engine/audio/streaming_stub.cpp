// Temporary stand-ins until the platform audio layer lands.
#include "audio/devices.h"
#include "audio/streaming.h"

namespace bw::audio {
std::int32_t numInDevices() { return 2; }
std::int32_t numOutDevices() { return 2; }
const char* inDeviceName(std::int32_t) { return ""; }
const char* outDeviceName(std::int32_t) { return ""; }
std::int32_t numMixers() { return 0; }
const char* mixerName(std::int32_t) { return ""; }
std::uint32_t outVolume(std::int32_t) { return 0; }
void setOutVolume(std::int32_t, std::uint32_t) {}
std::int32_t startStreaming(BlockHook) { return 1; }
std::int32_t stopStreaming() { return 3; }
void shutdownAudio() {}
}  // namespace bw::audio
