// Elevation grids from GDAL rasters: sources, edges, nodata, tiles, band types, seams, threads.
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "KRPluginProbe.h"
#include "KRTerrainTestSupport.h"
#include "KRTestSupport.h"

using namespace KRC;
using namespace krtest;
using Probe = KRGORasterAccessorPluginProbe;

namespace {

using Layout = krtest::RasterLayout;

//! A square raster (north-up when pixelY < 0) of value(x, y) at the positions the accessor gives
//! pixels: the edge plus i x the extent / (size - 1).
template <class F>
Layout Raster(int epsg, int size, double west, double top, double pixelY, F value, GDALDataType type = GDT_Float64)
{
    Layout layout;
    layout.width = layout.height = size;
    layout.type = type;
    layout.geoTransform = {west, std::fabs(pixelY), 0, top, 0, pixelY};
    layout.wkt = WktOfEpsg(epsg);
    const double step = size * pixelY / (size - 1);
    layout.value = [=](int, int c, int r) { return value(west + c * std::fabs(step), top + r * step); };
    return layout;
}

// 16 x 16 pixels over lon 10..12, lat 48..50, on a plane; bilinear sampling of a
// window read at full size reproduces the plane exactly.
constexpr double kStep = 2.0 / 15.0;
const KRRect2d kGeoBox(10, 50, 12, 48);
const auto GeoPlane = [](double lon, double lat) { return 2.0 * lon + 3.0 * lat + 1.0; };
Layout GeoRaster(bool northUp = true, GDALDataType type = GDT_Float64)
{
    return Raster(4326, 16, 10, northUp ? 50 : 48, northUp ? -0.125 : 0.125, GeoPlane, type);
}

class TerrainTest : public ::testing::Test {
protected:
    void SetUp() override { GDALAllRegister(); }
    bool Open(const Layout& layout, const std::string& name = "dem.tif")
    {
        return WriteRaster(m_dir.File(name), layout) && m_p.OpenForRead(m_dir.File(name).c_str());
    }
    std::unique_ptr<KRTerrainData> Fetch(const KRRect2d& rect, int size, bool flip = false)
    {
        auto dst = MakeGrid(size, size);
        EXPECT_EQ(m_p.FetchTerrainData(dst.get(), rect, flip), GetchResult_Delivered);
        return dst;
    }
    TempDir m_dir;
    KRGORasterAccessorPlugin m_p;
};

// North-up and south-up, flipped (mirrored north-south) or not; inside, inside
// one pixel, past every edge: the plane, and 0 beyond.
TEST_F(TerrainTest, GeographicFollowsPlaneAndStaysZeroBeyond)
{
    for (int k = 0; k < 4; ++k) {
        const bool northUp = k & 1, flip = k & 2;
        SCOPED_TRACE(k);
        ASSERT_TRUE(Open(GeoRaster(northUp), std::to_string(k) + ".tif"));
        const auto plane = [&](double lon, double lat) { return GeoPlane(lon, flip ? 98 - lat : lat); };
        for (const KRRect2d& rect :
             {KRRect2d(10.3, 49.9, 11.7, 48.2), KRRect2d(11.01, 49.013, 11.02, 49.004), KRRect2d(9, 51, 13, 47)})
            ExpectSamples(*Fetch(rect, 33, flip), rect, 1e-9, PlaneOverBox(kGeoBox, 0, plane));
    }
}

// Nothing without a raster or wholly outside it. Tile (135, 28) of level 7 (lon
// 9.84375..11.25, lat 49.21875..50.625) reaches past the west and north edges.
TEST_F(TerrainTest, OutsideAndTileEntryPoint)
{
    auto dst = MakeGrid(5, 5);
    EXPECT_EQ(m_p.FetchTerrainData(dst.get(), KRRect2d(-180, 90, 180, -90), false), GetchResult_None);
    EXPECT_EQ(FetchTile(m_p, 0, 0, 0), nullptr);
    ASSERT_TRUE(Open(GeoRaster()));
    dst->SetValue(12, 7.0);
    EXPECT_EQ(m_p.FetchTerrainData(dst.get(), KRRect2d(20, 10, 21, 9), false), GetchResult_None);
    EXPECT_EQ(dst->GetValue(2, 2), 7.0); // untouched
    EXPECT_EQ(m_p.FetchTerrainData(nullptr, kGeoBox, false), GetchResult_None);
    EXPECT_EQ(FetchTile(m_p, 0, 0, 3), nullptr);
    auto tile = FetchTile(m_p, 135, 28, 7);
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->GetWidth() * 100 + tile->GetHeight(), 3333);
    EXPECT_EQ(tile->GetDataFormat(), RDF_Float32);
    EXPECT_GT(ExpectSamples(*tile, TileRect(135, 28, 7), 1e-4, PlaneOverBox(kGeoBox, 1.40625 / 32, GeoPlane)), 100);
}

