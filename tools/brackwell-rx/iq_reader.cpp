#include "iq_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "dsp/receive_chain.h"
#include "pcm_layout.h"
#include "stop_signal.h"
#include "tool_error.h"
#include "wav_probe.h"

namespace bw::rx {

namespace {
std::string channelsReason(int channels) {
  return std::to_string(channels) + " channel" + (channels == 1 ? "" : "s") +
         "; an I/Q recording has two (left I, right Q)";
}

std::string rateReason(std::int64_t rate) {
  return "unsupported sample rate " + std::to_string(rate) +
         " Hz (the engine takes 8000, 11025, 16000, 22050, 24000, 32000, "
         "44100, 48000 or 96000 Hz)";
}

// Bytes one sample takes in the file.
std::int64_t sampleBytesOf(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_16:
      return 2;
    case SF_FORMAT_PCM_24:
      return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
      return 4;
    case SF_FORMAT_DOUBLE:
      return 8;
    default:
      return 1;
  }
}

// True when libsndfile's frame count is what a placeholder size in the
// header gives (it divides the size by the frame's bytes).
bool isPlaceholderCount(std::int64_t frames, std::int64_t frameBytes) {
  for (const std::uint32_t size : kUnknownDataSizes) {
    if (frames == static_cast<std::int64_t>(size) / frameBytes) return true;
  }
  return false;
}

std::optional<SampleEncoding> encodingOf(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
      return SampleEncoding::Pcm8;
    case SF_FORMAT_PCM_16:
      return SampleEncoding::Pcm16;
    case SF_FORMAT_PCM_24:
      return SampleEncoding::Pcm24;
    case SF_FORMAT_PCM_32:
      return SampleEncoding::Pcm32;
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
      return SampleEncoding::Float;
    default:
      return std::nullopt;
  }
}
}  // namespace

IqReader::IqReader(const std::string& path, const volatile std::sig_atomic_t* stop)
    : path_(path) {
  // Opened here rather than by libsndfile so that "-" is a file name like
  // any other and the reason for a refusal is the system's own.
  int fd = -1;
  if (stop && *stop) throw ToolError(kExitInterrupted, interruptedText());
  while ((fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) < 0) {
    if (errno != EINTR) {
      throw ToolError(kExitBadInput, path + ": cannot open: " + std::strerror(errno));
    }
    if (stop && *stop) throw ToolError(kExitInterrupted, interruptedText());
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    throw ToolError(kExitBadInput, path + ": cannot read: is a directory");
  }
  // Looked at before libsndfile takes the descriptor over: a WAV whose layout
  // libsndfile cannot follow may still name a rate or channel count that
  // rules it out, which is the clearer reason.
  const auto format = probeWavFormat(fd);
  // From here libsndfile owns the descriptor and closes it, also on failure.
  file_ = sf_open_fd(fd, SFM_READ, &info_, SF_TRUE);
  const auto fail = [&](const std::string& why) {
    if (file_) sf_close(file_);
    throw ToolError(kExitBadInput, path + ": " + why);
  };
  if (!file_) {
    const std::string why = sf_strerror(nullptr);
    if (format && format->channels != 2) fail(channelsReason(format->channels));
    if (format && !isSupportedSampleRate(static_cast<std::int32_t>(format->sampleRate))) {
      fail(rateReason(static_cast<std::int64_t>(format->sampleRate)));
    }
    fail("not a readable recording: " + why);
  }
  if (info_.channels != 2) fail(channelsReason(info_.channels));
  if (!isSupportedSampleRate(info_.samplerate)) fail(rateReason(info_.samplerate));
  const auto encoding = encodingOf(info_.format);
  if (!encoding) {
    fail("unsupported sample format (8, 16, 24 or 32-bit PCM or floating point)");
  } else {
    encoding_ = *encoding;
  }
  // Frames are counted in the samples' own size: a wrong block-align field
  // does not make a whole recording look short.
  const std::int64_t frameBytes = 2 * sampleBytesOf(info_.format);
  if (format && format->dataBytes >= 0) {
    declaredFrames_ = format->dataBytes / frameBytes;
  } else if (!format && (info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV &&
             !isPlaceholderCount(info_.frames, frameBytes)) {
    // Read from a pipe: libsndfile took the count from the header; a
    // streamed file's placeholder declares nothing.
    declaredFrames_ = info_.frames;
  }
}

IqReader::~IqReader() {
  if (file_) sf_close(file_);
}

int engineBitsOf(SampleEncoding encoding) {
  switch (encoding) {
    case SampleEncoding::Pcm8:
      return 8;
    case SampleEncoding::Pcm16:
      return 16;
    case SampleEncoding::Pcm24:
      return 24;
    case SampleEncoding::Pcm32:
    case SampleEncoding::Float:
      return 32;
  }
  return 32;
}

std::int64_t IqReader::read(std::int32_t* fullScale, std::int64_t frames) {
  const auto kept = static_cast<std::int64_t>(ahead_.size() - aheadStart_) / 2;
  const std::int64_t fromAhead = std::min(kept, frames);
  if (fromAhead > 0) {
    std::copy_n(ahead_.begin() + static_cast<std::ptrdiff_t>(aheadStart_),
                2 * fromAhead, fullScale);
    aheadStart_ += static_cast<std::size_t>(2 * fromAhead);
    if (aheadStart_ == ahead_.size()) {
      // Everything looked ahead has been handed out: free it.
      std::vector<std::int32_t>().swap(ahead_);
      aheadStart_ = 0;
    }
  }
  if (fromAhead == frames) return frames;
  return fromAhead + readFile(fullScale + 2 * fromAhead, frames - fromAhead);
}

std::int64_t IqReader::peek(std::int64_t ahead, std::int32_t* fullScale,
                            std::int64_t frames) {
  const std::size_t wanted = aheadStart_ + static_cast<std::size_t>(2 * (ahead + frames));
  if (ahead_.size() < wanted) {
    const std::size_t had = ahead_.size();
    ahead_.resize(wanted);
    const std::int64_t got =
        readFile(ahead_.data() + had, static_cast<std::int64_t>(wanted - had) / 2);
    ahead_.resize(had + static_cast<std::size_t>(2 * got));
  }
  const std::size_t from = aheadStart_ + static_cast<std::size_t>(2 * ahead);
  if (from >= ahead_.size()) return 0;
  const std::size_t samples = std::min(ahead_.size() - from,
                                       static_cast<std::size_t>(2 * frames));
  std::copy_n(ahead_.begin() + static_cast<std::ptrdiff_t>(from), samples, fullScale);
  return static_cast<std::int64_t>(samples / 2);
}

std::int64_t IqReader::readFile(std::int32_t* fullScale, std::int64_t frames) {
  sf_count_t got = 0;
  if (encoding_ == SampleEncoding::Float) {
    // Read as double (exact for float and double files) and convert here:
    // libsndfile's own float-to-int reading would not saturate as wanted.
    floatScratch_.resize(static_cast<std::size_t>(frames) * 2);
    got = sf_readf_double(file_, floatScratch_.data(), frames);
    for (sf_count_t s = 0; s < got * 2; ++s) {
      fullScale[s] = floatToFullScale(floatScratch_[static_cast<std::size_t>(s)]);
    }
  } else {
    got = sf_readf_int(file_, fullScale, frames);
  }
  if (got < frames && sf_error(file_) != SF_ERR_NO_ERROR) {
    throw ToolError(kExitFailure, path_ + ": read error: " + sf_strerror(file_));
  }
  return got;
}

}  // namespace bw::rx
