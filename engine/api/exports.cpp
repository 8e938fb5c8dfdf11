// The fourteen exports: each checks, calls into the engine and returns its
// status. Nothing throws across the C boundary; an internal failure becomes
// the export's status (or an empty text, a zero reading).
#include "brackwell/brackwell.h"

#include "core/configuration.h"
#include "core/device_queries.h"
#include "core/lifecycle.h"
#include "core/receiver.h"

namespace {
// Runs f, answering `failure` if the engine is not attached or f throws.
template <typename R, typename F>
R guarded(R failure, F f) noexcept {
  if (!bw::engineAttached()) return failure;
  try {
    return f();
  } catch (...) {
    return failure;
  }
}
}  // namespace

extern "C" {

int32_t sdrGetNumInDevice(void) {
  return guarded<int32_t>(1, [] { return bw::numInDevices(); });
}

int32_t sdrGetNumOutDevice(void) {
  return guarded<int32_t>(1, [] { return bw::numOutDevices(); });
}

const char* sdrGetNameInDevice(int32_t device) {
  return guarded<const char*>("", [=] { return bw::inDeviceName(device); });
}

const char* sdrGetNameOutDevice(int32_t device) {
  return guarded<const char*>("", [=] { return bw::outDeviceName(device); });
}

int32_t sdrGetNumMixer(void) {
  return guarded<int32_t>(0, [] { return bw::numMixers(); });
}

const char* sdrGetNameMixer(int32_t mixer) {
  return guarded<const char*>("", [=] { return bw::mixerName(mixer); });
}

uint32_t sdrGetOutVolume(int32_t device) {
  return guarded<uint32_t>(0, [=] { return bw::outVolume(device); });
}

int32_t sdrSetOutVolume(int32_t device, uint32_t volume) {
  guarded<int32_t>(0, [=] {
    bw::setOutVolume(device, volume);
    return 0;
  });
  return SDR_OK;
}

int32_t sdrSetGlobal(int32_t inputDevice, int32_t outputDevice,
                     int32_t bufferCount, int32_t order, int32_t sampleRate,
                     int32_t bitsPerSample) {
  return guarded<int32_t>(SDR_BAD_ARGUMENT, [=] {
    return bw::setGlobal(inputDevice, outputDevice, bufferCount, order,
                         sampleRate, bitsPerSample);
  });
}

int32_t sdrSetNewParam(const void* block) {
  return guarded<int32_t>(SDR_BAD_ARGUMENT, [=] { return bw::setNewParam(block); });
}

int32_t sdrGetSpectrum(double* dest) {
  return guarded<int32_t>(SDR_NOT_RUNNING, [=] { return bw::getSpectrum(dest); });
}

double sdrGetSmetr(void) {
  return guarded<double>(0.0, [] { return bw::getSmetr(); });
}

int32_t sdrStart(SdrBlockHook hook) {
  return guarded<int32_t>(SDR_DEVICE_REFUSED,
                          [=] { return bw::startReceiver(hook); });
}

int32_t sdrStop(void) {
  return guarded<int32_t>(SDR_NOT_RUNNING, [] { return bw::stopReceiver(); });
}

}  // extern "C"
