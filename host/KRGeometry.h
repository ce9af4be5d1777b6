#pragma once

#include "KRExport.h"

namespace KRC {

struct KR_COMMON_API KRPoint2d {
    double x = 0.0;
    double y = 0.0;
    KRPoint2d() = default;
    KRPoint2d(double px, double py) : x(px), y(py) {}
};

struct KR_COMMON_API KRPoint3d {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    KRPoint3d() = default;
    KRPoint3d(double px, double py, double pz) : x(px), y(py), z(pz) {}
};

struct KR_COMMON_API KRVec3d {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

//! Rectangle in a Y-up system: top is the larger Y.
class KR_COMMON_API KRRect2d {
public:
    double left = 0.0;
    double top = 0.0;
    double right = 0.0;
    double bottom = 0.0;

    KRRect2d() = default;
    KRRect2d(double l, double t, double r, double b) : left(l), top(t), right(r), bottom(b) {}

    double Width() const;  //!< right - left
    double Height() const; //!< top - bottom

    //! True when the rectangles overlap or touch within `tolerance`.
    bool IsIntersect(const KRRect2d& other, double tolerance) const;

    //! Grows the rectangle to hold the point.
    void Union(const KRPoint2d& point);
};

//! Pixel rectangle; rows may count up (top >= bottom) or down.
class KR_COMMON_API KRRect2i {
public:
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    KRRect2i() = default;
    KRRect2i(int l, int t, int r, int b) : left(l), top(t), right(r), bottom(b) {}

    int AbsWidth() const;  //!< |right - left|
    int AbsHeight() const; //!< |top - bottom|
};

//! Bounding box of a raster, in source units or in degrees.
class KR_COMMON_API KRGeoBBox {
public:
    KRGeoBBox() = default;
    explicit KRGeoBBox(const KRRect2d& bounds) : m_bounds(bounds) {}

    const KRRect2d& GetGeoBounds() const;
    void SetGeoBounds(const KRRect2d& bounds);

    //! Limits the box to longitudes -180..180 and latitudes -90..90.
    void ClampToLatLonRange();

private:
    KRRect2d m_bounds;
};

class KR_COMMON_API KRMath {
public:
    //! WGS84 bounds of tile (x, y) at `level` of the global tiling: level L has
    //! 2^(L+1) columns counted east from -180 and 2^L rows counted south from +90,
    //! each tile 180 / 2^L degrees square.
    static void CalcTileBounds(KRRect2d& rect, int x, int y, int level);
};

} // namespace KRC
