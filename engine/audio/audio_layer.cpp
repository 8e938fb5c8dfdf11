#include "audio/audio_layer.h"

#include <memory>
#include <mutex>

#include "audio/system_platform.h"

namespace bw::audio {

namespace {
std::mutex g_mutex;
AudioPlatform* g_installed = nullptr;
std::unique_ptr<AudioPlatform> g_system;
}  // namespace

AudioPlatform& audioPlatform() {
  std::lock_guard lock(g_mutex);
  if (g_installed) return *g_installed;
  if (!g_system) g_system = makeSystemPlatform();
  return *g_system;
}

void installAudioPlatform(AudioPlatform* platform) {
  std::lock_guard lock(g_mutex);
  g_installed = platform;
}

void endSystemPlatform() {
  std::unique_ptr<AudioPlatform> ending;
  {
    std::lock_guard lock(g_mutex);
    ending = std::move(g_system);
  }
}

}  // namespace bw::audio

namespace bw::audio {

int platformDevice(AudioPlatform& platform, Direction direction,
                   std::int32_t number) {
  if (number == 1) return platform.defaultDevice(direction);
  if (number < 2 || number - 2 >= platform.deviceCount(direction)) {
    return kNoDevice;
  }
  return number - 2;
}

}  // namespace bw::audio
