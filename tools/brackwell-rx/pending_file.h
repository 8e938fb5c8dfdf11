// An output file that never harms what already stands at its name.
//
// A missing name or a regular file is written under a short hidden temporary
// name (".brx-XXXXXX") in the same folder and renamed into place only when
// complete, so an interrupted or failed run never leaves a half-written file
// under the final name. A symbolic link to a regular file is followed: the
// link stays and its target is replaced the same way. A character device or
// (for streamed output) a FIFO is written in place and never renamed over or
// removed. Anything else (a directory, a block device, a socket, a FIFO for
// output that must be seekable, a link to nothing) is refused.
#pragma once

#include <csignal>
#include <filesystem>
#include <string_view>

namespace bw::rx {

// Whether the writer needs to seek back (a WAV header) or only appends.
enum class OutputAccess { Seekable, Stream };

class PendingFile {
 public:
  // Opens the temporary or the existing device. Throws ToolError: exit 2
  // when the name is refused or the folder cannot take the file; exit 130
  // when `stop` (may be null) is set while a FIFO's open waits for a reader.
  PendingFile(std::filesystem::path finalPath, OutputAccess access,
              const volatile std::sig_atomic_t* stop = nullptr);
  ~PendingFile();  // removes the temporary unless committed
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  int fd() const { return fd_; }  // owned here; valid until commit/discard
  const std::filesystem::path& finalPath() const { return finalPath_; }

  // Temporary: flushes to disk, gives the file the usual permissions (0666
  // less the umask), closes it and renames it to the final path, unless that
  // name meanwhile became something other than a regular file. In place:
  // closes. Throws ToolError (exit 1) on failure, after removing the
  // temporary.
  void commit();
  // Writes all of `bytes`. Throws ToolError (exit 1).
  void writeAll(std::string_view bytes);

  // Closes, and removes the temporary. Safe to call more than once.
  void discard() noexcept;

 private:
  void openInPlace(const volatile std::sig_atomic_t* stop);
  void createTemporary();

  std::filesystem::path finalPath_;
  std::filesystem::path tempPath_;
  int fd_ = -1;
  int slot_ = -1;  // the temporary's registration for a forced exit
  bool inPlace_ = false;
  bool done_ = false;
};

}  // namespace bw::rx
