// Raster output: WGS84 GeoTIFF creation, sample writing by output type, the
// replaced dataset, and reprojection checked against GDAL's own warp.
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <cpl_string.h>
#include <gdal_priv.h>
#include <gdal_utils.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include "KRPluginProbe.h"
#include "KRTestSupport.h"

using namespace KRC;

namespace {

GDALDatasetUniquePtr OpenWithGdal(const std::string& path)
{
    return GDALDatasetUniquePtr(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER));
}

std::vector<double> ReadBand(GDALDataset& ds, int band)
{
    const int w = ds.GetRasterXSize(), h = ds.GetRasterYSize();
    std::vector<double> values(static_cast<size_t>(w) * static_cast<size_t>(h));
    EXPECT_EQ(ds.GetRasterBand(band)->RasterIO(GF_Read, 0, 0, w, h, values.data(), w, h, GDT_Float64, 0, 0, nullptr),
              CE_None);
    return values;
}

//! The dataset's reference is `epsg` (datasets read longitude first whatever the reference says).
void ExpectReference(GDALDataset& ds, int epsg)
{
    const char* const ignoreAxes[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES", nullptr};
    OGRSpatialReference srs;
    srs.importFromEPSG(epsg);
    ASSERT_NE(ds.GetSpatialRef(), nullptr);
    EXPECT_TRUE(ds.GetSpatialRef()->IsSame(&srs, ignoreAxes));
}

int OpenDatasetCount()
{
    GDALDatasetH* list = nullptr;
    int count = 0;
    GDALGetOpenDatasets(&list, &count);
    return count;
}

// Writing into a 4 x 2 raster at (120, 31), 0.5 degrees a pixel, in a folder
// that does not exist yet; reprojecting a geographic raster over lon 7..9,
// lat 46..47.5 and a UTM 32N raster over the same area, both of a smooth,
// nowhere-zero surface.
class OutputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        krtest::RasterLayout geo{
            40, 30, 1, GDT_Float32, {7.0, 0.05, 0, 47.5, 0, -0.05}, krtest::WktOfEpsg(4326), {}, [](int, int c, int r) {
                return 100.0 + 3.0 * c + 2.0 * r + 0.1 * c * r;
            }};
        ASSERT_TRUE(krtest::WriteRaster(m_dir.File("geo.tif"), geo));
        krtest::RasterLayout utm = geo;
        utm.geoTransform = {350000, 4000, 0, 5260000, 0, -4000};
        utm.wkt = krtest::WktOfEpsg(32632);
        ASSERT_TRUE(krtest::WriteRaster(m_dir.File("utm.tif"), utm));
    }
    bool Create(int bands, GDALDataType type, bool compress = false)
    {
        return m_p.CreateRasterFile(m_path.c_str(), 4, 2, 0.5, 120.0, 31.0, bands, type, compress);
    }
    //! Closes the accessor's file and opens it with GDAL.
    GDALDatasetUniquePtr Written()
    {
        m_p.Close();
        return OpenWithGdal(m_path);
    }
    //! Our output against gdalwarp of the same source to the same grid, bilinear and exact.
    static void ExpectMatchesGdalWarp(const std::string& source, const std::string& output, int targetEpsg)
    {
        GDALDatasetUniquePtr ours = OpenWithGdal(output), src = OpenWithGdal(source);
        ASSERT_TRUE(ours && src);
        EXPECT_STREQ(ours->GetDriver()->GetDescription(), "GTiff");
        ExpectReference(*ours, targetEpsg);
        double gt[6];
        ASSERT_EQ(ours->GetGeoTransform(gt), CE_None);
        const int w = ours->GetRasterXSize(), h = ours->GetRasterYSize();
        CPLStringList args(CSLTokenizeString(CPLSPrintf(
                               "-of MEM -t_srs EPSG:%d -r bilinear -et 0 -te %.17g %.17g %.17g %.17g -ts %d %d",
                               targetEpsg, gt[0], gt[3] + h * gt[5], gt[0] + w * gt[1], gt[3], w, h)),
                           TRUE);
        GDALWarpAppOptions* options = GDALWarpAppOptionsNew(args.List(), nullptr);
        GDALDatasetH handle = GDALDataset::ToHandle(src.get());
        GDALDatasetUniquePtr same(GDALDataset::FromHandle(GDALWarp("", nullptr, 1, &handle, options, nullptr)));
        GDALWarpAppOptionsFree(options);
        ASSERT_TRUE(same);
        const std::vector<double> got = ReadBand(*ours, 1), want = ReadBand(*same, 1);
        int covered = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(got[i], want[i], 1e-3) << "pixel " << i;
            covered += want[i] != 0.0;
        }
        EXPECT_GT(covered, static_cast<int>(got.size()) / 3);
    }

    bool Reproject(const std::string& source, const std::string& dst, const std::string& text, int kind,
                   GDALProgressFunc progress = nullptr, void* user = nullptr)
    {
        return m_p.OpenForRead(m_dir.File(source).c_str()) &&
               m_p.ReprojectImage(m_dir.File(dst).c_str(), text.c_str(), kind, progress, user);
    }

    krtest::TempDir m_dir;
    std::string m_path = m_dir.File("new/folder/out.tif");
    KRGORasterAccessorPlugin m_p;
};

