// Result rows formatted without printf, for the production engine.
//
// The text is byte-identical to what append_result_row() prints with its
// printf formats: integers in decimal, computed values in fixed notation with
// six decimals ("%f"), the not-computed marker "1.0", and "nan", "-nan",
// "inf", "-inf" for non-finite values as the C library prints them.
// std::to_chars gives the same correctly rounded digits as the C library.
#ifndef ZIRK_ROW_FORMAT_H_
#define ZIRK_ROW_FORMAT_H_

#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The longest row: three indices and a flag of at most 10 characters each,
// three "%f" values (at most 309 integer digits, a sign, a point and six
// decimals each), six tabs and a newline.
inline constexpr std::size_t kMaxRowLength = 4 * 10 + 3 * 317 + 7;

namespace row_format_detail {

// "000" to "999", four bytes apart.
inline constexpr auto kDigitTriples = [] {
  std::array<char, 4000> table{};
  for (int v = 0; v < 1000; ++v) {
    table[4 * v] = static_cast<char>('0' + v / 100);
    table[4 * v + 1] = static_cast<char>('0' + v / 10 % 10);
    table[4 * v + 2] = static_cast<char>('0' + v % 10);
  }
  return table;
}();

// Writes the digits of high and low (each below 1000), three each, at `out`
// and returns their end. It copies whole four-byte entries, quicker than
// three-byte ones, and so writes one byte past the end, which must be room
// the caller writes next.
inline char* write_six_digits(char* out, std::uint32_t high,
                              std::uint32_t low) {
  std::memcpy(out, &kDigitTriples[4 * high], 4);
  std::memcpy(out + 3, &kDigitTriples[4 * low], 4);
  return out + 6;
}

}  // namespace row_format_detail

// format_fixed6's rounding relies on each operation rounding to double.
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic with excess precision");

// Writes "%f" of `value` at `out` and returns the end of what it wrote; the
// byte at the end may be overwritten too (every value of a row is followed
// by a tab or the newline).
// Values below 2^52 millionths are printed from their integer number of
// millionths: the product value * 10^6 rounds once, and rounding is
// monotonic, so with every integer and half-integer below 2^52 a double, the
// rounded product lies on the same side of each as the exact one, or on it.
// Rounding the product to the nearest integer therefore gives the rounding of
// the exact decimal expansion, unless the product is a half exactly. Those
// ties (which printf breaks to even), larger values, infinities and NaN go
// through std::to_chars.
inline char* format_fixed6(char* out, double value) {
  const double millionths = std::fabs(value) * 1e6;
  if (millionths < 0x1p52) {
    // Adding 2^52 rounds to the nearest integer, which then fills the
    // significand: quicker than a conversion to integer and back. The sum
    // reaches 2^53 only from 2^52 - 1/2, a tie.
    const double shifted = millionths + 0x1p52;
    if (std::fabs((shifted - 0x1p52) - millionths) != 0.5) {
      std::uint64_t bits;
      std::memcpy(&bits, &shifted, sizeof bits);
      const std::uint64_t rounded = bits & ((std::uint64_t{1} << 52) - 1);
      // printf shows the sign of negative values that round to zero too.
      // Written always and kept only for negative values: a branch on the
      // sign would be mispredicted half the time on correlations.
      *out = '-';
      out += std::signbit(value) ? 1 : 0;
      // Both quotients straight from `rounded`, not one from the other: the
      // digits wait on one division instead of two in a row. Below ten, the
      // common case, in 32 bits: a 64-bit division by a constant takes a
      // full 128-bit product.
      std::uint32_t high, low;
      if (rounded < 10000000) {
        const auto rounded32 = static_cast<std::uint32_t>(rounded);
        const std::uint32_t integer = rounded32 / 1000000;
        const std::uint32_t thousands = rounded32 / 1000;
        *out++ = static_cast<char>('0' + integer);
        high = thousands - integer * 1000;
        low = rounded32 - thousands * 1000;
      } else {
        const std::uint64_t integer = rounded / 1000000;
        const std::uint64_t thousands = rounded / 1000;
        out = std::to_chars(out, out + 20, integer).ptr;
        high = static_cast<std::uint32_t>(thousands - integer * 1000);
        low = static_cast<std::uint32_t>(rounded - thousands * 1000);
      }
      *out++ = '.';
      return row_format_detail::write_six_digits(out, high, low);
    }
  }
  return std::to_chars(out, out + 320, value, std::chars_format::fixed, 6).ptr;
}

inline char* format_index(char* out, unsigned value) {
  return std::to_chars(out, out + 10, value).ptr;
}

// Writes "s\tg1\t", the start that the rows of one first gene share, at
// `out` (which must have kMaxRowPrefixLength bytes of room) and returns the
// end.
inline constexpr std::size_t kMaxRowPrefixLength = 2 * 11;
inline char* format_row_prefix(char* out, unsigned s, unsigned g1) {
  out = format_index(out, s);
  *out++ = '\t';
  out = format_index(out, g1);
  *out++ = '\t';
  return out;
}

// Writes the rest of a row after format_row_prefix: g2 and the scores, as
// format_result_row below.
inline char* format_row_rest(char* out, unsigned g2, int flag, double mcLog10,
                             double ldaValue, double itValue) {
  out = format_index(out, g2);
  *out++ = '\t';
  *out++ = static_cast<char>('0' + flag);
  *out++ = '\t';
  out = format_fixed6(out, mcLog10);
  *out++ = '\t';
  if (flag == 0) {
    // "%.1f" of the constant 1.0 and of log10(10.0), which is exactly 1.
    std::memcpy(out, "1.0\t1.0", 7);
    out += 7;
  } else {
    out = format_fixed6(out, ldaValue);
    *out++ = '\t';
    if (flag == 1) {
      out = format_fixed6(out, std::log10(itValue));
    } else {
      std::memcpy(out, "1.0", 3);
      out += 3;
    }
  }
  *out++ = '\n';
  return out;
}

// Writes the row of one pair, exactly as append_result_row() would append it,
// at `out` (which must have kMaxRowLength bytes of room) and returns the end.
// `mcLog10` is log10 of the MC p-value (or a value that prints the same);
// `itValue` is the IT p-value for flag 1 and the pruning value 10.0 otherwise.
inline char* format_result_row(char* out, unsigned s, unsigned g1, unsigned g2,
                               int flag, double mcLog10, double ldaValue,
                               double itValue) {
  return format_row_rest(format_row_prefix(out, s, g1), g2, flag, mcLog10,
                         ldaValue, itValue);
}

#endif  // ZIRK_ROW_FORMAT_H_
