// FFTW plans for nspzrFftNip, made once per transform order and reused.
// prepareFft is called from configuration (never from the processing thread);
// nspzrFftNip only executes plans made here. If asked for an order without a
// plan it makes one itself, which is fine for tools and tests but not for the
// processing thread. Threads may transform the same order at once, as many as
// prepareFft was told of; more wait for one another.
#pragma once

namespace bw::nsp {

constexpr int kMinFftOrder = 1;
constexpr int kMaxFftOrder = 20;
constexpr int kMaxConcurrentFfts = 64;

// Makes (if not yet made) the plan of a 2^order-point transform, with scratch
// for `concurrentCallers` threads transforming it at once (at most
// kMaxConcurrentFfts). Thread-safe. Returns false for an order outside
// kMinFftOrder..kMaxFftOrder or when FFTW cannot plan it or memory runs out.
bool prepareFft(int order, int concurrentCallers = 1);

// Destroys every plan and FFTW's own state (engine tear-down).
void releaseFftPlans();

}  // namespace bw::nsp
