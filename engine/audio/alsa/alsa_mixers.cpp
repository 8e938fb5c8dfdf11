#include "audio/alsa/alsa_mixers.h"

#include <alsa/asoundlib.h>

#include <cstdlib>

namespace bw::audio {

std::vector<std::string> alsaCardNames() {
  std::vector<std::string> names;
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0) {
    char* name = nullptr;
    if (snd_card_get_name(card, &name) == 0 && name != nullptr) {
      names.emplace_back(name);
      std::free(name);
    } else {
      names.emplace_back();
    }
  }
  return names;
}

}  // namespace bw::audio
