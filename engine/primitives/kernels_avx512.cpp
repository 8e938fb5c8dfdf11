// The vector kernels built for AVX-512F; see kernel_table.h.
#include "primitives/simd_kernels.h"

namespace bw::nsp::detail {
constinit const Kernels kAvx512Kernels = makeTable("avx512");
}  // namespace bw::nsp::detail
