#pragma once
// Private to the module: the colour arithmetic that the image fetches, the
// host's single-value queries and the direct colour reads share.

#include <cmath>

namespace KRC {
namespace detail {

//! Tolerance of the filter-colour test in the colouring rules, whatever
//! tolerance the host set for the nodata comparison.
constexpr double kFilterColorEpsilon = 1e-10;

//! True when a and b differ by strictly less than `tolerance` either way.
inline bool MatchesWithin(double a, double b, double tolerance)
{
    const double d = a - b;
    return d > -tolerance && d < tolerance;
}

//! Contrast stretch of `value` from [lo, hi] onto [0, 255] with `gamma`
//! (1 is linear): 0 below lo, 255 above hi. A range of one value (hi == lo)
//! has no slope; its one value maps to 255, the top of the range, rather
//! than to the NaN the formula would give.
inline double StretchValue(double value, double lo, double hi, float gamma)
{
    if (lo > value)
        return 0.0;
    if (value > hi)
        return 255.0;
    if (!(hi > lo))
        return 255.0;
    return std::pow((value - lo) / (hi - lo), 1.0 / static_cast<double>(gamma)) * 255.0;
}

} // namespace detail
} // namespace KRC
