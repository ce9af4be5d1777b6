#pragma once
// Terrain test helpers: grids, the host's tiles worked out by hand, lon/lat projection.

#include <cmath>
#include <memory>
#include <utility>

#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include "KRGeometry.h"
#include "KRRasterDataAccessor.h"
#include "KRTerrainData.h"

namespace krtest {

inline std::unique_ptr<KRC::KRTerrainData> MakeGrid(int width, int height)
{
    auto grid = std::make_unique<KRC::KRTerrainData>(KRC::KRTerrainData::Structure());
    grid->SetWidth(width), grid->SetHeight(height);
    grid->SetDataFormat(KRC::RDF_Float64);
    return grid->CreateData() ? std::move(grid) : nullptr;
}

//! The host's tiling: tiles 180 / 2^level degrees square, columns east from -180, rows south from +90.
inline KRC::KRRect2d TileRect(int x, int y, int level)
{
    const double side = 180.0 / std::ldexp(1.0, level);
    return KRC::KRRect2d(-180.0 + x * side, 90.0 - y * side, -180.0 + (x + 1) * side, 90.0 - (y + 1) * side);
}

//! The tile {x, y} of a level holding (lon, lat).
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

//! Lon/lat (longitude first) to and from a projected system, with OGR.
class Projector {
public:
    explicit Projector(int epsg)
    {
        m_geo.importFromEPSG(4326);
        m_prj.importFromEPSG(epsg);
        m_geo.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        m_prj.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        m_forward.reset(OGRCreateCoordinateTransformation(&m_geo, &m_prj));
        m_inverse.reset(OGRCreateCoordinateTransformation(&m_prj, &m_geo));
    }
    void Forward(double& x, double& y) { m_forward->Transform(1, &x, &y); }
    KRC::KRPoint2d Inverse(double x, double y) { return m_inverse->Transform(1, &x, &y), KRC::KRPoint2d(x, y); }

private:
    OGRSpatialReference m_geo, m_prj;
    std::unique_ptr<OGRCoordinateTransformation> m_forward, m_inverse;
};

//! A grid of `value` everywhere, to tell samples a fetch wrote from those it left.
inline std::unique_ptr<KRC::KRTerrainData> FilledGrid(int width, int height, double value)
{
    auto grid = MakeGrid(width, height);
    for (int i = 0; grid != nullptr && i < width * height; ++i)
        grid->SetValue(i, value);
    return grid;
}

} // namespace krtest
