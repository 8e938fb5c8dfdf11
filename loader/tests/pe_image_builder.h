// Builds small 32-bit PE/COFF dynamic-library images in memory for the image
// loader's tests and fuzz seeds: headers, sections, and generated export,
// import and base-relocation directories. Written from the file format's
// layout alone, independently of the loader. Section alignment is 0x1000,
// file alignment 0x200, headers 0x400 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bw::test {

// Section characteristics.
inline constexpr std::uint32_t kScnCode = 0x00000020;
inline constexpr std::uint32_t kScnInitialisedData = 0x00000040;
inline constexpr std::uint32_t kScnUninitialisedData = 0x00000080;
inline constexpr std::uint32_t kScnDiscardable = 0x02000000;
inline constexpr std::uint32_t kScnNotCached = 0x04000000;
inline constexpr std::uint32_t kScnExecute = 0x20000000;
inline constexpr std::uint32_t kScnRead = 0x40000000;
inline constexpr std::uint32_t kScnWrite = 0x80000000;

inline constexpr std::uint32_t kTextSection = kScnCode | kScnExecute | kScnRead;
inline constexpr std::uint32_t kDataSection = kScnInitialisedData | kScnRead | kScnWrite;
inline constexpr std::uint32_t kReadOnlySection = kScnInitialisedData | kScnRead;
inline constexpr std::uint32_t kBssSection = kScnUninitialisedData | kScnRead | kScnWrite;

// Base-relocation types.
inline constexpr std::uint16_t kRelAbsolute = 0;
inline constexpr std::uint16_t kRelHighLow = 3;
inline constexpr std::uint16_t kRelDir64 = 10;

// A built image and where its parts are, for tests that check or damage it.
// Offsets named *Offset are file offsets; *Rva are offsets in the mapped
// image (relative to its base).
struct PeImage {
  struct SectionInfo {
    std::string name;
    std::uint32_t rva;
    std::uint32_t rawSize;
    std::uint32_t fileOffset;  // of its raw data, 0 when it has none
    std::uint32_t headerOffset;  // of its section-table entry
    std::uint32_t characteristics;
  };

  std::vector<std::uint8_t> bytes;
  std::uint32_t imageBase = 0;
  std::uint32_t sizeOfImage = 0;
  std::uint32_t peOffset = 0;              // e_lfanew
  std::uint32_t optionalHeaderOffset = 0;
  std::uint32_t sectionTableOffset = 0;
  std::vector<SectionInfo> sections;
  std::uint32_t exportDirectoryRva = 0;     // 0 when absent
  std::uint32_t importDirectoryRva = 0;
  std::uint32_t relocationDirectoryRva = 0;
  // For import i, function j: where its address entry lies.
  std::vector<std::vector<std::uint32_t>> importAddressRvas;

  // File offset of the byte at `rva`, which must lie in a section's raw data.
  std::uint32_t fileOffset(std::uint32_t rva) const;
  const SectionInfo& section(const std::string& name) const;
  std::uint32_t get32(std::uint32_t offset) const;
  void put16(std::uint32_t offset, std::uint16_t value);
  void put32(std::uint32_t offset, std::uint32_t value);
};

class PeImageBuilder {
 public:
  static constexpr std::uint32_t kSectionAlignment = 0x1000;
  static constexpr std::uint32_t kFileAlignment = 0x200;
  static constexpr std::uint32_t kHeadersSize = 0x400;

  explicit PeImageBuilder(std::uint32_t imageBase = 0x10000000);

  // Adds a section holding `bytes`; with no bytes it has no raw data and
  // `virtualSize` bytes of address space. Gives its rva.
  std::uint32_t addSection(const std::string& name, std::uint32_t characteristics,
                           std::vector<std::uint8_t> bytes, std::uint32_t virtualSize = 0);
  void setEntryPoint(std::uint32_t rva) { entryPoint_ = rva; }
  void addRelocation(std::uint32_t rva, std::uint16_t type = kRelHighLow);
  // Exports `name` at `rva`; names keep the order they are added in.
  void addExport(const std::string& name, std::uint32_t rva);
  // Imports `functions` from `library`; "#n" imports ordinal n. Without an
  // original thunk table the names come from the address table itself.
  void addImport(const std::string& library, const std::vector<std::string>& functions,
                 bool originalThunks = true);

  // Generated sections follow the added ones: ".edata" (read-only),
  // ".idata" (read-write), ".reloc" (read-only, discardable).
  PeImage build() const;

 private:
  struct PendingSection {
    std::string name;
    std::uint32_t characteristics;
    std::vector<std::uint8_t> bytes;
    std::uint32_t virtualSize;
    std::uint32_t rva;
  };
  struct Import {
    std::string library;
    std::vector<std::string> functions;
    bool originalThunks;
  };

  std::uint32_t imageBase_;
  std::uint32_t nextRva_ = kSectionAlignment;
  std::uint32_t entryPoint_ = 0;
  std::vector<PendingSection> sections_;
  std::vector<std::pair<std::uint32_t, std::uint16_t>> relocations_;
  std::vector<std::pair<std::string, std::uint32_t>> exports_;
  std::vector<Import> imports_;
};

// x86-64 machine code: `mov eax, value; ret`.
std::vector<std::uint8_t> returnCode(std::uint32_t value);

// What the recording entry point writes for each call.
struct EntryRecord {
  std::uint32_t attachCalls;
  std::uint32_t detachCalls;
  std::uint64_t instance;  // first argument of the last call
  std::uint64_t reserved;  // third argument of the last call
};

// x86-64 machine code of a library entry point in the Microsoft x64
// convention (instance in rcx, reason in edx, reserved in r8): counts
// attach (reason != 0) and detach calls in the EntryRecord at `record`
// (an address below 4 GiB), stores the instance and reserved arguments and
// returns `result`.
std::vector<std::uint8_t> recordingEntryCode(std::uint32_t record, std::uint32_t result);

}  // namespace bw::test
