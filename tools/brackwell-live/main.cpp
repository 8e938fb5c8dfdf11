// brackwell-live: loads libBrackwell.so, binds its exports by name,
// configures the console's set-up (devices 2 and 2, 4 buffers of 2048
// frames, 48000 Hz, 16 bits), sends the console's receive-parameter block
// and starts the receiver. Once a second it prints the signal reading and
// the strongest spectrum bin, until Ctrl-C or --seconds N; then it stops the
// receiver and unloads the library. When the sound device stops delivering
// (the engine ended streaming, or no block came for 3 s), or a device was
// not listed because the sound server did not answer, it says so in one
// line and exits with 1.
//
//   brackwell-live [--list] [--seconds N] [--in N] [--out N] [--order N]
//                  [--minimum-phase] [--clocks one|two|auto] [--library PATH]
//   brackwell-live --help | --version
#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "brackwell/brackwell.h"
#include "brackwell/exports.h"
#include "brackwell/param_block.h"

namespace {

// The exports, bound by name.
#define ENGINE_ENTRY(name) decltype(&::name) name = nullptr;
struct Engine {
  void* library = nullptr;
  BRACKWELL_EXPORTS(ENGINE_ENTRY)
};
#undef ENGINE_ENTRY

template <typename F>
bool bind(void* library, const char* name, F& f) {
  f = reinterpret_cast<F>(dlsym(library, name));
  if (f == nullptr) std::fprintf(stderr, "brackwell-live: %s has no export %s\n", "the engine", name);
  return f != nullptr;
}

bool load(const char* path, Engine& e) {
  e.library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (e.library == nullptr) {
    std::fprintf(stderr, "brackwell-live: cannot load %s: %s\n", path, dlerror());
    return false;
  }
  bool all = true;
#define BIND_ENTRY(name) all = all && bind(e.library, #name, e.name);
  BRACKWELL_EXPORTS(BIND_ENTRY)
#undef BIND_ENTRY
  return all;
}

void list(const Engine& e) {
  std::printf("Capture devices:\n");
  for (int n = 1; n <= e.sdrGetNumInDevice(); ++n) {
    std::printf("  %d  %s%s\n", n, e.sdrGetNameInDevice(n), n == 1 ? "  (default)" : "");
  }
  std::printf("Playback devices:\n");
  for (int n = 1; n <= e.sdrGetNumOutDevice(); ++n) {
    std::printf("  %d  %s%s\n", n, e.sdrGetNameOutDevice(n), n == 1 ? "  (default)" : "");
  }
  const int mixers = e.sdrGetNumMixer();
  std::printf("Mixers:%s\n", mixers == 0 ? " none" : "");
  for (int n = 1; n <= mixers; ++n) std::printf("  %d  %s\n", n, e.sdrGetNameMixer(n));
}

std::atomic<bool> g_interrupted{false};
void onInterrupt(int) { g_interrupted = true; }

// Blocks processed so far: the block hook counts them on the engine's
// processing thread.
std::atomic<unsigned long> g_blocks{0};
void onBlock() { g_blocks.fetch_add(1, std::memory_order_relaxed); }

// Without a new block for this long (a sound server takes a second or so to
// deliver the first), the sound device has stopped delivering.
constexpr auto kSilenceLimit = std::chrono::seconds(3);

bool parseInt(const char* text, int low, int high, int& out) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < low || v > high) return false;
  out = static_cast<int>(v);
  return true;
}

constexpr const char* kUsage =
    "usage: brackwell-live [--list] [--seconds N] [--in N] [--out N] [--order N]\n"
    "                      [--minimum-phase] [--clocks one|two|auto] [--library PATH]\n";

