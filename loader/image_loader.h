// Maps a 32-bit PE/COFF dynamic library held in memory into the process, as
// the platform's own loader would: sections placed at their addresses, base
// relocations applied, imports bound through the system's library loader,
// page protections set and the entry point run. Every field of the image is
// checked against the image's size and SizeOfImage before it is used; a
// malformed image is refused with nothing left reserved or loaded. Counts
// beyond these are taken as malformed: 96 sections, SizeOfImage 1 GiB,
// section alignment from a page to 64 KiB (a power of two), 65536 exports,
// 4096 entries in a relocation block, names of 4096 bytes with terminator.
//
// Images must not need a 64-bit layout, forwarded exports or thread-local
// storage. Not thread-safe: map and release an image on one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bw {

// Page protection of a section, indexed [executable][readable][writeable]
// (each 0 or 1), as a mem::PageProtection value.
inline constexpr std::uint32_t sectionProtection[2][2][2] = {
    {{0x01 /*no access*/, 0x08 /*write-copy*/},
     {0x02 /*read-only*/, 0x04 /*read-write*/}},
    {{0x10 /*execute*/, 0x80 /*execute-write-copy*/},
     {0x20 /*execute-read*/, 0x40 /*execute-read-write*/}},
};

// How an image's imports are resolved. The default is the system's library
// loader (dlopen/dlsym/dlclose). Look-ups by ordinal always fail.
struct ImportResolver {
  void* (*open)(const char* library);  // handle or nullptr
  void* (*symbol)(void* handle, const char* function);  // address or nullptr
  void (*close)(void* handle);
};

struct MapOptions {
  // Call the entry point for attach (and, on release, detach). Turned off
  // only to inspect images whose code must not run.
  bool runEntryPoint = true;
  // nullptr: the system's library loader. Must outlive the mapped image.
  const ImportResolver* imports = nullptr;
};

// One image mapped from memory. Owned by the caller of mapLibraryImage and
// given back with releaseLibraryImage.
struct MappedImage {
  std::uint8_t* headers = nullptr;   // "PE" signature onwards, in the copy
  std::uint8_t* codeBase = nullptr;  // base of the mapping, below 4 GiB
  std::vector<void*> importedLibraries;  // handles in load order
  std::int32_t initialised = 0;  // 1 once the entry point accepted attach

  // Loader bookkeeping.
  std::uint32_t imageSize = 0;     // SizeOfImage, bytes
  std::size_t reservedSize = 0;    // imageSize rounded up to whole pages
  std::uint32_t entryPoint = 0;    // AddressOfEntryPoint (offset), 0: none
  std::uint32_t exportDirectory = 0;      // offset of the export directory
  std::uint32_t exportDirectorySize = 0;  // bytes, 0: no exports
  std::vector<std::uint8_t> pageAccess;   // mem::Access bits of each page
  // Jump stubs below 4 GiB through which the 32-bit import address entries
  // reach the imported functions (see image_loader.cpp).
  std::vector<std::uint8_t*> stubChunks;
  std::size_t stubsUsed = 0;  // stubs taken in the last chunk
  const ImportResolver* resolver = nullptr;
};

// Maps the `size` bytes at `data` (which the call does not keep). Gives the
// mapped image, or nullptr when the image is malformed, address space below
// 4 GiB cannot be had, an import cannot be bound or the entry point reports
// failure; nothing is then left reserved or loaded.
MappedImage* mapLibraryImage(const void* data, std::size_t size);
MappedImage* mapLibraryImage(const void* data, std::size_t size,
                             const MapOptions& options);

// Address of the export named exactly `name` (byte for byte, case-sensitive),
// or nullptr. Every table and name is checked to lie in readable pages of
// the image; forwarded exports and addresses outside the image give nullptr.
void* findImageExport(const MappedImage* image, const char* name);

// Calls the entry point for detach if attach succeeded, unloads the imported
// libraries and releases the mapping and the record. nullptr is ignored.
void releaseLibraryImage(MappedImage* image);

}  // namespace bw
