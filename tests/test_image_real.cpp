// Image tiles of real rasters compared with GDAL's own warp of the same WGS84
// rectangle: bilinear for geographic sources, nearest for projected ones.
// The accessor's geometry (pixel positions over W - 1 steps, windows read
// through GDAL's decimation) differs from GDAL's by up to half a pixel, so
// the comparison bounds the difference instead of asking for equality; a
// shifted, mirrored or channel-swapped tile exceeds those bounds by far.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gdal_utils.h>
#include <gtest/gtest.h>

#include "KRImageTestSupport.h"
#include "KRTerrainTestSupport.h"
#include "KRTestSupport.h"

using namespace KRC;
using namespace krtest;

namespace {

std::string RealFile(const std::string& name)
{
    return std::string(KR_REAL_DATA_DIR) + "/" + name;
}

//! GDAL's warp of `source` onto the tile's pixel positions (pixel i at left +
//! i x width / 255, row 0 south as in the host's images), with an alpha band.
GDALDatasetUniquePtr WarpTile(const std::string& source, const KRRect2d& rect, int size, const char* resampling)
{
    const double sx = rect.Width() / (size - 1), sy = rect.Height() / (size - 1);
    CPLStringList args;
    for (const std::string& a :
         {std::string("-of"), std::string("MEM"), std::string("-t_srs"), std::string("EPSG:4326"), std::string("-te"),
          std::to_string(rect.left - sx / 2), std::to_string(rect.bottom - sy / 2), std::to_string(rect.right + sx / 2),
          std::to_string(rect.top + sy / 2), std::string("-ts"), std::to_string(size), std::to_string(size),
          std::string("-r"), std::string(resampling), std::string("-dstalpha")})
        args.AddString(a.c_str());
    GDALWarpAppOptions* options = GDALWarpAppOptionsNew(args.List(), nullptr);
    GDALDatasetH src = GDALOpen(source.c_str(), GA_ReadOnly);
    GDALDatasetH out = GDALWarp("", nullptr, 1, &src, options, nullptr);
    GDALWarpAppOptionsFree(options);
    GDALClose(src);
    return GDALDatasetUniquePtr(GDALDataset::FromHandle(out));
}

//! Byte of band b (1-based) of the warp at our pixel (c, r counted from the south).
struct Warped {
    std::vector<std::vector<unsigned char>> bands;
    int size = 0;
    int At(int b, int c, int r) const
    {
        return bands[static_cast<size_t>(b - 1)][static_cast<size_t>((size - 1 - r) * size + c)];
    }
};

Warped ReadWarp(GDALDataset& ds)
{
    Warped w;
    w.size = ds.GetRasterXSize();
    for (int b = 1; b <= ds.GetRasterCount(); ++b) {
        std::vector<unsigned char> data(static_cast<size_t>(w.size) * w.size);
        const CPLErr ignored = ds.GetRasterBand(b)->RasterIO(GF_Read, 0, 0, w.size, w.size, data.data(), w.size, w.size,
                                                             GDT_Byte, 0, 0, nullptr);
        (void)ignored;
        w.bands.push_back(std::move(data));
    }
    return w;
}

struct Difference {
    double mean = 0;
    int max = 0;
    int compared = 0;
    int exact = 0;
};

//! Byte differences over pixels opaque in both, band b going to byte `byteOf[b - 1]`.
Difference Compare(const KRImageData& image, const Warped& warp, int bands, const int* byteOf, bool mirror = false)
{
    Difference d;
    long long sum = 0;
    const int alphaBand = static_cast<int>(warp.bands.size());
    for (int r = 0; r < warp.size; ++r) {
        for (int c = 0; c < warp.size; ++c) {
            const unsigned char* px = PixelAt(image, c, mirror ? warp.size - 1 - r : r);
            if ((image.GetPixelSize() == 4 && px[3] == 0) || warp.At(alphaBand, c, r) == 0)
                continue;
            int worst = 0;
            for (int b = 1; b <= bands; ++b)
                worst = std::max(worst, std::abs(px[byteOf[b - 1]] - warp.At(b, c, r)));
            sum += worst;
            d.max = std::max(d.max, worst);
            d.exact += worst == 0;
            ++d.compared;
        }
    }
    d.mean = d.compared > 0 ? double(sum) / d.compared : 0;
    return d;
}

class RealImageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::is_directory(KR_REAL_DATA_DIR))
            GTEST_SKIP() << "no real-world rasters at " << KR_REAL_DATA_DIR;
        GDALAllRegister();
    }
    std::unique_ptr<KRImageData> Tile(int x, int y, int level)
    {
        KRImageData* tile = nullptr;
        EXPECT_EQ(m_p.FetchImageData(tile, x, y, level), GetchResult_Delivered) << x << " " << y << " " << level;
        return std::unique_ptr<KRImageData>(tile);
    }
    void Report(const char* name, const Difference& d)
    {
        std::printf("%s: mean byte difference %.2f, largest %d, exact %.1f%% of %d pixels\n", name, d.mean, d.max,
                    100.0 * d.exact / std::max(d.compared, 1), d.compared);
        RecordProperty(std::string(name) + ".mean", std::to_string(d.mean));
    }
    KRGORasterAccessorPlugin m_p;
};

