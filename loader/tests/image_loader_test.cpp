// The image loader on real mappings: placement, relocation, imports from the
// system's C math library, page protections read back from /proc/self/maps,
// the entry point's calls, export look-up, and refusal of malformed images
// with nothing left behind.
#include "loader/image_loader.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "loader/memory_layer.h"
#include "pe_image_builder.h"

namespace bw {
namespace {

using test::PeImage;
using test::PeImageBuilder;

constexpr std::uint32_t kBase = 0x10000000;
constexpr std::uint64_t k4G = std::uint64_t{1} << 32;

struct Release {
  void operator()(MappedImage* m) const { releaseLibraryImage(m); }
};
using ImagePtr = std::unique_ptr<MappedImage, Release>;

ImagePtr map(const PeImage& image, const MapOptions& options = {}) {
  return ImagePtr(mapLibraryImage(image.bytes.data(), image.bytes.size(), options));
}

struct Region {
  std::uint64_t start, end;
  std::string perms;
};

std::vector<Region> readMaps() {
  std::vector<Region> out;
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream in(line);
    std::string range, perms;
    in >> range >> perms;
    const auto dash = range.find('-');
    out.push_back({std::stoull(range.substr(0, dash), nullptr, 16),
                   std::stoull(range.substr(dash + 1), nullptr, 16), perms});
  }
  return out;
}

// Permissions of the page holding `p`, e.g. "r-xp"; "" when unmapped.
std::string permsAt(const void* p) {
  const auto a = reinterpret_cast<std::uint64_t>(p);
  for (const Region& r : readMaps()) {
    if (a >= r.start && a < r.end) return r.perms;
  }
  return "";
}

bool rangeFree(std::uint64_t start, std::uint64_t size) {
  for (const Region& r : readMaps()) {
    if (r.start < start + size && start < r.end) return false;
  }
  return true;
}

// Everything the loader can leave behind: reservations, libraries, and the
// process's mappings below 4 GiB, where all of its reservations lie.
struct Leftovers {
  std::size_t reservations, libraries;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> low;
  bool operator==(const Leftovers&) const = default;
};
Leftovers leftovers() {
  Leftovers l{mem::counters().reservationsHeld, mem::counters().librariesHeld, {}};
  for (const Region& r : readMaps()) {
    if (r.start < k4G) l.low.emplace_back(r.start, r.end);
  }
  return l;
}

std::uint32_t at32(const MappedImage& m, std::uint32_t rva) {
  std::uint32_t v;
  std::memcpy(&v, m.codeBase + rva, 4);
  return v;
}

// A page below 4 GiB, outside any image, for the recording entry point.
class RecordPage {
 public:
  RecordPage() {
    page_ = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT,
                 -1, 0);
    EXPECT_NE(page_, MAP_FAILED);
    record()->reserved = 0xDEADBEEF;
  }
  ~RecordPage() { munmap(page_, 4096); }
  test::EntryRecord* record() { return static_cast<test::EntryRecord*>(page_); }
  std::uint32_t address() const {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(page_));
  }

 private:
  void* page_;
};

// Offsets of the relocated words in .data, two pages of it.
constexpr std::uint32_t kHighLowSites[] = {0x0, 0x4, 0x10, 0xFFC, 0x1000, 0x13FC};
constexpr std::uint32_t kAbsoluteSite = 0x8;  // type 0: skipped
constexpr std::uint32_t kDir64Site = 0xC;     // type 10: skipped

// An image with code, constants, relocated data, uninitialised data,
// exports and relocations; its entry point returns `entryResult`.
struct Sample {
  PeImage image;
  std::uint32_t text, rdata, data, bss;
  std::vector<std::uint32_t> dataWords;  // .data as built, one per 4 bytes
};

