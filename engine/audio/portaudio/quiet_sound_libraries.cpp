#include "audio/portaudio/quiet_sound_libraries.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace bw::audio {

namespace {

void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
void quietJack(const char*) {}
int quietPrint(FILE*, const char*, va_list) { return 0; }

#if defined(__x86_64__)
constexpr unsigned kJumpSlot = R_X86_64_JUMP_SLOT;
#elif defined(__aarch64__)
constexpr unsigned kJumpSlot = R_AARCH64_JUMP_SLOT;
#else
constexpr unsigned kJumpSlot = 0;  // not known here: the slot is not found
#endif

// The slot through which the loaded library whose file name contains
// `library` calls `symbol`, and whether it lies in the part of the library
// made read-only after relocation. Null when there is none.
struct Slot {
  void** address = nullptr;
  bool readOnly = false;
};
Slot findCallSlot(const char* library, const char* symbol) {
  struct Search {
    const char* library;
    const char* symbol;
    Slot slot;
  } search{library, symbol, {}};
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* data) -> int {
        auto& s = *static_cast<Search*>(data);
        if (info->dlpi_name == nullptr || std::strstr(info->dlpi_name, s.library) == nullptr) {
          return 0;
        }
        const ElfW(Addr) base = info->dlpi_addr;
        const ElfW(Dyn)* dyn = nullptr;
        ElfW(Addr) relroFrom = 0, relroTo = 0;
        for (int k = 0; k < info->dlpi_phnum; ++k) {
          const ElfW(Phdr)& ph = info->dlpi_phdr[k];
          if (ph.p_type == PT_DYNAMIC) dyn = reinterpret_cast<const ElfW(Dyn)*>(base + ph.p_vaddr);
          if (ph.p_type == PT_GNU_RELRO) {
            // The loader protects the whole pages of this range only.
            const auto page = static_cast<ElfW(Addr)>(sysconf(_SC_PAGESIZE));
            relroFrom = base + ph.p_vaddr;
            relroTo = (relroFrom + ph.p_memsz) & ~(page - 1);
          }
        }
        if (dyn == nullptr) return 1;
        // The loader may or may not have relocated these addresses.
        auto at = [base](ElfW(Addr) a) { return a < base ? a + base : a; };
        const ElfW(Rela)* rela = nullptr;
        std::size_t relaBytes = 0;
        const ElfW(Sym)* symbols = nullptr;
        const char* names = nullptr;
        for (; dyn->d_tag != DT_NULL; ++dyn) {
          switch (dyn->d_tag) {
            case DT_JMPREL: rela = reinterpret_cast<const ElfW(Rela)*>(at(dyn->d_un.d_ptr)); break;
            case DT_PLTRELSZ: relaBytes = dyn->d_un.d_val; break;
            case DT_SYMTAB: symbols = reinterpret_cast<const ElfW(Sym)*>(at(dyn->d_un.d_ptr)); break;
            case DT_STRTAB: names = reinterpret_cast<const char*>(at(dyn->d_un.d_ptr)); break;
            default: break;
          }
        }
        if (rela == nullptr || symbols == nullptr || names == nullptr || kJumpSlot == 0) return 1;
        for (std::size_t k = 0; k < relaBytes / sizeof(ElfW(Rela)); ++k) {
          if (ELF64_R_TYPE(rela[k].r_info) != kJumpSlot) continue;
          if (std::strcmp(names + symbols[ELF64_R_SYM(rela[k].r_info)].st_name, s.symbol) != 0) {
            continue;
          }
          const ElfW(Addr) slot = base + rela[k].r_offset;
          s.slot.address = reinterpret_cast<void**>(slot);
          s.slot.readOnly = slot >= relroFrom && slot < relroTo;
          return 1;
        }
        return 1;
      },
      &search);
  return search.slot;
}

// Writes `value` into `slot`, lifting the read-only protection meanwhile.
bool writeSlot(const Slot& slot, void* value) {
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  void* start = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(slot.address) & ~(page - 1));
  if (slot.readOnly && mprotect(start, page, PROT_READ | PROT_WRITE) != 0) return false;
  __atomic_store_n(slot.address, value, __ATOMIC_SEQ_CST);
  if (slot.readOnly) mprotect(start, page, PROT_READ);
  return true;
}

}  // namespace

QuietSoundLibraries::QuietSoundLibraries() {
  previousAlsa_ = reinterpret_cast<void*>(snd_lib_error);
  snd_lib_error_set_handler(&quietAlsa);

  // libjack comes in with PortAudio when PortAudio was built with JACK; its
  // hooks and their variables are found by name without linking libjack. A
  // hook whose old value cannot be read is left alone, since it could not be
  // put back.
  auto bind = [](Jack& jack, const char* variable, const char* setter) {
    jack.current = static_cast<JackHook*>(dlsym(RTLD_DEFAULT, variable));
    jack.set = reinterpret_cast<void (*)(JackHook)>(dlsym(RTLD_DEFAULT, setter));
    if (jack.current == nullptr || jack.set == nullptr) {
      jack = Jack{};
      return;
    }
    jack.previous = *jack.current;
    jack.set(&quietJack);
  };
  bind(jackError_, "jack_error_callback", "jack_set_error_function");
  bind(jackInfo_, "jack_info_callback", "jack_set_info_function");

  // PortAudio's own diagnostics ("Expression '...' failed in ...", several
  // a second while a dead sound server's stream winds down) have no hook
  // this library can reach: they are printed through PortAudio's one call
  // of vfprintf, whose slot is pointed at a call that prints nothing. The
  // engine says what happened in its own words.
  const Slot slot = findCallSlot("libportaudio.so", "vfprintf");
  if (slot.address != nullptr) {
    void* previous = __atomic_load_n(slot.address, __ATOMIC_SEQ_CST);
    if (writeSlot(slot, reinterpret_cast<void*>(&quietPrint))) {
      portAudioPrint_ = slot.address;
      portAudioPrintReadOnly_ = slot.readOnly;
      previousPortAudioPrint_ = previous;
    }
  }
}

QuietSoundLibraries::~QuietSoundLibraries() {
  if (portAudioPrint_ != nullptr &&
      __atomic_load_n(portAudioPrint_, __ATOMIC_SEQ_CST) == reinterpret_cast<void*>(&quietPrint)) {
    writeSlot({portAudioPrint_, portAudioPrintReadOnly_}, previousPortAudioPrint_);
  }
  if (snd_lib_error == &quietAlsa) {
    snd_lib_error_set_handler(
        reinterpret_cast<snd_lib_error_handler_t>(previousAlsa_));
  }
  for (Jack* jack : {&jackError_, &jackInfo_}) {
    if (jack->set != nullptr && *jack->current == &quietJack) {
      jack->set(jack->previous);
    }
  }
}

}  // namespace bw::audio
