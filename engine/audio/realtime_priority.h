// Real-time scheduling for the threads that carry live audio, where the
// system grants it.
//
// A sound server runs its own threads real-time (PulseAudio through rtkit,
// PipeWire through its rt module); a client at normal priority is served
// after every busy process on the machine, and a block that waits for the
// CPU longer than the playback queue lasts is heard as a gap. Linux grants
// SCHED_FIFO to a process whose RLIMIT_RTPRIO allows the priority (the
// limits distributions give the audio group) or that holds CAP_SYS_NICE;
// elsewhere the threads stay as they are.
#pragma once

namespace bw::audio {

// The priority asked for: below the sound servers' own threads (PulseAudio
// 5, PipeWire 83-88), above every thread that is not real-time.
inline constexpr int kAudioThreadPriority = 4;

// Puts the calling thread under SCHED_FIFO at `priority`, or at the highest
// priority RLIMIT_RTPRIO allows when that is lower; threads and processes it
// starts afterwards do not inherit it. Returns whether the thread is now
// real-time; when the system refuses, the thread is left as it was.
bool raiseCallingThreadToRealTime(int priority) noexcept;

}  // namespace bw::audio
