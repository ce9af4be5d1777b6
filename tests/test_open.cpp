// Opening rasters: which reader takes a file, the sample-format mapping, the
// band survey (nodata values and value ranges), the filter colour, reopening,
// and real-world rasters measured against GDAL itself.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "KRPluginProbe.h"
#include "KRTestSupport.h"

using KRC::KRGORasterAccessorPlugin;
using Probe = KRC::KRGORasterAccessorPluginProbe;

namespace {

const std::vector<double> kDegrees = {10.0, 0.5, 0.0, 50.0, 0.0, -0.5};

//! Stores statistics in the file, as a tool that computed them would.
void StoreStatistics(const std::string& path, int band, double min, double max)
{
    GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
    ASSERT_TRUE(ds);
    ASSERT_EQ(ds->GetRasterBand(band)->SetStatistics(min, max, (min + max) / 2, 1.0), CE_None);
}

krtest::RasterSpec Bands(int count, std::vector<double> noData = {})
{
    krtest::RasterSpec layout;
    layout.bands = count;
    layout.geoTransform = kDegrees;
    layout.noData = std::move(noData);
    return layout;
}

class OpenTest : public ::testing::Test {
protected:
    void SetUp() override { krtest::RegisterGdal(); }

    std::string Write(const std::string& name, const krtest::RasterSpec& layout, const char* driver = "GTiff")
    {
        const std::string path = m_dir.File(name);
        EXPECT_TRUE(krtest::WriteRaster(path, layout, driver)) << path;
        return path;
    }

    //! Erdas Imagine keeps one nodata value per band, which a GeoTIFF cannot.
    std::string WritePerBandNoData(const krtest::RasterSpec& layout) { return Write("bands.img", layout, "HFA"); }

    double ActiveNoData(int i) { return Probe::m_activeNoData(m_p)[i]; }

    krtest::TempDir m_dir;
    KRGORasterAccessorPlugin m_p;
};

// --- Which reader takes the file ---------------------------------------------------

TEST_F(OpenTest, MissingFileFailsButCountsAsAnOpenAttempt)
{
    for (const char* name : {"absent.tif", "absent.dem"}) {
        EXPECT_FALSE(m_p.OpenForRead(m_dir.File(name).c_str()));
        EXPECT_TRUE(Probe::m_bOpened(m_p));
        EXPECT_EQ(Probe::m_pDataset(m_p), nullptr);
        EXPECT_FALSE(Probe::m_bNsdtfDem(m_p));
    }
}

TEST_F(OpenTest, DemExtensionWithOtherContentGoesToGdal)
{
    ASSERT_TRUE(m_p.OpenForRead(Write("elevation.dem", Bands(1)).c_str())); // a GeoTIFF despite its name
    EXPECT_FALSE(Probe::m_bNsdtfDem(m_p));
    EXPECT_NE(Probe::m_pDataset(m_p), nullptr);
}

TEST_F(OpenTest, NsdtfHeaderWithoutGridFailsEvenAfterAOneBandRaster)
{
    ASSERT_TRUE(m_p.OpenForRead(Write("first.tif", Bands(1)).c_str())); // its size must not pass for the header's
    const std::string path = m_dir.File("broken.dem");
    krtest::WriteText(path, "NSDTF-DEM");
    EXPECT_FALSE(m_p.OpenForRead(path.c_str()));
    EXPECT_FALSE(Probe::m_bNsdtfDem(m_p));
}

// --- Sample and pixel formats ----------------------------------------------------

struct FormatCase {
    GDALDataType type;
    int dataFormat;
    int pixelFormat;
};

class FormatTest : public OpenTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatTest, BandTypeMapsToTheHostsFormats)
{
    krtest::RasterSpec layout = Bands(1);
    layout.type = GetParam().type;
    ASSERT_TRUE(m_p.OpenForRead(Write("typed.tif", layout).c_str()));
    EXPECT_EQ(static_cast<int>(m_p.GetRasterDataFormat()), GetParam().dataFormat);
    EXPECT_EQ(static_cast<int>(Probe::m_ePixelFormat(m_p)), GetParam().pixelFormat);
}

