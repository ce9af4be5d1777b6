// Elevation grids from GDAL rasters: geographic and projected sources, edges,
// nodata, the tile entry point, band types, seams between tiles and threads.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "KRPluginProbe.h"
#include "KRTerrainTestSupport.h"
#include "KRTestSupport.h"

using KRC::KRRect2d;
using KRC::KRTerrainData;
using krtest::ExpectSamples;
using krtest::FetchTile;
using krtest::MakeGrid;
using krtest::PlaneOverBox;
using Probe = KRC::KRGORasterAccessorPluginProbe;

namespace {

constexpr KRC::GetchResult kNone = KRC::GetchResult_None;
constexpr KRC::GetchResult kDelivered = KRC::GetchResult_Delivered;

class TerrainTest : public ::testing::Test {
protected:
    void SetUp() override { krtest::RegisterGdal(); }
    bool Open(const krtest::RasterSpec& layout, const char* name = "dem.tif")
    {
        return krtest::WriteRaster(m_dir.File(name), layout) && m_p.OpenForRead(m_dir.File(name).c_str());
    }
    std::unique_ptr<KRTerrainData> Fetch(const KRRect2d& rect, int size, bool flip = false)
    {
        auto dst = MakeGrid(size, size);
        EXPECT_EQ(m_p.FetchTerrainData(dst.get(), rect, flip), kDelivered);
        return dst;
    }
    krtest::TempDir m_dir;
    KRC::KRGORasterAccessorPlugin m_p;
};

// A 16 x 16 raster over lon 10..12, lat 48..50. The accessor puts pixel i at the
// west (south) edge plus i x 2/15 degrees; values on a plane there are
// reproduced exactly by bilinear sampling of a window read at full size.
constexpr double kStep = 2.0 / 15.0;
const KRRect2d kGeoBox(10, 50, 12, 48);
double GeoPlane(double lon, double lat)
{
    return 2.0 * lon + 3.0 * lat + 1.0;
}

krtest::RasterSpec GeoRaster(bool northUpTransform = true, bool rowsFromNorth = true)
{
    krtest::RasterSpec layout;
    layout.width = layout.height = 16;
    layout.type = GDT_Float64;
    layout.geoTransform = {10, 0.125, 0, northUpTransform ? 50.0 : 48.0, 0, northUpTransform ? -0.125 : 0.125};
    layout.wkt = krtest::WktOfEpsg(4326);
    layout.value = [rowsFromNorth](int, int c, int r) {
        return GeoPlane(10 + c * kStep, rowsFromNorth ? 50 - r * kStep : 48 + r * kStep);
    };
    return layout;
}

// North-up and south-up rasters, one with a positive pixel height but rows from
// the north, flipped or not; inside (the second smaller than a pixel), then past
// every edge, past the west and north, past the east and south: samples follow
// the plane, mirrored when the row order the accessor assumes is not the file's,
// and stay 0 beyond.
TEST_F(TerrainTest, GeographicFollowsPlaneAndStaysZeroBeyond)
{
    const struct {
        bool northUpTransform, rowsFromNorth, flip, mirrored;
    } cases[] = {{true, true, false, false},
                 {false, false, false, false},
                 {false, true, true, false},
                 {true, true, true, true},
                 {false, false, true, true}};
    for (const auto& tc : cases) {
        SCOPED_TRACE(&tc - cases);
        ASSERT_TRUE(
            Open(GeoRaster(tc.northUpTransform, tc.rowsFromNorth), (std::to_string(&tc - cases) + ".tif").c_str()));
        const auto plane = [&](double lon, double lat) { return GeoPlane(lon, tc.mirrored ? 98 - lat : lat); };
        for (const KRRect2d& rect : {KRRect2d(10.3, 49.9, 11.7, 48.2), KRRect2d(11.01, 49.013, 11.02, 49.004),
                                     KRRect2d(9, 51, 13, 47), KRRect2d(8, 52, 12, 48), KRRect2d(11, 50.5, 15, 46.5)})
            ExpectSamples(*Fetch(rect, 33, tc.flip), rect, 1e-9, PlaneOverBox(kGeoBox, 0, plane));
    }
}

// Nothing without a raster or wholly outside it. Tile (135, 28) of level 7 (lon
// 9.84375..11.25, lat 49.21875..50.625) reaches past the west and north edges;
// the first sample past an edge is clamped onto it.
TEST_F(TerrainTest, OutsideAndTileEntryPoint)
{
    auto dst = MakeGrid(5, 5);
    EXPECT_EQ(m_p.FetchTerrainData(dst.get(), KRRect2d(-180, 90, 180, -90), false), kNone);
    EXPECT_EQ(FetchTile(m_p, 0, 0, 0), nullptr);
    ASSERT_TRUE(Open(GeoRaster()));
    dst->SetValue(12, 7.0);
    EXPECT_EQ(m_p.FetchTerrainData(dst.get(), KRRect2d(20, 10, 21, 9), false), kNone);
    EXPECT_EQ(dst->GetValue(2, 2), 7.0); // untouched
    EXPECT_EQ(m_p.FetchTerrainData(nullptr, kGeoBox, false), kNone);
    EXPECT_EQ(FetchTile(m_p, 0, 0, 3), nullptr);
    auto tile = FetchTile(m_p, 135, 28, 7);
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->GetWidth() * 100 + tile->GetHeight(), 3333);
    EXPECT_EQ(tile->GetDataFormat(), KRC::RDF_Float32);
    const KRRect2d rect = krtest::TileRect(135, 28, 7);
    EXPECT_GT(ExpectSamples(*tile, rect, 1e-4, PlaneOverBox(kGeoBox, 1.40625 / 32, GeoPlane)), 100);
}

