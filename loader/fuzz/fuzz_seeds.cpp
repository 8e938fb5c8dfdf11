// Writes the image loader's fuzz seeds, images built like the loader tests'
// ones, into the folder given as the only argument.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "pe_image_builder.h"

namespace {

using bw::test::PeImageBuilder;

std::vector<std::uint8_t> full() {
  PeImageBuilder b(0x10000000);
  const std::uint32_t text = b.addSection(".text", bw::test::kTextSection,
                                          bw::test::recordingEntryCode(0x40000000, 1));
  const std::uint32_t rdata = b.addSection(".rdata", bw::test::kReadOnlySection, {1, 2, 3, 4});
  std::vector<std::uint8_t> data(0x1400, 0x11);
  const std::uint32_t d = b.addSection(".data", bw::test::kDataSection, data);
  b.addSection(".bss", bw::test::kBssSection, {}, 0x800);
  for (std::uint32_t site : {0x0u, 0x4u, 0x10u, 0xFFCu, 0x1000u}) b.addRelocation(d + site);
  b.addRelocation(d + 8, bw::test::kRelAbsolute);
  b.addRelocation(d + 12, bw::test::kRelDir64);
  b.addExport("Alpha", text);
  b.addExport("beta", text + 0x10);
  b.addExport("Gamma", rdata);
  b.addImport("libm.so.6", {"cos", "sin"});
  b.addImport("libc.so.6", {"strlen"}, false);
  b.setEntryPoint(text);
  return b.build().bytes;
}

std::vector<std::uint8_t> bare() {
  PeImageBuilder b(0x00400000);
  b.setEntryPoint(b.addSection(".text", bw::test::kTextSection, bw::test::returnCode(1)));
  return b.build().bytes;
}

std::vector<std::uint8_t> importsOnly() {
  PeImageBuilder b(0x20000000);
  b.addSection(".text", bw::test::kTextSection, bw::test::returnCode(0));
  b.addImport("libm.so.6", {"floor", "#7", "ceil"});
  b.addImport("libc.so.6", {"memcpy"});
  return b.build().bytes;
}

std::vector<std::uint8_t> exportsAndProtections() {
  PeImageBuilder b(0x30000000);
  const std::uint32_t text = b.addSection(".text", bw::test::kTextSection, {0xC3});
  b.addSection(".x", bw::test::kScnCode | bw::test::kScnExecute, {0xC3});
  b.addSection(".wc", bw::test::kScnInitialisedData | bw::test::kScnWrite, {1});
  b.addSection(".nc", bw::test::kReadOnlySection | bw::test::kScnNotCached, {1});
  b.addSection(".init0", bw::test::kDataSection, {}, 0x1000);
  b.addSection(".disc", bw::test::kReadOnlySection | bw::test::kScnDiscardable, {1, 2});
  for (const char* name : {"nspzrFftNip", "nspdbrCartToPolar", "nspdbMpy2", "nspdMax"}) {
    b.addExport(name, text);
  }
  b.addRelocation(text);
  return b.build().bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  const std::pair<const char*, std::vector<std::uint8_t>> seeds[] = {
      {"full.dll", full()},
      {"bare.dll", bare()},
      {"imports.dll", importsOnly()},
      {"exports.dll", exportsAndProtections()},
  };
  for (const auto& [name, bytes] : seeds) {
    const std::string path = (folder / name).string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
      std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", path.c_str());
      return 1;
    }
    std::fclose(f);
  }
  return 0;
}