INSTANTIATE_TEST_SUITE_P(AllGdalTypes, FormatTest,
                         ::testing::Values(FormatCase{GDT_Byte, 1, 53}, FormatCase{GDT_UInt16, 3, 54},
                                           FormatCase{GDT_Int16, 2, 54}, FormatCase{GDT_UInt32, 6, 22},
                                           FormatCase{GDT_Int32, 5, 22}, FormatCase{GDT_Float32, 4, 58},
                                           FormatCase{GDT_Float64, 8, 59}, FormatCase{GDT_CInt16, 5, 22},
                                           FormatCase{GDT_CInt32, 7, 57}, FormatCase{GDT_CFloat32, 8, 59},
                                           FormatCase{GDT_CFloat64, 0, 0}, FormatCase{GDT_Int64, 0, 0},
                                           FormatCase{GDT_UInt64, 0, 0}),
                         [](const ::testing::TestParamInfo<FormatCase>& info) {
                             return std::string(GDALGetDataTypeName(info.param.type));
                         });

TEST_F(OpenTest, QueriesWithoutACurrentBandAnswerNeutrally)
{
    for (int pass = 0; pass < 2; ++pass) { // fresh, then after an open and Close
        bool hasNoData = true;
        EXPECT_EQ(m_p.GetNoDataValue(hasNoData), -9999.0);
        EXPECT_FALSE(hasNoData);
        EXPECT_EQ(m_p.GetNoValue(), 0.0);
        EXPECT_EQ(static_cast<int>(m_p.GetRasterDataFormat()), 0);
        ASSERT_TRUE(m_p.OpenForRead(Write("closed.tif", Bands(1, {-5.0})).c_str()));
        m_p.Close(); // the band goes with the dataset
    }
}

// --- Value ranges -----------------------------------------------------------------

TEST_F(OpenTest, SingleBandWithoutStatisticsIsScannedExactlySkippingNodata)
{
    krtest::RasterSpec layout = Bands(1, {-9999.0});
    layout.width = 5;
    layout.height = 3;
    // c + 10r, but -7.5 at (1, 1) and nodata at (4, 2), which must not count.
    layout.value = [](int, int c, int r) {
        if (c == 1 && r == 1)
            return -7.5;
        return c == 4 && r == 2 ? -9999.0 : c + 10.0 * r;
    };
    ASSERT_TRUE(m_p.OpenForRead(Write("scan.tif", layout).c_str()));
    EXPECT_TRUE(Probe::m_bMinMaxValid(m_p));
    EXPECT_EQ(Probe::m_dMinValue(m_p), -7.5);
    EXPECT_EQ(Probe::m_dMaxValue(m_p), 23.0);
}

TEST_F(OpenTest, StoredStatisticsWinOverTheData)
{
    const std::string path = Write("stored.tif", Bands(1));
    StoreStatistics(path, 1, -100.0, 1000.0);
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    EXPECT_EQ(Probe::m_dMinValue(m_p), -100.0);
    EXPECT_EQ(Probe::m_dMaxValue(m_p), 1000.0);
}

TEST_F(OpenTest, MultiBandWithoutStatisticsHasNoRange)
{
    ASSERT_TRUE(m_p.OpenForRead(Write("three.tif", Bands(3)).c_str()));
    EXPECT_FALSE(Probe::m_bMinMaxValid(m_p));
    EXPECT_EQ(Probe::m_dMaxValue(m_p), -1e100);
    EXPECT_EQ(Probe::m_dMinValue(m_p), 1e100);
    EXPECT_FALSE(Probe::m_bandHasMax(m_p)[0]);
    EXPECT_FALSE(Probe::m_bandHasMin(m_p)[2]);
}

