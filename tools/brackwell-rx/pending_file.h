// A file written under a temporary name beside its final name and renamed
// into place only when complete, so an interrupted or failed run never
// leaves a half-written file under the final name.
#pragma once

#include <filesystem>
#include <string_view>

namespace bw::rx {

class PendingFile {
 public:
  // Creates an empty temporary file (".NAME.XXXXXX") in the final path's
  // folder. Throws ToolError (exit 2) when the folder cannot take it.
  explicit PendingFile(std::filesystem::path finalPath);
  ~PendingFile();  // removes the temporary unless committed
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  int fd() const { return fd_; }  // owned here; valid until commit/discard
  const std::filesystem::path& tempPath() const { return tempPath_; }
  const std::filesystem::path& finalPath() const { return finalPath_; }

  // Flushes to disk, gives the file the usual permissions (0666 less the
  // umask), closes it and renames it to the final path. Throws ToolError
  // (exit 1) on failure, after removing the temporary.
  void commit();
  // Writes all of `bytes` to the temporary. Throws ToolError (exit 1).
  void writeAll(std::string_view bytes);

  // Closes and removes the temporary. Safe to call more than once.
  void discard() noexcept;

 private:
  std::filesystem::path finalPath_;
  std::filesystem::path tempPath_;
  int fd_ = -1;
  bool done_ = false;
};

}  // namespace bw::rx
