#include "audio/alsa/alsa_pcm_kind.h"

#include <alsa/asoundlib.h>

#include <cstring>

namespace bw::audio {

bool isSoundServerPcm(const char* name) {
  if (name == nullptr) return false;
  // The reference keeps the configuration tree alive against another
  // thread's update while it is read.
  snd_config_t* top = nullptr;
  if (snd_config_update_ref(&top) < 0) return false;
  bool server = false;
  snd_config_t* definition = nullptr;
  if (snd_config_search_definition(top, "pcm", name, &definition) >= 0) {
    snd_config_t* type = nullptr;
    const char* id = nullptr;
    server = snd_config_search(definition, "type", &type) >= 0 &&
             snd_config_get_string(type, &id) >= 0 &&
             (std::strcmp(id, "pulse") == 0 || std::strcmp(id, "pipewire") == 0);
    snd_config_delete(definition);
  }
  snd_config_unref(top);
  return server;
}

}  // namespace bw::audio
