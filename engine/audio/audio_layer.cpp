#include "audio/audio_layer.h"

#include <memory>
#include <mutex>
#include <utility>

#include "audio/system_platform.h"

namespace bw::audio {

namespace {
// Nothing here has a destructor of its own (std::mutex's is trivial): the
// system platform is ended by endSystemPlatform only. A static owner would be
// destroyed by the process's exit handlers before the library's unload hook
// runs, and that hook would then end the platform a second time.
std::mutex g_mutex;
AudioPlatform* g_installed = nullptr;
AudioPlatform* g_system = nullptr;  // owned
}  // namespace

AudioPlatform& audioPlatform() {
  std::lock_guard lock(g_mutex);
  if (g_installed) return *g_installed;
  if (!g_system) g_system = makeSystemPlatform().release();
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
    ending.reset(std::exchange(g_system, nullptr));
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
