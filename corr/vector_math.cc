#include "vector_math.h"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "libmvec.h"

namespace zirk_corr {

#if defined(__x86_64__)
namespace {

// Each function in two widths; atanh rounds the same three times before the
// logarithm in both.
struct AtanhSse {
  static __m128d apply(__m128d c) {
    const __m128d one = _mm_set1_pd(1.0);
    const __m128d ratio = _mm_div_pd(_mm_add_pd(one, c), _mm_sub_pd(one, c));
    return _mm_mul_pd(_ZGVbN2v_log(ratio), _mm_set1_pd(0.5));
  }
};
// atanh of the value clamped to [-limit, limit] as std::clamp does it:
// max(-limit, c) is -limit where c < -limit and c otherwise (NaN included),
// min(limit, that) likewise.
struct ClampedAtanhSse {
  static __m128d apply(__m128d c, __m128d limit) {
    const __m128d low = _mm_sub_pd(_mm_setzero_pd(), limit);
    return AtanhSse::apply(_mm_min_pd(limit, _mm_max_pd(low, c)));
  }
};
struct ErfcSse {
  static __m128d apply(__m128d x) { return _ZGVbN2v_erfc(x); }
};
struct ExpSse {
  static __m128d apply(__m128d x) { return _ZGVbN2v_exp(x); }
};
struct Log10Sse {
  static __m128d apply(__m128d x) { return _ZGVbN2v_log10(x); }
};

struct AtanhAvx2 {
  __attribute__((target("avx2"))) static __m256d apply(__m256d c) {
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d ratio =
        _mm256_div_pd(_mm256_add_pd(one, c), _mm256_sub_pd(one, c));
    return _mm256_mul_pd(_ZGVdN4v_log(ratio), _mm256_set1_pd(0.5));
  }
};
struct ClampedAtanhAvx2 {
  __attribute__((target("avx2"))) static __m256d apply(__m256d c,
                                                       __m256d limit) {
    const __m256d low = _mm256_sub_pd(_mm256_setzero_pd(), limit);
    return AtanhAvx2::apply(_mm256_min_pd(limit, _mm256_max_pd(low, c)));
  }
};
struct ErfcAvx2 {
  __attribute__((target("avx2"))) static __m256d apply(__m256d x) {
    return _ZGVdN4v_erfc(x);
  }
};
struct ExpAvx2 {
  __attribute__((target("avx2"))) static __m256d apply(__m256d x) {
    return _ZGVdN4v_exp(x);
  }
};
struct Log10Avx2 {
  __attribute__((target("avx2"))) static __m256d apply(__m256d x) {
    return _ZGVdN4v_log10(x);
  }
};

template <class F>
void each_sse(std::span<double> values) {
  for (std::size_t i = 0; i < values.size(); i += 2) {
    _mm_storeu_pd(&values[i], F::apply(_mm_loadu_pd(&values[i])));
  }
}

template <class F>
__attribute__((target("avx2"))) void each_avx2(std::span<double> values) {
  for (std::size_t i = 0; i < values.size(); i += 4) {
    _mm256_storeu_pd(&values[i], F::apply(_mm256_loadu_pd(&values[i])));
  }
}

// each_sse and each_avx2 for a function of the value and one constant, from
// `from` into `to`: `size` values, a multiple of kLanes.
template <class F>
void each_sse(const double* from, std::size_t size, double constant,
              double* to) {
  const __m128d c = _mm_set1_pd(constant);
  for (std::size_t i = 0; i < size; i += 2) {
    _mm_storeu_pd(to + i, F::apply(_mm_loadu_pd(from + i), c));
  }
}

template <class F>
__attribute__((target("avx2"))) void each_avx2(const double* from,
                                               std::size_t size,
                                               double constant, double* to) {
  const __m256d c = _mm256_set1_pd(constant);
  for (std::size_t i = 0; i < size; i += 4) {
    _mm256_storeu_pd(to + i, F::apply(_mm256_loadu_pd(from + i), c));
  }
}

template <class Sse, class Avx2>
void each(std::span<double> values) {
  assert(values.size() % kLanes == 0);
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    each_avx2<Avx2>(values);
  } else {
    each_sse<Sse>(values);
  }
}

}  // namespace

void atanh_each(std::span<double> values) { each<AtanhSse, AtanhAvx2>(values); }
void clamped_atanh(std::span<const double> r, double limit, double* z) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  const auto apply = [&](const double* from, std::size_t size, double* to) {
    if (avx2) {
      each_avx2<ClampedAtanhAvx2>(from, size, limit, to);
    } else {
      each_sse<ClampedAtanhSse>(from, size, limit, to);
    }
  };
  // Whole vectors straight from r; the last, partial one through a
  // zero-padded copy, which reads nothing past r's end.
  const std::size_t whole = r.size() / kLanes * kLanes;
  apply(r.data(), whole, z);
  if (whole == r.size()) return;
  double tail[kLanes] = {};
  std::copy(r.begin() + static_cast<std::ptrdiff_t>(whole), r.end(), tail);
  apply(tail, kLanes, z + whole);
}
void erfc_each(std::span<double> values) { each<ErfcSse, ErfcAvx2>(values); }
void exp_each(std::span<double> values) { each<ExpSse, ExpAvx2>(values); }
void log10_each(std::span<double> values) { each<Log10Sse, Log10Avx2>(values); }

#else

void atanh_each(std::span<double> values) {
  for (double& c : values) c = std::log((1.0 + c) / (1.0 - c)) * 0.5;
}
void clamped_atanh(std::span<const double> r, double limit, double* z) {
  const std::size_t size = padded_size(r.size());
  for (std::size_t i = 0; i < size; ++i) {
    z[i] = i < r.size() ? std::clamp(r[i], -limit, limit) : 0.0;
  }
  atanh_each(std::span<double>(z, size));
}
void erfc_each(std::span<double> values) {
  for (double& x : values) x = std::erfc(x);
}
void exp_each(std::span<double> values) {
  for (double& x : values) x = std::exp(x);
}
void log10_each(std::span<double> values) {
  for (double& x : values) x = std::log10(x);
}

#endif

}  // namespace zirk_corr
