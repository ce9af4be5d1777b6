#include "KRGeometry.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace KRC {

double KRRect2d::Width() const
{
    return right - left;
}

double KRRect2d::Height() const
{
    return top - bottom;
}

// NaN anywhere makes the answer false: the comparisons below would all be
// false and so report an overlap that nothing supports.
bool KRRect2d::IsIntersect(const KRRect2d& other, double tolerance) const
{
    const double values[] = {left,        top,          right,       bottom,   other.left,
                             other.top,   other.right,  other.bottom, tolerance};
    for (double v : values) {
        if (std::isnan(v))
            return false;
    }
    return !(right < other.left - tolerance || left > other.right + tolerance ||
             top < other.bottom - tolerance || bottom > other.top + tolerance);
}

// A NaN coordinate of the point is skipped so one bad point cannot poison the
// box; a NaN side of the box is replaced by the point's coordinate.
// A coordinate that is not finite (a point a projection could not carry) is
// skipped, and a side that is not finite takes the first finite coordinate, so
// one bad point cannot stretch a box to infinity or poison it with NaN.
void KRRect2d::Union(const KRPoint2d& point)
{
    if (std::isfinite(point.x)) {
        if (!std::isfinite(left) || point.x < left)
            left = point.x;
        if (!std::isfinite(right) || point.x > right)
            right = point.x;
    }
    if (std::isfinite(point.y)) {
        if (!std::isfinite(bottom) || point.y < bottom)
            bottom = point.y;
        if (!std::isfinite(top) || point.y > top)
            top = point.y;
    }
}

namespace {

int AbsDifference(int a, int b)
{
    const long long d = static_cast<long long>(a) - static_cast<long long>(b);
    const long long magnitude = d < 0 ? -d : d;
    return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

} // namespace

int KRRect2i::AbsWidth() const
{
    return AbsDifference(right, left);
}

int KRRect2i::AbsHeight() const
{
    return AbsDifference(top, bottom);
}

const KRRect2d& KRGeoBBox::GetGeoBounds() const
{
    return m_bounds;
}

void KRGeoBBox::SetGeoBounds(const KRRect2d& bounds)
{
    m_bounds = bounds;
}

void KRGeoBBox::ClampToLatLonRange()
{
    m_bounds.left = std::clamp(m_bounds.left, -180.0, 180.0);
    m_bounds.right = std::clamp(m_bounds.right, -180.0, 180.0);
    m_bounds.top = std::clamp(m_bounds.top, -90.0, 90.0);
    m_bounds.bottom = std::clamp(m_bounds.bottom, -90.0, 90.0);
}

// Global geographic tiling of two square tiles at level 0, each level halving
// the tile side.
void KRMath::CalcTileBounds(KRRect2d& rect, int x, int y, int level)
{
    // Beyond +-1100 the side is already 0 or infinite; the bound keeps -level defined.
    const int exponent = -std::clamp(level, -1100, 1100);
    const double side = std::ldexp(180.0, exponent);
    rect.left = -180.0 + static_cast<double>(x) * side;
    rect.right = rect.left + side;
    rect.top = 90.0 - static_cast<double>(y) * side;
    rect.bottom = rect.top - side;
}

} // namespace KRC