Sample sample(std::uint32_t base = kBase, std::vector<std::uint8_t> entry = test::returnCode(1)) {
  Sample s;
  PeImageBuilder b(base);
  s.text = b.addSection(".text", test::kTextSection, entry);
  s.rdata = b.addSection(".rdata", test::kReadOnlySection, {1, 2, 3, 4});
  s.dataWords.assign(0x1400 / 4, 0);
  for (std::size_t i = 0; i < s.dataWords.size(); ++i) {
    s.dataWords[i] = base + 0x1000 + static_cast<std::uint32_t>(i * 0x10);
  }
  s.dataWords[kAbsoluteSite / 4] = 0x12345678;
  s.dataWords[kDir64Site / 4] = 0xCAFEBABE;
  std::vector<std::uint8_t> data(0x1400);
  std::memcpy(data.data(), s.dataWords.data(), data.size());
  s.data = b.addSection(".data", test::kDataSection, data);
  s.bss = b.addSection(".bss", test::kBssSection, {}, 0x800);
  for (std::uint32_t site : kHighLowSites) b.addRelocation(s.data + site);
  b.addRelocation(s.data + kAbsoluteSite, test::kRelAbsolute);
  b.addRelocation(s.data + kDir64Site, test::kRelDir64);
  b.addExport("Alpha", s.text);
  b.addExport("beta", s.text + 0x10);
  b.addExport("Gamma", s.rdata);
  b.setEntryPoint(s.text);
  s.image = b.build();
  return s;
}

TEST(ImageLoader, RefusesBadSignaturesBeforeReservingAnything) {
  const PeImage good = sample().image;
  std::vector<std::pair<const char*, std::function<void(PeImage&)>>> cases = {
      {"no MZ", [](PeImage& i) { i.bytes[1] = 'X'; }},
      {"mz in lower case", [](PeImage& i) { i.bytes[0] = 'm'; }},
      {"PE signature wrong", [](PeImage& i) { i.bytes[i.peOffset + 1] = 'X'; }},
      {"PE not followed by two zeros", [](PeImage& i) { i.bytes[i.peOffset + 3] = 1; }},
      {"e_lfanew at the DOS header", [](PeImage& i) { i.put32(60, 0); }},
      {"e_lfanew past the end",
       [](PeImage& i) { i.put32(60, static_cast<std::uint32_t>(i.bytes.size()) - 2); }},
      {"e_lfanew negative", [](PeImage& i) { i.put32(60, 0xFFFFFFF0); }},
      {"shorter than a DOS header", [](PeImage& i) { i.bytes.resize(63); }},
  };
  const std::size_t before = mem::counters().reservationsMade;
  for (auto& [what, damage] : cases) {
    PeImage bad = good;
    damage(bad);
    EXPECT_EQ(map(bad), nullptr) << what;
  }
  EXPECT_EQ(mapLibraryImage(nullptr, 4096), nullptr);
  EXPECT_EQ(mapLibraryImage(good.bytes.data(), 0), nullptr);
  EXPECT_EQ(mem::counters().reservationsMade, before);
}

TEST(ImageLoader, MapsAtTheFreePreferredBaseWithoutRelocating) {
  const Sample s = sample();
  ASSERT_TRUE(rangeFree(kBase, s.image.sizeOfImage)) << "preferred base taken";
  ImagePtr m = map(s.image);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(m->codeBase), kBase);
  EXPECT_EQ(m->headers, m->codeBase + s.image.peOffset);
  EXPECT_EQ(m->initialised, 1);
  for (std::size_t i = 0; i < s.dataWords.size(); ++i) {
    ASSERT_EQ(at32(*m, s.data + static_cast<std::uint32_t>(4 * i)), s.dataWords[i]) << i;
  }
  EXPECT_EQ(std::memcmp(m->codeBase + s.rdata, "\1\2\3\4", 4), 0);
}

