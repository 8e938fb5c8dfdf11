#include "pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "stop_signal.h"
#include "tool_error.h"

namespace bw::rx {

namespace {
std::string errnoText() { return std::strerror(errno); }

mode_t currentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// Why a name of this type is not written, or nullptr when it may be.
const char* refusal(mode_t mode, OutputAccess access) {
  if (S_ISDIR(mode)) return "is a directory";
  if (S_ISBLK(mode)) return "is a block device; brackwell-rx does not write to disks";
  if (S_ISSOCK(mode)) return "is a socket";
  if (S_ISFIFO(mode) && access == OutputAccess::Seekable) {
    return "is a FIFO; a WAV output needs a seekable file";
  }
  if (S_ISREG(mode) || S_ISCHR(mode) || S_ISFIFO(mode)) return nullptr;
  return "is not a regular file, character device or FIFO";
}
}  // namespace

PendingFile::PendingFile(std::filesystem::path finalPath, OutputAccess access,
                         const volatile std::sig_atomic_t* stop)
    : finalPath_(std::move(finalPath)) {
  const std::string name = finalPath_.string();
  struct stat link {};
  if (::lstat(name.c_str(), &link) != 0) {
    if (errno != ENOENT) {
      throw ToolError(kExitBadInput, "cannot write " + name + ": " + errnoText());
    }
    createTemporary();
    return;
  }
  struct stat target = link;
  if (S_ISLNK(link.st_mode) && ::stat(name.c_str(), &target) != 0) {
    throw ToolError(kExitBadInput, "cannot write " + name +
                                       ": a symbolic link to nothing usable (" +
                                       errnoText() + ")");
  }
  if (const char* why = refusal(target.st_mode, access)) {
    throw ToolError(kExitBadInput, name + ": " + why);
  }
  if (!S_ISREG(target.st_mode)) {
    openInPlace(stop);
    return;
  }
  if (S_ISLNK(link.st_mode)) {
    std::error_code ec;
    finalPath_ = std::filesystem::canonical(finalPath_, ec);
    if (ec) throw ToolError(kExitBadInput, "cannot write " + name + ": " + ec.message());
  }
  createTemporary();
}

void PendingFile::openInPlace(const volatile std::sig_atomic_t* stop) {
  inPlace_ = true;
  if (stop && *stop) throw ToolError(kExitInterrupted, interruptedText());
  for (;;) {
    fd_ = ::open(finalPath_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd_ >= 0) return;
    if (errno != EINTR) {
      throw ToolError(kExitBadInput, "cannot write " + finalPath_.string() + ": " + errnoText());
    }
    if (stop && *stop) throw ToolError(kExitInterrupted, interruptedText());
  }
}

void PendingFile::createTemporary() {
  std::filesystem::path folder = finalPath_.parent_path();
  if (folder.empty()) folder = ".";
  std::string name = (folder / ".brx-XXXXXX").string();
  fd_ = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd_ < 0) {
    throw ToolError(kExitBadInput, "cannot write " + finalPath_.string() + ": " + errnoText());
  }
  tempPath_ = name;
  slot_ = registerTemporary(name.c_str());
}

PendingFile::~PendingFile() { discard(); }

void PendingFile::commit() {
  if (done_) return;
  if (inPlace_) {
    const bool ok = ::close(fd_) == 0;
    fd_ = -1;
    done_ = true;
    if (!ok) throw ToolError(kExitFailure, "cannot write " + finalPath_.string() + ": " + errnoText());
    return;
  }
  const mode_t mode = 0666 & ~currentUmask();
  bool ok = ::fchmod(fd_, mode) == 0 && ::fsync(fd_) == 0;
  std::string why = ok ? "" : errnoText();
  ok = (::close(fd_) == 0) && ok;
  if (why.empty() && !ok) why = errnoText();
  fd_ = -1;
  // The name was checked when the run began; refuse to rename over anything
  // that has appeared there since and is not a regular file.
  struct stat now {};
  if (ok && ::lstat(finalPath_.c_str(), &now) == 0 && !S_ISREG(now.st_mode)) {
    ok = false;
    why = "no longer a regular file";
  }
  if (ok && std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
    ok = false;
    why = errnoText();
  }
  if (!ok) {
    discard();
    throw ToolError(kExitFailure, "cannot write " + finalPath_.string() + ": " + why);
  }
  forgetTemporary(slot_);
  slot_ = -1;
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
  if (!inPlace_) ::unlink(tempPath_.c_str());
  forgetTemporary(slot_);
  slot_ = -1;
  done_ = true;
}

}  // namespace bw::rx