TEST_F(OpenTest, OneUnknownBandInvalidatesARangeThatSpansTheKnownOnes)
{
    const std::string path = Write("partial.tif", Bands(3));
    StoreStatistics(path, 1, 5.0, 50.0);
    StoreStatistics(path, 3, -20.0, 30.0);
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    EXPECT_FALSE(Probe::m_bMinMaxValid(m_p));
    EXPECT_EQ(Probe::m_dMaxValue(m_p), 50.0);
    EXPECT_EQ(Probe::m_dMinValue(m_p), -20.0);
    EXPECT_FALSE(Probe::m_bandHasMax(m_p)[1]);
    EXPECT_EQ(Probe::m_bandMin(m_p)[2], -20.0);
}

TEST_F(OpenTest, FifthBandCountsTowardTheRangeWithoutASlot)
{
    const std::string path = Write("five.tif", Bands(5));
    for (int b = 1; b <= 4; ++b)
        StoreStatistics(path, b, 0.0, 10.0 * b);
    StoreStatistics(path, 5, -3.0, 99.0);
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    EXPECT_TRUE(Probe::m_bMinMaxValid(m_p));
    EXPECT_EQ(Probe::m_dMaxValue(m_p), 99.0);
    EXPECT_EQ(Probe::m_dMinValue(m_p), -3.0);
    EXPECT_EQ(Probe::m_bandMax(m_p)[3], 40.0);
}

// --- Nodata and the filter colour ---------------------------------------------------

TEST_F(OpenTest, NodataIsInForceOnlyWhenEveryBandDeclaresOne)
{
    ASSERT_TRUE(m_p.OpenForRead(WritePerBandNoData(Bands(3, {1.0, 2.0, -3.5})).c_str()));
    EXPECT_TRUE(Probe::m_bNoDataActive(m_p));
    ASSERT_EQ(Probe::m_activeNoData(m_p).GetSize(), 3);
    EXPECT_EQ(ActiveNoData(1), 2.0);
    EXPECT_EQ(ActiveNoData(2), -3.5);
    bool hasNoData = false;
    EXPECT_EQ(m_p.GetNoDataValue(hasNoData), 1.0); // band 1 is current
    EXPECT_TRUE(hasNoData);

    KRGORasterAccessorPlugin other;
    ASSERT_TRUE(other.OpenForRead(Write("some.img", Bands(3, {1.0, 2.0}), "HFA").c_str())); // band 3: none
    EXPECT_FALSE(Probe::m_bNoDataActive(other));
    EXPECT_EQ(Probe::m_activeNoData(other).GetSize(), 0);
    ASSERT_EQ(Probe::m_noDataValues(other).GetSize(), 3);
    EXPECT_EQ(Probe::m_noDataValues(other)[1], 2.0);
}

TEST_F(OpenTest, FilterColourReplacesNodataOnFiveBands)
{
    ASSERT_TRUE(m_p.OpenForRead(WritePerBandNoData(Bands(5, {7.0, 8.0, 9.0, 10.0, 11.0})).c_str()));
    m_p.SetFilterColor(KRC::KRColor3(1.0f, 0.5f, 0.25f, 0.0f));
    m_p.SetFilterColorTolerance(3.0);
    EXPECT_EQ(Probe::m_dNoDataTolerance(m_p), 1e-10); // not in use yet
    m_p.SetFilterColorUsed(true);
    EXPECT_EQ(Probe::m_dNoDataTolerance(m_p), 3.0);
    ASSERT_EQ(Probe::m_activeNoData(m_p).GetSize(), 5);
    const double expected[5] = {255.0, 127.5, 63.75, 0.0, 0.0};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ActiveNoData(i), expected[i]) << i;

    m_p.SetFilterColorUsed(false); // the bands' own nodata comes back
    EXPECT_EQ(Probe::m_dNoDataTolerance(m_p), 1e-10);
    EXPECT_EQ(ActiveNoData(1), 8.0);
    EXPECT_EQ(ActiveNoData(4), 11.0);
}

