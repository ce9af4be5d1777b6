// Opening rasters: which reader takes a file, the sample-format mapping, the
// band survey (nodata values and value ranges), the filter colour, reopening,
// and real-world rasters measured against GDAL itself.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "KRPluginProbe.h"
#include "KRTestSupport.h"

using Probe = KRC::KRGORasterAccessorPluginProbe;

namespace {

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
    layout.geoTransform = {10.0, 0.5, 0.0, 50.0, 0.0, -0.5};
    layout.noData = std::move(noData);
    return layout;
}

class OpenTest : public ::testing::Test {
protected:
    void SetUp() override { krtest::RegisterGdal(); }

    //! Erdas Imagine ("HFA") keeps one nodata value per band, which a GeoTIFF cannot.
    std::string Write(const std::string& name, const krtest::RasterSpec& layout, const char* driver = "GTiff")
    {
        EXPECT_TRUE(krtest::WriteRaster(m_dir.File(name), layout, driver)) << name;
        return m_dir.File(name);
    }
    bool Open(const std::string& path) { return m_p.OpenForRead(path.c_str()); }
    double ActiveNoData(int i) { return Probe::m_activeNoData(m_p)[i]; }

    krtest::TempDir m_dir;
    KRC::KRGORasterAccessorPlugin m_p;
};

// --- Which reader takes the file ---------------------------------------------------

TEST_F(OpenTest, DemExtensionRoutes)
{
    for (const char* ext : {".dem", ".DEM"}) {
        SCOPED_TRACE(ext);
        EXPECT_FALSE(Open(m_dir.File(std::string("absent") + ext))); // missing: failed, yet an open attempt
        EXPECT_TRUE(Probe::m_bOpened(m_p));
        EXPECT_TRUE(Probe::m_pDataset(m_p) == nullptr && !Probe::m_bNsdtfDem(m_p));
        ASSERT_TRUE(Open(Write(std::string("tiff") + ext, Bands(1)))); // a GeoTIFF despite its name: GDAL's
        EXPECT_TRUE(Probe::m_pDataset(m_p) != nullptr && !Probe::m_bNsdtfDem(m_p));
        // An NSDTF header without its grid fails, even after a one-band raster whose size could pass for it.
        krtest::WriteText(m_dir.File(std::string("broken") + ext), "NSDTF-DEM");
        EXPECT_FALSE(Open(m_dir.File(std::string("broken") + ext)));
        EXPECT_FALSE(Probe::m_bNsdtfDem(m_p));
    }
}

// --- Sample and pixel formats ----------------------------------------------------

TEST_F(OpenTest, BandTypeMapsToTheHostsFormats)
{
    const struct {
        GDALDataType type;
        int dataFormat, pixelFormat;
    } cases[] = {{GDT_Byte, 1, 53},   {GDT_UInt16, 3, 54},   {GDT_Int16, 2, 54},   {GDT_UInt32, 6, 22},
                 {GDT_Int32, 5, 22},  {GDT_Float32, 4, 58},  {GDT_Float64, 8, 59}, {GDT_CInt16, 5, 22},
                 {GDT_CInt32, 7, 57}, {GDT_CFloat32, 8, 59}, {GDT_CFloat64, 0, 0}, {GDT_Int64, 0, 0},
                 {GDT_UInt64, 0, 0}};
    for (const auto& c : cases) {
        krtest::RasterSpec layout = Bands(1);
        layout.type = c.type;
        ASSERT_TRUE(Open(Write("typed.tif", layout)));
        EXPECT_EQ(static_cast<int>(m_p.GetRasterDataFormat()), c.dataFormat) << GDALGetDataTypeName(c.type);
        EXPECT_EQ(static_cast<int>(Probe::m_ePixelFormat(m_p)), c.pixelFormat) << GDALGetDataTypeName(c.type);
    }
    m_p.Close(); // the band goes with the dataset: neutral answers
    bool hasNoData = true;
    EXPECT_EQ(m_p.GetNoDataValue(hasNoData), -9999.0);
    EXPECT_FALSE(hasNoData);
    EXPECT_EQ(m_p.GetNoValue(), 0.0);
    EXPECT_EQ(static_cast<int>(m_p.GetRasterDataFormat()), 0);
}

// --- Value ranges -----------------------------------------------------------------

struct RangeCase {
    const char* name;
    int bands;
    std::vector<std::pair<double, double>> stored; //!< per band (min, max); min > max: none stored
    bool valid;
    double min, max;
};

