// Runs a piece of a test with one kernel set (see primitives/kernel_set.h)
// and puts the previous one back afterwards.
#pragma once

#include "primitives/kernel_set.h"

namespace bw::test {

class ScopedKernelSet {
 public:
  explicit ScopedKernelSet(nsp::KernelSet set)
      : saved_(nsp::activeKernelSet()) {
    nsp::useKernelSet(set);
  }
  ~ScopedKernelSet() { nsp::useKernelSet(saved_); }
  ScopedKernelSet(const ScopedKernelSet&) = delete;
  ScopedKernelSet& operator=(const ScopedKernelSet&) = delete;

 private:
  nsp::KernelSet saved_;
};

}  // namespace bw::test
