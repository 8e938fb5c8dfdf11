// Keeps the ALSA and JACK client libraries' probing and error messages to
// themselves while PortAudio is in use (they print dozens on a machine
// without a sound card or JACK server, or when the sound server dies), and
// gives the process its own hooks back afterwards. Both libraries offer a
// documented hook for this: ALSA's snd_lib_error_set_handler and JACK's
// jack_set_error_function and jack_set_info_function.
//
// PortAudio's own diagnostics ("Expression '...' failed in ...", printed to
// standard error while a dead sound server's stream winds down) have no
// hook a program can reach in the library as distributed, and are left as
// they are; the engine says what happened in its own words beside them.
//
// Both libraries keep one process-wide hook. While an instance lives, the
// hooks point into this library; its destructor puts back what was there
// before, unless the host has replaced our hook in the meantime. A library
// that can be unloaded must never leave a hook behind: the host would call
// into unmapped code at its next ALSA or JACK error.
//
// Made and destroyed on one thread, at most one instance at a time.
#pragma once

namespace bw::audio {

class QuietSoundLibraries {
 public:
  QuietSoundLibraries();
  ~QuietSoundLibraries();
  QuietSoundLibraries(const QuietSoundLibraries&) = delete;
  QuietSoundLibraries& operator=(const QuietSoundLibraries&) = delete;

 private:
  using JackHook = void (*)(const char*);
  struct Jack {
    JackHook* current = nullptr;        // libjack's hook variable
    void (*set)(JackHook) = nullptr;    // its setter
    JackHook previous = nullptr;
  };

  void* previousAlsa_ = nullptr;  // ALSA's handler before ours
  Jack jackError_, jackInfo_;
};

}  // namespace bw::audio
