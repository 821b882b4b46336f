#include "mc_tile.h"

#include <immintrin.h>

#include <cfloat>
#include <cmath>
#include <cstring>

#include "mc_tail.h"

extern "C" {
// The C library's vector logarithm (four lanes, AVX2).
__attribute__((target("avx2"))) __m256d _ZGVdN4v_log(__m256d);
}

namespace {

// The helpers take and give vectors by reference only: a vector passed by
// value between the AVX2 and the baseline code would cross a calling
// convention that differs between them.
using Vec = double __attribute__((vector_size(32)));
using Mask = long long __attribute__((vector_size(32)));

void load(Vec& v, const double* p) { std::memcpy(&v, p, sizeof v); }

void store(double* p, const Vec& v) { std::memcpy(p, &v, sizeof v); }

// Each lane's logarithm, in place.
void log_scalar(Vec& v) {
  for (std::size_t l = 0; l < kMcLanes; ++l) v[l] = std::log(v[l]);
}

__attribute__((target("avx2"))) void log_avx2(Vec& v) {
  __m256d x;
  std::memcpy(&x, &v, sizeof x);
  x = _ZGVdN4v_log(x);
  std::memcpy(&v, &x, sizeof v);
}

// Sets `m` to the magnitude of each lane of `v`.
void magnitude(const Vec& v, Vec& m) {
  const Mask sign = {INT64_MIN, INT64_MIN, INT64_MIN, INT64_MIN};
  Mask bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits &= ~sign;
  std::memcpy(&m, &bits, sizeof m);
}

// The kernel with the logarithm `vlog`, inlined into each variant below so
// that the vector code is compiled for that variant's instruction set.
template <void (*vlog)(Vec&)>
__attribute__((always_inline)) inline void tile_body(const McTileInput& in,
                                                     McTileOutput& out) {
  Vec whole;
  load(whole, in.wholeTerm);
  Vec s = whole;
  // Every term's magnitude, for the rounding bound.
  Vec size;
  magnitude(whole, size);
  Mask normal = {-1, -1, -1, -1};
  for (std::size_t k = 0; k < 3; ++k) {
    const double c = in.nvec[k];
    Vec loaded;
    load(loaded, in.classCross[k]);
    Vec c2 = loaded / c;
    load(loaded, in.classSum[k]);
    c2 = c2 - (in.mean1[k] * loaded) / c;
    store(out.c2[k], c2);
    load(loaded, in.classVariance[k]);
    const Vec determinant = in.variance1[k] * loaded - c2 * c2;
    // Zero, negative, subnormal, infinite or NaN determinants: exact path.
    normal &= (determinant >= DBL_MIN) & (determinant <= DBL_MAX);
    Vec logDeterminant = determinant;
    vlog(logDeterminant);
    const Vec term = c * logDeterminant;
    s = s - term;
    Vec m;
    magnitude(term, m);
    size = size + m;
  }
  // Each logarithm is within a few units in the last place of std::log's,
  // and every operation of both versions rounds once: the statistics differ
  // by less than 2^-49 of the terms' magnitudes. 2^-46 leaves a margin of
  // eight.
  const Vec infinity = {HUGE_VAL, HUGE_VAL, HUGE_VAL, HUGE_VAL};
  const Vec bound = normal ? size * 0x1p-46 : infinity;
  store(out.s, s);
  store(out.bound, bound);
  const Vec x = s * 0.5;
  Vec logTail;
  tail_polynomial(x, logTail);
  vlog(logTail);
  store(out.logPvalue, logTail - x);
}

void tile_default(const McTileInput& in, McTileOutput& out) {
  tile_body<log_scalar>(in, out);
}

__attribute__((target("avx2"))) void tile_avx2(const McTileInput& in,
                                               McTileOutput& out) {
  tile_body<log_avx2>(in, out);
}

}  // namespace

void mc_tile(const McTileInput& in, McTileOutput& out) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2) {
    tile_avx2(in, out);
  } else {
    tile_default(in, out);
  }
}

double mc_exact_statistic(const McTileInput& in, const McTileOutput& out,
                          std::size_t l) {
  double s = in.wholeTerm[l];
  for (std::size_t k = 0; k < 3; ++k) {
    const double c2 = out.c2[k][l];
    s = s - in.nvec[k] *
                std::log(in.variance1[k] * in.classVariance[k][l] - c2 * c2);
  }
  return s;
}