TEST_F(OpenTest, FilterColourOffAfterRasterWithoutNodataKeepsTheColourValues)
{
    ASSERT_TRUE(m_p.OpenForRead(Write("plain.tif", Bands(3)).c_str()));
    m_p.SetFilterColor(KRC::KRColor3(0.5f, 1.0f, 0.0f, 1.0f));
    m_p.SetFilterColorUsed(true);
    m_p.SetFilterColorUsed(false);
    EXPECT_FALSE(Probe::m_bNoDataActive(m_p));
    ASSERT_EQ(Probe::m_activeNoData(m_p).GetSize(), 3);
    EXPECT_EQ(ActiveNoData(1), 255.0);

    // 0.5 is stored as 127.5 and read back truncated to 127.
    const KRC::KRColor3 c = m_p.GetFilterColor();
    EXPECT_FLOAT_EQ(c.r, 127.0f / 255.0f);
    EXPECT_FLOAT_EQ(c.g, 1.0f);
    EXPECT_FLOAT_EQ(c.b, 0.0f);
}

// --- Reopening ------------------------------------------------------------------

TEST_F(OpenTest, SecondRasterReplacesTheFirstsState)
{
    krtest::RasterSpec first = Bands(3, {0.0, 0.0, 0.0});
    first.geoTransform = {500000.0, 30.0, 0.0, 4500000.0, 0.0, -30.0};
    first.wkt = krtest::WktOfEpsg(32633);
    const std::string firstPath = Write("first.tif", first);
    for (int b = 1; b <= 3; ++b)
        StoreStatistics(firstPath, b, 1.0, 200.0);

    krtest::RasterSpec second = Bands(1);
    second.width = 2;
    second.height = 2;
    second.value = [](int, int c, int r) { return 3.0 + c + r; };

    ASSERT_TRUE(m_p.OpenForRead(firstPath.c_str()));
    ASSERT_TRUE(m_p.OpenForRead(firstPath.c_str())); // twice on one object
    ASSERT_EQ(Probe::m_nProjType(m_p), 2);
    ASSERT_TRUE(m_p.OpenForRead(Write("second.tif", second).c_str()));

    EXPECT_EQ(Probe::m_nBandCount(m_p), 1);
    EXPECT_EQ(Probe::m_noDataValues(m_p).GetSize(), 1);
    EXPECT_FALSE(Probe::m_bNoDataActive(m_p));
    EXPECT_EQ(Probe::m_dMinValue(m_p), 3.0);
    EXPECT_EQ(Probe::m_dMaxValue(m_p), 5.0);
    for (int i = 1; i < 4; ++i)
        EXPECT_FALSE(Probe::m_bandHasMax(m_p)[i]) << i;
    EXPECT_EQ(Probe::m_nProjType(m_p), 1);
    EXPECT_EQ(Probe::m_pSrcToLatLon(m_p), nullptr);
    EXPECT_EQ(Probe::m_pLatLonSRS(m_p), nullptr);
    EXPECT_EQ(Probe::m_srcBounds(m_p).GetGeoBounds().right, 11.0);
    EXPECT_EQ(Probe::m_latLonBounds(m_p).GetGeoBounds().bottom, 49.0);
    EXPECT_EQ(std::string(m_p.ExportProjectionRefToProj4().Cstr()).find("+proj=utm"), std::string::npos);
}

// --- Real-world rasters -----------------------------------------------------------

struct RealCase {
    const char* file;
    int projType;
};

