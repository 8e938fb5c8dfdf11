#include "pe_image_builder.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>

namespace bw::test {

namespace {
constexpr std::uint32_t kPeOffset = 0x40;
constexpr std::uint32_t kOptionalHeaderBytes = 0xE0;  // PE32 with 16 directories
constexpr std::uint32_t kSectionEntryBytes = 40;

std::uint32_t alignUp(std::uint32_t v, std::uint32_t a) { return (v + a - 1) / a * a; }

void store16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  std::memcpy(b.data() + at, &v, 2);
}
void store32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  std::memcpy(b.data() + at, &v, 4);
}
std::size_t appendString(std::vector<std::uint8_t>& b, const std::string& s) {
  const std::size_t at = b.size();
  b.insert(b.end(), s.begin(), s.end());
  b.push_back(0);
  return at;
}
}  // namespace

std::uint32_t PeImage::fileOffset(std::uint32_t rva) const {
  for (const SectionInfo& s : sections) {
    if (s.rawSize != 0 && rva >= s.rva && rva - s.rva < s.rawSize) {
      return s.fileOffset + (rva - s.rva);
    }
  }
  throw std::out_of_range("rva outside every section's raw data");
}

const PeImage::SectionInfo& PeImage::section(const std::string& name) const {
  for (const SectionInfo& s : sections) {
    if (s.name == name) return s;
  }
  throw std::out_of_range("no section " + name);
}

std::uint32_t PeImage::get32(std::uint32_t offset) const {
  std::uint32_t v;
  std::memcpy(&v, bytes.data() + offset, 4);
  return v;
}
void PeImage::put16(std::uint32_t offset, std::uint16_t value) {
  std::memcpy(bytes.data() + offset, &value, 2);
}
void PeImage::put32(std::uint32_t offset, std::uint32_t value) {
  std::memcpy(bytes.data() + offset, &value, 4);
}

PeImageBuilder::PeImageBuilder(std::uint32_t imageBase) : imageBase_(imageBase) {}

std::uint32_t PeImageBuilder::addSection(const std::string& name, std::uint32_t characteristics,
                                         std::vector<std::uint8_t> bytes,
                                         std::uint32_t virtualSize) {
  const std::uint32_t rva = nextRva_;
  const auto size = std::max<std::uint32_t>(
      {static_cast<std::uint32_t>(bytes.size()), virtualSize, 1});
  sections_.push_back({name, characteristics, std::move(bytes), virtualSize, rva});
  nextRva_ += alignUp(size, kSectionAlignment);
  return rva;
}

void PeImageBuilder::addRelocation(std::uint32_t rva, std::uint16_t type) {
  relocations_.emplace_back(rva, type);
}

void PeImageBuilder::addExport(const std::string& name, std::uint32_t rva) {
  exports_.emplace_back(name, rva);
}

void PeImageBuilder::addImport(const std::string& library,
                               const std::vector<std::string>& functions,
                               bool originalThunks) {
  imports_.push_back({library, functions, originalThunks});
}