class RangeTest : public OpenTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RangeTest, RangeSpansTheBandsStatistics)
{
    const RangeCase& c = GetParam();
    krtest::RasterSpec layout = Bands(c.bands, {-9999.0});
    layout.width = 5;
    layout.height = 3;
    // c + 10r, but -7.5 at (1, 1) and nodata (band 1) at (4, 2), which must not count.
    layout.value = [](int, int c, int r) {
        return c == 1 && r == 1 ? -7.5 : c == 4 && r == 2 ? -9999.0 : c + 10.0 * r;
    };
    const std::string path = Write("range.tif", layout);
    for (size_t b = 0; b < c.stored.size(); ++b) {
        if (c.stored[b].first <= c.stored[b].second)
            StoreStatistics(path, static_cast<int>(b) + 1, c.stored[b].first, c.stored[b].second);
    }
    ASSERT_TRUE(Open(path));
    EXPECT_EQ(Probe::m_bMinMaxValid(m_p), c.valid);
    EXPECT_EQ(Probe::m_dMinValue(m_p), c.min);
    EXPECT_EQ(Probe::m_dMaxValue(m_p), c.max);
    for (int b = 0; c.bands > 1 && b < std::min(c.bands, 4); ++b) { // four band slots: stored values only
        const bool stored = static_cast<size_t>(b) < c.stored.size() && c.stored[b].first <= c.stored[b].second;
        EXPECT_TRUE(Probe::m_bandHasMax(m_p)[b] == stored && Probe::m_bandHasMin(m_p)[b] == stored) << b;
        EXPECT_TRUE(!stored ||
                    (Probe::m_bandMin(m_p)[b] == c.stored[b].first && Probe::m_bandMax(m_p)[b] == c.stored[b].second))
            << b;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Statistics, RangeTest,
    ::testing::Values(RangeCase{"OneBandScannedExactly", 1, {}, true, -7.5, 23.0},
                      RangeCase{"OneBandStoredWins", 1, {{-100, 1000}}, true, -100, 1000},
                      RangeCase{"ThreeBandsNoneStored", 3, {}, false, 1e100, -1e100},
                      // One unknown band invalidates a range that still spans the known ones.
                      RangeCase{"ThreeBandsOneUnknown", 3, {{5, 50}, {1, 0}, {-20, 30}}, false, -20, 50},
                      // The fifth band counts toward the range without a slot of its own.
                      RangeCase{"FiveBandsAllStored", 5, {{0, 10}, {0, 20}, {0, 30}, {0, 40}, {-3, 99}}, true, -3, 99}),
    [](const ::testing::TestParamInfo<RangeCase>& info) { return std::string(info.param.name); });

// --- Nodata and the filter colour ---------------------------------------------------

TEST_F(OpenTest, NodataIsInForceOnlyWhenEveryBandDeclaresOne)
{
    ASSERT_TRUE(Open(Write("all.img", Bands(3, {1.0, 2.0, -3.5}), "HFA")));
    EXPECT_TRUE(Probe::m_bNoDataActive(m_p));
    ASSERT_EQ(Probe::m_activeNoData(m_p).GetSize(), 3);
    EXPECT_TRUE(ActiveNoData(1) == 2.0 && ActiveNoData(2) == -3.5);
    bool hasNoData = false;
    EXPECT_EQ(m_p.GetNoDataValue(hasNoData), 1.0); // band 1 is current
    EXPECT_TRUE(hasNoData);

    KRC::KRGORasterAccessorPlugin other;
    ASSERT_TRUE(other.OpenForRead(Write("some.img", Bands(3, {1.0, 2.0}), "HFA").c_str())); // band 3: none
    EXPECT_TRUE(!Probe::m_bNoDataActive(other) && Probe::m_activeNoData(other).GetSize() == 0);
    ASSERT_EQ(Probe::m_noDataValues(other).GetSize(), 3);
    EXPECT_EQ(Probe::m_noDataValues(other)[1], 2.0);
}

TEST_F(OpenTest, FilterColourReplacesNodataOnFiveBands)
{
    ASSERT_TRUE(Open(Write("five.img", Bands(5, {7.0, 8.0, 9.0, 10.0, 11.0}), "HFA")));
    m_p.SetFilterColor(KRC::KRColor3(1.0f, 0.5f, 0.25f, 0.75f));
    m_p.SetFilterColorTolerance(3.0);
    EXPECT_EQ(Probe::m_dNoDataTolerance(m_p), 1e-10); // not in use yet
    m_p.SetFilterColorUsed(true);
    EXPECT_EQ(Probe::m_dNoDataTolerance(m_p), 3.0);
    ASSERT_EQ(Probe::m_activeNoData(m_p).GetSize(), 5);
    const double expected[5] = {255.0, 127.5, 63.75, 191.25, 0.0}; // r, g, b, a, 0
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ActiveNoData(i), expected[i]) << i;

    m_p.SetFilterColorUsed(false); // the bands' own nodata comes back
    EXPECT_EQ(Probe::m_dNoDataTolerance(m_p), 1e-10);
    EXPECT_TRUE(ActiveNoData(1) == 8.0 && ActiveNoData(4) == 11.0);

