// The fourteen exported functions of libBrackwell.so, with C linkage.
// Status codes: 0 success, 1 the sound system refused to open or start a
// device, 2 an argument was rejected, 3 not running, 4 running so refused,
// 5 no format configured. Device numbers count from 1 (1 = default device).
#ifndef BRACKWELL_H
#define BRACKWELL_H

#include <stdint.h>

#if defined(BRACKWELL_BUILDING)
#define BRACKWELL_API __attribute__((visibility("default")))
#else
#define BRACKWELL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The status codes; the exports return them as int32_t. */
typedef enum SdrStatus {
  SDR_OK = 0,
  SDR_DEVICE_REFUSED = 1,
  SDR_BAD_ARGUMENT = 2,
  SDR_NOT_RUNNING = 3,
  SDR_RUNNING = 4,
  SDR_NOT_CONFIGURED = 5
} SdrStatus;

/* Words for a status code, for messages: a static string, "unknown status"
   for a code not listed above. Compiled into the caller (no export). */
static inline const char* sdrStatusText(int32_t status) {
  switch (status) {
    case SDR_OK: return "success";
    case SDR_DEVICE_REFUSED: return "the sound system refused to open or start a device";
    case SDR_BAD_ARGUMENT: return "an argument was rejected";
    case SDR_NOT_RUNNING: return "the engine is not running";
    case SDR_RUNNING: return "the engine is running, so the request is refused";
    case SDR_NOT_CONFIGURED: return "no format has been configured yet";
    default: return "unknown status";
  }
}

/* Size in bytes of the receive-parameter block passed to sdrSetNewParam;
   its layout is in param_block.h. */
#define SDR_PARAM_BLOCK_BYTES 65

typedef void (*SdrBlockHook)(void);

/* Device and mixer queries. Names are NUL-terminated, at most 32 characters,
   valid until the calling thread's next name query; empty when the query
   fails. The first query lists the sound devices; when the sound server does
   not let them be listed within a few seconds (one line on standard error),
   devices 1 and 2 of each direction stand for the unlisted ones: no name,
   and sdrStart refuses them with 1. */
BRACKWELL_API int32_t sdrGetNumInDevice(void);
BRACKWELL_API int32_t sdrGetNumOutDevice(void);
BRACKWELL_API const char* sdrGetNameInDevice(int32_t device);
BRACKWELL_API const char* sdrGetNameOutDevice(int32_t device);
BRACKWELL_API int32_t sdrGetNumMixer(void);
BRACKWELL_API const char* sdrGetNameMixer(int32_t mixer);
/* Packed volume: low 16 bits left, high 16 bits right, 0 silent..0xFFFF full. */
BRACKWELL_API uint32_t sdrGetOutVolume(int32_t device);
BRACKWELL_API int32_t sdrSetOutVolume(int32_t device, uint32_t volume);

/* Configuration: devices, ring length 2..8, block order 8..16 (2^order
   frames a buffer), sample rate in Hz, sample width 8/16/24/32 bits.
   The engine uses FFTW and makes its transform plans here, and only here.
   FFTW's planner is shared by the whole process and is not thread-safe: a
   host that uses FFTW itself must not create or destroy plans on another
   thread while sdrSetGlobal runs. The engine never calls fftw_cleanup();
   unloading destroys its own plans only, so the host's plans and wisdom
   stay valid, and libfftw3 stays loaded with FFTW's planner state. */
BRACKWELL_API int32_t sdrSetGlobal(int32_t inputDevice, int32_t outputDevice,
                                   int32_t bufferCount, int32_t order,
                                   int32_t sampleRate, int32_t bitsPerSample);
/* Copies the receive-parameter block: 65 bytes when its first byte is 1,
   SDR_PARAM_BLOCK_V2_BYTES (param_block.h) when it is 2; any other first
   byte, or a version-2 mode the engine does not know, is refused with 2. */
BRACKWELL_API int32_t sdrSetNewParam(const void* block);
/* Copies the M = 2^(order+1) spectrum magnitudes into dest. */
BRACKWELL_API int32_t sdrGetSpectrum(double* dest);
/* The linear gain applied in the last block (the signal reading). */
BRACKWELL_API double sdrGetSmetr(void);
/* Starts streaming; the hook runs at the start of every block, on the
   engine's processing thread. Returns within a few seconds even when the
   sound server does not answer (then 1, with one line on standard error).
   A failed stream (a capture or playback device disappeared, the sound
   server died or ended a stream, PortAudio reported an error, or the
   playback took no block for about four seconds) ends streaming as if
   stopped: the hook is no
   longer called, sdrGetSpectrum answers 3 and sdrStop answers 3, and
   sdrStart may be called again (it succeeds once the device is back). A
   host learns of it from sdrGetSpectrum's 3, or from the hook no longer
   being called. */
BRACKWELL_API int32_t sdrStart(SdrBlockHook hook);
/* Stops streaming; returns within about two seconds even when the sound
   server does not respond. 3 when not running (also after a failed
   stream). */
BRACKWELL_API int32_t sdrStop(void);

#ifdef __cplusplus
}
#endif

#endif
