#include "loader/image_loader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "loader/memory_layer.h"

namespace bw {

namespace {

// Layout of the PE/COFF structures the loader reads (byte offsets).
constexpr std::uint16_t kDosSignature = 0x5A4D;  // "MZ"
constexpr std::uint32_t kDosHeaderBytes = 64;
constexpr std::uint32_t kDosNewHeaderField = 60;         // e_lfanew
constexpr std::uint32_t kPeSignature = 0x00004550;       // "PE\0\0"
constexpr std::uint32_t kFileHeaderBytes = 20;
constexpr std::uint32_t kOptionalHeaderOffset = 24;      // from "PE"
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint32_t kOptionalFixedBytes = 96;        // up to the directories
constexpr std::uint32_t kSectionHeaderBytes = 40;
constexpr std::uint32_t kImportDescriptorBytes = 20;
constexpr std::uint32_t kExportDirectoryBytes = 40;
constexpr std::uint32_t kRelocationBlockHeader = 8;

constexpr std::uint32_t kDirectoryExport = 0;
constexpr std::uint32_t kDirectoryImport = 1;
constexpr std::uint32_t kDirectoryRelocation = 5;

constexpr std::uint32_t kScnInitialisedData = 0x00000040;
constexpr std::uint32_t kScnUninitialisedData = 0x00000080;
constexpr std::uint32_t kScnDiscardable = 0x02000000;
constexpr std::uint32_t kScnNotCached = 0x04000000;
constexpr std::uint32_t kScnExecute = 0x20000000;
constexpr std::uint32_t kScnRead = 0x40000000;
constexpr std::uint32_t kScnWrite = 0x80000000;

constexpr unsigned kRelocationHighLow = 3;
constexpr std::uint32_t kImportByOrdinal = 0x80000000;

// Limits beyond which an image is taken as malformed.
constexpr std::uint32_t kMaxSections = 96;
constexpr std::uint64_t kMaxImageSize = std::uint64_t{1} << 30;
constexpr std::uint32_t kMaxSectionAlignment = 64 * 1024;
constexpr std::uint64_t k4G = std::uint64_t{1} << 32;
// Ordinals index the export address table with 16 bits.
constexpr std::uint64_t kMaxExports = 65536;
// A block covers one 4 KiB page: one entry per byte offset at most.
constexpr std::uint32_t kMaxBlockBytes = kRelocationBlockHeader + 2 * 4096;
// Longest library or function name, terminator included.
constexpr std::uint64_t kMaxNameBytes = 4096;

std::uint16_t read16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
std::uint32_t read32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void write32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, sizeof v); }

// True when [offset, offset + length) lies within [0, limit). 64-bit sums of
// 32-bit fields cannot overflow.
bool within(std::uint64_t offset, std::uint64_t length, std::uint64_t limit) {
  return offset <= limit && length <= limit - offset;
}

struct Directory {
  std::uint32_t address = 0;  // offset in the image
  std::uint32_t size = 0;
};

struct Section {
  std::uint32_t tableOffset;  // of its entry in the header copy
  std::uint32_t address;
  std::uint32_t rawSize;
  std::uint32_t rawPointer;
  std::uint32_t characteristics;
  std::uint32_t span;  // bytes up to the next section or the image's end
};

// The header fields the loader uses, all checked against the buffer and
// against SizeOfImage.
struct Layout {
  std::uint32_t peOffset;
  std::uint32_t imageBase;
  std::uint32_t sectionAlignment;
  std::uint32_t sizeOfImage;
  std::uint32_t sizeOfHeaders;
  std::uint32_t entryPoint;
  std::uint32_t sizeOfInitialisedData;
  std::uint32_t sizeOfUninitialisedData;
  Directory exports, imports, relocations;
  std::vector<Section> sections;
};

bool isPowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

std::uint64_t alignUp(std::uint64_t v, std::uint64_t alignment) {
  return (v + alignment - 1) / alignment * alignment;
}