// Nodata (-500) in the north-west corner, NaN in the north-east, infinity in the
// south-east; a sample every half pixel.
TEST_F(TerrainTest, NoDataNanAndInfinityBecomeZero)
{
    krtest::RasterSpec layout = GeoRaster();
    layout.noData = {-500.0};
    const auto plane = layout.value;
    layout.value = [plane](int b, int c, int r) {
        if (r <= 4 && c <= 4)
            return -500.0;
        if (c >= 11 && (r <= 4 || r >= 11))
            return r <= 4 ? std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::infinity();
        return plane(b, c, r);
    };
    ASSERT_TRUE(Open(layout));
    ExpectSamples(*Fetch(kGeoBox, 31), kGeoBox, 1e-9, [](double lon, double lat) {
        const double col = std::round((lon - 10) / kStep * 2) / 2, row = std::round((50 - lat) / kStep * 2) / 2;
        if ((row <= 4 && (col <= 4 || col > 10)) || (row > 10 && col > 10))
            return 0.0;
        return row >= 6 && row <= 9 ? GeoPlane(lon, lat) : std::nan("");
    });
}

// Band types: the grid format of each, and the raw sample reader.
struct BandTypeCase {
    GDALDataType type;
    KRC::enumRasterDataFromat format;
    std::vector<unsigned char> element; //!< one sample, little-endian
    double value;                       //!< what GetBandDataValue reads from it
};
class BandType : public TerrainTest, public ::testing::WithParamInterface<BandTypeCase> {};

TEST_P(BandType, GridFormatAndRawSample)
{
    const BandTypeCase& tc = GetParam();
    krtest::RasterSpec layout = GeoRaster();
    layout.type = tc.type;
    ASSERT_TRUE(Open(layout));
    std::unique_ptr<KRTerrainData> grid(Probe::CreateBandRasterData(m_p, 3, 2));
    EXPECT_EQ(grid ? grid->GetDataFormat() : KRC::RDF_None, tc.format);
    auto dst = MakeGrid(5, 5);
    EXPECT_EQ(m_p.FetchTerrainData(dst.get(), KRRect2d(10.5, 49.5, 11.5, 48.5), false),
              tc.format == KRC::RDF_None ? kNone : kDelivered);
    // Element (row 1, column 2) of a buffer 3 elements wide.
    std::vector<unsigned char> buffer(tc.element.size() * 8, 0xAB);
    std::memcpy(buffer.data() + tc.element.size() * 5, tc.element.data(), tc.element.size());
    EXPECT_EQ(Probe::GetBandDataValue(m_p, buffer.data(), 3, 1, 2), tc.value);
}

