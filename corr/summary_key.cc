#include "summary_key.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace zirk_corr {
namespace {

constexpr std::int64_t kNa = std::numeric_limits<std::int64_t>::max();

std::int64_t one_key(double value) {
  return std::isnan(value) ? kNa : summary_key(value);
}

#if defined(__x86_64__)
// summary_key's product path for four values; a lane whose key needs the
// text (an exact half, -inf, beyond 2^52 millionths) takes summary_key.
__attribute__((target("avx2"))) void keys_avx2(const double* values,
                                               std::size_t size,
                                               std::int64_t* keys) {
  const __m256d minusMillion = _mm256_set1_pd(-1e6);
  const __m256d shift = _mm256_set1_pd(0x1p52);
  const __m256d half = _mm256_set1_pd(0.5);
  const __m256d zero = _mm256_setzero_pd();
  const __m256d absMask =
      _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffff));
  const __m256i mantissa = _mm256_set1_epi64x((std::int64_t{1} << 52) - 1);
  const __m256i minKey = _mm256_set1_epi64x(zirk_report::kMinKey);
  const __m256i na = _mm256_set1_epi64x(kNa);
  std::size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    const __m256d value = _mm256_loadu_pd(values + i);
    // -value * 1e6 and value * -1e6 round alike: IEEE multiplication is
    // symmetric in sign.
    const __m256d millionths = _mm256_mul_pd(value, minusMillion);
    const __m256d shifted = _mm256_add_pd(millionths, shift);
    const __m256d away = _mm256_and_pd(
        _mm256_sub_pd(_mm256_sub_pd(shifted, shift), millionths), absMask);
    const __m256d negative = _mm256_cmp_pd(value, zero, _CMP_LT_OQ);
    const __m256d exact =
        _mm256_and_pd(_mm256_cmp_pd(millionths, shift, _CMP_LT_OQ),
                      _mm256_cmp_pd(away, half, _CMP_NEQ_UQ));
    __m256i key = _mm256_sub_epi64(
        _mm256_setzero_si256(),
        _mm256_and_si256(_mm256_castpd_si256(shifted), mantissa));
    key = _mm256_blendv_epi8(key, minKey, _mm256_cmpgt_epi64(minKey, key));
    key = _mm256_and_si256(key, _mm256_castpd_si256(negative));
    const __m256d nan = _mm256_cmp_pd(value, value, _CMP_UNORD_Q);
    key = _mm256_blendv_epi8(key, na, _mm256_castpd_si256(nan));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(keys + i), key);
    const int text = _mm256_movemask_pd(_mm256_andnot_pd(exact, negative));
    if (text != 0) {
      for (int lane = 0; lane < 4; ++lane) {
        if ((text >> lane & 1) != 0) keys[i + lane] = one_key(values[i + lane]);
      }
    }
  }
  for (; i < size; ++i) keys[i] = one_key(values[i]);
}
#endif

// scan_keys' work on keys [from, keys.size()).
void scan_from(std::span<const std::int64_t> keys, std::size_t from,
               std::int64_t admitted, std::uint32_t* candidates,
               KeyScan& scan) {
  for (std::size_t i = from; i < keys.size(); ++i) {
    const std::int64_t key = keys[i];
    scan.na += key == kNa;
    if (key > admitted) {
      scan.turned_away = std::min(scan.turned_away, key);
    } else if (key != kNa) {
      candidates[scan.candidates++] = static_cast<std::uint32_t>(i);
    }
  }
}

#if defined(__x86_64__)
// scan_keys four keys at a time: the candidates are rare once a run's
// summary is full, and a block of four without one costs a compare.
__attribute__((target("avx2"))) KeyScan scan_avx2(
    std::span<const std::int64_t> keys, std::int64_t admitted,
    std::uint32_t* candidates) {
  const __m256i bound = _mm256_set1_epi64x(admitted);
  const __m256i na = _mm256_set1_epi64x(kNa);
  __m256i least = na;
  __m256i naCount = _mm256_setzero_si256();
  KeyScan scan;
  std::size_t i = 0;
  for (; i + 4 <= keys.size(); i += 4) {
    const __m256i key =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(keys.data() + i));
    const __m256i above = _mm256_cmpgt_epi64(key, bound);
    const __m256i isNa = _mm256_cmpeq_epi64(key, na);
    naCount = _mm256_sub_epi64(naCount, isNa);
    // The keys above the bound, NA where a lane's is not; then their least.
    const __m256i away = _mm256_blendv_epi8(na, key, above);
    least = _mm256_blendv_epi8(least, away, _mm256_cmpgt_epi64(least, away));
    const int kept =
        _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_or_si256(above, isNa)));
    if (kept != 0xf) {
      for (int lane = 0; lane < 4; ++lane) {
        if ((kept >> lane & 1) == 0) {
          candidates[scan.candidates++] = static_cast<std::uint32_t>(i + lane);
        }
      }
    }
  }
  alignas(32) std::int64_t lanes[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), least);
  alignas(32) std::int64_t counts[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(counts), naCount);
  for (int lane = 0; lane < 4; ++lane) {
    scan.turned_away = std::min(scan.turned_away, lanes[lane]);
    scan.na += static_cast<std::uint64_t>(counts[lane]);
  }
  scan_from(keys, i, admitted, candidates, scan);
  return scan;
}
#endif

}  // namespace

void summary_keys(std::span<const double> values, std::int64_t* keys) {
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    keys_avx2(values.data(), values.size(), keys);
    return;
  }
#endif
  for (std::size_t i = 0; i < values.size(); ++i) keys[i] = one_key(values[i]);
}

KeyScan scan_keys(std::span<const std::int64_t> keys, std::int64_t admitted,
                  std::uint32_t* candidates) {
#if defined(__x86_64__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) return scan_avx2(keys, admitted, candidates);
#endif
  KeyScan scan;
  scan_from(keys, 0, admitted, candidates, scan);
  return scan;
}

}  // namespace zirk_corr