// Reads and checks the headers and the section table from the buffer alone.
std::optional<Layout> parseHeaders(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size < kDosHeaderBytes) return std::nullopt;
  if (read16(data) != kDosSignature) return std::nullopt;
  Layout l{};
  l.peOffset = read32(data + kDosNewHeaderField);
  if (!within(l.peOffset, kOptionalHeaderOffset, size)) return std::nullopt;
  const std::uint8_t* pe = data + l.peOffset;
  if (read32(pe) != kPeSignature) return std::nullopt;

  const std::uint8_t* fileHeader = pe + 4;
  const std::uint32_t sectionCount = read16(fileHeader + 2);
  const std::uint32_t optionalSize = read16(fileHeader + 16);
  static_assert(4 + kFileHeaderBytes == kOptionalHeaderOffset);
  if (sectionCount > kMaxSections || optionalSize < kOptionalFixedBytes) return std::nullopt;
  const std::uint64_t optionalOffset = std::uint64_t{l.peOffset} + kOptionalHeaderOffset;
  const std::uint64_t tableOffset = optionalOffset + optionalSize;
  const std::uint64_t tableEnd = tableOffset + std::uint64_t{sectionCount} * kSectionHeaderBytes;
  if (tableEnd > size) return std::nullopt;

  const std::uint8_t* opt = data + optionalOffset;
  if (read16(opt) != kPe32Magic) return std::nullopt;  // not a 32-bit layout
  l.sizeOfInitialisedData = read32(opt + 8);
  l.sizeOfUninitialisedData = read32(opt + 12);
  l.entryPoint = read32(opt + 16);
  l.imageBase = read32(opt + 28);
  l.sectionAlignment = read32(opt + 32);
  l.sizeOfImage = read32(opt + 56);
  l.sizeOfHeaders = read32(opt + 60);
  const std::uint32_t directoryCount = read32(opt + 92);

  if (l.sizeOfImage == 0 || l.sizeOfImage > kMaxImageSize) return std::nullopt;
  if (l.sizeOfHeaders < tableEnd || l.sizeOfHeaders > size ||
      l.sizeOfHeaders > l.sizeOfImage) {
    return std::nullopt;
  }
  if (!isPowerOfTwo(l.sectionAlignment) || l.sectionAlignment < mem::pageSize() ||
      l.sectionAlignment > kMaxSectionAlignment) {
    return std::nullopt;
  }
  if (l.entryPoint >= l.sizeOfImage) return std::nullopt;

  auto directory = [&](std::uint32_t index, Directory& d) {
    if (index >= directoryCount ||
        kOptionalFixedBytes + 8 * (index + 1) > optionalSize) {
      return true;  // absent
    }
    d.address = read32(opt + kOptionalFixedBytes + 8 * index);
    d.size = read32(opt + kOptionalFixedBytes + 8 * index + 4);
    return d.size == 0 || within(d.address, d.size, l.sizeOfImage);
  };
  if (!directory(kDirectoryExport, l.exports) ||
      !directory(kDirectoryImport, l.imports) ||
      !directory(kDirectoryRelocation, l.relocations)) {
    return std::nullopt;
  }

  // Sections lie in ascending order after the headers, each at a multiple of
  // the alignment, apart from one another and inside both the buffer and
  // SizeOfImage. Whole-page alignment keeps each section's protection to
  // its own pages.
  std::uint64_t nextFree = l.sizeOfHeaders;
  l.sections.reserve(sectionCount);
  for (std::uint32_t i = 0; i < sectionCount; ++i) {
    const auto entry = static_cast<std::uint32_t>(tableOffset + i * kSectionHeaderBytes);
    const std::uint8_t* s = data + entry;
    Section sec{entry, read32(s + 12), read32(s + 16), read32(s + 20), read32(s + 36), 0};
    if (sec.address % l.sectionAlignment != 0 || sec.address < nextFree) return std::nullopt;
    const std::uint32_t extent = sec.rawSize == 0 ? l.sectionAlignment : sec.rawSize;
    if (!within(sec.address, extent, l.sizeOfImage)) return std::nullopt;
    if (sec.rawSize != 0 && !within(sec.rawPointer, sec.rawSize, size)) return std::nullopt;
    nextFree = alignUp(std::uint64_t{sec.address} + extent, l.sectionAlignment);
    l.sections.push_back(sec);
  }
  for (std::size_t i = 0; i < l.sections.size(); ++i) {
    const std::uint32_t end =
        i + 1 < l.sections.size() ? l.sections[i + 1].address : l.sizeOfImage;
    l.sections[i].span = end - l.sections[i].address;
  }
  return l;
}

