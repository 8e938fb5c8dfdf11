// Load and unload hooks of libBrackwell.so: start-up when a process loads the
// library, tear-down when it unloads it. Part of the shared library only.
#include "core/lifecycle.h"

namespace {
__attribute__((constructor)) void onLibraryLoad() {
  bw::engineAttach();
  bw::engineWatchExit();
}
__attribute__((destructor)) void onLibraryUnload() { bw::engineDetach(); }
}  // namespace
