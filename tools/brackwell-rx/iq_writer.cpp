#include "iq_writer.h"

#include <string>

#include "tool_error.h"

namespace bw::rx {

namespace {
int subtypeFor(int bits) {
  switch (bits) {
    case 8:
      return SF_FORMAT_PCM_U8;  // WAV's 8-bit samples are unsigned
    case 16:
      return SF_FORMAT_PCM_16;
    case 24:
      return SF_FORMAT_PCM_24;
    default:
      return SF_FORMAT_PCM_32;
  }
}
}  // namespace

IqWriter::IqWriter(const std::filesystem::path& finalPath, int sampleRate,
                   int bits, std::int64_t expectedFrames,
                   const volatile std::sig_atomic_t* stop)
    : file_(finalPath, OutputAccess::Seekable, stop) {
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = 2;
  // A WAV file's sizes are 32-bit; leave room for the header chunks.
  constexpr std::int64_t kWavDataLimit = 0xFFFFFFFFLL - 4096;
  const bool large = expectedFrames > kWavDataLimit / (2 * (bits / 8));
  info.format = (large ? SF_FORMAT_RF64 : SF_FORMAT_WAV) | subtypeFor(bits);
  sound_ = sf_open_fd(file_.fd(), SFM_WRITE, &info, SF_FALSE);
  if (!sound_) {
    throw ToolError(kExitBadInput, "cannot write " + finalPath.string() + ": " +
                                       sf_strerror(nullptr));
  }
}

IqWriter::~IqWriter() {
  if (sound_) sf_close(sound_);
  // file_'s destructor removes the temporary if commit() did not rename it.
}

void IqWriter::write(const std::int32_t* fullScale, std::int64_t frames) {
  if (sf_writef_int(sound_, fullScale, frames) != frames) {
    throw ToolError(kExitFailure, "cannot write " + file_.finalPath().string() +
                                      ": " + sf_strerror(sound_));
  }
  frames_ += frames;
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
