// Image tiles of real rasters against GDAL's warp of the same tile. The accessor
// puts pixel i of a raster n pixels wide at its west edge plus i x width / (n - 1);
// GDAL warps a copy whose pixel centres lie there, so at full resolution both
// sample the same places: which pixel, which band in which byte, which rows are
// north, and what is nodata are then GDAL's answers, and a shift of half a pixel
// already shows.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <cpl_string.h>
#include <gdal_utils.h>
#include <gtest/gtest.h>

#include "KRFetchTestSupport.h"

using namespace KRC;

namespace {

//! The tile against GDAL's warp onto its pixels (pixel i at left + i x width / 255): pixels opaque in both, those
//! whose bytes (band b in byte `byteOf[b - 1]`) are GDAL's values truncated as the accessor truncates, those where
//! GDAL's first band is below 1, and pixels transparent in one only.
struct Agreement {
    int compared = 0, same = 0, belowOne = 0, alphaDiffers = 0;
};

class RealImageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::is_directory(KR_REAL_DATA_DIR))
            GTEST_SKIP() << "no real-world rasters at " << KR_REAL_DATA_DIR;
    }
    Agreement Compare(const std::string& name, int x, int y, int level, const char* resampling, const int* byteOf)
    {
        const std::string path = std::string(KR_REAL_DATA_DIR) + "/" + name;
        KRImageData* fetched = nullptr;
        EXPECT_TRUE(m_p.OpenForRead(path.c_str()));
        EXPECT_EQ(m_p.FetchImageData(fetched, x, y, level), GetchResult_Delivered) << x << " " << y << " " << level;
        const std::unique_ptr<KRImageData> tile(fetched);

        GDALDatasetUniquePtr src(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER));
        GDALDatasetUniquePtr copy(GetGDALDriverManager()->GetDriverByName("VRT")->CreateCopy(
            "", src.get(), FALSE, nullptr, nullptr, nullptr));
        double gt[6];
        src->GetGeoTransform(gt);
        const int w = src->GetRasterXSize(), h = src->GetRasterYSize();
        const double sx = gt[1] * w / (w - 1), sy = gt[5] * h / (h - 1);
        double centres[6] = {gt[0] - sx / 2, sx, 0, gt[3] - sy / 2, 0, sy};
        copy->SetGeoTransform(centres);
        const KRRect2d rect = krtest::TileRect(x, y, level);
        const double px = rect.Width() / 255, py = rect.Height() / 255;
        CPLStringList args(
            CSLTokenizeString(CPLSPrintf(
                "-of MEM -ot Float32 -t_srs EPSG:4326 -et 0 -r %s -dstalpha -ts 256 256 -te %.17g %.17g %.17g %.17g",
                resampling, rect.left - px / 2, rect.bottom - py / 2, rect.right + px / 2, rect.top + py / 2)),
            TRUE);
        GDALWarpAppOptions* options = GDALWarpAppOptionsNew(args.List(), nullptr);
        GDALDatasetH handle = GDALDataset::ToHandle(copy.get());
        GDALDatasetUniquePtr out(GDALDataset::FromHandle(GDALWarp("", nullptr, 1, &handle, options, nullptr)));
        GDALWarpAppOptionsFree(options);
        const int bands = out ? out->GetRasterCount() - 1 : 0; // the last is alpha
        std::vector<double> warp(256 * 256 * static_cast<size_t>(bands + 1));
        // band by band, a negative line spacing putting the southern row first, as in the tile
        EXPECT_TRUE(tile && bands > 0 &&
                    out->RasterIO(GF_Read, 0, 0, 256, 256, warp.data() + 255 * 256, 256, 256, GDT_Float64, bands + 1,
                                  nullptr, 8, -256 * 8, 256 * 256 * 8, nullptr) == CE_None);
        Agreement a;
        for (int i = 0; tile && bands > 0 && i < 256 * 256; ++i) {
            const unsigned char* pixel = krtest::PixelAt(*tile, i % 256, i / 256);
            const bool ourClear = tile->GetPixelSize() == 4 && pixel[3] == 0, gdalClear = warp[bands * 65536 + i] == 0;
            a.alphaDiffers += ourClear != gdalClear;
            if (ourClear || gdalClear)
                continue;
            bool same = true;
            for (int b = 0; b < bands; ++b)
                same = same && pixel[byteOf[b]] == static_cast<int>(warp[b * 65536 + i]);
            ++a.compared;
            a.same += same;
            a.belowOne += warp[i] < 1;
        }
        return a;
    }
    KRGORasterAccessorPlugin m_p;
};

// UTM with a nodata collar over half the tile, sampled nearest: GDAL's colours
// exactly, red in byte 2 (the default band order), transparent where GDAL has no data.
TEST_F(RealImageTest, ProjectedRgbMatchesGdalNearestAndHidesTheCollar)
{
    const int bgr[3] = {2, 1, 0};
    const Agreement a = Compare("rasterio/RGB.byte.tif", 290, 188, 9, "near", bgr);
    EXPECT_TRUE(a.compared > 30000 && a.compared < 35000) << a.compared;
    EXPECT_TRUE(a.same == a.compared && a.alphaDiffers == 0) << a.same << ", alpha " << a.alphaDiffers;
}

// A whole-world land mask of 0 and 1 without palette, sampled bilinearly: its
// value is the packed colour, so it lands in byte 0, and only where all four
// neighbours are land does it stay 1. Tiles of level 3 read the raster at full
// size; columns 0 and 15 meet at the date line, rows 0 and 7 pass its 75 N and S.
TEST_F(RealImageTest, WorldTilesFollowGdalBilinear)
{
    const int byte0[1] = {0};
    int compared = 0, belowOne = 0;
    for (int x = 0; x < 16; x += 5) {
        for (int y = 0; y < 8; ++y) {
            const Agreement a = Compare("rasterio/world.byte.tif", x, y, 3, "bilinear", byte0);
            EXPECT_TRUE(a.compared >= 22016 && a.same == a.compared && a.alphaDiffers == 0)
                << x << " " << y << ": " << a.same << " of " << a.compared << ", alpha " << a.alphaDiffers;
            compared += a.compared;
            belowOne += a.belowOne;
        }
    }
    EXPECT_TRUE(belowOne > compared / 10 && belowOne < compared * 9 / 10) << belowOne << " of " << compared;
}

} // namespace
