// Reads a stereo I/Q recording (left I, right Q) with libsndfile and hands
// out its frames as full-scale 32-bit samples, whatever the file's width.
#pragma once

#include <sndfile.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace bw::rx {

// How the recording's samples are stored.
enum class SampleEncoding { Pcm8, Pcm16, Pcm24, Pcm32, Float };

// The engine's sample width for an encoding: its PCM width, 32 for floating
// point.
int engineBitsOf(SampleEncoding encoding);

class IqReader {
 public:
  // Opens and checks the recording: readable, two channels, a sample rate
  // the engine accepts, an encoding above. Throws ToolError (exit 2) with a
  // line naming the file and the reason otherwise; exit 130 when `stop` (may
  // be null) is set while the open waits (a FIFO without a writer).
  explicit IqReader(const std::string& path,
                    const volatile std::sig_atomic_t* stop = nullptr);
  ~IqReader();
  IqReader(const IqReader&) = delete;
  IqReader& operator=(const IqReader&) = delete;

  const std::string& path() const { return path_; }
  int sampleRate() const { return info_.samplerate; }       // Hz
  // The frames libsndfile can read (for a regular file, no more than the
  // file holds).
  std::int64_t headerFrames() const { return info_.frames; }
  // The frames the header declares; -1 when it does not say (RF64, streamed
  // files, formats other than WAV read from a pipe).
  std::int64_t declaredFrames() const { return declaredFrames_; }
  SampleEncoding encoding() const { return encoding_; }
  // The engine's sample width for this recording: the file's PCM width,
  // 32 for floating point.
  int engineBits() const { return engineBitsOf(encoding_); }

  // Reads up to `frames` frames into `fullScale` (2 samples a frame, I then
  // Q as stored; floating point converted with floatToFullScale). Returns
  // the frames read, fewer than asked only at the end of the data. Throws
  // ToolError (exit 1) on a read error.
  std::int64_t read(std::int32_t* fullScale, std::int64_t frames);

  // Looks ahead without consuming: copies up to `frames` frames that lie
  // `ahead` frames past what read() has handed out into `fullScale`. Frames
  // looked at are kept in memory (8 bytes a frame) and handed out by read()
  // in their turn, so this works on a pipe too. Returns the frames copied,
  // fewer than asked only at the end of the data. Throws as read().
  std::int64_t peek(std::int64_t ahead, std::int32_t* fullScale, std::int64_t frames);

 private:
  std::string path_;
  SNDFILE* file_ = nullptr;
  SF_INFO info_{};
  SampleEncoding encoding_ = SampleEncoding::Pcm16;
  std::int64_t declaredFrames_ = -1;
  std::vector<double> floatScratch_;
  // Frames read ahead by peek(), from aheadStart_ (a sample index) on.
  std::vector<std::int32_t> ahead_;
  std::size_t aheadStart_ = 0;

  std::int64_t readFile(std::int32_t* fullScale, std::int64_t frames);
};

}  // namespace bw::rx
