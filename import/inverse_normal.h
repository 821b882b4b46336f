// The rank-based inverse-normal transform of one gene's values across
// samples, with Blom's offsets: value r-th smallest of n becomes
// Phi^-1((r - 3/8) / (n + 1/4)), so that every gene reaches the screen with
// normal marginals whatever its tails.
#ifndef ZIRK_IMPORT_INVERSE_NORMAL_H_
#define ZIRK_IMPORT_INVERSE_NORMAL_H_

#include <vector>

namespace zirk_import {

// Blom's offsets, recorded in import.json with the transform.
inline constexpr double kBlomRankOffset = 0.375;
inline constexpr double kBlomCountOffset = 0.25;

// Replaces each of `values` (no NaN) by Phi^-1 of its Blom score; tied
// values share the average of their ranks and so one score. Phi^-1 is
// Boost.Math's normal quantile.
void inverse_normal_transform(std::vector<double>& values);

}  // namespace zirk_import

#endif  // ZIRK_IMPORT_INVERSE_NORMAL_H_