// Nodata (-500) in the north-west corner, NaN in the north-east, infinity in the
// south-east; a sample every half pixel.
TEST_F(TerrainTest, NoDataNanAndInfinityBecomeZero)
{
    Layout layout = GeoRaster();
    layout.noData = {-500.0};
    layout.value = [plane = layout.value](int b, int c, int r) {
        return c < 11 || (r > 4 && r < 11) ? (r <= 4 && c <= 4 ? -500.0 : plane(b, c, r)) : r <= 4 ? NAN : INFINITY;
    };
    ASSERT_TRUE(Open(layout));
    ExpectSamples(*Fetch(kGeoBox, 31), kGeoBox, 1e-9, [](double lon, double lat) {
        const double col = std::round((lon - 10) / kStep * 2) / 2, row = std::round((50 - lat) / kStep * 2) / 2;
        if ((row <= 4 && (col <= 4 || col > 10)) || (row > 10 && col > 10))
            return 0.0;
        return row >= 6 && row <= 9 ? GeoPlane(lon, lat) : std::nan("");
    });
}

// Band types: the grid format of each, and the raw sample reader on element
// (row 1, column 2) of a buffer 3 elements wide.
TEST_F(TerrainTest, BandTypesGridFormatAndRawSample)
{
    const struct {
        GDALDataType type;
        enumRasterDataFromat format;
        std::vector<unsigned char> element; //!< little-endian
        double value;
    } cases[] = {
        {GDT_Byte, RDF_UInt8, {0xC8}, 200.0},
        {GDT_Int16, RDF_Int16, {0xFB, 0xFF}, -5.0},
        {GDT_UInt32, RDF_UInt32, {0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0},
        {GDT_Float32, RDF_Float32, {0x00, 0x00, 0xC0, 0x3F}, 1.5},
        {GDT_CInt16, RDF_Int32, {0xFF, 0xFF, 0x00, 0x00}, 65535.0},
        {GDT_CInt32, RDF_Int64, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, -2.0},
        {GDT_CFloat32, RDF_Float64, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}, 1.5},
        {GDT_CFloat64, RDF_None, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}, 0.0},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(GDALGetDataTypeName(tc.type));
        ASSERT_TRUE(Open(GeoRaster(true, tc.type), std::string(GDALGetDataTypeName(tc.type)) + ".tif"));
        std::unique_ptr<KRTerrainData> grid(Probe::CreateBandRasterData(m_p, 3, 2));
        EXPECT_EQ(grid ? grid->GetDataFormat() : RDF_None, tc.format);
        auto dst = MakeGrid(5, 5);
        EXPECT_EQ(m_p.FetchTerrainData(dst.get(), KRRect2d(10.5, 49.5, 11.5, 48.5), false),
                  tc.format == RDF_None ? GetchResult_None : GetchResult_Delivered);
        std::vector<unsigned char> buffer(tc.element.size() * 8, 0xAB);
        std::memcpy(buffer.data() + tc.element.size() * 5, tc.element.data(), tc.element.size());
        EXPECT_EQ(Probe::GetBandDataValue(m_p, buffer.data(), 3, 1, 2), tc.value);
    }
}

