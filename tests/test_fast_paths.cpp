// The fast paths give the results of the exact per-sample procedure, byte for
// byte: image tiles and rectangles from projected rasters (UTM, Lambert
// conformal conic, polar stereographic around its pole) and a geographic one,
// with nodata, the filter colour, a palette, a 16-bit stretch, an alpha band,
// flip, band orders and accurate mode, fetched once as usual and once with
// GORA_REFERENCE_PATHS=YES; terrain tiles the same way; and the quick path over
// every sample type.
#include <algorithm>

#include <cpl_conv.h>

#include "KRFetchTestSupport.h"

using namespace KRC;
using namespace krtest;

namespace {

//! The result of an image fetch, then the bytes of the image it delivered: the tile `t` (x, y, level) when
//! `rect` is null, else a 200 x 150 image of `rect`.
std::vector<unsigned char> Fetched(KRRasterDataAccessor& p, const KRRect2d* rect, const int* t, bool flip, int* map)
{
    std::unique_ptr<KRImageData> image = rect ? MakeImage(200, 150, PF_R8G8B8) : nullptr, made;
    KRImageData* out = nullptr;
    const GetchResult result =
        rect ? p.FetchImageData(image.get(), out, *rect, map, flip) : p.FetchImageData(out, t[0], t[1], t[2]);
    (rect ? made : image).reset(out);
    const KRImageData* got = made ? made.get() : image.get();
    std::vector<unsigned char> bytes = {static_cast<unsigned char>(result)};
    if (got != nullptr && result == GetchResult_Delivered)
        bytes.insert(bytes.end(), got->m_pData, got->m_pData + got->GetDataBytes());
    return bytes;
}

using FastPathTest = AccessorTest;

TEST_F(FastPathTest, ImagesEqualTheReferenceProcedure)
{
    // Rasters of 300 x 300 pixels: their system, north-west corner and pixel size.
    const std::tuple<int, double, double, double> places[] = {
        {32632, 400000, 5200000, 30}, {2154, 650000, 6870000, 50}, {3413, -150000, 150000, 1000}, {4326, 7, 47, 0.001}};
    // The raster and the accessor's settings: name, bands, type, palette, filter colour, stretch type, accurate mode.
    const std::tuple<const char*, int, GDALDataType, bool, bool, int, bool> looks[] = {
        {"RGB, nodata 0", 3, GDT_Byte, false, false, 0, false},
        {"RGB, filter colour", 3, GDT_Byte, false, true, 0, false},
        {"palette", 1, GDT_Byte, true, false, 0, false},
        {"16-bit stretched", 3, GDT_UInt16, false, false, 1, false},
        {"four bands, the fourth alpha", 4, GDT_Byte, false, false, 0, false},
        {"RGB, nodata 0, accurate mode", 3, GDT_Byte, false, false, 0, true}};
    int orderMap[4] = {0, 1, 2, 3};
    int compared = 0;
    for (const auto& [epsg, west, north, pixel] : places) {
        for (const auto& [name, bands, type, palette, filter, stretch, accurate] : looks) {
            SCOPED_TRACE(testing::Message() << epsg << ", " << name);
            const double scale = type == GDT_UInt16 ? 40.0 : 1.0, classes = palette ? 16 : 251;
            const auto value = [=](int b, int c, int r) { return scale * std::fmod(7 * c + 13 * r + 50 * b, classes); };
            const std::vector<double> gt = {west, pixel, 0, north, 0, -pixel}; // every pixel unlike its neighbours
            const std::string path = NewFile();
            ASSERT_TRUE(WriteRaster(path, {300, 300, bands, type, gt, WktOfEpsg(epsg), {0, 0, 0}, value}));
            if (palette)
                AddPalette(path, 16, [](int i) {
                    return std::array<short, 3>{short(i * 15), short(255 - i * 9), short(i * i)};
                });
            KRGORasterAccessorPlugin p;
            p.SetStetchType(stretch);
            const CPLConfigOptionSetter mode("GORA_ACCURATE", accurate ? "YES" : "NO", false);
            ASSERT_TRUE(p.OpenForRead(path.c_str()));
            p.SetFilterColorUsed(filter);
            p.SetFilterColor(KRColor3(50 / 255.0f, 63 / 255.0f, 76 / 255.0f, 1)); // a colour the raster holds
            // Tiles of several levels at the middle and at two corners of the raster, and rectangles over it,
            // over its west edge, flipped and with another band order.
            const KRRect2d b = p.GetLatLonBounds().GetGeoBounds();
            std::vector<std::pair<KRPoint2d, int>> tiles;
            for (int level = 6; level <= 13; ++level)
                for (const KRPoint2d& point : {KRPoint2d((b.left + b.right) / 2, (b.top + b.bottom) / 2),
                                               KRPoint2d(b.left, b.top), KRPoint2d(b.right, b.bottom)})
                    tiles.emplace_back(point, level);
            const KRRect2d rects[] = {b, KRRect2d(b.left - b.Width() / 3, b.top, b.left + b.Width() / 2, b.bottom)};
            for (int k = 0; k < static_cast<int>(tiles.size() + 3 * std::size(rects)); ++k) {
                const bool isTile = k < static_cast<int>(tiles.size());
                const auto at = isTile ? TileAt(tiles[k].first.x, tiles[k].first.y, tiles[k].second) : std::pair{0, 0};
                const int tile[3] = {at.first, at.second, isTile ? tiles[k].second : 0};
                const int q = isTile ? 0 : k - static_cast<int>(tiles.size());
                const KRRect2d* rect = isTile ? nullptr : &rects[q / 3];
                std::vector<unsigned char> fetched[2];
                for (const bool exact : {false, true}) {
                    CPLSetConfigOption("GORA_REFERENCE_PATHS", exact ? "YES" : nullptr);
                    fetched[exact] = Fetched(p, rect, tile, q % 3 == 1, q % 3 == 2 ? orderMap : nullptr);
                }
                ASSERT_EQ(fetched[0], fetched[1]) << "request " << k;
                compared += fetched[0].size() > 1;
            }
        }
    }
    EXPECT_GT(compared, 150); // images delivered and compared
}

// Terrain tiles of geographic and UTM GeoTIFFs and NSDTF-DEM grids with nodata, in both modes, from levels
// where the window is reduced to full resolution: every sample as the host's own sampler gives it.
TEST_F(FastPathTest, TerrainEqualsTheReferenceProcedure)
{
    for (int k = 0; k < 8; ++k) {
        const bool dem = k & 1, geo = k & 2, accurate = k & 4;
        SCOPED_TRACE(testing::Message() << "NSDTF-DEM " << dem << ", geographic " << geo << ", accurate " << accurate);
        PlaneRaster g;
        g.epsg = geo ? 4326 : 32633, g.bands = 1, g.type = dem ? GDT_Float32 : GDT_Int16, g.size = 90;
        g.step = geo ? 0.01 : 300, g.west = geo ? 10 : 500000, g.north = geo ? 50 : 4500000, g.noData = {-9999};
        g.value = [](int, double c, double r) { return c < 9 && r < 9 ? -9999 : 700 + 90 * std::sin(c / 2 + r / 3); };
        const std::string path = NewFile(dem ? ".dem" : ".tif");
        ASSERT_TRUE(dem ? (WriteText(path, DemText(g, false, -9999)), true) : WriteRaster(path, g.Layout()));
        const CPLConfigOptionSetter mode("GORA_ACCURATE", accurate ? "YES" : "NO", false);
        KRGORasterAccessorPlugin p;
        ASSERT_TRUE(p.OpenForRead(path.c_str()));
        ASSERT_TRUE(geo || !dem || p.ImportProjectionRefFromProj4("+proj=utm +zone=33 +datum=WGS84 +units=m"));
        const KRRect2d b = p.GetLatLonBounds().GetGeoBounds();
        int compared = 0;
        for (int level = 5; level <= 12; ++level)
            for (const KRPoint2d& point :
                 {KRPoint2d((b.left + b.right) / 2, (b.top + b.bottom) / 2), KRPoint2d(b.left, b.bottom)}) {
                const auto at = TileAt(point.x, point.y, level);
                std::unique_ptr<KRTerrainData> tiles[2];
                for (const bool exact : {false, true}) {
                    CPLSetConfigOption("GORA_REFERENCE_PATHS", exact ? "YES" : nullptr);
                    tiles[exact] = FetchTerrainTile(p, at.first, at.second, level);
                }
                ASSERT_TRUE(tiles[0] && tiles[1]) << level;
                for (int i = 0; i < 33 * 33; ++i, ++compared)
                    ASSERT_EQ(tiles[0]->GetValue(i / 33, i % 33), tiles[1]->GetValue(i / 33, i % 33))
                        << level << " " << i;
            }
        EXPECT_GT(compared, 10000);
    }
}

} // namespace