    // Without nodata, switching the colour off keeps its values; 0.5 is stored as 127.5, read back as 127.
    ASSERT_TRUE(Open(Write("plain.tif", Bands(3))));
    m_p.SetFilterColor(KRC::KRColor3(0.5f, 1.0f, 0.0f, 1.0f));
    m_p.SetFilterColorUsed(true);
    m_p.SetFilterColorUsed(false);
    EXPECT_FALSE(Probe::m_bNoDataActive(m_p));
    ASSERT_EQ(Probe::m_activeNoData(m_p).GetSize(), 3);
    EXPECT_EQ(ActiveNoData(1), 255.0);
    const KRC::KRColor3 colour = m_p.GetFilterColor();
    EXPECT_FLOAT_EQ(colour.r, 127.0f / 255.0f);
    EXPECT_TRUE(colour.g == 1.0f && colour.b == 0.0f);
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
    second.width = second.height = 2;
    second.value = [](int, int c, int r) { return 3.0 + c + r; };

    ASSERT_TRUE(Open(firstPath));
    ASSERT_TRUE(Open(firstPath)); // twice on one object
    ASSERT_EQ(Probe::m_nProjType(m_p), 2);
    ASSERT_TRUE(Open(Write("second.tif", second)));
    EXPECT_EQ(Probe::m_nBandCount(m_p), 1);
    EXPECT_EQ(Probe::m_noDataValues(m_p).GetSize(), 1);
    EXPECT_FALSE(Probe::m_bNoDataActive(m_p));
    EXPECT_TRUE(Probe::m_dMinValue(m_p) == 3.0 && Probe::m_dMaxValue(m_p) == 5.0);
    for (int i = 1; i < 4; ++i)
        EXPECT_FALSE(Probe::m_bandHasMax(m_p)[i]) << i;
    EXPECT_EQ(Probe::m_nProjType(m_p), 1);
    EXPECT_TRUE(Probe::m_pSrcToLatLon(m_p) == nullptr && Probe::m_pLatLonSRS(m_p) == nullptr);
    EXPECT_EQ(Probe::m_srcBounds(m_p).GetGeoBounds().right, 11.0);
    EXPECT_EQ(Probe::m_latLonBounds(m_p).GetGeoBounds().bottom, 49.0);
    EXPECT_EQ(std::string(m_p.ExportProjectionRefToProj4().Cstr()).find("+proj=utm"), std::string::npos);
}

// --- Real-world rasters -----------------------------------------------------------

TEST_F(OpenTest, RealRastersMatchGdal)
{
    if (!std::filesystem::exists(KR_REAL_DATA_DIR))
        GTEST_SKIP() << "real-world data absent";
    const std::pair<const char*, int> cases[] = {
        {"rasterio/RGB.byte.tif", 2},
        {"rasterio/float_raster_with_nodata.tif", 2},
        {"terra/elev.tif", 1},
        {"rio-tiler/inverted_lat.tif", 1},
        {"geotiff-samples/SP27GTIF.TIF", 2},
        {"landlab/west_bijou_escarpment_snippet.asc", 1},
        {"node-gdal/a39se10.jpg", 1}}; // world file only, in feet: without a reference taken as degrees
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        const std::string path = std::string(KR_REAL_DATA_DIR) + "/" + c.first;
        GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER));
        ASSERT_TRUE(ds);
        ASSERT_TRUE(Open(path));
        EXPECT_EQ(Probe::m_nWidth(m_p), static_cast<std::uint64_t>(ds->GetRasterXSize()));
        EXPECT_EQ(Probe::m_nHeight(m_p), static_cast<std::uint64_t>(ds->GetRasterYSize()));
        EXPECT_EQ(Probe::m_nBandCount(m_p), ds->GetRasterCount());
        EXPECT_EQ(Probe::m_nProjType(m_p), c.second);
        double gt[6] = {0, 1, 0, 0, 0, 1}, xs[4], ys[4]; // GDAL's own geotransform at the four corners
        ds->GetGeoTransform(gt);
        for (int k = 0; k < 4; ++k) {
            const double col = (k & 1) * ds->GetRasterXSize(), row = (k >> 1) * ds->GetRasterYSize();
            xs[k] = gt[0] + col * gt[1] + row * gt[2];
            ys[k] = gt[3] + col * gt[4] + row * gt[5];
        }
        const KRC::KRRect2d want(*std::min_element(xs, xs + 4), *std::max_element(ys, ys + 4),
                                 *std::max_element(xs, xs + 4), *std::min_element(ys, ys + 4));
        krtest::ExpectRectNear(Probe::m_srcBounds(m_p).GetGeoBounds(), want,
                               1e-9 * std::max(1.0, std::fabs(want.left) + std::fabs(want.top)));
        int gdalHas = 0;
        const double gdalNoData = ds->GetRasterBand(1)->GetNoDataValue(&gdalHas);
        bool has = false;
        EXPECT_TRUE(m_p.GetNoDataValue(has) == gdalNoData || gdalHas == 0);
        EXPECT_EQ(has, gdalHas != 0);
    }
}

} // namespace
