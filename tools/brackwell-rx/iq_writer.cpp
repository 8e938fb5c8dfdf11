#include "iq_writer.h"

#include <string>

#include "pcm_layout.h"
#include "tool_error.h"

namespace bw::rx {

namespace {
int subtypeFor(SampleEncoding encoding) {
  switch (encoding) {
    case SampleEncoding::Pcm8:
      return SF_FORMAT_PCM_U8;  // WAV's 8-bit samples are unsigned
    case SampleEncoding::Pcm16:
      return SF_FORMAT_PCM_16;
    case SampleEncoding::Pcm24:
      return SF_FORMAT_PCM_24;
    case SampleEncoding::Pcm32:
      return SF_FORMAT_PCM_32;
    case SampleEncoding::Float:
      return SF_FORMAT_FLOAT;
  }
  return SF_FORMAT_PCM_32;
}

}  // namespace

IqWriter::IqWriter(const std::filesystem::path& finalPath, int sampleRate,
                   SampleEncoding encoding, std::int64_t expectedFrames,
                   const volatile std::sig_atomic_t* stop)
    : file_(finalPath, OutputAccess::Seekable, stop),
      limit_(playbackLimit(engineBitsOf(encoding))) {
  const int bits = engineBitsOf(encoding);
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = 2;
  // A WAV file's sizes are 32-bit; leave room for the header chunks.
  constexpr std::int64_t kWavDataLimit = 0xFFFFFFFFLL - 4096;
  const bool large = expectedFrames > kWavDataLimit / (2 * (bits / 8));
  info.format = (large ? SF_FORMAT_RF64 : SF_FORMAT_WAV) | subtypeFor(encoding);
  sound_ = sf_open_fd(file_.fd(), SFM_WRITE, &info, SF_FALSE);
  if (!sound_) {
    throw ToolError(kExitBadInput, "cannot write " + finalPath.string() + ": " +
                                       sf_strerror(nullptr));
  }
  // A recording whose header gives a length it may not have (a stream's
  // placeholder) is written as RF64 and turns into a plain WAV file on
  // closing when it fits.
  if (large) sf_command(sound_, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
  floatOutput_ = encoding == SampleEncoding::Float;
}

IqWriter::~IqWriter() {
  if (sound_) sf_close(sound_);
  // file_'s destructor removes the temporary if commit() did not rename it.
}

void IqWriter::write(const std::int32_t* fullScale, std::int64_t frames) {
  for (std::int64_t s = 0; s < 2 * frames; ++s) {
    clipped_ += (fullScale[s] >= limit_) | (fullScale[s] <= -limit_);
  }
  sf_count_t written = 0;
  if (floatOutput_) {
    // Converted here, so that 1.0 = 2^31 whatever libsndfile's own
    // integer-to-float settings are.
    floatScratch_.resize(static_cast<std::size_t>(2 * frames));
    for (std::int64_t s = 0; s < 2 * frames; ++s) {
      floatScratch_[static_cast<std::size_t>(s)] =
          static_cast<float>(fullScale[s] * (1.0 / 2147483648.0));
    }
    written = sf_writef_float(sound_, floatScratch_.data(), frames);
  } else {
    written = sf_writef_int(sound_, fullScale, frames);
  }
  if (written != frames) {
    throw ToolError(kExitFailure, "cannot write " + file_.finalPath().string() +
                                      ": " + sf_strerror(sound_));
  }
}

void IqWriter::commit() {
  const int status = sf_close(sound_);
  sound_ = nullptr;
  if (status != 0) {
    file_.discard();
    throw ToolError(kExitFailure, "cannot write " + file_.finalPath().string() +
                                      ": " + sf_error_number(status));
  }
  file_.commit();
}

}  // namespace bw::rx