//! The raster's bounds worked out from GDAL's own geotransform and size.
KRC::KRRect2d GdalBounds(GDALDataset& ds)
{
    double gt[6] = {0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
    ds.GetGeoTransform(gt);
    std::vector<double> xs;
    std::vector<double> ys;
    for (double c : {0, ds.GetRasterXSize()}) {
        for (double r : {0, ds.GetRasterYSize()}) {
            xs.push_back(gt[0] + c * gt[1] + r * gt[2]);
            ys.push_back(gt[3] + c * gt[4] + r * gt[5]);
        }
    }
    return KRC::KRRect2d(*std::min_element(xs.begin(), xs.end()), *std::max_element(ys.begin(), ys.end()),
                         *std::max_element(xs.begin(), xs.end()), *std::min_element(ys.begin(), ys.end()));
}

class RealRasterTest : public OpenTest, public ::testing::WithParamInterface<RealCase> {};

TEST_P(RealRasterTest, SizeBoundsAndKindMatchGdal)
{
    const std::string path = std::string(KR_REAL_DATA_DIR) + "/" + GetParam().file;
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "real-world data absent: " << path;
    GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER));
    ASSERT_TRUE(ds);

    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    EXPECT_EQ(Probe::m_nWidth(m_p), static_cast<std::uint64_t>(ds->GetRasterXSize()));
    EXPECT_EQ(Probe::m_nHeight(m_p), static_cast<std::uint64_t>(ds->GetRasterYSize()));
    EXPECT_EQ(Probe::m_nBandCount(m_p), ds->GetRasterCount());
    EXPECT_EQ(Probe::m_nProjType(m_p), GetParam().projType);
    EXPECT_TRUE(m_p.IsValid());

    const KRC::KRRect2d want = GdalBounds(*ds);
    const KRC::KRRect2d& got = Probe::m_srcBounds(m_p).GetGeoBounds();
    const double tolerance = 1e-9 * std::max(1.0, std::fabs(want.left) + std::fabs(want.top));
    EXPECT_NEAR(got.left, want.left, tolerance);
    EXPECT_NEAR(got.right, want.right, tolerance);
    EXPECT_NEAR(got.top, want.top, tolerance);
    EXPECT_NEAR(got.bottom, want.bottom, tolerance);

    int gdalHas = 0;
    const double gdalNoData = ds->GetRasterBand(1)->GetNoDataValue(&gdalHas);
    bool has = false;
    const double noData = m_p.GetNoDataValue(has);
    EXPECT_EQ(has, gdalHas != 0);
    EXPECT_TRUE(!has || noData == gdalNoData);
}

INSTANTIATE_TEST_SUITE_P(
    SharedData, RealRasterTest,
    ::testing::Values(RealCase{"rasterio/RGB.byte.tif", 2}, RealCase{"rasterio/byte.tif", 2},
                      RealCase{"rasterio/float_raster_with_nodata.tif", 2}, RealCase{"rasterio/goes.tif", 2},
                      RealCase{"terra/elev.tif", 1}, RealCase{"rio-tiler/inverted_lat.tif", 1},
                      RealCase{"stars/L7_ETMs.tif", 2}, RealCase{"geotiff-samples/SP27GTIF.TIF", 2},
                      RealCase{"landlab/west_bijou_escarpment_snippet.asc", 1},
                      // World file only, in feet: without a reference the source stays "geographic".
                      RealCase{"node-gdal/a39se10.jpg", 1}),
    [](const ::testing::TestParamInfo<RealCase>& info) {
        std::string name = info.param.file;
        std::replace_if(
            name.begin(), name.end(), [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); }, '_');
        return name;
    });

TEST_F(OpenTest, RealUtmImageLandsInTheBahamas)
{
    const std::string path = std::string(KR_REAL_DATA_DIR) + "/rasterio/RGB.byte.tif";
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "real-world data absent";
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    // About 79 W to 76.6 W, 23.6 N to 25.5 N (data README).
    const KRC::KRRect2d& geo = Probe::m_latLonBounds(m_p).GetGeoBounds();
    EXPECT_NEAR(geo.left, -79.0, 0.1);
    EXPECT_NEAR(geo.right, -76.6, 0.1);
    EXPECT_NEAR(geo.bottom, 23.6, 0.1);
    EXPECT_NEAR(geo.top, 25.5, 0.1);
    EXPECT_TRUE(Probe::m_bNoDataActive(m_p)); // nodata 0 on all three bands
}

} // namespace
