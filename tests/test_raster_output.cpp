// Raster output: WGS84 GeoTIFF creation, sample writing by output type, the
// replaced dataset, and reprojection checked against GDAL's own warp.
#include <cmath>
#include <cstdint>
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
using Probe = KRGORasterAccessorPluginProbe;

namespace {

GDALDatasetUniquePtr OpenWithGdal(const std::string& path)
{
    return GDALDatasetUniquePtr(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER));
}

std::vector<double> ReadBand(GDALDataset& ds, int band)
{
    std::vector<double> values(static_cast<size_t>(ds.GetRasterXSize()) * static_cast<size_t>(ds.GetRasterYSize()));
    EXPECT_EQ(ds.GetRasterBand(band)->RasterIO(GF_Read, 0, 0, ds.GetRasterXSize(), ds.GetRasterYSize(), values.data(),
                                               ds.GetRasterXSize(), ds.GetRasterYSize(), GDT_Float64, 0, 0, nullptr),
              CE_None);
    return values;
}

//! Datasets read longitude first whatever the reference says; compare the references only.
const char* const kIgnoreAxisMapping[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES", nullptr};

int OpenDatasetCount()
{
    GDALDatasetH* list = nullptr;
    int count = 0;
    GDALGetOpenDatasets(&list, &count);
    return count;
}

class RasterFileTest : public ::testing::Test {
protected:
    void SetUp() override { GDALAllRegister(); }
    //! A 4 x 2 raster of `bands` bands of `type` at (120, 31), 0.5 degrees a pixel.
    bool Create(int bands, GDALDataType type, bool compress = false)
    {
        return m_p.CreateRasterFile(m_path.c_str(), 4, 2, 0.5, 120.0, 31.0, bands, type, compress);
    }
    //! Closes the accessor's file and reads band `band` back with GDAL.
    std::vector<double> WrittenBand(int band)
    {
        m_p.Close();
        GDALDatasetUniquePtr ds = OpenWithGdal(m_path);
        return ds ? ReadBand(*ds, band) : std::vector<double>();
    }

    krtest::TempDir m_dir;
    std::string m_path = m_dir.File("new/folder/out.tif");
    KRGORasterAccessorPlugin m_p;
};

// Into a folder that does not exist yet: 1000 x 500 pixels of 0.001 degrees from
// (120, 31) span longitude 120..121 and latitude 30.5..31, in WGS84.
TEST_F(RasterFileTest, CreatesAWgs84GeoTiffInANewFolder)
{
    ASSERT_TRUE(m_p.CreateRasterFile(m_path.c_str(), 1000, 500, 0.001, 120.0, 31.0, 1, GDT_Int16, false));
    m_p.Close();
    GDALDatasetUniquePtr ds = OpenWithGdal(m_path);
    ASSERT_TRUE(ds);
    double gt[6];
    ASSERT_EQ(ds->GetGeoTransform(gt), CE_None);
    EXPECT_EQ(ds->GetRasterXSize() * 1000 + ds->GetRasterYSize(), 1000 * 1000 + 500);
    krtest::ExpectRectNear(KRRect2d(gt[0], gt[3], gt[0] + 1000 * gt[1], gt[3] + 500 * gt[5]),
                           KRRect2d(120.0, 31.0, 121.0, 30.5), 1e-12);
    EXPECT_EQ(ds->GetRasterBand(1)->GetRasterDataType(), GDT_Int16);
    OGRSpatialReference wgs84;
    wgs84.importFromEPSG(4326);
    ASSERT_NE(ds->GetSpatialRef(), nullptr);
    EXPECT_TRUE(ds->GetSpatialRef()->IsSame(&wgs84, kIgnoreAxisMapping));
    EXPECT_EQ(ds->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE"), nullptr);

    ASSERT_TRUE(Create(3, GDT_Byte, true));
    m_p.Close();
    ds = OpenWithGdal(m_path);
    ASSERT_TRUE(ds);
    EXPECT_STREQ(ds->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE"), "JPEG");
}

// Samples go to the last band. Int16 truncates toward zero and wraps around;
// NaN and values beyond 32 bits give 0. Float32 keeps the floats; Byte gets
// them converted by GDAL (rounded, clamped).
TEST_F(RasterFileTest, WritesTheLastBandByOutputType)
{
    const struct {
        GDALDataType type;
        std::vector<float> samples; //!< a 3 x 2 block at column 1, row 0
        std::vector<double> written;
    } cases[] = {
        {GDT_Int16, {-3.9f, 3.9f, 32768.0f, 40000.0f, -32769.0f, 65541.0f}, {-3, 3, -32768, -25536, 32767, 5}},
        {GDT_Int16, {NAN, 1e10f, -1e10f, 0.5f, -0.5f, 65535.0f}, {0, 0, 0, 0, 0, -1}},
        {GDT_Float32, {1.5f, -2.25f, 1e10f, -7.0f, 0.0f, 3.0f}, {1.5, -2.25, 1e10, -7.0, 0.0, 3.0}},
        {GDT_Byte, {-5.0f, 3.6f, 300.0f, 7.0f, 0.4f, 254.5f}, {0, 4, 255, 7, 0, 255}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(GDALGetDataTypeName(tc.type));
        ASSERT_TRUE(Create(3, tc.type));
        std::vector<float> samples = tc.samples;
        ASSERT_TRUE(m_p.WriteRasterFile(1, 0, 3, 2, samples.data()));
        ASSERT_TRUE(m_p.BeginRead(3)); // the file reads back before it is closed
        KRRasterScanline line(4 * static_cast<size_t>(GDALGetDataTypeSizeBytes(tc.type)));
        EXPECT_TRUE(m_p.ReadScanline(line, 1, 0));
        std::vector<double> row(4);
        GDALCopyWords(line.GetData(), tc.type, GDALGetDataTypeSizeBytes(tc.type), row.data(), GDT_Float64, 8, 4);
        const std::vector<double> want = {0, tc.written[0], tc.written[1], tc.written[2],
                                          0, tc.written[3], tc.written[4], tc.written[5]};
        EXPECT_EQ(row, std::vector<double>(want.begin() + 4, want.end()));
        EXPECT_EQ(WrittenBand(3), want);
        EXPECT_EQ(WrittenBand(1), std::vector<double>(8, 0.0));
    }
}

// The dataset open before is closed, not leaked; a failed creation leaves no
// dataset; a missing GeoTIFF driver changes nothing. Writes need a dataset, a
// band, samples and a window inside the raster.
TEST_F(RasterFileTest, ReplacesTheOpenDatasetAndFailsCleanly)
{
    krtest::RasterLayout layout;
    ASSERT_TRUE(krtest::WriteRaster(m_dir.File("in.tif"), layout));
    const int before = OpenDatasetCount();
    ASSERT_TRUE(m_p.OpenForRead(m_dir.File("in.tif").c_str()));
    ASSERT_TRUE(Create(1, GDT_Int16));
    EXPECT_EQ(OpenDatasetCount(), before + 1);
    KRPixelDataMultiBand pixels(1, 1, 1, RDF_Int16, false, 0.0, 0.0);
    EXPECT_FALSE(m_p.ReadPixels(pixels, 0, 0, 0, 0, false)); // no current band until BeginRead

    std::vector<float> samples(8, 1.0f);
    EXPECT_FALSE(m_p.WriteRasterFile(3, 0, 2, 1, samples.data())); // one column too far
    EXPECT_FALSE(m_p.WriteRasterFile(0, -1, 1, 1, samples.data()));
    EXPECT_FALSE(m_p.WriteRasterFile(0, 0, 0, 1, samples.data()));
    EXPECT_FALSE(m_p.WriteRasterFile(0, 0, 1, 1, nullptr));

    for (int type : {0, 99}) {
        EXPECT_FALSE(m_p.CreateRasterFile(m_path.c_str(), 4, 2, 0.5, 120, 31, 1, type, false));
        EXPECT_EQ(Probe::m_pDataset(m_p), nullptr);
        EXPECT_EQ(OpenDatasetCount(), before);
        EXPECT_FALSE(m_p.WriteRasterFile(0, 0, 1, 1, samples.data()));
    }
    EXPECT_FALSE(m_p.CreateRasterFile(m_dir.File("no-bands.tif").c_str(), 4, 2, 0.5, 120, 31, 0, GDT_Int16, false));

    ASSERT_TRUE(Create(1, GDT_Int16));
    GDALDriverManager* drivers = GetGDALDriverManager();
    GDALDriver* gtiff = drivers->GetDriverByName("GTiff");
    drivers->DeregisterDriver(gtiff);
    const bool created = m_p.CreateRasterFile(m_dir.File("other.tif").c_str(), 4, 2, 0.5, 120, 31, 1, GDT_Int16, false);
    drivers->RegisterDriver(gtiff);
    EXPECT_FALSE(created);
    EXPECT_NE(Probe::m_pDataset(m_p), nullptr);
    EXPECT_TRUE(m_p.WriteRasterFile(0, 0, 4, 2, samples.data()));
    EXPECT_EQ(WrittenBand(1), std::vector<double>(8, 1.0));
    EXPECT_EQ(OpenDatasetCount(), before);
}

// Reprojection. Sources: a geographic raster over lon 7..9, lat 46..47.5, and a
// UTM 32N raster over the same area; both of a smooth, nowhere-zero surface.
class ReprojectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GDALAllRegister();
        krtest::RasterLayout geo;
        geo.width = 40;
        geo.height = 30;
        geo.geoTransform = {7.0, 0.05, 0, 47.5, 0, -0.05};
        geo.wkt = krtest::WktOfEpsg(4326);
        geo.value = [](int, int c, int r) { return 100.0 + 3.0 * c + 2.0 * r + 0.1 * c * r; };
        ASSERT_TRUE(krtest::WriteRaster(m_dir.File("geo.tif"), geo));
        krtest::RasterLayout utm = geo;
        utm.geoTransform = {350000, 4000, 0, 5260000, 0, -4000};
        utm.wkt = krtest::WktOfEpsg(32632);
        ASSERT_TRUE(krtest::WriteRaster(m_dir.File("utm.tif"), utm));
    }

    //! Our output against gdalwarp of the same source to the same grid, bilinear
    //! and exact; and its grid against gdalwarp's own choice, within a pixel.
    void ExpectMatchesGdalWarp(const std::string& source, const std::string& output, int targetEpsg)
    {
        GDALDatasetUniquePtr ours = OpenWithGdal(output);
        GDALDatasetUniquePtr src = OpenWithGdal(source);
        ASSERT_TRUE(ours && src);
        EXPECT_STREQ(ours->GetDriver()->GetDescription(), "GTiff");
        OGRSpatialReference target;
        target.importFromEPSG(targetEpsg);
        ASSERT_NE(ours->GetSpatialRef(), nullptr);
        EXPECT_TRUE(ours->GetSpatialRef()->IsSame(&target, kIgnoreAxisMapping));

        double gt[6];
        ASSERT_EQ(ours->GetGeoTransform(gt), CE_None);
        const int w = ours->GetRasterXSize(), h = ours->GetRasterYSize();
        const std::string srs = "EPSG:" + std::to_string(targetEpsg);
        const auto num = [](double v) { return std::string(CPLSPrintf("%.17g", v)); };
        GDALDatasetUniquePtr same =
            Warp(*src, {"-t_srs", srs, "-r", "bilinear", "-et", "0", "-te", num(gt[0]), num(gt[3] + h * gt[5]),
                        num(gt[0] + w * gt[1]), num(gt[3]), "-ts", num(w), num(h)});
        ASSERT_TRUE(same);
        const std::vector<double> got = ReadBand(*ours, 1), want = ReadBand(*same, 1);
        int covered = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(got[i], want[i], 1e-3) << "pixel " << i;
            covered += want[i] != 0.0;
        }
        EXPECT_GT(covered, static_cast<int>(got.size()) / 3);

        GDALDatasetUniquePtr own = Warp(*src, {"-t_srs", srs, "-r", "bilinear", "-et", "0"});
        ASSERT_TRUE(own);
        double owngt[6];
        own->GetGeoTransform(owngt);
        EXPECT_NEAR(gt[0], owngt[0], std::fabs(gt[1]));
        EXPECT_NEAR(gt[3], owngt[3], std::fabs(gt[5]));
        EXPECT_NEAR(gt[0] + w * gt[1], owngt[0] + own->GetRasterXSize() * owngt[1], 2 * std::fabs(gt[1]));
        EXPECT_NEAR(gt[3] + h * gt[5], owngt[3] + own->GetRasterYSize() * owngt[5], 2 * std::fabs(gt[5]));
    }

    static GDALDatasetUniquePtr Warp(GDALDataset& src, const std::vector<std::string>& args)
    {
        CPLStringList argv;
        for (const std::string& a : args)
            argv.AddString(a.c_str());
        argv.AddString("-of");
        argv.AddString("MEM");
        GDALWarpAppOptions* options = GDALWarpAppOptionsNew(argv.List(), nullptr);
        GDALDatasetH source = GDALDataset::ToHandle(&src);
        GDALDatasetUniquePtr out(GDALDataset::FromHandle(GDALWarp("", nullptr, 1, &source, options, nullptr)));
        GDALWarpAppOptionsFree(options);
        return out;
    }

    bool Reproject(const std::string& source, const std::string& dst, const std::string& text, int kind,
                   GDALProgressFunc progress = nullptr, void* user = nullptr)
    {
        return m_p.OpenForRead(m_dir.File(source).c_str()) &&
               m_p.ReprojectImage(m_dir.File(dst).c_str(), text.c_str(), kind, progress, user);
    }

    krtest::TempDir m_dir;
    KRGORasterAccessorPlugin m_p;
};

// Every kind of target definition; ".TIF" and ".img" both end up as GeoTIFF
// (GDAL knows no driver named "img" and falls back to GeoTIFF).
TEST_F(ReprojectTest, EveryKindOfTargetMatchesGdalWarp)
{
    OGRSpatialReference utm;
    utm.importFromEPSG(32632);
    krtest::WriteText(m_dir.File("utm32.prj"), krtest::WktOf(utm, true));
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
        {"geo.tif", "esri.tiff", krtest::WktOf(utm, true), 2, 32632},
        {"utm.tif", "wkt.tif", krtest::WktOfEpsg(3857), 3, 3857},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.dst);
        ASSERT_TRUE(Reproject(tc.source, tc.dst, tc.text, tc.kind));
        ExpectMatchesGdalWarp(m_dir.File(tc.source), m_dir.File(tc.dst), tc.epsg);
    }
}