// --- Access to the mapped copy, checked against its size and page access.

bool readable(const MappedImage& m, std::uint64_t offset, std::uint64_t length) {
  if (!within(offset, length, m.imageSize)) return false;
  if (length == 0) return true;
  const std::size_t page = mem::pageSize();
  for (std::uint64_t p = offset / page; p <= (offset + length - 1) / page; ++p) {
    if (!(m.pageAccess[p] & mem::AccessRead)) return false;
  }
  return true;
}

// The NUL-terminated string at `offset`, or nullptr when it does not end
// inside readable pages of the image within kMaxNameBytes.
const char* imageString(const MappedImage& m, std::uint64_t offset) {
  const std::size_t page = mem::pageSize();
  const std::uint64_t end = std::min<std::uint64_t>(m.imageSize, offset + kMaxNameBytes);
  for (std::uint64_t i = offset; i < end; ++i) {
    if ((i == offset || i % page == 0) && !(m.pageAccess[i / page] & mem::AccessRead)) {
      return nullptr;
    }
    if (m.codeBase[i] == 0) return reinterpret_cast<const char*>(m.codeBase + offset);
  }
  return nullptr;
}

// --- Import stubs.
//
// An import address entry of a 32-bit image holds 32 bits, but the functions
// of this process's shared objects lie above 4 GiB. Each bound import
// therefore gets a 16-byte stub below 4 GiB, `jmp qword [rip+0]` followed by
// the function's full address, and the entry receives the stub's address.
// Calling through the entry reaches the function unchanged.
constexpr std::size_t kStubBytes = 16;
constexpr std::size_t kStubChunkBytes = 16 * 1024;

void* addStub(MappedImage& m, void* target) {
  if (m.stubChunks.empty() || m.stubsUsed == kStubChunkBytes / kStubBytes) {
    try {
      m.stubChunks.reserve(m.stubChunks.size() + 1);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    void* chunk = mem::reserveBelow4G(kStubChunkBytes);
    if (chunk == nullptr) return nullptr;
    if (!mem::commit(chunk, kStubChunkBytes)) {
      mem::release(chunk, kStubChunkBytes);
      return nullptr;
    }
    m.stubChunks.push_back(static_cast<std::uint8_t*>(chunk));
    m.stubsUsed = 0;
  }
  std::uint8_t* stub = m.stubChunks.back() + m.stubsUsed * kStubBytes;
  static constexpr std::uint8_t kJump[6] = {0xFF, 0x25, 0x00, 0x00, 0x00, 0x00};
  std::memcpy(stub, kJump, sizeof kJump);
  const auto address = reinterpret_cast<std::uint64_t>(target);
  std::memcpy(stub + 6, &address, sizeof address);
  stub[14] = stub[15] = 0xCC;  // int3 padding
  ++m.stubsUsed;
  return stub;
}

void sealStubs(MappedImage& m) {
  for (std::uint8_t* chunk : m.stubChunks) {
    mem::protect(chunk, kStubChunkBytes, mem::PageExecuteRead);
  }
}

// --- Loader steps; each returns false to refuse the image.

void mapSections(MappedImage& m, const Layout& l, const std::uint8_t* data) {
  for (const Section& s : l.sections) {
    std::uint8_t* dest = m.codeBase + s.address;
    if (s.rawSize == 0) {
      mem::commit(dest, l.sectionAlignment);
      std::memset(dest, 0, l.sectionAlignment);
    } else {
      mem::commit(dest, s.rawSize);
      std::memcpy(dest, data + s.rawPointer, s.rawSize);
    }
    // The address used goes into the copy's physical-address field. It fits:
    // the whole mapping lies below 4 GiB.
    write32(m.codeBase + s.tableOffset + 8,
            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(dest)));
  }
}