TEST(ImageLoader, MapsElsewhereAndMovesEveryHighLowRelocation) {
  const Sample s = sample();
  void* squatter = mmap(reinterpret_cast<void*>(kBase), s.image.sizeOfImage,
                        PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  ASSERT_NE(squatter, MAP_FAILED);
  ImagePtr m = map(s.image);
  ASSERT_NE(m, nullptr);
  const auto codeBase = reinterpret_cast<std::uint64_t>(m->codeBase);
  EXPECT_NE(codeBase, kBase);
  EXPECT_LT(codeBase + s.image.sizeOfImage, k4G);
  const std::uint32_t delta = static_cast<std::uint32_t>(codeBase) - kBase;

  std::vector<std::uint32_t> expected = s.dataWords;
  for (std::uint32_t site : kHighLowSites) expected[site / 4] += delta;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(at32(*m, s.data + static_cast<std::uint32_t>(4 * i)), expected[i]) << "word " << i;
  }
  // The copy's headers name the new base, and each section's address field
  // the place it was put.
  EXPECT_EQ(at32(*m, s.image.optionalHeaderOffset + 28), static_cast<std::uint32_t>(codeBase));
  for (const PeImage::SectionInfo& sec : s.image.sections) {
    EXPECT_EQ(at32(*m, sec.headerOffset + 8), static_cast<std::uint32_t>(codeBase) + sec.rva)
        << sec.name;
  }
  // Nothing was written through the old addresses.
  EXPECT_EQ(static_cast<std::uint32_t*>(squatter)[0], 0u);
  m.reset();
  munmap(squatter, s.image.sizeOfImage);
}

TEST(ImageLoader, MapsWithoutImportOrRelocationDirectories) {
  PeImageBuilder b;
  const std::uint32_t text = b.addSection(".text", test::kTextSection, test::returnCode(1));
  std::vector<std::uint8_t> word = {0x44, 0x33, 0x22, 0x11};
  const std::uint32_t data = b.addSection(".data", test::kDataSection, word);
  b.setEntryPoint(text);
  const PeImage image = b.build();
  ASSERT_EQ(image.relocationDirectoryRva, 0u);
  ASSERT_EQ(image.importDirectoryRva, 0u);

  ImagePtr here = map(image);
  ASSERT_NE(here, nullptr);
  // A second copy cannot have the preferred base; without relocations its
  // words stay as they are.
  ImagePtr there = map(image);
  ASSERT_NE(there, nullptr);
  EXPECT_NE(there->codeBase, here->codeBase);
  EXPECT_EQ(at32(*there, data), 0x11223344u);
  EXPECT_TRUE(there->importedLibraries.empty());
}

TEST(ImageLoader, SetsSectionProtectionsAndDecommitsDiscardableSections) {
  PeImageBuilder b;
  const std::uint32_t text = b.addSection(".text", test::kTextSection, test::returnCode(1));
  const std::uint32_t rdata = b.addSection(".rdata", test::kReadOnlySection, {1});
  const std::uint32_t data = b.addSection(".data", test::kDataSection, {1});
  const std::uint32_t wonly = b.addSection(".wc", test::kScnInitialisedData | test::kScnWrite, {1});
  const std::uint32_t xonly = b.addSection(".x", test::kScnCode | test::kScnExecute, {0xC3});
  const std::uint32_t none = b.addSection(".none", test::kScnInitialisedData, {1});
  const std::uint32_t uncached =
      b.addSection(".nc", test::kReadOnlySection | test::kScnNotCached, {1});
  const std::uint32_t rwx = b.addSection(
      ".rwx", test::kScnCode | test::kScnExecute | test::kScnRead | test::kScnWrite, {1});
  const std::uint32_t bss = b.addSection(".bss", test::kBssSection, {}, 0x1000);
  const std::uint32_t init = b.addSection(".init0", test::kDataSection, {}, 0x1000);
  b.addRelocation(data);
  b.setEntryPoint(text);
  const PeImage image = b.build();
  ImagePtr m = map(image);
  ASSERT_NE(m, nullptr);

  EXPECT_EQ(permsAt(m->codeBase), "rw-p");  // headers
  EXPECT_EQ(permsAt(m->codeBase + text), "r-xp");
  EXPECT_EQ(permsAt(m->codeBase + rdata), "r--p");
  EXPECT_EQ(permsAt(m->codeBase + data), "rw-p");
  EXPECT_EQ(permsAt(m->codeBase + wonly), "rw-p");  // write-copy
  EXPECT_EQ(permsAt(m->codeBase + xonly), "--xp");
  EXPECT_EQ(permsAt(m->codeBase + none), "---p");
  EXPECT_EQ(permsAt(m->codeBase + uncached), "r--p");  // no-cache ignored
  EXPECT_EQ(permsAt(m->codeBase + rwx), "rwxp");
  EXPECT_EQ(permsAt(m->codeBase + bss), "rw-p");
  EXPECT_EQ(permsAt(m->codeBase + init), "rw-p");
  EXPECT_EQ(m->codeBase[bss], 0);
  EXPECT_EQ(permsAt(m->codeBase + image.relocationDirectoryRva), "---p");
}

