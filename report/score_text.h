// The score columns as the engine prints them: "%f" values (an optional
// minus, digits, a point and exactly six decimals), "inf", "-inf", "nan",
// "-nan", and the not-computed marker "1.0". Values are read as integer
// millionths, never through floating point, so equal text means equal keys.
#ifndef ZIRK_REPORT_SCORE_TEXT_H_
#define ZIRK_REPORT_SCORE_TEXT_H_

#include <cstdint>
#include <cstring>

namespace zirk_report {

enum class ScoreKind { kFinite, kNegInf, kPosInf, kNaN, kMarker, kBad };

struct Score {
  ScoreKind kind;
  std::int64_t millionths;  // for kFinite; saturates beyond 10^12 units
  bool minus;               // the text starts with '-'
};

// Reads the field [p, end). A field that is none of the forms above is kBad.
inline Score parse_score(const char* p, const char* end) {
  Score s{ScoreKind::kBad, 0, false};
  if (p == end) return s;
  if (*p == '-') {
    s.minus = true;
    ++p;
  }
  const std::size_t n = static_cast<std::size_t>(end - p);
  if (n == 3 && !s.minus && std::memcmp(p, "1.0", 3) == 0) {
    s.kind = ScoreKind::kMarker;
    return s;
  }
  if (n == 3 && std::memcmp(p, "inf", 3) == 0) {
    s.kind = s.minus ? ScoreKind::kNegInf : ScoreKind::kPosInf;
    return s;
  }
  if (n == 3 && std::memcmp(p, "nan", 3) == 0) {
    s.kind = ScoreKind::kNaN;
    return s;
  }
  if (n < 8 || end[-7] != '.') return s;
  const char* point = end - 7;
  std::int64_t whole = 0;
  for (const char* q = p; q < point; ++q) {
    const unsigned d = static_cast<unsigned>(*q - '0');
    if (d > 9) return s;
    if (whole < 1'000'000'000'000) whole = whole * 10 + d;
  }
  // The last digit taken may have carried it up to 10^13 - 1, whose
  // millionths no longer fit 64 bits.
  if (whole > 1'000'000'000'000) whole = 1'000'000'000'000;
  std::int64_t frac = 0;
  for (const char* q = point + 1; q < end; ++q) {
    const unsigned d = static_cast<unsigned>(*q - '0');
    if (d > 9) return s;
    frac = frac * 10 + d;
  }
  const std::int64_t v = whole * 1'000'000 + frac;
  s.millionths = s.minus ? -v : v;
  s.kind = ScoreKind::kFinite;
  return s;
}

}  // namespace zirk_report

#endif  // ZIRK_REPORT_SCORE_TEXT_H_
