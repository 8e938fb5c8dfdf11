// The vector kernels built for baseline x86-64 (SSE2); see kernel_table.h.
#include "primitives/simd_kernels.h"

namespace bw::nsp::detail {
constinit const Kernels kSse2Kernels = makeTable("sse2");
}  // namespace bw::nsp::detail
