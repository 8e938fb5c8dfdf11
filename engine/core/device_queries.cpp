#include "core/device_queries.h"

#include "audio/devices.h"

namespace bw {

std::int32_t numInDevices() { return audio::numInDevices(); }
std::int32_t numOutDevices() { return audio::numOutDevices(); }
const char* inDeviceName(std::int32_t device) { return audio::inDeviceName(device); }
const char* outDeviceName(std::int32_t device) { return audio::outDeviceName(device); }
std::int32_t numMixers() { return audio::numMixers(); }
const char* mixerName(std::int32_t mixer) { return audio::mixerName(mixer); }
std::uint32_t outVolume(std::int32_t device) { return audio::outVolume(device); }
void setOutVolume(std::int32_t device, std::uint32_t volume) {
  audio::setOutVolume(device, volume);
}

}  // namespace bw
