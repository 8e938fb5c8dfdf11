// A complex array of 2^order points as two split parts laid out the way the
// transforms are planned for (the paired layout of primitives/fft_plan.h), so
// that the chain's transforms read and write it without copies.
//
// Ownership: the storage is allocated from the heap given at construction;
// re() and im() point into it and stay valid until the next resize.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <vector>

#include "primitives/fft_plan.h"

namespace bw {

class SplitBuffer {
 public:
  explicit SplitBuffer(std::pmr::memory_resource* heap) : storage_(heap) {}

  // Sizes for 2^order points per part, every value zero. Allocates (throws
  // std::bad_alloc when memory runs out, the buffer then unchanged).
  void resize(int order) {
    const std::ptrdiff_t stride = nsp::splitStride(order);
    constexpr std::size_t slack = nsp::kSplitAlignment / sizeof(double);
    storage_.assign(static_cast<std::size_t>(2 * stride) + slack, 0.0);
    const auto base = reinterpret_cast<std::uintptr_t>(storage_.data());
    const std::size_t skip =
        (nsp::kSplitAlignment - base % nsp::kSplitAlignment) %
        nsp::kSplitAlignment / sizeof(double);
    re_ = storage_.data() + skip;
    im_ = re_ + stride;
  }

  double* re() { return re_; }
  double* im() { return im_; }

 private:
  std::pmr::vector<double> storage_;
  double* re_ = nullptr;
  double* im_ = nullptr;
};

}  // namespace bw