constexpr int kBgr[3] = {2, 1, 0}; // band 1 in byte 2: the default band order

// UTM with a nodata collar: transparent where GDAL has no data, colours close to GDAL's nearest samples.
TEST_F(RealImageTest, ProjectedRgbMatchesGdalNearestAndHidesTheCollar)
{
    const std::string path = RealFile("rasterio/RGB.byte.tif");
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    // Level 7 straddles the collar and is read decimated; level 9 lies inside, read at full size.
    for (const auto& [x, y, level] : {std::tuple(72, 46, 7), std::tuple(290, 186, 9)}) {
        auto tile = Tile(x, y, level);
        ASSERT_TRUE(tile);
        GDALDatasetUniquePtr warp = WarpTile(path, TileRect(x, y, level), 256, "near");
        ASSERT_TRUE(warp);
        const Warped w = ReadWarp(*warp);
        const Difference d = Compare(*tile, w, 3, kBgr);
        Report(("RGB.byte level " + std::to_string(level)).c_str(), d);
        EXPECT_GT(d.compared, 10000);
        EXPECT_LT(d.mean, level == 9 ? 12 : 25);
        EXPECT_GT(Compare(*tile, w, 3, kBgr, true).mean, 2 * d.mean); // a mirrored tile is far worse
        const int swapped[3] = {0, 1, 2};
        EXPECT_GT(Compare(*tile, w, 3, swapped).mean, 2 * d.mean);

        if (level == 9) {
            EXPECT_EQ(tile->GetPixelFormat(), PF_R8G8B8); // nothing transparent: folded back into the RGB tile
            continue;
        }
        // Transparent in both outside the collar, up to a pixel's rim of the geometry difference.
        ASSERT_EQ(tile->GetPixelFormat(), PF_A8R8G8B8);
        int ourClear = 0, bothClear = 0;
        for (int r = 0; r < 256; ++r) {
            for (int c = 0; c < 256; ++c) {
                const bool clear = PixelAt(*tile, c, r)[3] == 0;
                ourClear += clear;
                bothClear += clear && w.At(4, c, r) == 0;
            }
        }
        EXPECT_GT(ourClear, 1000);
        EXPECT_GT(bothClear, ourClear * 0.97) << bothClear << " of " << ourClear;
    }
}

// A palette band: every opaque pixel is one of the colour table's entries, red, green, blue.
TEST_F(RealImageTest, PaletteTileUsesOnlyTheColourTable)
{
    const std::string path = RealFile("rio-tiler/cog_cmap.tif");
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER));
    const GDALColorTable* table = ds->GetRasterBand(1)->GetColorTable();
    ASSERT_TRUE(table);
    const auto [x, y] = TileAt(-79.42, 39.85, 12);
    auto tile = Tile(x, y, 12);
    ASSERT_TRUE(tile);
    int opaque = 0, inTable = 0;
    for (int r = 0; r < 256; ++r) {
        for (int c = 0; c < 256; ++c) {
            const unsigned char* px = PixelAt(*tile, c, r);
            if (tile->GetPixelSize() == 4 && px[3] == 0)
                continue;
            ++opaque;
            for (int i = 0; i < table->GetColorEntryCount(); ++i) {
                const GDALColorEntry* e = table->GetColorEntry(i);
                if (px[0] == e->c3 && px[1] == e->c2 && px[2] == e->c1) {
                    ++inTable;
                    break;
                }
            }
        }
    }
    EXPECT_GT(opaque, 1000);
    EXPECT_EQ(inTable, opaque);
}

// A whole-world grey band without palette: its value is the packed colour, so it lands in byte 0.
TEST_F(RealImageTest, WorldTilesFollowGdalBilinearAtLevelsZeroToTwo)
{
    const std::string path = RealFile("rasterio/world.byte.tif");
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    const int byteOf[1] = {0};
    for (int level = 0; level <= 2; ++level) {
        for (int x = 0; x < (2 << level); ++x) {
            for (int y = 0; y < (1 << level); ++y) {
                const KRRect2d rect = TileRect(x, y, level);
                if (rect.bottom >= 75 || rect.top <= -75)
                    continue; // beyond the raster's latitudes
                auto tile = Tile(x, y, level);
                ASSERT_TRUE(tile);
                GDALDatasetUniquePtr warp = WarpTile(path, rect, 256, "bilinear");
                const Warped w = ReadWarp(*warp);
                const Difference d = Compare(*tile, w, 1, byteOf);
                if (x == 0 && y == 0)
                    Report(("world.byte level " + std::to_string(level)).c_str(), d);
                EXPECT_LT(d.mean, 20) << x << " " << y << " " << level;
            }
        }
    }
}

} // namespace
