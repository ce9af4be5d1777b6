#pragma once
// Helpers of the terrain tests: destination grids, the host's tile rectangles
// worked out by hand, a walk over a grid's samples, and an independent
// lon/lat-to-projected transformation to compute expected values with.

#include <cmath>
#include <memory>
#include <utility>

#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include "KRGeometry.h"
#include "KRRasterDataAccessor.h"
#include "KRTerrainData.h"

namespace krtest {

inline std::unique_ptr<KRC::KRTerrainData> MakeGrid(int width, int height,
                                                    KRC::enumRasterDataFromat format = KRC::RDF_Float64)
{
    auto grid = std::make_unique<KRC::KRTerrainData>(KRC::KRTerrainData::Structure());
    grid->SetWidth(width);
    grid->SetHeight(height);
    grid->SetDataFormat(format);
    return grid->CreateData() ? std::move(grid) : nullptr;
}

//! A tile of the host's tiling from its definition: 180 / 2^level degrees
//! square, columns east from -180, rows south from +90.
inline KRC::KRRect2d TileRect(int x, int y, int level)
{
    const double side = 180.0 / std::ldexp(1.0, level);
    return KRC::KRRect2d(-180.0 + x * side, 90.0 - y * side, -180.0 + (x + 1) * side, 90.0 - (y + 1) * side);
}

//! Calls f(row, col, lon, lat, value) for every sample; row 0 is the south edge.
template <class F> void ForEachSample(const KRC::KRTerrainData& grid, const KRC::KRRect2d& rect, F&& f)
{
    const int w = grid.GetWidth();
    const int h = grid.GetHeight();
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c)
            f(r, c, rect.left + c * (rect.right - rect.left) / (w - 1),
              rect.bottom + r * (rect.top - rect.bottom) / (h - 1), grid.GetValue(r, c));
    }
}

//! Checks every sample is finite and near expected(lon, lat); a NaN
//! expectation leaves the value unchecked. Returns how many were non-zero expectations.
template <class F>
int ExpectSamples(const KRC::KRTerrainData& grid, const KRC::KRRect2d& rect, double tolerance, F&& expected)
{
    int nonZero = 0;
    ForEachSample(grid, rect, [&](int r, int c, double lon, double lat, double v) {
        const double e = expected(lon, lat);
        EXPECT_TRUE(std::isfinite(v)) << "row " << r << ", column " << c;
        if (!std::isnan(e)) {
            EXPECT_NEAR(v, e, tolerance) << "row " << r << ", column " << c;
        }
        nonZero += !std::isnan(e) && e != 0.0;
    });
    return nonZero;
}

//! The tile of the host's tiling at a level holding (lon, lat): {x, y}.
inline std::pair<int, int> TileAt(double lon, double lat, int level)
{
    const double side = 180.0 / std::ldexp(1.0, level);
    return {static_cast<int>((lon + 180) / side), static_cast<int>((90 - lat) / side)};
}

//! The tile entry point: the tile, or null with GetchResult_None.
inline std::unique_ptr<KRC::KRTerrainData> FetchTile(KRC::KRRasterDataAccessor& p, int x, int y, int level)
{
    KRC::KRTerrainData* tile = nullptr;
    const KRC::GetchResult result = p.FetchTerrainData(tile, x, y, level);
    EXPECT_EQ(result, tile != nullptr ? KRC::GetchResult_Delivered : KRC::GetchResult_None);
    return std::unique_ptr<KRC::KRTerrainData>(tile);
}

//! Lon/lat (longitude first) to and from a projected system.
class Projector {
public:
    explicit Projector(int epsg)
    {
        m_geo.importFromEPSG(4326);
        m_geo.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        m_prj.importFromEPSG(epsg);
        m_prj.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        m_forward.reset(OGRCreateCoordinateTransformation(&m_geo, &m_prj));
        m_inverse.reset(OGRCreateCoordinateTransformation(&m_prj, &m_geo));
    }
    bool Ok() const { return m_forward && m_inverse; }
    void Forward(double& x, double& y) { m_forward->Transform(1, &x, &y); }
    KRC::KRPoint2d Inverse(double x, double y)
    {
        m_inverse->Transform(1, &x, &y);
        return KRC::KRPoint2d(x, y);
    }

private:
    OGRSpatialReference m_geo;
    OGRSpatialReference m_prj;
    std::unique_ptr<OGRCoordinateTransformation> m_forward;
    std::unique_ptr<OGRCoordinateTransformation> m_inverse;
};

//! An expectation for ExpectSamples: plane(x, y) over box (in the source's
//! units, reached through prj when given), 0 farther than margin beyond it,
//! unchecked in between.
template <class F> auto PlaneOverBox(const KRC::KRRect2d& box, double margin, F plane, Projector* prj = nullptr)
{
    return [=](double x, double y) {
        if (prj != nullptr)
            prj->Forward(x, y);
        if (x >= box.left && x <= box.right && y >= box.bottom && y <= box.top)
            return plane(x, y);
        const bool beyond =
            x < box.left - margin || x > box.right + margin || y < box.bottom - margin || y > box.top + margin;
        return beyond ? 0.0 : std::nan("");
    };
}

} // namespace krtest