INSTANTIATE_TEST_SUITE_P(
    Terrain, BandType,
    ::testing::Values(BandTypeCase{GDT_Byte, KRC::RDF_UInt8, {0xC8}, 200.0},
                      BandTypeCase{GDT_Int16, KRC::RDF_Int16, {0xFB, 0xFF}, -5.0},
                      BandTypeCase{GDT_UInt32, KRC::RDF_UInt32, {0xFF, 0xFF, 0xFF, 0xFF}, 4294967295.0},
                      BandTypeCase{GDT_Float32, KRC::RDF_Float32, {0x00, 0x00, 0xC0, 0x3F}, 1.5},
                      BandTypeCase{GDT_CInt16, KRC::RDF_Int32, {0xFF, 0xFF, 0x00, 0x00}, 65535.0},
                      BandTypeCase{GDT_CInt32, KRC::RDF_Int64, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, -2.0},
                      BandTypeCase{GDT_CFloat32, KRC::RDF_Float64, {0, 0, 0, 0, 0, 0, 0xF8, 0x3F}, 1.5},
                      BandTypeCase{GDT_CFloat64, KRC::RDF_None, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}, 0.0}),
    [](const auto& info) { return std::string(GDALGetDataTypeName(info.param.type)); });

// Projected: UTM 33N, 20 x 20 pixels of 1 km from (500, 4480) to (520, 4500) km,
// values on a plane at the accessor's pixel positions (edges plus k x 20 km / 19).
constexpr double kUtmStep = 20000.0 / 19.0;
double UtmPlane(double e, double n)
{
    return (e - 500000) / 1000 + 2 * (n - 4480000) / 1000 + 100;
}

TEST_F(TerrainTest, ProjectedRequestsAndTile)
{
    krtest::Projector utm(32633);
    ASSERT_TRUE(utm.Ok());
    krtest::RasterSpec layout;
    layout.width = layout.height = 20;
    layout.type = GDT_Float64;
    layout.geoTransform = {500000, 1000, 0, 4500000, 0, -1000};
    layout.wkt = krtest::WktOfEpsg(32633);
    layout.value = [](int, int c, int r) { return UtmPlane(500000 + c * kUtmStep, 4500000 - r * kUtmStep); };
    ASSERT_TRUE(Open(layout));
    ASSERT_EQ(Probe::m_nProjType(m_p), 2);
    const auto expected = PlaneOverBox(KRRect2d(500000, 4500000, 520000, 4480000), kUtmStep, UtmPlane, &utm);
    const KRC::KRPoint2d mid = utm.Inverse(510000, 4490000);
    // Inside, then past the north-east corner, then a level 9 tile (about 30 x 39 km) around all of it.
    for (const KRRect2d& rect : {KRRect2d(mid.x - 0.05, mid.y + 0.04, mid.x + 0.05, mid.y - 0.04),
                                 KRRect2d(mid.x + 0.05, mid.y + 0.15, mid.x + 0.2, mid.y + 0.05)})
        EXPECT_GT(ExpectSamples(*Fetch(rect, 17), rect, 1e-6, expected), 10);
    const auto at = krtest::TileAt(mid.x, mid.y, 9);
    auto tile = FetchTile(m_p, at.first, at.second, 9);
    ASSERT_NE(tile, nullptr);
    EXPECT_GT(ExpectSamples(*tile, krtest::TileRect(at.first, at.second, 9), 1e-4, expected), 10);
}

