#include "primitives/fft_wisdom.h"

#include <fcntl.h>
#include <fftw3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bw::nsp {
namespace {

constexpr const char* kFolder = "brackwell";
constexpr const char* kFile = "fftw-wisdom";

// mkdir -p with the mode XDG base directories ask for (0700).
bool makeFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat info{};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// True when nothing is at `path` or a regular file is (through symbolic
// links): only such a path is ours to replace. A folder, FIFO, socket or
// device there was put there by someone else and stays as it is.
bool absentOrRegular(const std::string& path) {
  struct stat info{};
  if (stat(path.c_str(), &info) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode);
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t done = write(fd, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

}  // namespace

std::string wisdomFilePath(const char* xdgCacheHome, const char* home) {
  std::string root;
  if (xdgCacheHome != nullptr && xdgCacheHome[0] == '/') {
    root = xdgCacheHome;
  } else if (home != nullptr && home[0] == '/') {
    root = std::string(home) + "/.cache";
  } else {
    return {};
  }
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root + '/' + kFolder + '/' + kFile;
}

bool importWisdomFile(const std::string& path) {
  if (path.empty()) return false;
  // Read the whole file first, so that FFTW parses a string: a file that
  // changes while we read it is at worst rejected as corrupt. Opened without
  // blocking and read only if it is a regular file: opening a FIFO for
  // reading would wait for a writer for good, a device could give anything.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info{};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }
  constexpr std::size_t kLimit = 1u << 20;  // far beyond any real wisdom
  std::string text;
  char buffer[4096];
  bool readFine = true;
  while (text.size() <= kLimit) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      readFine = got == 0;
      break;
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return readFine && !text.empty() && text.size() <= kLimit &&
         fftw_import_wisdom_from_string(text.c_str()) != 0;
}

bool wisdomWritable(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (path.empty() || slash == std::string::npos || slash == 0) return false;
  const std::string folder = path.substr(0, slash);
  return makeFolders(folder) && access(folder.c_str(), W_OK | X_OK) == 0 &&
         absentOrRegular(path);
}

bool exportWisdomFile(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (path.empty() || slash == std::string::npos || slash == 0) return false;
  const std::string folder = path.substr(0, slash);
  if (!makeFolders(folder) || !absentOrRegular(path)) return false;
  // Keep what other processes have added since we read the file: FFTW's own
  // wisdom goes in last, so it is there whether an import adds to the wisdom
  // or replaces it.
  char* ours = fftw_export_wisdom_to_string();
  if (ours == nullptr) return false;
  importWisdomFile(path);
  fftw_import_wisdom_from_string(ours);
  std::free(ours);  // FFTW allocates these strings with malloc

  char* text = fftw_export_wisdom_to_string();
  if (text == nullptr) return false;
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  bool ok = fd >= 0;
  if (ok) {
    ok = writeAll(fd, text, std::strlen(text)) && fchmod(fd, 0600) == 0;
    ok = (close(fd) == 0) && ok;
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
  }
  std::free(text);
  return ok;
}

}  // namespace bw::nsp
