// A thin layer over the intrinsics of one instruction set, so that the vector
// kernels (simd_kernels.h) are written once. Which set is chosen by the flags
// the including file is compiled with: AVX-512F, else AVX2 with FMA, else
// SSE2. Everything here has internal linkage: files built for different sets
// must never share a compiled function.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace bw::nsp::detail {
namespace {

constexpr std::int64_t kSignBit = INT64_MIN;

#if defined(__AVX512F__)

struct Ops {
  static constexpr int kWidth = 8;
  static constexpr bool kFma = true;
  using D = __m512d;
  using M = __mmask8;
  static D set1(double v) { return _mm512_set1_pd(v); }
  static D load(const double* p) { return _mm512_loadu_pd(p); }
  static void store(double* p, D v) { _mm512_storeu_pd(p, v); }
  static D add(D a, D b) { return _mm512_add_pd(a, b); }
  static D sub(D a, D b) { return _mm512_sub_pd(a, b); }
  static D mul(D a, D b) { return _mm512_mul_pd(a, b); }
  static D div(D a, D b) { return _mm512_div_pd(a, b); }
  static D fma(D a, D b, D c) { return _mm512_fmadd_pd(a, b, c); }
  static D sqrt(D a) { return _mm512_sqrt_pd(a); }
  static D min(D a, D b) { return _mm512_min_pd(a, b); }
  static D max(D a, D b) { return _mm512_max_pd(a, b); }
  static D bits(std::int64_t v) { return _mm512_castsi512_pd(_mm512_set1_epi64(v)); }
  static D andBits(D a, D b) {
    return _mm512_castsi512_pd(_mm512_and_si512(_mm512_castpd_si512(a), _mm512_castpd_si512(b)));
  }
  static D andNotBits(D a, D b) {  // ~a & b
    return _mm512_castsi512_pd(_mm512_andnot_si512(_mm512_castpd_si512(a), _mm512_castpd_si512(b)));
  }
  static D orBits(D a, D b) {
    return _mm512_castsi512_pd(_mm512_or_si512(_mm512_castpd_si512(a), _mm512_castpd_si512(b)));
  }
  static D xorBits(D a, D b) {
    return _mm512_castsi512_pd(_mm512_xor_si512(_mm512_castpd_si512(a), _mm512_castpd_si512(b)));
  }
  template <int kShift>
  static D shiftLeft(D a) {
    return _mm512_castsi512_pd(_mm512_slli_epi64(_mm512_castpd_si512(a), kShift));
  }
  static M lt(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
  static M le(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ); }
  static M ge(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
  static M gt(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ); }
  static M eq(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
  static M signSet(D a) {
    return _mm512_cmplt_epi64_mask(_mm512_castpd_si512(a), _mm512_setzero_si512());
  }
  static M mAnd(M a, M b) { return static_cast<M>(a & b); }
  static M mOr(M a, M b) { return static_cast<M>(a | b); }
  static unsigned laneBits(M m) { return m; }
  static D select(M m, D yes, D no) { return _mm512_mask_blend_pd(m, no, yes); }
  // {prev[kWidth - 1], cur[0], ..., cur[kWidth - 2]}: each lane's predecessor.
  static D slideIn(D prev, D cur) {
    return _mm512_castsi512_pd(
        _mm512_alignr_epi64(_mm512_castpd_si512(cur), _mm512_castpd_si512(prev), 7));
  }
  // Converts to int32 in the current rounding mode and stores kWidth values;
  // NaN and values outside the int32 range give INT32_MIN.
  static void storeInt32(std::int32_t* p, D v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm512_cvtpd_epi32(v));
  }
};

#elif defined(__AVX2__)

struct Ops {
  static constexpr int kWidth = 4;
  static constexpr bool kFma = true;
  using D = __m256d;
  using M = __m256d;
  static D set1(double v) { return _mm256_set1_pd(v); }
  static D load(const double* p) { return _mm256_loadu_pd(p); }
  static void store(double* p, D v) { _mm256_storeu_pd(p, v); }
  static D add(D a, D b) { return _mm256_add_pd(a, b); }
  static D sub(D a, D b) { return _mm256_sub_pd(a, b); }
  static D mul(D a, D b) { return _mm256_mul_pd(a, b); }
  static D div(D a, D b) { return _mm256_div_pd(a, b); }
  static D fma(D a, D b, D c) { return _mm256_fmadd_pd(a, b, c); }
  static D sqrt(D a) { return _mm256_sqrt_pd(a); }
  static D min(D a, D b) { return _mm256_min_pd(a, b); }
  static D max(D a, D b) { return _mm256_max_pd(a, b); }
  static D bits(std::int64_t v) { return _mm256_castsi256_pd(_mm256_set1_epi64x(v)); }
  static D andBits(D a, D b) { return _mm256_and_pd(a, b); }
  static D andNotBits(D a, D b) { return _mm256_andnot_pd(a, b); }
  static D orBits(D a, D b) { return _mm256_or_pd(a, b); }
  static D xorBits(D a, D b) { return _mm256_xor_pd(a, b); }
  template <int kShift>
  static D shiftLeft(D a) {
    return _mm256_castsi256_pd(_mm256_slli_epi64(_mm256_castpd_si256(a), kShift));
  }
  static M lt(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
  static M le(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
  static M ge(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
  static M gt(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
  static M eq(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
  // blendv looks at the sign bit only, so a value is its own sign mask.
  static M signSet(D a) { return a; }
  static M mAnd(M a, M b) { return _mm256_and_pd(a, b); }
  static M mOr(M a, M b) { return _mm256_or_pd(a, b); }
  static unsigned laneBits(M m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }
  static D select(M m, D yes, D no) { return _mm256_blendv_pd(no, yes, m); }
  static D slideIn(D prev, D cur) {
    // {prev[2], prev[3], cur[0], cur[1]}, then every other lane from cur.
    const D middle = _mm256_permute2f128_pd(prev, cur, 0x21);
    return _mm256_shuffle_pd(middle, cur, 0x5);
  }
  static void storeInt32(std::int32_t* p, D v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_cvtpd_epi32(v));
  }
};

#else

struct Ops {
  static constexpr int kWidth = 2;
  static constexpr bool kFma = false;
  using D = __m128d;
  using M = __m128d;
  static D set1(double v) { return _mm_set1_pd(v); }
  static D load(const double* p) { return _mm_loadu_pd(p); }
  static void store(double* p, D v) { _mm_storeu_pd(p, v); }
  static D add(D a, D b) { return _mm_add_pd(a, b); }
  static D sub(D a, D b) { return _mm_sub_pd(a, b); }
  static D mul(D a, D b) { return _mm_mul_pd(a, b); }
  static D div(D a, D b) { return _mm_div_pd(a, b); }
  static D fma(D a, D b, D c) { return _mm_add_pd(_mm_mul_pd(a, b), c); }
  static D sqrt(D a) { return _mm_sqrt_pd(a); }
  static D min(D a, D b) { return _mm_min_pd(a, b); }
  static D max(D a, D b) { return _mm_max_pd(a, b); }
  static D bits(std::int64_t v) { return _mm_castsi128_pd(_mm_set1_epi64x(v)); }
  static D andBits(D a, D b) { return _mm_and_pd(a, b); }
  static D andNotBits(D a, D b) { return _mm_andnot_pd(a, b); }
  static D orBits(D a, D b) { return _mm_or_pd(a, b); }
  static D xorBits(D a, D b) { return _mm_xor_pd(a, b); }
  template <int kShift>
  static D shiftLeft(D a) {
    return _mm_castsi128_pd(_mm_slli_epi64(_mm_castpd_si128(a), kShift));
  }
  static M lt(D a, D b) { return _mm_cmplt_pd(a, b); }
  static M le(D a, D b) { return _mm_cmple_pd(a, b); }
  static M ge(D a, D b) { return _mm_cmpge_pd(a, b); }
  static M gt(D a, D b) { return _mm_cmpgt_pd(a, b); }
  static M eq(D a, D b) { return _mm_cmpeq_pd(a, b); }
  // Spread each lane's sign bit over the whole lane.
  static M signSet(D a) {
    const __m128i high = _mm_srai_epi32(_mm_castpd_si128(a), 31);
    return _mm_castsi128_pd(_mm_shuffle_epi32(high, _MM_SHUFFLE(3, 3, 1, 1)));
  }
  static M mAnd(M a, M b) { return _mm_and_pd(a, b); }
  static M mOr(M a, M b) { return _mm_or_pd(a, b); }
  static unsigned laneBits(M m) { return static_cast<unsigned>(_mm_movemask_pd(m)); }
  static D select(M m, D yes, D no) {
    return _mm_or_pd(_mm_and_pd(m, yes), _mm_andnot_pd(m, no));
  }
  static D slideIn(D prev, D cur) { return _mm_shuffle_pd(prev, cur, 1); }
  static void storeInt32(std::int32_t* p, D v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_cvtpd_epi32(v));
  }
};

#endif

}  // namespace
}  // namespace bw::nsp::detail