constexpr const char* kHelp =
    "\n"
    "Runs the receiver live through libBrackwell.so with the console's set-up\n"
    "(4 buffers of 2048 frames, 48000 Hz, 16 bits, upper sideband 300..2700 Hz)\n"
    "and prints the signal reading and the strongest spectrum bin once a second\n"
    "until Ctrl-C.\n"
    "\n"
    "  --list           print the capture and playback devices and the mixers\n"
    "  --seconds N      stop after N seconds (1..86400)\n"
    "  --in N           capture device (1 = the system's default; default 2)\n"
    "  --out N          playback device (1 = the system's default; default 2)\n"
    "  --order N        blocks of 2^N frames, 8..16 (default 11, 42.7 ms); 9 (10.7 ms)\n"
    "                   brings the sound out within about 30-45 ms of capture on\n"
    "                   a sound server, for telegraphy; the band filter is then\n"
    "                   2^N taps long and its skirts wider\n"
    "  --minimum-phase  the band filter in minimum phase: the sound comes about\n"
    "                   half the filter's length sooner (21 ms at order 11)\n"
    "  --clocks WHICH   whether capture and playback run on one clock: one (play\n"
    "                   the receiver's output as it is), two (resample it to keep\n"
    "                   the playback in step), auto (default: as the sound\n"
    "                   system tells; sets BW_CLOCKS)\n"
    "  --library PATH   the engine library to load (default: " BW_DEFAULT_LIBRARY
    ",\n"
    "                   found beside the installed programs or on the system's\n"
    "                   library path)\n"
    "  -h, --help       this text\n"
    "  --version        the program's version\n"
    "\n"
    "Exit status: 0 done, 1 the engine failed, 2 bad options.\n";

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// Prints to standard output; 0, or 1 when it cannot be written.
int print(const char* text) {
  std::fputs(text, stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  bool listOnly = false;
  int seconds = 0;  // 0: until Ctrl-C
  int in = 2, out = 2;
  int order = 11;
  bool minimumPhase = false;
  std::string path = BW_DEFAULT_LIBRARY;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    const bool hasValue = k + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      return print((std::string(kUsage) + kHelp).c_str());
    } else if (arg == "--version") {
      return print("brackwell-live " BW_VERSION "\n");
    } else if (arg == "--list") {
      listOnly = true;
    } else if (arg == "--seconds" && hasValue) {
      if (!parseInt(argv[++k], 1, 86400, seconds)) return usage();
    } else if (arg == "--in" && hasValue) {
      if (!parseInt(argv[++k], 1, 1000, in)) return usage();
    } else if (arg == "--out" && hasValue) {
      if (!parseInt(argv[++k], 1, 1000, out)) return usage();
    } else if (arg == "--order" && hasValue) {
      if (!parseInt(argv[++k], SDR_MIN_ORDER, SDR_MAX_ORDER, order)) return usage();
    } else if (arg == "--minimum-phase") {
      minimumPhase = true;
    } else if (arg == "--clocks" && hasValue) {
      const std::string clocks = argv[++k];
      if (clocks != "one" && clocks != "two" && clocks != "auto") return usage();
      // The engine reads it at every start.
      setenv("BW_CLOCKS", clocks.c_str(), 1);
    } else if (arg == "--library" && hasValue) {
      path = argv[++k];
    } else {
      return usage();
    }
  }

  Engine e;
  if (!load(path.c_str(), e)) return 1;
  if (listOnly) {
    list(e);
    dlclose(e.library);
    return 0;
  }

  constexpr int kRate = 48000;
  const int bins = 2 << order;  // M
  int status = e.sdrSetGlobal(in, out, 4, order, kRate, 16);
  if (status != SDR_OK) {
    std::fprintf(stderr, "brackwell-live: configuration %d, %d, 4, %d, %d, 16 refused: %s\n",
                 in, out, order, kRate, sdrStatusText(status));
    dlclose(e.library);
    return 1;
  }
  std::uint8_t block[SDR_PARAM_BLOCK_BYTES];
  SdrReceiveParams params = sdrConsoleParams();
  if (minimumPhase) params.extensions |= SDR_EXT_MINIMUM_PHASE;
  sdrEncodeParams(&params, block);
  e.sdrSetNewParam(block);
  // A name is valid only until the next name query: copy each at once.
  const std::string inName = e.sdrGetNameInDevice(in);
  const std::string outName = e.sdrGetNameOutDevice(out);
  std::printf("capture %d \"%s\", playback %d \"%s\"\n", in, inName.c_str(), out,
              outName.c_str());

  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  status = e.sdrStart(&onBlock);
  if (status == SDR_DEVICE_REFUSED && (inName.empty() || outName.empty())) {
    // A device without a name was not listed: the engine refuses every
    // number while the sound server keeps the devices from being listed.
    std::fprintf(stderr,
                 "brackwell-live: start failed: %s %d has no listed device; the sound server "
                 "did not answer (frozen or still starting?), try again once it does\n",
                 inName.empty() ? "capture" : "playback", inName.empty() ? in : out);
    dlclose(e.library);
    return 1;
  }
  if (status != SDR_OK) {
    std::fprintf(stderr, "brackwell-live: start failed: %s\n", sdrStatusText(status));
    dlclose(e.library);
    return 1;
  }

  std::vector<double> spectrum(bins);
  const double binHz = double(kRate) / bins;
  const auto begin = std::chrono::steady_clock::now();
  auto lastBlockAt = begin;
  unsigned long blocksSeen = 0;
  for (int tick = 1; !g_interrupted && (seconds == 0 || tick <= seconds); ++tick) {
    const auto due = begin + std::chrono::seconds(tick);
    while (!g_interrupted && std::chrono::steady_clock::now() < due) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (g_interrupted) break;
    const double signal = e.sdrGetSmetr();
    const int spectrumStatus = e.sdrGetSpectrum(spectrum.data());
    const auto now = std::chrono::steady_clock::now();
    if (const unsigned long blocks = g_blocks.load(); blocks != blocksSeen) {
      blocksSeen = blocks;
      lastBlockAt = now;
    }
    // The engine ends streaming by itself when the platform reports a failed
    // stream; a device that just goes quiet shows as no new block.
    if (spectrumStatus == SDR_NOT_RUNNING || now - lastBlockAt > kSilenceLimit) {
      std::fprintf(stderr, "brackwell-live: the sound device stopped delivering or taking audio\n");
      e.sdrStop();
      dlclose(e.library);
      return 1;
    }
    if (spectrumStatus != SDR_OK) continue;
    // The last element is never written by the chain.
    int top = 0;
    for (int k = 1; k < bins - 1; ++k) {
      if (spectrum[k] > spectrum[top]) top = k;
    }
    const double offsetHz = (top < bins / 2 ? top : top - bins) * binHz;
    std::printf("%4ds  signal %10.4f   strongest bin %4d (%+8.1f Hz) %6.1f dB\n", tick,
                signal, top, offsetHz, 20.0 * std::log10(spectrum[top] + 1e-30));
    std::fflush(stdout);
  }

  status = e.sdrStop();
  std::printf("stopped: %s\n", status == SDR_OK ? "ok" : sdrStatusText(status));
  dlclose(e.library);
  return status == SDR_OK ? 0 : 1;
}
