// BW_WIDE_CLONES builds a function for AVX-512F, AVX2 and baseline x86-64;
// the dynamic loader picks the widest the CPU runs. For plain loops over
// arrays that the compiler vectorises itself.
//
// Not under ThreadSanitizer: the loader runs the clones' selectors before the
// sanitizer's runtime is ready, and its instrumentation there crashes.
#pragma once

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define BW_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define BW_THREAD_SANITIZER 1
#endif

#if defined(__x86_64__) && !defined(BW_THREAD_SANITIZER)
#define BW_WIDE_CLONES \
  __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define BW_WIDE_CLONES
#endif
