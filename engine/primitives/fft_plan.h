// FFTW plans for nspzrFftNip, made once per transform order and reused, and
// shared by every caller in the process. (The receive chain does not use
// them: it owns its transform, an FftTransform of fft_transform.h.)
// prepareFft is called beforehand (never from the processing thread);
// nspzrFftNip only executes plans made here. If asked for an order without a
// plan it makes one itself, which is fine for tools and tests but not for the
// processing thread. Threads may transform the same order at once, as many as
// prepareFft was told of; more wait for one another.
//
// The plans are made for one layout of the split arrays, the paired layout:
// the real part starts at a multiple of kSplitAlignment bytes and the
// imaginary part splitStride(order) doubles after it, for input and output
// alike. Arrays in that layout (input and output not overlapping) are
// transformed where they are; any other arrays are first copied into scratch
// in that layout, which costs two passes over the data each way.
#pragma once

#include <cstddef>

namespace bw::nsp {

constexpr int kMinFftOrder = 1;
constexpr int kMaxFftOrder = 20;
constexpr int kMaxConcurrentFfts = 64;
constexpr std::size_t kSplitAlignment = 64;  // bytes

// Distance in doubles from the real to the imaginary part of a 2^order-point
// array pair in the paired layout: 2^order plus a few doubles of padding, a
// multiple of kSplitAlignment bytes.
std::ptrdiff_t splitStride(int order);

// A zeroed array pair in the paired layout for 2^order points (2 *
// splitStride(order) doubles, kSplitAlignment aligned), or nullptr when
// memory runs out. The caller frees it with std::free.
double* allocPaired(int order);

// Makes (if not yet made) the plan of a 2^order-point transform, with scratch
// for `concurrentCallers` threads transforming it at once (at most
// kMaxConcurrentFfts). Thread-safe. Returns false for an order outside
// kMinFftOrder..kMaxFftOrder or when FFTW cannot plan it or memory runs out.
bool prepareFft(int order, int concurrentCallers = 1);

// Destroys every plan made here and forgets the wisdom file's state (engine
// tear-down). FFTW's planner keeps its own state, and libfftw3 stays loaded
// with it, so that reloading the engine does not lose it again each time.
void releaseFftPlans();

}  // namespace bw::nsp