// Seams and threads over a bumpy surface; `frequency` scales pixel indices into
// its argument: the surface's detail per pixel.
krtest::RasterSpec BumpyRaster(bool projected, int size, double pixel, double frequency)
{
    krtest::RasterSpec layout;
    layout.width = layout.height = size;
    layout.geoTransform = projected ? std::vector<double>{500000, pixel, 0, 4500000, 0, -pixel}
                                    : std::vector<double>{10, pixel, 0, 50, 0, -pixel};
    layout.wkt = krtest::WktOfEpsg(projected ? 32633 : 4326);
    layout.value = [frequency](int, int c, int r) {
        const double x = c * frequency, y = r * frequency;
        return 0.5 * std::sin(x * 7.3) * std::cos(y * 5.1) + 0.25 * std::sin(x * 1.7 + y * 3.1);
    };
    return layout;
}

using Block = std::vector<std::vector<float>>; //!< 4 x 4 tiles' samples, tile rows counting south

//! The 4 x 4 tiles of a level from the one holding (lon, lat); empty ones missing.
Block FetchBlock(KRC::KRGORasterAccessorPlugin& p, double lon, double lat, int level)
{
    const auto at = krtest::TileAt(lon, lat, level);
    Block block;
    for (int t = 0; t < 16; ++t) {
        auto tile = FetchTile(p, at.first + t % 4, at.second + t / 4, level);
        const float* data = tile ? static_cast<const float*>(tile->GetData()) : nullptr;
        block.emplace_back(data, data != nullptr ? data + 33 * 33 : nullptr);
    }
    return block;
}

//! The largest gap between each tile's east column and its east neighbour's west
//! column, and its north row (row 32) and the south row of the one above.
double LargestSeam(const Block& block)
{
    double gap = 0;
    for (int t = 0; t < 16; ++t) {
        if (block[t].size() != 33 * 33)
            return HUGE_VAL;
        for (int k = 0; k < 33; ++k) {
            if (t % 4 < 3)
                gap = std::max<double>(gap, std::fabs(block[t][k * 33 + 32] - block[t + 1][k * 33]));
            if (t >= 4)
                gap = std::max<double>(gap, std::fabs(block[t][32 * 33 + k] - block[t - 4][k]));
        }
    }
    return gap;
}

// Windows read at full size (a level 10 tile is about 22 pixels of 0.01 degree;
// a level 12 tile about 20 x 25 pixels of 250 m) give identical shared edges;
// several host threads fetching projected tiles from one object at once get
// what one thread gets.
TEST_F(TerrainTest, TilesShareEdgesAcrossThreads)
{
    ASSERT_TRUE(Open(BumpyRaster(false, 200, 0.01, 0.01)));
    EXPECT_LE(LargestSeam(FetchBlock(m_p, 10.2, 49.8, 10)), 1e-6);
    ASSERT_TRUE(Open(BumpyRaster(true, 100, 250.0, 0.013), "utm.tif"));
    const KRC::KRPoint2d at = krtest::Projector(32633).Inverse(505000, 4495000);
    const Block serial = FetchBlock(m_p, at.x, at.y, 12);
    ASSERT_LE(LargestSeam(serial), 1e-6);
    std::vector<Block> results(4);
    std::vector<std::thread> threads;
    for (Block& result : results)
        threads.emplace_back([&] {
            for (int round = 0; round < 3; ++round)
                result = FetchBlock(m_p, at.x, at.y, 12);
        });
    for (std::thread& t : threads)
        t.join();
    for (const Block& result : results)
        EXPECT_EQ(result, serial);
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
        const auto first = krtest::TileAt(b.left, b.top, level), last = krtest::TileAt(b.right, b.bottom, level);
        int values = 0;
        for (int y = first.second; y <= last.second; ++y) {
            for (int x = first.first; x <= last.first; ++x) {
                auto tile = FetchTile(m_p, x, y, level);
                ASSERT_NE(tile, nullptr) << x << "," << y;
                for (int i = 0; i < 33 * 33; ++i) {
                    const double v = tile->GetValue(i / 33, i % 33);
                    values += v != 0.0;
                    ASSERT_TRUE(v == 0.0 || (v >= min - 1e-3 && v <= max + 1e-3)) << v << " in " << path;
                }
            }
        }
        EXPECT_EQ(values > 500, max > min) << values << " in " << path;
    }
}

} // namespace