// Walks every relocation block (also at the preferred base, so that a
// malformed directory is refused wherever the image lands) and adds the
// difference to each HIGHLOW target when the image was moved.
bool relocate(MappedImage& m, const Layout& l) {
  if (l.relocations.size == 0) return true;
  const std::uint32_t delta =
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(m.codeBase)) - l.imageBase;
  const std::uint64_t end = std::uint64_t{l.relocations.address} + l.relocations.size;
  std::uint64_t block = l.relocations.address;
  while (block + kRelocationBlockHeader <= end) {
    const std::uint32_t page = read32(m.codeBase + block);
    if (page == 0) break;
    const std::uint32_t blockSize = read32(m.codeBase + block + 4);
    if (blockSize < kRelocationBlockHeader || blockSize > kMaxBlockBytes ||
        blockSize > end - block) {
      return false;
    }
    const std::uint32_t count = (blockSize - kRelocationBlockHeader) / 2;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint16_t entry = read16(m.codeBase + block + kRelocationBlockHeader + 2 * i);
      if ((entry >> 12) != kRelocationHighLow) continue;
      const std::uint64_t target = std::uint64_t{page} + (entry & 0xFFF);
      if (!within(target, 4, m.imageSize)) return false;
      if (delta != 0) {
        std::uint8_t* p = m.codeBase + target;
        write32(p, read32(p) + delta);
      }
    }
    block += blockSize;
  }
  return true;
}

bool bindImports(MappedImage& m, const Layout& l) {
  if (l.imports.size == 0) return true;
  const ImportResolver& r = *m.resolver;
  for (std::uint64_t d = l.imports.address;; d += kImportDescriptorBytes) {
    if (!readable(m, d, kImportDescriptorBytes)) return false;
    const std::uint8_t* desc = m.codeBase + d;
    const std::uint32_t nameOffset = read32(desc + 12);
    if (nameOffset == 0) return true;
    const std::uint32_t originalThunk = read32(desc);
    const std::uint32_t firstThunk = read32(desc + 16);
    const char* libraryName = imageString(m, nameOffset);
    if (libraryName == nullptr || firstThunk == 0) return false;

    try {
      m.importedLibraries.reserve(m.importedLibraries.size() + 1);
    } catch (const std::bad_alloc&) {
      return false;
    }
    void* library = r.open(libraryName);
    if (library == nullptr) return false;
    m.importedLibraries.push_back(library);

    const std::uint64_t names = originalThunk != 0 ? originalThunk : firstThunk;
    for (std::uint64_t i = 0;; ++i) {
      if (!readable(m, names + 4 * i, 4)) return false;
      const std::uint32_t nameEntry = read32(m.codeBase + names + 4 * i);
      if (nameEntry == 0) break;
      if (!readable(m, std::uint64_t{firstThunk} + 4 * i, 4)) return false;
      void* function = nullptr;
      if (nameEntry & kImportByOrdinal) {
        function = mem::librarySymbolByOrdinal(library, nameEntry & 0xFFFF);
      } else if (const char* name = imageString(m, std::uint64_t{nameEntry} + 2)) {
        function = r.symbol(library, name);
      }
      if (function == nullptr) return false;
      void* stub = addStub(m, function);
      if (stub == nullptr) return false;
      write32(m.codeBase + firstThunk + 4 * i,
              static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(stub)));
    }
  }
}

// Marks the pages holding [offset, offset + length) with `access`.
void markPages(MappedImage& m, std::uint64_t offset, std::uint64_t length, unsigned access) {
  if (length == 0) return;
  const std::size_t page = mem::pageSize();
  for (std::uint64_t p = offset / page; p <= (offset + length - 1) / page; ++p) {
    m.pageAccess[p] = static_cast<std::uint8_t>(access);
  }
}

