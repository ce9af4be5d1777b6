// Elevation grids: one plane from every kind of source (GeoTIFFs geographic,
// south-up and UTM; NSDTF-DEM grids positional, keyed, in degrees and in metres)
// fetched inside, over an edge, beside the raster and as tiles; nodata and flip
// (shared tile edges: the accurate-mode tests).
#include <algorithm>

#include "KRFetchTestSupport.h"

using namespace KRC;
using namespace krtest;

namespace {

// In fractional pixel indices (column, row from the south): bilinear sampling
// of a window read at full size reproduces it exactly.
double Plane(double c, double r) { return 2 * c + 3 * r + 100; }

enum Kind { kTiff, kDem, kKeyedDem };

// northUp: for NSDTF-DEM, rows from the north; hole: the 3 x 3 pixels of the south-east corner, a GeoTIFF's
// nodata when finite.
struct Source {
    const char* name;
    Kind kind;
    int epsg;
    bool northUp;
    GDALDataType type;
    double hole;
} const kSources[] = {
    {"GeoTIFF, Float64, NaN", kTiff, 4326, true, GDT_Float64, NAN},
    {"GeoTIFF, south-up, Int16, nodata", kTiff, 4326, false, GDT_Int16, -500},
    {"GeoTIFF, UTM, Float32, infinity", kTiff, 32633, true, GDT_Float32, INFINITY},
    {"NSDTF-DEM, degrees", kDem, 4326, true, GDT_Float32, -9999},
    {"NSDTF-DEM 2007, degrees, rows from the south, Hzoom 10", kKeyedDem, 4326, false, GDT_Float32, -99999},
    {"NSDTF-DEM, metres, rows from the south", kDem, 32633, false, GDT_Float32, -9999},
};

//! 17 pixels of 1/8 degree from lon 10, lat 50, or 21 of 1 km from (500, 4500) km in UTM 33N.
PlaneRaster Geometry(int epsg, bool northUp = true, GDALDataType type = GDT_Float64)
{
    const bool geo = epsg == 4326;
    PlaneRaster g;
    g.epsg = epsg, g.bands = 1, g.northUp = northUp, g.type = type;
    g.size = geo ? 17 : 21, g.step = geo ? 0.125 : 1000, g.west = geo ? 10 : 500000, g.north = geo ? 50 : 4500000;
    return g;
}

class TerrainTest : public AccessorTest {
protected:
    std::unique_ptr<KRTerrainData> Fetch(const KRRect2d& rect, bool flip = false)
    {
        auto grid = SessionGrid(33, 33, 0.0, RDF_Float64);
        EXPECT_EQ(m_p.FetchTerrainData(grid.get(), rect, flip), GetchResult_Delivered);
        return grid;
    }

    //! Checks a grid over `rect` (row 0 south) against the source, mirrored north-south when flipped:
    //! the plane; 0 in the hole and more than a pixel off the raster; unchecked within a pixel of either.
    //! Returns how many samples were checked against the plane.
    int Check(const KRTerrainData& grid, const KRRect2d& rect, bool flip)
    {
        const int w = grid.GetWidth(), h = grid.GetHeight(), last = m_g.size - 1;
        int planar = 0, wrong = 0;
        for (int i = 0; i < w * h; ++i) {
            double x = rect.left + i % w * rect.Width() / (w - 1), y = rect.bottom + i / w * rect.Height() / (h - 1);
            if (m_prj)
                m_prj->Forward(x, y);
            const double c = m_g.Column(x), r = flip ? last - m_g.Row(y) : m_g.Row(y);
            const double off = std::max({-c, c - last, -r, r - last});
            const bool hole = c > last - 2 + 1e-6 && r < 2 - 1e-6, nearHole = c > last - 3 - 1e-6 && r < 3 + 1e-6;
            const double want = off > 1 || (hole && off <= 0) ? 0.0 : off > 0 || nearHole ? NAN : Plane(c, r);
            const double v = grid.GetValue(i / w, i % w);
            planar += want > 0;
            if (!(std::isfinite(v) && (std::isnan(want) || std::fabs(v - want) <= 1e-4)) && ++wrong <= 3)
                ADD_FAILURE() << "row " << i / w << ", column " << i % w << ": " << v << ", expected " << want;
        }
        return planar;
    }

    PlaneRaster m_g;
    std::unique_ptr<Projector> m_prj;
};

TEST_F(TerrainTest, EverySourceFollowsThePlane)
{
    for (const Source& s : kSources) {
        SCOPED_TRACE(s.name);
        m_g = Geometry(s.epsg, s.northUp, s.type);
        const int last = m_g.size - 1;
        m_g.value = [&s, last](int, double c, double r) { return c >= last - 2 && r <= 2 ? s.hole : Plane(c, r); };
        m_g.noData.assign(s.kind == kTiff && std::isfinite(s.hole), s.hole);
        m_prj.reset(s.epsg == 4326 ? nullptr : new Projector(s.epsg));
        const std::string path = NewFile(s.kind == kTiff ? ".tif" : ".dem");
        if (s.kind != kTiff)
            WriteText(path, DemText(m_g, s.kind == kKeyedDem, s.hole));
        ASSERT_TRUE((s.kind != kTiff || WriteRaster(path, m_g.Layout())) && m_p.OpenForRead(path.c_str()));
        if (s.kind != kTiff && m_prj) { // a grid in metres serves nothing until its system is known
            EXPECT_EQ(FetchTerrainTile(m_p, 0, 0, 0), nullptr);
            ASSERT_TRUE(m_p.ImportProjectionRefFromProj4("+proj=utm +zone=33 +datum=WGS84 +units=m"));
        }
        // Inside (reaching into the hole), over the north-west corner, and with the east side a pixel or one and a
        // half inside the raster's (where the window's margin ends on or just past its edge); flipped or not.
        for (const KRRect2d& rect :
             {m_g.Rect(0.3, 0.03, 0.97, 0.7, m_prj.get()), m_g.Rect(-0.4, 0.5, 0.5, 1.4, m_prj.get()),
              m_g.Rect(0.3, 0.3, (last - 1.0) / last, 0.7, m_prj.get()),
              m_g.Rect(0.3, 0.3, (last - 1.5) / last, 0.7, m_prj.get())})
            for (const bool flip : {false, true})
                EXPECT_GT(Check(*Fetch(rect, flip), rect, flip), 200) << flip;
        const auto untouched = SessionGrid(5, 5, 7.0);
        EXPECT_TRUE(m_p.FetchTerrainData(untouched.get(), {20, 10, 21, 9}, false) == GetchResult_None &&
                    untouched->GetValue(2, 2) == 7.0); // beside the raster: nothing, the grid untouched
        // The tile holding the middle: the plane, and the same as a fetch of its bounds.
        const KRRect2d mid = m_g.Rect(0.5, 0.5, 0.5, 0.5, m_prj.get());
        const int level = s.epsg == 4326 ? 7 : 9;
        const auto at = TileAt(mid.left, mid.top, level);
        auto tile = FetchTerrainTile(m_p, at.first, at.second, level);
        ASSERT_NE(tile, nullptr);
        const KRRect2d bounds = TileRect(at.first, at.second, level);
        EXPECT_GT(Check(*tile, bounds, false), 100);
        auto same = Fetch(bounds);
        for (int i = 0; i < 33 * 33; ++i)
            ASSERT_NEAR(tile->GetValue(i / 33, i % 33), same->GetValue(i / 33, i % 33), 1e-4) << i;
    }
}

} // namespace
