// What kind of ALSA device a PCM name stands for, read from ALSA's
// configuration without opening the device.
#pragma once

namespace bw::audio {

// True when the PCM `name` ("default", "pulse"...) is defined as a sound
// server's plugin (PulseAudio's or PipeWire's), which any number of readers
// may open at once; false for a card, a name ALSA does not define, or when
// the configuration cannot be read.
bool isSoundServerPcm(const char* name);

// True when the PCM `name` is defined as PulseAudio's plugin (type "pulse"),
// which streams on the server's default source or sink; a server that speaks
// PulseAudio's protocol (PulseAudio, PipeWire's pulse server) serves it.
bool isPulsePcm(const char* name);

}  // namespace bw::audio