TEST(ImageLoader, KeepsAnUninitialisedSectionsProtectionInsideTheImage) {
  // The protected size of a section without raw data is the image's total
  // of uninitialised data; here that total reaches past the image's end,
  // over a read-only page of someone else's.
  PeImageBuilder b;
  const std::uint32_t text = b.addSection(".text", test::kTextSection, test::returnCode(1));
  const std::uint32_t bss = b.addSection(".bss", test::kBssSection, {}, 0x1000);
  b.setEntryPoint(text);
  PeImage image = b.build();
  image.put32(image.optionalHeaderOffset + 12, 0x2000);
  void* neighbour = mmap(reinterpret_cast<void*>(kBase + image.sizeOfImage), 4096, PROT_READ,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  ASSERT_NE(neighbour, MAP_FAILED);
  ImagePtr m = map(image);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(reinterpret_cast<std::uintptr_t>(m->codeBase), kBase);
  EXPECT_EQ(permsAt(m->codeBase + bss), "rw-p");
  EXPECT_EQ(permsAt(neighbour), "r--p");
  m.reset();
  munmap(neighbour, 4096);
}

TEST(ImageLoader, BindsImportsFromTheSystemMathLibrary) {
  PeImageBuilder b;
  b.addSection(".text", test::kTextSection, test::returnCode(1));
  b.addImport("libm.so.6", {"cos", "sin"});
  b.addImport("libm.so.6", {"floor"}, /*originalThunks=*/false);
  const PeImage image = b.build();
  const Leftovers before = leftovers();

  ImagePtr m = map(image);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->importedLibraries.size(), 2u);
  EXPECT_EQ(mem::counters().librariesHeld, before.libraries + 2);

  // Each 32-bit address entry reaches the function through a stub below
  // 4 GiB; calling it gives the math library's result.
  using Fn = double (*)(double);
  auto entry = [&](std::size_t i, std::size_t j) {
    return reinterpret_cast<Fn>(std::uintptr_t{at32(*m, image.importAddressRvas[i][j])});
  };
  volatile double x = 0.5;
  EXPECT_EQ(entry(0, 0)(x), std::cos(x));
  EXPECT_EQ(entry(0, 1)(x), std::sin(x));
  EXPECT_EQ(entry(1, 0)(2.75), 2.0);
  EXPECT_EQ(at32(*m, image.importAddressRvas[0][1] + 4), 0u);  // list end untouched

  m.reset();
  EXPECT_EQ(leftovers(), before);
}

