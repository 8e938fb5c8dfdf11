#include "pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tool_error.h"

namespace bw::rx {

namespace {
std::string errnoText() { return std::strerror(errno); }

mode_t currentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}
}  // namespace

PendingFile::PendingFile(std::filesystem::path finalPath)
    : finalPath_(std::move(finalPath)) {
  std::filesystem::path folder = finalPath_.parent_path();
  if (folder.empty()) folder = ".";
  const std::string pattern =
      (folder / ("." + finalPath_.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  fd_ = ::mkstemp(name.data());
  if (fd_ < 0) {
    throw ToolError(kExitBadInput, "cannot write " + finalPath_.string() + ": " + errnoText());
  }
  tempPath_ = name.data();
}

PendingFile::~PendingFile() { discard(); }

void PendingFile::commit() {
  if (done_) return;
  const mode_t mode = 0666 & ~currentUmask();
  bool ok = ::fchmod(fd_, mode) == 0 && ::fsync(fd_) == 0;
  std::string why = ok ? "" : errnoText();
  ok = (::close(fd_) == 0) && ok;
  if (why.empty() && !ok) why = errnoText();
  fd_ = -1;
  if (ok && std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
    ok = false;
    why = errnoText();
  }
  if (!ok) {
    discard();
    throw ToolError(kExitFailure, "cannot write " + finalPath_.string() + ": " + why);
  }
  done_ = true;
}

void PendingFile::writeAll(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      throw ToolError(kExitFailure, "cannot write " + finalPath_.string() + ": " + errnoText());
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void PendingFile::discard() noexcept {
  if (done_) return;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ::unlink(tempPath_.c_str());
  done_ = true;
}

}  // namespace bw::rx
