// Writes the engine's output as a stereo PCM WAV file through a PendingFile:
// under a temporary name renamed by commit(), or in place on a device.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "iq_reader.h"
#include "pending_file.h"

namespace bw::rx {

class IqWriter {
 public:
  // Creates the temporary beside `finalPath`: stereo WAV at `sampleRate` Hz
  // in `encoding` (8-bit PCM unsigned; Float as 32-bit floating point, 1.0 =
  // full scale); RF64 instead when `expectedFrames` would not fit the 4 GiB
  // of a WAV file. What stands at `finalPath` is treated as PendingFile
  // says. Throws ToolError (exit 2) when the file cannot be created, exit
  // 130 when `stop` is set meanwhile.
  IqWriter(const std::filesystem::path& finalPath, int sampleRate,
           SampleEncoding encoding, std::int64_t expectedFrames,
           const volatile std::sig_atomic_t* stop = nullptr);
  ~IqWriter();  // an uncommitted file is removed
  IqWriter(const IqWriter&) = delete;
  IqWriter& operator=(const IqWriter&) = delete;

  // Appends `frames` frames of full-scale samples (2 a frame), counting
  // those at the limit of what the engine plays at this width
  // (playbackLimit). Throws ToolError (exit 1) when they cannot be written.
  void write(const std::int32_t* fullScale, std::int64_t frames);

  // Completes the header and renames the file into place. Throws ToolError
  // (exit 1) on failure; the temporary is removed then.
  void commit();

  // Samples written at or beyond +-playbackLimit: clipped.
  std::int64_t clippedSamples() const { return clipped_; }

 private:
  PendingFile file_;
  SNDFILE* sound_ = nullptr;
  std::int64_t clipped_ = 0;
  std::int32_t limit_ = 0;
  bool floatOutput_ = false;
  std::vector<float> floatScratch_;
};

}  // namespace bw::rx
