// Counting the elements of a vector above two levels in one pass at the
// active kernel set's width (kernel_set.h); the squelch's measure of a block.
// Not one of the eleven primitives: the chain calls it directly.
#pragma once

namespace bw::nsp {

// counts[0]: elements of vec[0..n-1] above `floor`; counts[1]: how many of
// those are also above `level`. NaN elements are above nothing. Both are 0
// for n < 1.
void countAbove(const double* vec, int n, double floor, double level,
                long long counts[2]);

}  // namespace bw::nsp
