// The vector kernels built for AVX2 with FMA; see kernel_table.h.
#include "primitives/simd_kernels.h"

namespace bw::nsp::detail {
constinit const Kernels kAvx2Kernels = makeTable("avx2");
}  // namespace bw::nsp::detail