void protectSections(MappedImage& m, const Layout& l) {
  for (const Section& s : l.sections) {
    std::uint8_t* address = m.codeBase + s.address;
    if (s.characteristics & kScnDiscardable) {
      if (mem::decommit(address, s.rawSize)) markPages(m, s.address, s.rawSize, mem::AccessNone);
      continue;
    }
    const bool x = s.characteristics & kScnExecute;
    const bool r = s.characteristics & kScnRead;
    const bool w = s.characteristics & kScnWrite;
    std::uint32_t protection = sectionProtection[x][r][w];
    if (s.characteristics & kScnNotCached) protection |= mem::PageNoCache;
    std::uint32_t size = s.rawSize;
    if (size == 0) {
      if (s.characteristics & kScnInitialisedData) {
        size = l.sizeOfInitialisedData;
      } else if (s.characteristics & kScnUninitialisedData) {
        size = l.sizeOfUninitialisedData;
      }
      // Those are totals of the whole image: keep to this section's pages.
      size = std::min(size, s.span);
    }
    if (size != 0 && mem::protect(address, size, protection)) {
      markPages(m, s.address, size, mem::accessOf(protection));
    }
  }
}

// The export directory's counts and table offsets (relative to codeBase).
struct ExportTables {
  std::uint64_t functionCount;
  std::uint64_t nameCount;
  std::uint32_t functions;
  std::uint32_t names;
  std::uint32_t ordinals;
};

// The export tables, when the image has an export directory lying in
// readable pages; nullopt otherwise.
std::optional<ExportTables> readExportTables(const MappedImage& m) {
  if (m.exportDirectorySize == 0 ||
      !readable(m, m.exportDirectory, kExportDirectoryBytes)) {
    return std::nullopt;
  }
  const std::uint8_t* dir = m.codeBase + m.exportDirectory;
  return ExportTables{read32(dir + 20), read32(dir + 24), read32(dir + 28),
                      read32(dir + 32), read32(dir + 36)};
}

// The export directory and its tables must lie in readable pages, and each
// name must end there, for findImageExport to be safe to call.
bool exportsReadable(const MappedImage& m) {
  if (m.exportDirectorySize == 0) return true;
  const std::optional<ExportTables> tables = readExportTables(m);
  if (!tables) return false;
  const auto [functionCount, nameCount, functions, names, ordinals] = *tables;
  if (functionCount == 0 || nameCount == 0) return true;
  if (functionCount > kMaxExports || nameCount > kMaxExports) return false;
  if (!readable(m, functions, 4 * functionCount) || !readable(m, names, 4 * nameCount) ||
      !readable(m, ordinals, 2 * nameCount)) {
    return false;
  }
  for (std::uint64_t i = 0; i < nameCount; ++i) {
    if (imageString(m, read32(m.codeBase + names + 4 * i)) == nullptr) return false;
  }
  return true;
}

// The entry point uses the platform's convention for library entry points:
// (instance, reason, reserved) -> BOOL, in the Microsoft x64 convention.
using EntryPoint = int(__attribute__((ms_abi))*)(void*, std::uint32_t, void*);
constexpr std::uint32_t kProcessDetach = 0;
constexpr std::uint32_t kProcessAttach = 1;

#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
int callEntryPoint(const MappedImage& m, std::uint32_t reason) {
  const auto entry = reinterpret_cast<EntryPoint>(m.codeBase + m.entryPoint);
  return entry(m.codeBase, reason, nullptr);
}

constexpr ImportResolver kSystemLoader{mem::openLibrary, mem::librarySymbol,
                                       mem::closeLibrary};

}  // namespace

MappedImage* mapLibraryImage(const void* data, std::size_t size) {
  return mapLibraryImage(data, size, MapOptions{});
}