struct ProgressLog {
    int calls = 0;
    double last = -1.0;
    int stopAfter = -1; //!< cancel on this call; never when negative
};

int CountProgress(double done, const char*, void* user)
{
    auto* log = static_cast<ProgressLog*>(user);
    ++log->calls;
    log->last = done;
    return log->calls != log->stopAfter;
}

TEST_F(ReprojectTest, ProgressIsPassedThroughAndCanCancel)
{
    ProgressLog log;
    ASSERT_TRUE(Reproject("geo.tif", "counted.tif", "32632", 4, CountProgress, &log));
    EXPECT_GT(log.calls, 1);
    EXPECT_NEAR(log.last, 1.0, 1e-3);

    ProgressLog cancel;
    cancel.stopAfter = 1;
    EXPECT_FALSE(Reproject("geo.tif", "cancelled.tif", "32632", 4, CountProgress, &cancel));
    EXPECT_EQ(cancel.calls, 1);
}

TEST_F(ReprojectTest, BadTargetsFail)
{
    EXPECT_FALSE(m_p.ReprojectImage(m_dir.File("closed.tif").c_str(), "4326", 4, nullptr, nullptr));
    const struct {
        const char* dst;
        const char* text;
        int kind;
    } cases[] = {
        {"empty.tif", "", 4},         {"kind.tif", "4326", 5},         {"code.tif", "abc", 4},
        {"prj.tif", "absent.prj", 1}, {"wkt.tif", "GEOGCS[broken", 3}, {"out.png", "4326", 4}, // PNG cannot be created
    };
    for (const auto& tc : cases)
        EXPECT_FALSE(Reproject("geo.tif", tc.dst, tc.text, tc.kind)) << tc.dst;
    EXPECT_FALSE(std::filesystem::exists(m_dir.File("empty.tif")));
}

// A real NAD27 UTM raster to WGS84 longitude and latitude.
TEST_F(ReprojectTest, RealRasterMatchesGdalWarp)
{
    const std::string source = std::string(KR_REAL_DATA_DIR) + "/rasterio/byte.tif";
    if (!std::filesystem::exists(source))
        GTEST_SKIP() << "no real-world data at " << KR_REAL_DATA_DIR;
    ASSERT_TRUE(m_p.OpenForRead(source.c_str()));
    ASSERT_TRUE(m_p.ReprojectImage(m_dir.File("byte4326.tif").c_str(), "4326", 4, nullptr, nullptr));
    ExpectMatchesGdalWarp(source, m_dir.File("byte4326.tif"), 4326);
}

} // namespace
