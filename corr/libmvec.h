// The C library's vector math functions (libmvec) under their x86-64 vector
// function ABI names: 'b' the SSE variant of two lanes, 'd' the AVX2 variant
// of four, which takes and returns its vector in a ymm register and so is
// declared for AVX2. Each lane is computed on its own: a value gets the same
// bits in whichever lane and call it comes.
#ifndef ZIRK_CORR_LIBMVEC_H_
#define ZIRK_CORR_LIBMVEC_H_

#if defined(__x86_64__)
#include <immintrin.h>

extern "C" {
__m128d _ZGVbN2v_erfc(__m128d);
__m128d _ZGVbN2v_exp(__m128d);
__m128d _ZGVbN2v_log(__m128d);
__m128d _ZGVbN2v_log10(__m128d);
__attribute__((target("avx2"))) __m256d _ZGVdN4v_erfc(__m256d);
__attribute__((target("avx2"))) __m256d _ZGVdN4v_exp(__m256d);
__attribute__((target("avx2"))) __m256d _ZGVdN4v_log(__m256d);
__attribute__((target("avx2"))) __m256d _ZGVdN4v_log10(__m256d);
}
#endif

#endif  // ZIRK_CORR_LIBMVEC_H_