PeImage PeImageBuilder::build() const {
  PeImage image;
  image.imageBase = imageBase_;
  std::vector<PendingSection> all = sections_;
  std::uint32_t rva = nextRva_;
  auto place = [&](const char* name, std::uint32_t characteristics,
                   std::vector<std::uint8_t> bytes) {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    all.push_back({name, characteristics, std::move(bytes), 0, rva});
    rva += alignUp(std::max<std::uint32_t>(size, 1), kSectionAlignment);
  };

  std::uint32_t exportSize = 0, importSize = 0, relocationSize = 0;

  if (!exports_.empty()) {
    const std::uint32_t base = rva;
    const auto n = static_cast<std::uint32_t>(exports_.size());
    std::vector<std::uint8_t> b(40 + 10 * n, 0);
    const std::size_t dllName = appendString(b, "test.dll");
    store32(b, 12, base + static_cast<std::uint32_t>(dllName));
    store32(b, 16, 1);             // ordinal base
    store32(b, 20, n);             // NumberOfFunctions
    store32(b, 24, n);             // NumberOfNames
    store32(b, 28, base + 40);             // AddressOfFunctions
    store32(b, 32, base + 40 + 4 * n);     // AddressOfNames
    store32(b, 36, base + 40 + 8 * n);     // AddressOfNameOrdinals
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::size_t nameAt = appendString(b, exports_[i].first);
      store32(b, 40 + 4 * i, exports_[i].second);
      store32(b, 40 + 4 * n + 4 * i, base + static_cast<std::uint32_t>(nameAt));
      store16(b, 40 + 8 * n + 2 * i, static_cast<std::uint16_t>(i));
    }
    exportSize = static_cast<std::uint32_t>(b.size());
    image.exportDirectoryRva = base;
    place(".edata", kReadOnlySection, std::move(b));
  }

  if (!imports_.empty()) {
    const std::uint32_t base = rva;
    std::vector<std::uint8_t> b((imports_.size() + 1) * 20, 0);
    for (std::size_t i = 0; i < imports_.size(); ++i) {
      const Import& imp = imports_[i];
      const std::size_t count = imp.functions.size();
      std::size_t names = 0;
      if (imp.originalThunks) {
        names = b.size();
        b.resize(b.size() + 4 * (count + 1), 0);
      }
      const std::size_t addresses = b.size();
      b.resize(b.size() + 4 * (count + 1), 0);
      std::vector<std::uint32_t> entryRvas;
      for (std::size_t j = 0; j < count; ++j) {
        const std::string& f = imp.functions[j];
        std::uint32_t entry;
        if (!f.empty() && f[0] == '#') {
          entry = 0x80000000u | static_cast<std::uint32_t>(std::stoul(f.substr(1)));
        } else {
          const std::size_t at = b.size();
          b.push_back(0);  // hint
          b.push_back(0);
          appendString(b, f);
          if (b.size() % 2) b.push_back(0);
          entry = base + static_cast<std::uint32_t>(at);
        }
        if (imp.originalThunks) store32(b, names + 4 * j, entry);
        store32(b, addresses + 4 * j, entry);
        entryRvas.push_back(base + static_cast<std::uint32_t>(addresses + 4 * j));
      }
      const std::size_t library = appendString(b, imp.library);
      const std::size_t d = 20 * i;
      store32(b, d + 0, imp.originalThunks ? base + static_cast<std::uint32_t>(names) : 0);
      store32(b, d + 12, base + static_cast<std::uint32_t>(library));
      store32(b, d + 16, base + static_cast<std::uint32_t>(addresses));
      image.importAddressRvas.push_back(std::move(entryRvas));
    }
    importSize = static_cast<std::uint32_t>(b.size());
    image.importDirectoryRva = base;
    place(".idata", kDataSection, std::move(b));
  }

  if (!relocations_.empty()) {
    std::map<std::uint32_t, std::vector<std::uint16_t>> pages;
    for (const auto& [at, type] : relocations_) {
      pages[at & ~0xFFFu].push_back(static_cast<std::uint16_t>((type << 12) | (at & 0xFFF)));
    }
    std::vector<std::uint8_t> b;
    for (auto& [page, entries] : pages) {
      if (entries.size() % 2) entries.push_back(0);  // keep blocks 4-byte sized
      const std::size_t at = b.size();
      store32(b, at, page);
      store32(b, at + 4, static_cast<std::uint32_t>(8 + 2 * entries.size()));
      for (std::size_t k = 0; k < entries.size(); ++k) store16(b, at + 8 + 2 * k, entries[k]);
    }
    relocationSize = static_cast<std::uint32_t>(b.size());
    image.relocationDirectoryRva = rva;
    place(".reloc", kReadOnlySection | kScnDiscardable, std::move(b));
  }

  image.sizeOfImage = rva;
  if (kPeOffset + 24 + kOptionalHeaderBytes + all.size() * kSectionEntryBytes > kHeadersSize) {
    throw std::length_error("too many sections for the headers");
  }

  // File layout: headers, then each section's raw data at file alignment.
  std::vector<std::uint8_t>& out = image.bytes;
  out.assign(kHeadersSize, 0);
  std::uint32_t sizeOfCode = 0, sizeOfInitialised = 0, sizeOfUninitialised = 0;
  std::uint32_t baseOfCode = 0, baseOfData = 0;
  image.peOffset = kPeOffset;
  image.optionalHeaderOffset = kPeOffset + 24;
  image.sectionTableOffset = image.optionalHeaderOffset + kOptionalHeaderBytes;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const PendingSection& s = all[i];
    PeImage::SectionInfo info{s.name, s.rva, 0, 0,
                              image.sectionTableOffset +
                                  static_cast<std::uint32_t>(i * kSectionEntryBytes),
                              s.characteristics};
    if (!s.bytes.empty()) {
      info.fileOffset = static_cast<std::uint32_t>(out.size());
      info.rawSize = alignUp(static_cast<std::uint32_t>(s.bytes.size()), kFileAlignment);
      out.insert(out.end(), s.bytes.begin(), s.bytes.end());
      out.resize(info.fileOffset + info.rawSize, 0);
    }
    const std::uint32_t virtualSize =
        s.bytes.empty() ? s.virtualSize : static_cast<std::uint32_t>(s.bytes.size());
    if (s.characteristics & kScnCode) {
      sizeOfCode += info.rawSize;
      if (baseOfCode == 0) baseOfCode = s.rva;
    } else if (s.characteristics & kScnUninitialisedData) {
      sizeOfUninitialised += alignUp(virtualSize, kFileAlignment);
    } else {
      sizeOfInitialised += info.rawSize;
      if (baseOfData == 0) baseOfData = s.rva;
    }
    const std::uint32_t e = info.headerOffset;
    std::memcpy(out.data() + e, s.name.data(), std::min<std::size_t>(s.name.size(), 8));
    store32(out, e + 8, virtualSize);
    store32(out, e + 12, s.rva);
    store32(out, e + 16, info.rawSize);
    store32(out, e + 20, info.fileOffset);
    store32(out, e + 36, s.characteristics);
    image.sections.push_back(info);
  }

  // DOS header: the signature and where the PE headers are.
  out[0] = 'M';
  out[1] = 'Z';
  store32(out, 60, kPeOffset);
  // PE signature and file header.
  std::memcpy(out.data() + kPeOffset, "PE\0\0", 4);
  const std::uint32_t fh = kPeOffset + 4;
  store16(out, fh + 0, 0x014C);  // i386
  store16(out, fh + 2, static_cast<std::uint16_t>(all.size()));
  store16(out, fh + 16, kOptionalHeaderBytes);
  store16(out, fh + 18, 0x2102);  // executable image, 32-bit machine, DLL
  // Optional header (PE32).
  const std::uint32_t oh = image.optionalHeaderOffset;
  store16(out, oh + 0, 0x010B);
  store32(out, oh + 4, sizeOfCode);
  store32(out, oh + 8, sizeOfInitialised);
  store32(out, oh + 12, sizeOfUninitialised);
  store32(out, oh + 16, entryPoint_);
  store32(out, oh + 20, baseOfCode);
  store32(out, oh + 24, baseOfData);
  store32(out, oh + 28, imageBase_);
  store32(out, oh + 32, kSectionAlignment);
  store32(out, oh + 36, kFileAlignment);
  store16(out, oh + 40, 4);  // operating-system version 4.0
  store16(out, oh + 48, 4);  // subsystem version 4.0
  store32(out, oh + 56, image.sizeOfImage);
  store32(out, oh + 60, kHeadersSize);
  store16(out, oh + 68, 2);  // GUI subsystem
  store32(out, oh + 72, 0x100000);
  store32(out, oh + 76, 0x1000);
  store32(out, oh + 80, 0x100000);
  store32(out, oh + 84, 0x1000);
  store32(out, oh + 92, 16);
  store32(out, oh + 96 + 8 * 0, image.exportDirectoryRva);
  store32(out, oh + 96 + 8 * 0 + 4, exportSize);
  store32(out, oh + 96 + 8 * 1, image.importDirectoryRva);
  store32(out, oh + 96 + 8 * 1 + 4, importSize);
  store32(out, oh + 96 + 8 * 5, image.relocationDirectoryRva);
  store32(out, oh + 96 + 8 * 5 + 4, relocationSize);
  return image;
}

std::vector<std::uint8_t> returnCode(std::uint32_t value) {
  std::vector<std::uint8_t> code = {0xB8, 0, 0, 0, 0, 0xC3};  // mov eax, imm32; ret
  std::memcpy(code.data() + 1, &value, 4);
  return code;
}

std::vector<std::uint8_t> recordingEntryCode(std::uint32_t record, std::uint32_t result) {
  std::vector<std::uint8_t> code = {
      0xB8, 0, 0, 0, 0,        // mov eax, record
      0x48, 0x89, 0x48, 0x08,  // mov [rax+8], rcx      instance
      0x4C, 0x89, 0x40, 0x10,  // mov [rax+16], r8      reserved
      0x85, 0xD2,              // test edx, edx
      0x74, 0x04,              // jz detach
      0xFF, 0x00,              // inc dword [rax]       attach
      0xEB, 0x03,              // jmp done
      0xFF, 0x40, 0x04,        // detach: inc dword [rax+4]
      0xB8, 0, 0, 0, 0,        // done: mov eax, result
      0xC3,                    // ret
  };
  std::memcpy(code.data() + 1, &record, 4);
  std::memcpy(code.data() + 25, &result, 4);
  return code;
}

}  // namespace bw::test