// UTM 33N, 20 x 20 pixels of 1 km from (500, 4480) to (520, 4500) km on a plane: inside,
// past the north-east corner, and a level 9 tile (about 30 x 39 km) around all of it.
TEST_F(TerrainTest, ProjectedRequestsAndTile)
{
    const auto plane = [](double e, double n) { return (e - 500000) / 1000 + 2 * (n - 4480000) / 1000 + 100; };
    Projector utm(32633);
    ASSERT_TRUE(utm.Ok());
    ASSERT_TRUE(Open(Raster(32633, 20, 500000, 4500000, -1000, plane)));
    ASSERT_EQ(Probe::m_nProjType(m_p), 2);
    const auto expected = PlaneOverBox(KRRect2d(500000, 4500000, 520000, 4480000), 1000, plane, &utm);
    const KRPoint2d mid = utm.Inverse(510000, 4490000);
    for (const KRRect2d& rect : {KRRect2d(mid.x - 0.05, mid.y + 0.04, mid.x + 0.05, mid.y - 0.04),
                                 KRRect2d(mid.x + 0.05, mid.y + 0.15, mid.x + 0.2, mid.y + 0.05)})
        EXPECT_GT(ExpectSamples(*Fetch(rect, 17), rect, 1e-6, expected), 10);
    const auto at = TileAt(mid.x, mid.y, 9);
    auto tile = FetchTile(m_p, at.first, at.second, 9);
    ASSERT_NE(tile, nullptr);
    EXPECT_GT(ExpectSamples(*tile, TileRect(at.first, at.second, 9), 1e-4, expected), 10);
}

//! A bumpy surface for seams and threads, f scaling coordinates.
const auto Bumpy = [](double f) {
    return [f](double x, double y) { return std::sin(7 * f * x) * std::cos(5 * f * y); };
};

//! Samples on shared edges (east column vs. the east tile's west one, row 32 vs. row 0 of the tile north)
//! more than 1e-6 apart.
int SeamGaps(const Block& block)
{
    int gaps = 0;
    for (int i = 0; i < 16 * 33; ++i) {
        const int t = i / 33, k = i % 33;
        gaps += t % 4 < 3 && !(std::fabs(block[t * 1089 + k * 33 + 32] - block[(t + 1) * 1089 + k * 33]) <= 1e-6);
        gaps += t >= 4 && !(std::fabs(block[t * 1089 + 32 * 33 + k] - block[(t - 4) * 1089 + k]) <= 1e-6);
    }
    return gaps;
}

// Windows read at full size (a level 10 tile is about 22 pixels of 0.01 degree;
// a level 12 tile about 20 x 25 pixels of 250 m) give identical shared edges.
TEST_F(TerrainTest, TilesShareEdges)
{
    ASSERT_TRUE(Open(Raster(4326, 200, 10, 50, -0.01, Bumpy(1))));
    EXPECT_EQ(SeamGaps(FetchBlock(m_p, 10.2, 49.8, 10)), 0);
    ASSERT_TRUE(Open(Raster(32633, 100, 500000, 4500000, -250, Bumpy(5.2e-5)), "utm.tif"));
    const KRPoint2d at = Projector(32633).Inverse(505000, 4495000);
    EXPECT_EQ(SeamGaps(FetchBlock(m_p, at.x, at.y, 12)), 0);
}

// Real rasters (skipped when absent): every tile over them holds 0 (nodata or
// outside) or an elevation within the data's range.
TEST_F(TerrainTest, RealTilesHoldZeroOrElevations)
{
    const std::tuple<const char*, double, double, int> cases[] = // file, range, level: a few dozen tiles at most
        {{"terra/elev.tif", 141, 547, 9},
         {"terra/elev_vinschgau.tif", 388, 3863, 9}, // UTM, float, nodata
         {"pysheds/dem.tif", 147, 298, 11},          // Int16
         {"rio-tiler/inverted_lat.tif", 0, 0, 1}};   // south-up, all nodata
    for (const auto& [file, min, max, level] : cases) {
        const std::string path = std::string(KR_REAL_DATA_DIR) + "/" + file;
        if (!std::filesystem::exists(path))
            GTEST_SKIP() << "real data absent: " << path;
        ASSERT_TRUE(m_p.OpenForRead(path.c_str())) << path;
        const KRRect2d b = Probe::m_latLonBounds(m_p).GetGeoBounds();
        const auto first = TileAt(b.left, b.top, level), last = TileAt(b.right, b.bottom, level);
        int values = 0;
        for (int y = first.second; y <= last.second; ++y)
            for (int x = first.first; x <= last.first; ++x) {
                auto tile = FetchTile(m_p, x, y, level);
                ASSERT_NE(tile, nullptr) << x << "," << y;
                for (int i = 0; i < 33 * 33; ++i) {
                    const double v = tile->GetValue(i / 33, i % 33);
                    values += v != 0.0;
                    ASSERT_TRUE(v == 0.0 || (v >= min - 1e-3 && v <= max + 1e-3)) << v << " in " << path;
                }
            }
        EXPECT_EQ(values > 500, max > min) << values << " in " << path;
    }
}

} // namespace
