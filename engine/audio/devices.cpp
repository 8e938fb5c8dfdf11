// The device, mixer and volume queries on top of the platform in use.
#include "audio/devices.h"

#include <cstring>

#include "audio/audio_layer.h"

namespace bw::audio {

namespace {

// The text a name query returns: per calling thread, so that two threads
// never overwrite each other's names.
thread_local char t_nameText[kNameBytes + 1];

// Fills the text area from a name query (at most 32 characters, up to the
// first NUL); empty text when the query failed.
template <typename Query>
const char* nameText(Query query) {
  std::memset(t_nameText, 0, sizeof t_nameText);
  if (!query(t_nameText)) std::memset(t_nameText, 0, sizeof t_nameText);
  t_nameText[kNameBytes] = '\0';
  return t_nameText;
}

std::int32_t countWithDefault(Direction d) {
  return audioPlatform().deviceCount(d) + 1;
}

const char* deviceNameText(Direction d, std::int32_t number) {
  AudioPlatform& p = audioPlatform();
  const int device = platformDevice(p, d, number);
  return nameText([&](char* field) {
    return device != kNoDevice && p.deviceName(d, device, field);
  });
}

}  // namespace

std::int32_t numInDevices() { return countWithDefault(Direction::Capture); }
std::int32_t numOutDevices() { return countWithDefault(Direction::Playback); }

const char* inDeviceName(std::int32_t device) {
  return deviceNameText(Direction::Capture, device);
}

const char* outDeviceName(std::int32_t device) {
  return deviceNameText(Direction::Playback, device);
}

std::int32_t numMixers() { return audioPlatform().mixerCount(); }

const char* mixerName(std::int32_t mixer) {
  AudioPlatform& p = audioPlatform();
  return nameText([&](char* field) {
    return mixer >= 1 && p.mixerName(mixer - 1, field);
  });
}

std::uint32_t outVolume(std::int32_t device) {
  AudioPlatform& p = audioPlatform();
  const int index = platformDevice(p, Direction::Playback, device);
  std::uint32_t volume = 0;
  if (index == kNoDevice || !p.outVolume(index, volume)) return 0;
  return volume;
}

void setOutVolume(std::int32_t device, std::uint32_t volume) {
  AudioPlatform& p = audioPlatform();
  const int index = platformDevice(p, Direction::Playback, device);
  if (index != kNoDevice) p.setOutVolume(index, volume);
}

}  // namespace bw::audio
