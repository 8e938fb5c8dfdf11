#include "audio/portaudio/quiet_sound_libraries.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>

#include <initializer_list>

namespace bw::audio {

namespace {

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
void quietJack(const char*) {}

}  // namespace

QuietSoundLibraries::QuietSoundLibraries() {
  previousAlsa_ = reinterpret_cast<void*>(snd_lib_error);
  snd_lib_error_set_handler(&quietAlsa);

  // libjack comes in with PortAudio when PortAudio was built with JACK; its
  // hooks and their variables are found by name without linking libjack. A
  // hook whose old value cannot be read is left alone, since it could not be
  // put back.
  auto bind = [](Jack& jack, const char* variable, const char* setter) {
    jack.current = static_cast<JackHook*>(dlsym(RTLD_DEFAULT, variable));
    jack.set = reinterpret_cast<void (*)(JackHook)>(dlsym(RTLD_DEFAULT, setter));
    if (jack.current == nullptr || jack.set == nullptr) {
      jack = Jack{};
      return;
    }
    jack.previous = *jack.current;
    jack.set(&quietJack);
  };
  bind(jackError_, "jack_error_callback", "jack_set_error_function");
  bind(jackInfo_, "jack_info_callback", "jack_set_info_function");
}

QuietSoundLibraries::~QuietSoundLibraries() {
  if (snd_lib_error == &quietAlsa) {
    snd_lib_error_set_handler(
        reinterpret_cast<snd_lib_error_handler_t>(previousAlsa_));
  }
  for (Jack* jack : {&jackError_, &jackInfo_}) {
    if (jack->set != nullptr && *jack->current == &quietJack) {
      jack->set(jack->previous);
    }
  }
}

}  // namespace bw::audio
