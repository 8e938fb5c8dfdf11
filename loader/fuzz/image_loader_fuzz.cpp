// libFuzzer target: maps arbitrary bytes as a library image, looks up
// exports and releases it. The image's code never runs (entry point off) and
// its imports go to a stand-in resolver rather than the system's loader, so
// that no input can make the process load a library or jump into its bytes.
// Traps when a mapping leaves address space reserved or a library open.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "loader/image_loader.h"
#include "loader/memory_layer.h"

namespace {

int g_openLibraries = 0;
int g_library;  // its address is the one library handle

void* openLibrary(const char* name) {
  if (name[0] == '\0') return nullptr;
  ++g_openLibraries;
  return &g_library;
}

void importedFunction() {}

// Any name up to 64 bytes is found; longer ones are not, so that both
// outcomes of a look-up are reachable.
void* findSymbol(void*, const char* name) {
  return std::strlen(name) <= 64 ? reinterpret_cast<void*>(&importedFunction) : nullptr;
}

void closeLibrary(void*) { --g_openLibraries; }

constexpr bw::ImportResolver kStandIn{openLibrary, findSymbol, closeLibrary};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::size_t held = bw::mem::counters().reservationsHeld;
  bw::MapOptions options;
  options.runEntryPoint = false;
  options.imports = &kStandIn;
  bw::MappedImage* image = bw::mapLibraryImage(data, size, options);
  if (image != nullptr) {
    // The last bytes of the input, up to a zero, as one more name to seek.
    char tail[17] = {};
    const std::size_t n = size < 16 ? size : 16;
    std::memcpy(tail, data + size - n, n);
    for (const char* name : {"Alpha", "beta", "Gamma", "nspzrFftNip", "", static_cast<const char*>(tail)}) {
      void* address = bw::findImageExport(image, name);
      if (address != nullptr &&
          (address < image->codeBase || address >= image->codeBase + image->imageSize)) {
        __builtin_trap();
      }
    }
    bw::releaseLibraryImage(image);
  }
  if (g_openLibraries != 0 || bw::mem::counters().reservationsHeld != held) {
    __builtin_trap();
  }
  return 0;
}
