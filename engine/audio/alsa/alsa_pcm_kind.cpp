#include "audio/alsa/alsa_pcm_kind.h"

#include <alsa/asoundlib.h>

#include <cstring>
#include <string>

namespace bw::audio {

namespace {

// The "type" of the PCM definition `name`; empty when there is none.
std::string pcmType(const char* name) {
  if (name == nullptr) return {};
  // The reference keeps the configuration tree alive against another
  // thread's update while it is read.
  snd_config_t* top = nullptr;
  if (snd_config_update_ref(&top) < 0) return {};
  std::string kind;
  snd_config_t* definition = nullptr;
  if (snd_config_search_definition(top, "pcm", name, &definition) >= 0) {
    snd_config_t* type = nullptr;
    const char* id = nullptr;
    if (snd_config_search(definition, "type", &type) >= 0 &&
        snd_config_get_string(type, &id) >= 0) {
      kind = id;
    }
    snd_config_delete(definition);
  }
  snd_config_unref(top);
  return kind;
}

}  // namespace

bool isSoundServerPcm(const char* name) {
  const std::string type = pcmType(name);
  return type == "pulse" || type == "pipewire";
}

bool isPulsePcm(const char* name) { return pcmType(name) == "pulse"; }

}  // namespace bw::audio
