// BW_WIDE_CLONES builds a function for AVX-512F, AVX2 and baseline x86-64;
// the dynamic loader picks the widest the CPU runs. For plain loops over
// arrays that the compiler vectorises itself.
#pragma once

#if defined(__x86_64__)
#define BW_WIDE_CLONES \
  __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define BW_WIDE_CLONES
#endif