// Samples go to the last band. Int16 truncates toward zero and wraps around;
// NaN and values beyond 32 bits give 0. Other types get the floats converted
// by GDAL (Byte: rounded, clamped). The file spans lon 120..122,
// lat 30..31 in WGS84.
TEST_F(OutputTest, CreatesWgs84GeoTiffsAndWritesTheLastBandByOutputType)
{
    const struct {
        GDALDataType type;
        std::vector<float> samples; //!< a 3 x 2 block at column 1, row 0
        std::vector<double> band;   //!< read back; column 0 unwritten
    } cases[] = {
        {GDT_Int16, {-3.9f, 3.9f, 32768.0f, 40000.0f, -32769.0f, 65541.0f}, {0, -3, 3, -32768, 0, -25536, 32767, 5}},
        {GDT_Int16, {NAN, 1e10f, -1e10f, 0.5f, -0.5f, 65535.0f}, {0, 0, 0, 0, 0, 0, 0, -1}},
        {GDT_Byte, {-5.0f, 3.6f, 300.0f, 7.0f, 0.4f, 254.5f}, {0, 0, 4, 255, 0, 7, 0, 255}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(GDALGetDataTypeName(tc.type));
        ASSERT_TRUE(Create(3, tc.type));
        std::vector<float> samples = tc.samples;
        ASSERT_TRUE(m_p.WriteRasterFile(1, 0, 3, 2, samples.data()));
        GDALDatasetUniquePtr ds = Written();
        ASSERT_TRUE(ds && ds->GetRasterXSize() == 4 && ds->GetRasterYSize() == 2);
        double gt[6];
        ASSERT_EQ(ds->GetGeoTransform(gt), CE_None);
        krtest::ExpectRectNear(KRRect2d(gt[0], gt[3], gt[0] + 4 * gt[1], gt[3] + 2 * gt[5]),
                               KRRect2d(120.0, 31.0, 122.0, 30.0), 1e-12);
        ExpectReference(*ds, 4326);
        EXPECT_EQ(ds->GetRasterBand(1)->GetRasterDataType(), tc.type);
        EXPECT_EQ(ds->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE"), nullptr);
        EXPECT_EQ(ReadBand(*ds, 3), tc.band);
        EXPECT_EQ(ReadBand(*ds, 1), std::vector<double>(8, 0.0));
    }
    ASSERT_TRUE(Create(3, GDT_Byte, true));
    GDALDatasetUniquePtr ds = Written();
    ASSERT_TRUE(ds);
    EXPECT_STREQ(ds->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE"), "JPEG");
}

// A window GDAL refuses writes nothing, and the call still succeeds; only a
// missing band (nothing created) or missing samples fail.
TEST_F(OutputTest, WindowsOffTheRasterWriteNothing)
{
    std::vector<float> samples(64, 7.0f);
    EXPECT_FALSE(m_p.WriteRasterFile(0, 0, 1, 1, samples.data()));
    ASSERT_TRUE(Create(1, GDT_Int16));
    const int windows[][4] = {{3, 1, 2, 2}, {0, 0, 0, 0}, {-1, 0, 2, 2}, {0, 0, 5, 1}, {0, 2, 1, 1}};
    for (const auto& w : windows)
        EXPECT_TRUE(m_p.WriteRasterFile(w[0], w[1], w[2], w[3], samples.data())) << w[0] << " " << w[2];
    EXPECT_FALSE(m_p.WriteRasterFile(0, 0, 1, 1, nullptr));
    GDALDatasetUniquePtr ds = Written();
    ASSERT_TRUE(ds);
    EXPECT_EQ(ReadBand(*ds, 1), std::vector<double>(8, 0.0));
}

// The dataset open before is closed, not leaked; a missing GeoTIFF driver
// changes nothing.
TEST_F(OutputTest, ReplacesTheOpenDatasetAndFailsCleanly)
{
    const int before = OpenDatasetCount();
    ASSERT_TRUE(m_p.OpenForRead(m_dir.File("utm.tif").c_str()));
    ASSERT_TRUE(Create(1, GDT_Int16));
    EXPECT_EQ(OpenDatasetCount(), before + 1);
    // Only the dataset and its band change: the coordinate system, its
    // transformations and the open state stay the previous raster's.
    EXPECT_EQ(m_p.GetProjType(), 2);
    EXPECT_TRUE(KRGORasterAccessorPluginProbe::m_bOpened(m_p));
    double x = 9.0, y = 47.0;
    m_p.LatLonToProPnt(x, y, x, y);
    EXPECT_NEAR(x, 500000.0, 1e-6); // 9 E is zone 32's central meridian
    KRPixelDataMultiBand pixels(1, 1, 1, RDF_Int16, false, 0.0, 0.0);
    EXPECT_FALSE(m_p.ReadPixels(pixels, 0, 0, 0, 0, false)); // no current band until BeginRead

    GDALDriverManager* drivers = GetGDALDriverManager();
    GDALDriver* gtiff = drivers->GetDriverByName("GTiff");
    drivers->DeregisterDriver(gtiff);
    const bool created = m_p.CreateRasterFile(m_dir.File("other.tif").c_str(), 4, 2, 0.5, 120, 31, 1, GDT_Int16, false);
    drivers->RegisterDriver(gtiff);
    EXPECT_FALSE(created);
    std::vector<float> samples(8, 1.0f);
    EXPECT_TRUE(m_p.WriteRasterFile(0, 0, 4, 2, samples.data()));
    GDALDatasetUniquePtr ds = Written();
    ASSERT_TRUE(ds);
    EXPECT_EQ(ReadBand(*ds, 1), std::vector<double>(8, 1.0));
    ds.reset();
    EXPECT_EQ(OpenDatasetCount(), before);
}

// Every kind of target definition; ".TIF" and ".img" both end up as GeoTIFF
// (GDAL knows no driver named "img" and falls back to GeoTIFF).
TEST_F(OutputTest, EveryKindOfTargetMatchesGdalWarp)
{
    const std::string esri = krtest::WktOfEpsg(32632, true);
    krtest::WriteText(m_dir.File("utm32.prj"), esri);
    const struct {
        const char* source;
        const char* dst;
        std::string text;
        int kind;
        int epsg;
    } cases[] = {
        {"utm.tif", "to4326.tif", "4326", 4, 4326},
        {"geo.tif", "proj4.TIF", "+proj=utm +zone=32 +datum=WGS84 +units=m +no_defs", 0, 32632},
        {"geo.tif", "prj.img", m_dir.File("utm32.prj"), 1, 32632},
        {"geo.tif", "esri.tiff", esri, 2, 32632},
        {"utm.tif", "wkt.tif", krtest::WktOfEpsg(3857), 3, 3857},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.dst);
        ASSERT_TRUE(Reproject(tc.source, tc.dst, tc.text, tc.kind));
        ExpectMatchesGdalWarp(m_dir.File(tc.source), m_dir.File(tc.dst), tc.epsg);
    }
    EXPECT_FALSE(Reproject("geo.tif", "out.png", "4326", 4)); // PNG cannot be created
    m_p.Close();
    EXPECT_FALSE(m_p.ReprojectImage(m_dir.File("closed.tif").c_str(), "4326", 4, nullptr, nullptr));
}

TEST_F(OutputTest, ProgressIsPassedThroughAndCanCancel)
{
    struct Log {
        int calls = 0, stopAt = -1; //!< cancel on call `stopAt`
        double last = -1.0;
    } log, cancel;
    const GDALProgressFunc count = [](double done, const char*, void* user) {
        auto* l = static_cast<Log*>(user);
        l->last = done;
        return int(++l->calls != l->stopAt);
    };
    ASSERT_TRUE(Reproject("geo.tif", "counted.tif", "32632", 4, count, &log));
    EXPECT_TRUE(log.calls > 1 && std::fabs(log.last - 1.0) < 1e-3) << log.calls << " " << log.last;
    cancel.stopAt = 1;
    EXPECT_FALSE(Reproject("geo.tif", "cancelled.tif", "32632", 4, count, &cancel));
    EXPECT_EQ(cancel.calls, 1);
}

// A real NAD27 UTM raster to WGS84 longitude and latitude.
TEST_F(OutputTest, RealRasterMatchesGdalWarp)
{
    const std::string source = std::string(KR_REAL_DATA_DIR) + "/rasterio/byte.tif";
    if (!std::filesystem::exists(source))
        GTEST_SKIP() << "no real-world data at " << KR_REAL_DATA_DIR;
    ASSERT_TRUE(m_p.OpenForRead(source.c_str()));
    ASSERT_TRUE(m_p.ReprojectImage(m_dir.File("byte4326.tif").c_str(), "4326", 4, nullptr, nullptr));
    ExpectMatchesGdalWarp(source, m_dir.File("byte4326.tif"), 4326);
}

} // namespace