MappedImage* mapLibraryImage(const void* data, std::size_t size, const MapOptions& options) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  const std::optional<Layout> parsed = parseHeaders(bytes, size);
  if (!parsed) return nullptr;
  const Layout& l = *parsed;

  const std::size_t page = mem::pageSize();
  const std::size_t reservedSize = static_cast<std::size_t>(alignUp(l.sizeOfImage, page));
  void* base = nullptr;
  if (l.imageBase % page == 0 && std::uint64_t{l.imageBase} + reservedSize <= k4G) {
    base = mem::reserveAt(l.imageBase, reservedSize);
  }
  if (base == nullptr) base = mem::reserveBelow4G(reservedSize);
  if (base == nullptr) return nullptr;

  auto* m = new (std::nothrow) MappedImage;
  if (m == nullptr) {
    mem::release(base, reservedSize);
    return nullptr;
  }
  m->codeBase = static_cast<std::uint8_t*>(base);
  m->reservedSize = reservedSize;
  m->imageSize = l.sizeOfImage;
  m->entryPoint = l.entryPoint;
  m->exportDirectory = l.exports.address;
  m->exportDirectorySize = l.exports.size;
  m->resolver = options.imports != nullptr ? options.imports : &kSystemLoader;
  try {
    m->pageAccess.assign(reservedSize / page, mem::AccessRead | mem::AccessWrite);
  } catch (const std::bad_alloc&) {
    releaseLibraryImage(m);
    return nullptr;
  }

  if (!mem::commit(m->codeBase, l.sizeOfImage)) {
    releaseLibraryImage(m);
    return nullptr;
  }
  std::memcpy(m->codeBase, bytes, l.sizeOfHeaders);
  m->headers = m->codeBase + l.peOffset;
  write32(m->headers + kOptionalHeaderOffset + 28,
          static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(m->codeBase)));

  mapSections(*m, l, bytes);
  const bool bound = relocate(*m, l) && bindImports(*m, l);
  sealStubs(*m);
  if (!bound) {
    releaseLibraryImage(m);
    return nullptr;
  }
  protectSections(*m, l);

  // Refuse what findImageExport or the entry call could not use safely.
  const bool entryRunnable =
      m->entryPoint == 0 || (m->pageAccess[m->entryPoint / page] & mem::AccessExecute);
  if (!exportsReadable(*m) || !entryRunnable) {
    releaseLibraryImage(m);
    return nullptr;
  }

  if (m->entryPoint != 0 && options.runEntryPoint) {
    if (!callEntryPoint(*m, kProcessAttach)) {
      releaseLibraryImage(m);
      return nullptr;
    }
    m->initialised = 1;
  }
  return m;
}

void* findImageExport(const MappedImage* image, const char* name) {
  if (image == nullptr || name == nullptr) return nullptr;
  const MappedImage& m = *image;
  const std::optional<ExportTables> tables = readExportTables(m);
  if (!tables) return nullptr;
  const auto [functionCount, nameCount, functions, names, ordinals] = *tables;
  if (functionCount == 0 || nameCount == 0) return nullptr;
  if (functionCount > kMaxExports || nameCount > kMaxExports) return nullptr;
  if (!readable(m, names, 4 * nameCount) || !readable(m, ordinals, 2 * nameCount)) {
    return nullptr;
  }

  for (std::uint64_t i = 0; i < nameCount; ++i) {
    const char* candidate = imageString(m, read32(m.codeBase + names + 4 * i));
    if (candidate == nullptr || std::strcmp(candidate, name) != 0) continue;
    const std::uint16_t index = read16(m.codeBase + ordinals + 2 * i);
    if (index >= functionCount || !readable(m, functions + 4 * std::uint64_t{index}, 4)) {
      return nullptr;
    }
    const std::uint32_t address = read32(m.codeBase + functions + 4 * std::uint64_t{index});
    // A forwarder names a function of another library rather than code.
    const bool forwarded = address >= m.exportDirectory &&
                           address - m.exportDirectory < m.exportDirectorySize;
    if (address == 0 || address >= m.imageSize || forwarded) return nullptr;
    return m.codeBase + address;
  }
  return nullptr;
}

void releaseLibraryImage(MappedImage* image) {
  if (image == nullptr) return;
  MappedImage& m = *image;
  if (m.initialised == 1) {
    callEntryPoint(m, kProcessDetach);
    m.initialised = 0;
  }
  for (void* library : m.importedLibraries) m.resolver->close(library);
  m.importedLibraries.clear();
  for (std::uint8_t* chunk : m.stubChunks) mem::release(chunk, kStubChunkBytes);
  m.stubChunks.clear();
  mem::release(m.codeBase, m.reservedSize);
  delete image;
}

}  // namespace bw
