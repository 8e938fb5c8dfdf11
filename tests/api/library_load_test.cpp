// libBrackwell.so as a program loads it: the fourteen exports and nothing
// else in its dynamic symbol table, and loading and unloading it a hundred
// times in one process. In the AddressSanitizer build LeakSanitizer checks
// at exit that the repeated start-up and tear-down left nothing behind.
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <elf.h>
#include <fftw3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "brackwell/brackwell.h"

namespace {

constexpr std::array<const char*, 14> kExports = {
    "sdrGetNumInDevice", "sdrGetNumOutDevice", "sdrGetNameInDevice", "sdrGetNameOutDevice",
    "sdrGetNumMixer",    "sdrGetNameMixer",    "sdrGetOutVolume",    "sdrSetOutVolume",
    "sdrSetGlobal",      "sdrSetNewParam",     "sdrGetSpectrum",     "sdrGetSmetr",
    "sdrStart",          "sdrStop"};

// Names of the defined global and weak symbols in the dynamic symbol table
// of the ELF64 file at `path` (what `nm -D --defined-only` lists).
std::vector<std::string> definedDynamicSymbols(const char* path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> file((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
  auto fits = [&](std::uint64_t offset, std::uint64_t length) {
    return offset <= file.size() && length <= file.size() - offset;
  };
  std::vector<std::string> names;
  Elf64_Ehdr eh;
  if (!fits(0, sizeof eh)) return names;
  std::memcpy(&eh, file.data(), sizeof eh);
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
      eh.e_shentsize != sizeof(Elf64_Shdr) ||
      !fits(eh.e_shoff, std::uint64_t{eh.e_shnum} * sizeof(Elf64_Shdr))) {
    return names;
  }
  auto section = [&](std::size_t i) {
    Elf64_Shdr sh;
    std::memcpy(&sh, file.data() + eh.e_shoff + i * sizeof sh, sizeof sh);
    return sh;
  };
  for (std::size_t i = 0; i < eh.e_shnum; ++i) {
    const Elf64_Shdr symbols = section(i);
    if (symbols.sh_type != SHT_DYNSYM || symbols.sh_link >= eh.e_shnum) continue;
    const Elf64_Shdr strings = section(symbols.sh_link);
    if (!fits(symbols.sh_offset, symbols.sh_size) || !fits(strings.sh_offset, strings.sh_size)) {
      continue;
    }
    for (std::uint64_t at = 0; at + sizeof(Elf64_Sym) <= symbols.sh_size; at += sizeof(Elf64_Sym)) {
      Elf64_Sym sym;
      std::memcpy(&sym, file.data() + symbols.sh_offset + at, sizeof sym);
      const unsigned binding = ELF64_ST_BIND(sym.st_info);
      if (sym.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK)) continue;
      if (sym.st_name >= strings.sh_size) continue;
      const char* name = file.data() + strings.sh_offset + sym.st_name;
      names.emplace_back(name, strnlen(name, strings.sh_size - sym.st_name));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(LibraryLoad, ExportsExactlyTheFourteenFunctions) {
  std::vector<std::string> expected(kExports.begin(), kExports.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(definedDynamicSymbols(BW_LIBRARY_PATH), expected);
}

// Loads the library, checks that every export resolves, runs `use` on it and
// unloads it again, checking that it really went.
template <typename Use>
void loadUseAndUnload(int times, Use use) {
  for (int i = 0; i < times; ++i) {
    void* library = dlopen(BW_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const char* name : kExports) {
      ASSERT_NE(dlsym(library, name), nullptr) << name;
    }
    use(library);
    ASSERT_EQ(dlclose(library), 0) << dlerror();
    // Still mapped would mean tear-down never ran.
    void* still = dlopen(BW_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_EQ(still, nullptr) << "libBrackwell.so stayed loaded after dlclose";
  }
}

TEST(LibraryLoad, LoadsAndUnloadsAHundredTimes) {
  loadUseAndUnload(100, [](void*) {});
}

TEST(LibraryLoad, LoadsConfiguresAndUnloadsTenTimes) {
  // Configuring gives the engine its data buffers and transform plans, which
  // tear-down must give back as well.
  loadUseAndUnload(10, [](void* library) {
    auto setGlobal = reinterpret_cast<decltype(&sdrSetGlobal)>(dlsym(library, "sdrSetGlobal"));
    auto setNewParam =
        reinterpret_cast<decltype(&sdrSetNewParam)>(dlsym(library, "sdrSetNewParam"));
    EXPECT_EQ(setGlobal(1, 1, 4, 10, 48000, 16), SDR_OK);
    std::array<std::uint8_t, SDR_PARAM_BLOCK_BYTES> block{};
    block[0] = 1;
    EXPECT_EQ(setNewParam(block.data()), SDR_OK);
  });
}

TEST(LibraryLoad, LeavesTheSoundLibrariesHooksAsItFoundThem) {
  // Listing devices starts PortAudio, which makes ALSA and JACK print through
  // hooks; after the unload, the host's own errors must not jump into the
  // unmapped library.
  EXPECT_EXIT(
      {
        loadUseAndUnload(1, [](void* library) {
          reinterpret_cast<decltype(&sdrGetNumInDevice)>(
              dlsym(library, "sdrGetNumInDevice"))();
        });
        snd_pcm_t* pcm = nullptr;
        if (snd_pcm_open(&pcm, "no_such_pcm", SND_PCM_STREAM_PLAYBACK, 0) == 0) {
          snd_pcm_close(pcm);
        }
        using JackHook = void (*)(const char*);
        for (const char* hook : {"jack_error_callback", "jack_info_callback"}) {
          if (auto* h = static_cast<JackHook*>(dlsym(RTLD_DEFAULT, hook))) (*h)("");
        }
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(LibraryLoad, LeavesTheHostsTransformPlansAndWisdomAlone) {
  // The host and the engine share FFTW. A plan the host made before loading
  // the engine must still run, and its wisdom must still be there, after
  // the engine configured itself and went.
  constexpr int n = 1024;
  fftw_complex* in = fftw_alloc_complex(n);
  fftw_complex* out = fftw_alloc_complex(n);
  fftw_plan plan = fftw_plan_dft_1d(n, in, out, FFTW_FORWARD, FFTW_MEASURE);
  ASSERT_NE(plan, nullptr);
  loadUseAndUnload(1, [](void* library) {
    auto setGlobal = reinterpret_cast<decltype(&sdrSetGlobal)>(dlsym(library, "sdrSetGlobal"));
    EXPECT_EQ(setGlobal(1, 1, 4, 9, 48000, 16), SDR_OK);  // plans n = 1024 too
  });
  // An impulse at 1 transforms to exp(-2πjk/n).
  for (int k = 0; k < n; ++k) in[k][0] = in[k][1] = 0.0;
  in[1][0] = 1.0;
  fftw_execute(plan);
  for (int k = 0; k < n; k += 37) {
    EXPECT_NEAR(out[k][0], std::cos(2 * M_PI * k / n), 1e-12) << k;
    EXPECT_NEAR(out[k][1], -std::sin(2 * M_PI * k / n), 1e-12) << k;
  }
  fftw_plan again =
      fftw_plan_dft_1d(n, in, out, FFTW_FORWARD, FFTW_MEASURE | FFTW_WISDOM_ONLY);
  EXPECT_NE(again, nullptr) << "the host's wisdom was forgotten";
  if (again) fftw_destroy_plan(again);
  fftw_destroy_plan(plan);
  fftw_free(in);
  fftw_free(out);
}

}  // namespace
