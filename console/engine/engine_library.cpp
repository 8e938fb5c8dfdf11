#include "engine/engine_library.h"

#include <dlfcn.h>

#include <QDir>

namespace lanternfly {
namespace {

// Opens one candidate; on failure appends the loader's reason to `errors`.
void* openLibrary(const QString& path, QString& errors) {
  void* handle = dlopen(path.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    if (!errors.isEmpty()) errors += QStringLiteral("; ");
    errors += why != nullptr ? QString::fromLocal8Bit(why) : path;
  }
  return handle;
}

template <typename Fn>
void bind(void* handle, const char* name, Fn& entry) {
  entry = reinterpret_cast<Fn>(dlsym(handle, name));
}

}  // namespace

bool EngineLibrary::load(const QString& programDir) {
  unload();
  errorText_.clear();
  const QString beside = QDir(programDir).filePath(QString::fromLatin1(kEngineFileName));
  // Beside the program first (the path contains a slash, so the loader takes
  // it as it is), then the plain name, which the loader searches for.
  for (const QString& candidate : {beside, QString::fromLatin1(kEngineFileName)}) {
    handle_ = openLibrary(candidate, errorText_);
    if (handle_ != nullptr) {
      errorText_.clear();
      bindEntries();
      return true;
    }
  }
  return false;
}

void EngineLibrary::bindEntries() {
  EngineEntries& e = entries_;
#define LANTERNFLY_BIND_ENTRY(name) bind(handle_, #name, e.name);
  BRACKWELL_EXPORTS(LANTERNFLY_BIND_ENTRY)
#undef LANTERNFLY_BIND_ENTRY
}

void EngineLibrary::unload() {
  entries_ = EngineEntries{};
  if (handle_ != nullptr) {
    dlclose(handle_);
    handle_ = nullptr;
  }
}

}  // namespace lanternfly
