#pragma once
// Helpers of the terrain tests: destination grids, the host's tile rectangles
// worked out by hand, a walk over a grid's samples, and an independent
// lon/lat-to-projected transformation to compute expected values with.

#include <cmath>
#include <memory>

#include <ogr_spatialref.h>

#include "KRGeometry.h"
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

} // namespace krtest