namespace {

// Every sample type's bytes, inside the raster and over its west edge, flipped or not.
TEST_F(FastPathTest, QuickImagesEqualTheGeneralDecoding)
{
    for (GDALDataType type : {GDT_Byte, GDT_UInt16, GDT_Int16, GDT_UInt32, GDT_Int32, GDT_Float32, GDT_Float64,
                              GDT_CInt16, GDT_CInt32, GDT_CFloat32}) {
        SCOPED_TRACE(GDALGetDataTypeName(type));
        const auto value = [](int b, int c, int r) { return (1031.0 * c + 7919.0 * r + 104729.0 * b) * 0.37 - 3e4; };
        ASSERT_TRUE(WriteAndOpen(m_p, NewFile(), {64, 64, 3, type, {0, 1, 0, 64, 0, -1}, "", {}, value}));
        for (const KRRect2d& rect : {KRRect2d(3, 60, 50, 5), KRRect2d(-20, 40, 30, 10)}) {
            for (const bool flip : {false, true}) {
                std::vector<unsigned char> bytes[2];
                for (const bool reference : {false, true}) {
                    CPLSetConfigOption("GORA_REFERENCE_PATHS", reference ? "YES" : nullptr);
                    auto image = MakeImage(40, 30, PF_R8G8B8);
                    KRImageData* out = nullptr;
                    const GetchResult result = m_p.QucikFetchImageData(image.get(), out, rect, nullptr, flip);
                    const std::unique_ptr<KRImageData> made(out);
                    const KRImageData& got = made ? *made : *image;
                    bytes[reference] = {static_cast<unsigned char>(result)};
                    bytes[reference].insert(bytes[reference].end(), got.m_pData, got.m_pData + got.GetDataBytes());
                }
                EXPECT_EQ(bytes[0], bytes[1]) << rect.left << " " << flip;
                // CFloat32 samples read as one 64-bit float each come out 0 nearly everywhere.
                const auto set = std::count_if(bytes[0].begin(), bytes[0].end(), [](unsigned char v) { return v; });
                EXPECT_TRUE(set > 1000 || type == GDT_CFloat32) << set;
            }
        }
    }
}

} // namespace
