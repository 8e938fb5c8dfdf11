// The engine library libBrackwell.so, loaded at run time: found beside the
// program first, then on the ordinary library search path, with its fourteen
// operations bound by name. An operation the library does not export stays
// null and must not be called.
#pragma once

#include <QString>

#include "brackwell/brackwell.h"
#include "brackwell/exports.h"

namespace lanternfly {

// The file name of the engine library.
inline constexpr const char* kEngineFileName = "libBrackwell.so";

// The fourteen operations, in the order they are looked up.
#define LANTERNFLY_ENGINE_ENTRY(name) decltype(&::name) name = nullptr;
struct EngineEntries {
  BRACKWELL_EXPORTS(LANTERNFLY_ENGINE_ENTRY)
};
#undef LANTERNFLY_ENGINE_ENTRY

// Owns one loaded engine library. Not copyable; unloads on destruction.
class EngineLibrary {
 public:
  EngineLibrary() = default;
  EngineLibrary(const EngineLibrary&) = delete;
  EngineLibrary& operator=(const EngineLibrary&) = delete;
  ~EngineLibrary() { unload(); }

  // Loads programDir/libBrackwell.so, or else libBrackwell.so from the
  // library search path, and binds the operations. False when neither loads;
  // errorText() then says why.
  bool load(const QString& programDir);
  // Forgets every binding and unloads the library (runs the engine's
  // tear-down). Harmless when nothing is loaded.
  void unload();

  bool loaded() const { return handle_ != nullptr; }
  const EngineEntries& entries() const { return entries_; }
  const QString& errorText() const { return errorText_; }

 private:
  void bindEntries();

  void* handle_ = nullptr;
  EngineEntries entries_;
  QString errorText_;
};

}  // namespace lanternfly
