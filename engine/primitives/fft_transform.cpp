// The planner of every FFTW plan of this library, and the owned transform.
//
// FFTW's split-array transform is always the forward one; the inverse is the
// forward transform of the arrays with real and imaginary parts exchanged,
// planned as such (FFTW requires the same distance between the parts as when
// planned), then scaled by 1/2^order.
#include "primitives/fft_transform.h"

#include <dlfcn.h>
#include <fftw3.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include "primitives/fft_plan.h"
#include "primitives/fft_wisdom.h"
#include "primitives/kernel_table.h"

namespace bw::nsp {
namespace {

// FFTW's planner is not thread-safe: every plan creation and destruction
// happens under this mutex. Executing a finished plan needs no lock.
std::mutex plannerMutex;

// The wisdom file and what we know of it, from the first plan to
// forgetWisdomState; under the planner lock. Held by a plain pointer, which
// no exit handler destroys while a host thread may still configure.
struct WisdomState {
  std::string path;
  std::string saved;  // what the file holds as far as we know
  bool kept = false;  // new wisdom can be written there
};
WisdomState* wisdom = nullptr;

// Planning rigor by order. FFTW_PATIENT finds split-array plans about a third
// faster than FFTW_MEASURE does at the console's order, but takes seconds per
// order (2.6 s at order 12 here, 19 s at order 15), so it is used only up to
// kMaxPatientOrder and only when the wisdom file can keep the result: then
// it is paid once per machine. Up to kMaxMeasuredOrder FFTW_MEASURE (at most
// about 0.5 s per plan); above it FFTW_ESTIMATE, whose plans run about twice
// as long, which blocks of 2^14 frames and more leave hundreds of times room
// for.
constexpr int kMaxPatientOrder = 13;
constexpr int kMaxMeasuredOrder = 14;
// A sanitizer build (a test build, never shipped) measures only what the
// wisdom file keeps: there every allocation is instrumented, and measuring
// the plans of one engine took 2-4 s of each test's start under
// AddressSanitizer (0.5 s in a normal build). FFTW_ESTIMATE gives the same
// transform.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMeasureWhatIsNotKept = false;
#else
constexpr bool kMeasureWhatIsNotKept = true;
#endif

// FFTW's accumulated wisdom as text.
std::string wisdomText() {
  char* text = fftw_export_wisdom_to_string();
  if (text == nullptr) return {};
  std::string copy(text);
  std::free(text);  // FFTW allocates it with malloc
  return copy;
}

// Keeps libfftw3 loaded for the rest of the process once we have planned
// with it. FFTW's planner keeps its state (solvers, wisdom) in allocations
// that only fftw_cleanup() gives back. If libfftw3 left the process with
// this library, that state would be lost at every unload, about 130 kB per
// load of the engine. fftw_cleanup() is no answer: it invalidates every plan
// in the process, and a host, or another library it loaded, may use FFTW
// with plans of its own; whether it does cannot be known (the loader keeps
// no count we can read). Kept loaded, the planner's state is found again by
// the next load, whose plans (the same as before) add nothing to it. A host
// that uses FFTW itself keeps it loaded anyway.
void keepFftwLoaded() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&fftw_execute), &info) == 0 ||
      info.dli_fname == nullptr) {
    return;
  }
  if (void* handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) {
    dlclose(handle);  // the mark stays; the count goes back
  }
}

// Reads the cached wisdom before the first plan; plans it covers are made at
// once, without measuring. Under the planner lock.
WisdomState& wisdomState() {
  if (wisdom != nullptr) return *wisdom;
  keepFftwLoaded();
  wisdom = new WisdomState;
  wisdom->path = wisdomFilePath(std::getenv("XDG_CACHE_HOME"), std::getenv("HOME"));
  const bool read = importWisdomFile(wisdom->path);
  // Measuring patiently pays only when the result can be kept: anything but
  // a writable folder and a regular file (or none) at the path plans quickly.
  wisdom->kept = wisdomWritable(wisdom->path);
  if (read) wisdom->saved = wisdomText();
  return *wisdom;
}

// New plans add wisdom: keep it for the next start. Under the planner lock.
void saveNewWisdom(WisdomState& cache) {
  std::string now = wisdomText();
  if (!cache.path.empty() && now != cache.saved) {
    cache.kept = exportWisdomFile(cache.path);
    if (cache.kept) cache.saved = std::move(now);
  }
}

}  // namespace

FftTransform::~FftTransform() { release(); }

void FftTransform::release() {
  if (forward_ == nullptr && inverse_ == nullptr) return;
  std::lock_guard<std::mutex> lock(plannerMutex);
  if (forward_ != nullptr) fftw_destroy_plan(forward_);
  if (inverse_ != nullptr) fftw_destroy_plan(inverse_);
  forward_ = nullptr;
  inverse_ = nullptr;
  order_ = 0;
}

bool FftTransform::plan(int order) {
  if (order < kMinFftOrder || order > kMaxFftOrder) return false;
  // Planning overwrites the arrays it is given: plan on arrays of our own.
  double* in = allocPaired(order);
  double* out = allocPaired(order);
  fftw_plan forward = nullptr;
  fftw_plan inverse = nullptr;
  if (in != nullptr && out != nullptr) {
    std::lock_guard<std::mutex> lock(plannerMutex);
    WisdomState& cache = wisdomState();
    unsigned rigor = FFTW_ESTIMATE;
    if (order <= kMaxPatientOrder && cache.kept) {
      rigor = FFTW_PATIENT;
    } else if (order <= kMaxMeasuredOrder && (cache.kept || kMeasureWhatIsNotKept)) {
      rigor = FFTW_MEASURE;
    }
    const std::ptrdiff_t d = splitStride(order);
    fftw_iodim dim{1 << order, 1, 1};
    forward = fftw_plan_guru_split_dft(1, &dim, 0, nullptr, in, in + d, out,
                                       out + d, rigor);
    inverse = fftw_plan_guru_split_dft(1, &dim, 0, nullptr, in + d, in,
                                       out + d, out, rigor);
    if (forward == nullptr || inverse == nullptr) {
      if (forward != nullptr) fftw_destroy_plan(forward);
      if (inverse != nullptr) fftw_destroy_plan(inverse);
      forward = inverse = nullptr;
    } else {
      saveNewWisdom(cache);
    }
  }
  std::free(in);
  std::free(out);
  if (forward == nullptr) return false;
  release();
  forward_ = forward;
  inverse_ = inverse;
  order_ = order;
  return true;
}

void FftTransform::forward(const double* inRe, double* outRe) const {
  // FFTW's execute functions take non-const input; split plans out of place
  // do not write their input.
  auto* re = const_cast<double*>(inRe);
  const std::ptrdiff_t d = splitStride(order_);
  fftw_execute_split_dft(forward_, re, re + d, outRe, outRe + d);
}

void FftTransform::inverse(const double* inRe, double* outRe) const {
  auto* re = const_cast<double*>(inRe);
  const std::ptrdiff_t d = splitStride(order_);
  fftw_execute_split_dft(inverse_, re + d, re, outRe + d, outRe);
  // 1/n is exact: n is a power of two.
  const int n = 1 << order_;
  const detail::Kernels& kernels = detail::activeKernels();
  kernels.mpy1(1.0 / n, outRe, n);
  kernels.mpy1(1.0 / n, outRe + d, n);
}

void forgetWisdomState() {
  std::lock_guard<std::mutex> lock(plannerMutex);
  delete std::exchange(wisdom, nullptr);
}

}  // namespace bw::nsp
