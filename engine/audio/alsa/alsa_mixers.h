// The mixers: the sound cards as ALSA lists them, named by card name.
#pragma once

#include <string>
#include <vector>

namespace bw::audio {

// The names of the ALSA sound cards, in card order; empty without any.
std::vector<std::string> alsaCardNames();

}  // namespace bw::audio