TEST(ImageLoader, AFailedImportReleasesEverything) {
  struct Case {
    const char* what;
    std::string library;
    std::vector<std::string> functions;
  };
  const Case cases[] = {
      {"missing library", "libbrackwell-no-such-library.so.0", {"cos"}},
      {"missing function", "libm.so.6", {"cos", "no_such_function_in_libm"}},
      {"function named in other case", "libm.so.6", {"COS"}},
      {"import by ordinal", "libm.so.6", {"#12"}},
  };
  for (const Case& c : cases) {
    PeImageBuilder b;
    b.addSection(".text", test::kTextSection, test::returnCode(1));
    b.addImport("libm.so.6", {"sin"});
    b.addImport(c.library, c.functions);
    const Leftovers before = leftovers();
    EXPECT_EQ(map(b.build()), nullptr) << c.what;
    EXPECT_EQ(leftovers(), before) << c.what;
  }
}

TEST(ImageLoader, CallsTheEntryPointForAttachAndDetach) {
  RecordPage page;
  const Sample s = sample(kBase, test::recordingEntryCode(page.address(), 1));
  test::EntryRecord* r = page.record();

  ImagePtr m = map(s.image);
  ASSERT_NE(m, nullptr);
  const auto codeBase = reinterpret_cast<std::uint64_t>(m->codeBase);
  EXPECT_EQ(r->attachCalls, 1u);
  EXPECT_EQ(r->detachCalls, 0u);
  EXPECT_EQ(r->instance, codeBase);
  EXPECT_EQ(r->reserved, 0u);
  EXPECT_EQ(m->initialised, 1);

  r->reserved = 0xDEADBEEF;
  m.reset();
  EXPECT_EQ(r->attachCalls, 1u);
  EXPECT_EQ(r->detachCalls, 1u);
  EXPECT_EQ(r->instance, codeBase);
  EXPECT_EQ(r->reserved, 0u);
}

TEST(ImageLoader, AFailingEntryPointReleasesEverythingWithoutDetach) {
  RecordPage page;
  const Sample s = sample(kBase, test::recordingEntryCode(page.address(), 0));
  const Leftovers before = leftovers();
  EXPECT_EQ(map(s.image), nullptr);
  EXPECT_EQ(page.record()->attachCalls, 1u);
  EXPECT_EQ(page.record()->detachCalls, 0u);
  EXPECT_EQ(leftovers(), before);
}

TEST(ImageLoader, CanMapWithoutRunningTheEntryPoint) {
  RecordPage page;
  const Sample s = sample(kBase, test::recordingEntryCode(page.address(), 1));
  MapOptions options;
  options.runEntryPoint = false;
  ImagePtr m = map(s.image, options);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->initialised, 0);
  m.reset();
  EXPECT_EQ(page.record()->attachCalls, 0u);
  EXPECT_EQ(page.record()->detachCalls, 0u);
}

TEST(ImageLoader, FindsExportsByExactCaseSensitiveName) {
  const Sample s = sample();
  ImagePtr m = map(s.image);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(findImageExport(m.get(), "Alpha"), m->codeBase + s.text);
  EXPECT_EQ(findImageExport(m.get(), "beta"), m->codeBase + s.text + 0x10);
  EXPECT_EQ(findImageExport(m.get(), "Gamma"), m->codeBase + s.rdata);
  for (const char* miss : {"alpha", "ALPHA", "Beta", "Alph", "Alphaa", "gamma", ""}) {
    EXPECT_EQ(findImageExport(m.get(), miss), nullptr) << miss;
  }
  EXPECT_EQ(findImageExport(m.get(), nullptr), nullptr);
  EXPECT_EQ(findImageExport(nullptr, "Alpha"), nullptr);
}

TEST(ImageLoader, ExportLookUpRefusesBadIndicesForwardersAndOutsideAddresses) {
  Sample s = sample();
  PeImage& image = s.image;
  const std::uint32_t dir = image.exportDirectoryRva;
  const std::uint32_t functions = dir + 40, ordinals = dir + 40 + 8 * 3;
  image.put16(image.fileOffset(ordinals + 2 * 2), 3);  // "Gamma": index 3 of 3
  image.put32(image.fileOffset(functions + 4 * 1), dir + 12);  // "beta": forwarder
  image.put32(image.fileOffset(functions + 4 * 0), image.sizeOfImage);  // "Alpha"
  ImagePtr m = map(image);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(findImageExport(m.get(), "Alpha"), nullptr);
  EXPECT_EQ(findImageExport(m.get(), "beta"), nullptr);
  EXPECT_EQ(findImageExport(m.get(), "Gamma"), nullptr);

  PeImageBuilder none;
  none.addSection(".text", test::kTextSection, test::returnCode(1));
  ImagePtr bare = map(none.build());
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(findImageExport(bare.get(), "Alpha"), nullptr);
}

TEST(ImageLoader, RefusesMalformedImagesLeavingNothingBehind) {
  PeImageBuilder b;
  const std::uint32_t text = b.addSection(".text", test::kTextSection, test::returnCode(1));
  const std::uint32_t data = b.addSection(".data", test::kDataSection, std::vector<std::uint8_t>(64));
  b.addRelocation(data);
  b.addRelocation(data + 8);
  b.addExport("Alpha", text);
  b.addExport("beta", text);
  b.addImport("libm.so.6", {"cos"});
  b.setEntryPoint(text);
  const PeImage good = b.build();
  const std::uint32_t oh = good.optionalHeaderOffset;
  const std::uint32_t end = good.sizeOfImage;
  const auto& textInfo = good.section(".text");
  const auto& dataInfo = good.section(".data");
  const auto& edata = good.section(".edata");
  const std::uint32_t relocBlock = good.fileOffset(good.relocationDirectoryRva);
  const std::uint32_t importDesc = good.fileOffset(good.importDirectoryRva);
  const std::uint32_t exportDir = good.fileOffset(good.exportDirectoryRva);

  std::vector<std::pair<const char*, std::function<void(PeImage&)>>> cases = {
      {"cut inside the section table",
       [&](PeImage& i) { i.bytes.resize(i.sectionTableOffset + 20); }},
      {"cut inside section data", [&](PeImage& i) { i.bytes.resize(dataInfo.fileOffset + 8); }},
      {"97 sections", [&](PeImage& i) { i.put16(i.peOffset + 6, 97); }},
      {"optional header too short", [&](PeImage& i) { i.put16(i.peOffset + 20, 64); }},
      {"64-bit optional header", [&](PeImage& i) { i.put16(oh, 0x20B); }},
      {"SizeOfImage 0", [&](PeImage& i) { i.put32(oh + 56, 0); }},
      {"SizeOfImage over 1 GiB", [&](PeImage& i) { i.put32(oh + 56, (1u << 30) + 0x1000); }},
      {"SizeOfHeaders beyond SizeOfImage", [&](PeImage& i) { i.put32(oh + 56, 0x200); }},
      {"SizeOfHeaders beyond the file",
       [&](PeImage& i) { i.put32(oh + 60, static_cast<std::uint32_t>(i.bytes.size()) + 1); }},
      {"SizeOfHeaders short of the section table", [&](PeImage& i) { i.put32(oh + 60, 0x100); }},
      {"SectionAlignment 0", [&](PeImage& i) { i.put32(oh + 32, 0); }},
      {"SectionAlignment not a power of two", [&](PeImage& i) { i.put32(oh + 32, 0x1800); }},
      {"SectionAlignment below a page", [&](PeImage& i) { i.put32(oh + 32, 0x200); }},
      {"entry point outside the image", [&](PeImage& i) { i.put32(oh + 16, end); }},
      {"entry point in a data section", [&](PeImage& i) { i.put32(oh + 16, data); }},
      {"raw data beyond the file",
       [&](PeImage& i) { i.put32(dataInfo.headerOffset + 20, static_cast<std::uint32_t>(i.bytes.size()) - 0x100); }},
      {"raw data offset wrapping round",
       [&](PeImage& i) { i.put32(dataInfo.headerOffset + 20, 0xFFFFFF00); }},
      {"section beyond SizeOfImage", [&](PeImage& i) { i.put32(dataInfo.headerOffset + 12, end); }},
      {"section address wrapping round",
       [&](PeImage& i) { i.put32(dataInfo.headerOffset + 12, 0xFFFFF000); }},
      {"sections overlapping", [&](PeImage& i) { i.put32(dataInfo.headerOffset + 12, text); }},
      {"section over the headers", [&](PeImage& i) { i.put32(textInfo.headerOffset + 12, 0); }},
      {"section address unaligned",
       [&](PeImage& i) { i.put32(dataInfo.headerOffset + 12, data + 0x10); }},
      {"directory beyond SizeOfImage", [&](PeImage& i) { i.put32(oh + 96 + 8 * 5 + 4, end); }},
      {"relocation block of size 0", [&](PeImage& i) { i.put32(relocBlock + 4, 0); }},
      {"relocation block beyond its directory",
       [&](PeImage& i) { i.put32(relocBlock + 4, 0x10000); }},
      {"relocation target beyond the image",
       [&](PeImage& i) { i.put32(relocBlock, end - 2 - 8); }},
      {"import library name beyond the image",
       [&](PeImage& i) { i.put32(importDesc + 12, end + 4); }},
      {"import name table beyond the image", [&](PeImage& i) { i.put32(importDesc, end - 2); }},
      {"import address table beyond the image",
       [&](PeImage& i) { i.put32(importDesc + 16, end - 2); }},
      {"import address table missing", [&](PeImage& i) { i.put32(importDesc + 16, 0); }},
      {"import function name beyond the image",
       [&](PeImage& i) { i.put32(i.fileOffset(i.get32(importDesc)), end - 1); }},
      {"export name table beyond the image", [&](PeImage& i) { i.put32(exportDir + 32, end - 4); }},
      {"export ordinal table beyond the image",
       [&](PeImage& i) { i.put32(exportDir + 36, 0xFFFFFFFE); }},
      {"export function table beyond the image",
       [&](PeImage& i) { i.put32(exportDir + 20, 0x40000000); }},
      {"export name beyond the image",
       [&](PeImage& i) { i.put32(i.fileOffset(i.get32(exportDir + 32) + 4), end + 100); }},
      {"export directory in a discardable section",
       [&](PeImage& i) { i.put32(edata.headerOffset + 36, edata.characteristics | test::kScnDiscardable); }},
  };
  ASSERT_NE(map(good), nullptr);
  const Leftovers before = leftovers();
  for (auto& [what, damage] : cases) {
    PeImage bad = good;
    damage(bad);
    EXPECT_EQ(map(bad), nullptr) << what;
    EXPECT_EQ(leftovers(), before) << what;
  }

  // Names end within 4096 bytes, terminator included.
  for (std::size_t length : {4095u, 4096u}) {
    PeImageBuilder named;
    named.addExport(std::string(length, 'a'),
                    named.addSection(".text", test::kTextSection, test::returnCode(1)));
    EXPECT_EQ(map(named.build()) != nullptr, length == 4095) << length;
  }
  EXPECT_EQ(leftovers(), before);
}

TEST(ImageLoader, RefusesEveryTruncationOfAnImage) {
  const PeImage image = sample().image;
  const Leftovers before = leftovers();
  for (std::size_t size = 0; size < image.bytes.size(); ++size) {
    // A copy of exactly `size` bytes, so that a read past it is caught.
    std::vector<std::uint8_t> cut(image.bytes.begin(), image.bytes.begin() + size);
    ASSERT_EQ(mapLibraryImage(cut.data(), cut.size()), nullptr) << size;
  }
  EXPECT_EQ(leftovers(), before);
}

}  // namespace
}  // namespace bw
