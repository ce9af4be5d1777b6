// Opening rasters: routing, formats, band statistics, nodata, filter colour, reopening, real rasters vs GDAL.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "KRPluginProbe.h"
#include "KRTestSupport.h"

using Probe = KRC::KRGORasterAccessorPluginProbe;

namespace {

void StoreStatistics(const std::string& path, int band, double min, double max)
{
    GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
    ASSERT_TRUE(ds && ds->GetRasterBand(band)->SetStatistics(min, max, (min + max) / 2, 1.0) == CE_None);
}

//! A 4 x 4 Float32 GeoTIFF layout of `count` bands at (10, 50), half a degree a pixel.
krtest::RasterLayout Bands(int count, std::vector<double> noData = {})
{
    return {
        4, 4, count, GDT_Float32, {10.0, 0.5, 0.0, 50.0, 0.0, -0.5}, "", std::move(noData), krtest::RasterLayout().value};
}

class OpenTest : public ::testing::Test {
protected:
    void SetUp() override { GDALAllRegister(); }

    //! Erdas Imagine ("HFA") keeps one nodata value per band, which a GeoTIFF cannot.
    std::string Write(const std::string& name, const krtest::RasterLayout& layout, const char* driver = "GTiff")
    {
        EXPECT_TRUE(krtest::WriteRaster(m_dir.File(name), layout, driver)) << name;
        return m_dir.File(name);
    }
    bool Open(const std::string& path) { return m_p.OpenForRead(path.c_str()); }
    std::vector<double> ActiveNoData()
    {
        std::vector<double> values;
        for (int i = 0; i < Probe::m_activeNoData(m_p).GetSize(); ++i)
            values.push_back(Probe::m_activeNoData(m_p)[i]);
        return values;
    }

    krtest::TempDir m_dir;
    KRC::KRGORasterAccessorPlugin m_p;
};

TEST_F(OpenTest, DemExtensionRoutesAndBandTypesMapToTheHostsFormats)
{
    for (const std::string ext : {".dem", ".DEM"}) {
        SCOPED_TRACE(ext);
        EXPECT_FALSE(Open(m_dir.File("absent" + ext))); // missing: failed, yet an open attempt
        EXPECT_TRUE(Probe::m_bOpened(m_p) && Probe::m_pDataset(m_p) == nullptr && !Probe::m_bNsdtfDem(m_p));
        ASSERT_TRUE(Open(Write("tiff" + ext, Bands(1))) && Probe::m_pDataset(m_p) && !Probe::m_bNsdtfDem(m_p));
        // An NSDTF header without its grid fails, even after a one-band raster whose size could pass for it.
        krtest::WriteText(m_dir.File("broken" + ext), "NSDTF-DEM");
        EXPECT_FALSE(Open(m_dir.File("broken" + ext)) || Probe::m_bNsdtfDem(m_p));
    }

    // GDAL's type, then the host's sample format and pixel format
    const std::tuple<GDALDataType, int, int> cases[] = {
        {GDT_Byte, 1, 53},    {GDT_UInt16, 3, 54},  {GDT_Int16, 2, 54},  {GDT_UInt32, 6, 22}, {GDT_Int32, 5, 22},
        {GDT_Float32, 4, 58}, {GDT_Float64, 8, 59}, {GDT_CInt16, 5, 22}, {GDT_CInt32, 7, 57}, {GDT_CFloat32, 8, 59},
        {GDT_CFloat64, 0, 0}, {GDT_Int64, 0, 0},    {GDT_UInt64, 0, 0}};
    for (const auto& [type, dataFormat, pixelFormat] : cases) {
        krtest::RasterLayout layout = Bands(1);
        layout.type = type;
        ASSERT_TRUE(Open(Write("typed.tif", layout)));
        EXPECT_TRUE(int(m_p.GetRasterDataFormat()) == dataFormat && int(Probe::m_ePixelFormat(m_p)) == pixelFormat)
            << GDALGetDataTypeName(type);
    }
    m_p.Close(); // the band goes with the dataset: neutral answers
    bool hasNoData = true;
    EXPECT_TRUE(m_p.GetNoDataValue(hasNoData) == -9999.0 && !hasNoData && m_p.GetNoValue() == 0.0 &&
                static_cast<int>(m_p.GetRasterDataFormat()) == 0);
}

//! Name, band count, stored (min, max) per band (min > max: none stored), then the expected range.
using RangeCase = std::tuple<const char*, int, std::vector<std::pair<double, double>>, bool, double, double>;

class RangeTest : public OpenTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RangeTest, RangeSpansTheBandsStatistics)
{
    const auto& [name, bands, stored, valid, min, max] = GetParam();
    // 5 x 3, c + 10r but -7.5 at (1, 1) and nodata (band 1) at (4, 2), which must not count.
    const krtest::RasterLayout layout{
        5, 3, bands, GDT_Float32, Bands(1).geoTransform, "", {-9999.0}, [](int, int c, int r) {
            return c == 1 && r == 1 ? -7.5 : c == 4 && r == 2 ? -9999.0 : c + 10.0 * r;
        }};
    const std::string path = Write("range.tif", layout);
    const auto has = [&stored = stored](size_t b) { return b < stored.size() && stored[b].first <= stored[b].second; };
    for (size_t b = 0; b < stored.size(); ++b)
        if (has(b))
            StoreStatistics(path, static_cast<int>(b) + 1, stored[b].first, stored[b].second);
    ASSERT_TRUE(Open(path));
    EXPECT_EQ(std::tuple(Probe::m_bMinMaxValid(m_p), Probe::m_dMinValue(m_p), Probe::m_dMaxValue(m_p)),
              std::tuple(valid, min, max));
    for (int b = 0; bands > 1 && b < std::min(bands, 4); ++b) // four band slots: stored values only
        EXPECT_TRUE(Probe::m_bandHasMax(m_p)[b] == has(b) && Probe::m_bandHasMin(m_p)[b] == has(b) &&
                    (!has(b) || std::pair(Probe::m_bandMin(m_p)[b], Probe::m_bandMax(m_p)[b]) == stored[b]))
            << b;
}

INSTANTIATE_TEST_SUITE_P(
    Statistics, RangeTest,
    ::testing::Values(
        RangeCase{"OneBandScannedExactly", 1, {}, true, -7.5, 23.0},
        RangeCase{"OneBandStoredWins", 1, {{-100, 1000}}, true, -100, 1000},
        RangeCase{"ThreeBandsNoneStored", 3, {}, false, 1e100, -1e100},
        RangeCase{"OneUnknownBandInvalidates", 3, {{5, 50}, {1, 0}, {-20, 30}}, false, -20, 50},
        RangeCase{"FifthBandCountsWithoutASlot", 5, {{0, 10}, {0, 20}, {0, 30}, {0, 40}, {-3, 99}}, true, -3, 99}),
    [](const ::testing::TestParamInfo<RangeCase>& info) { return std::string(std::get<0>(info.param)); });

TEST_F(OpenTest, NodataIsInForceOnlyWhenEveryBandDeclaresOneAndTheFilterColourReplacesIt)
{
    ASSERT_TRUE(Open(Write("all.img", Bands(3, {1.0, 2.0, -3.5}), "HFA")));
    EXPECT_TRUE(Probe::m_bNoDataActive(m_p) && ActiveNoData() == std::vector<double>({1.0, 2.0, -3.5}));
    bool hasNoData = false;
    EXPECT_TRUE(m_p.GetNoDataValue(hasNoData) == 1.0 && hasNoData); // band 1 is current

    KRC::KRGORasterAccessorPlugin other;
    ASSERT_TRUE(other.OpenForRead(Write("some.img", Bands(3, {1.0, 2.0}), "HFA").c_str())); // band 3: none
    EXPECT_TRUE(!Probe::m_bNoDataActive(other) && Probe::m_activeNoData(other).GetSize() == 0);
    EXPECT_TRUE(Probe::m_noDataValues(other).GetSize() == 3 && Probe::m_noDataValues(other)[1] == 2.0);

    // The filter colour replaces the nodata values, here on five bands.
    ASSERT_TRUE(Open(Write("five.img", Bands(5, {7.0, 8.0, 9.0, 10.0, 11.0}), "HFA")));
    m_p.SetFilterColor(KRC::KRColor3(1.0f, 0.5f, 0.25f, 0.75f));
    m_p.SetFilterColorTolerance(3.0);
    EXPECT_EQ(Probe::m_dNoDataTolerance(m_p), 1e-10); // not in use yet
    m_p.SetFilterColorUsed(true);
    EXPECT_EQ(Probe::m_dNoDataTolerance(m_p), 3.0);
    EXPECT_EQ(ActiveNoData(), std::vector<double>({255.0, 127.5, 63.75, 191.25, 0.0})); // r, g, b, a, 0
    m_p.SetFilterColorUsed(false);
    EXPECT_EQ(Probe::m_dNoDataTolerance(m_p), 1e-10);
    EXPECT_EQ(ActiveNoData(), std::vector<double>({7.0, 8.0, 9.0, 10.0, 11.0})); // the bands' own come back

    // Without nodata, switching the colour off keeps its values; 0.5 is stored as 127.5, read back as 127.
    ASSERT_TRUE(Open(Write("plain.tif", Bands(3))));
    m_p.SetFilterColor(KRC::KRColor3(0.5f, 1.0f, 0.0f, 1.0f));
    m_p.SetFilterColorUsed(true);
    m_p.SetFilterColorUsed(false);
    EXPECT_TRUE(!Probe::m_bNoDataActive(m_p) && ActiveNoData() == std::vector<double>({127.5, 255.0, 0.0}));
    const KRC::KRColor3 colour = m_p.GetFilterColor();
    EXPECT_TRUE(std::fabs(colour.r - 127.0f / 255.0f) < 1e-6f && colour.g == 1.0f && colour.b == 0.0f) << colour.r;
}

TEST_F(OpenTest, SecondRasterReplacesTheFirstsState)
{
    krtest::RasterLayout first = Bands(3, {0.0, 0.0, 0.0});
    first.geoTransform = {500000.0, 30.0, 0.0, 4500000.0, 0.0, -30.0};
    first.wkt = krtest::WktOfEpsg(32633);
    const std::string firstPath = Write("first.tif", first);
    for (int b = 1; b <= 3; ++b)
        StoreStatistics(firstPath, b, 1.0, 200.0);
    krtest::RasterLayout second = Bands(1);
    second.width = second.height = 2;
    second.value = [](int, int c, int r) { return 3.0 + c + r; };

    ASSERT_TRUE(Open(firstPath) && Open(firstPath) && Probe::m_nProjType(m_p) == 2); // twice on one object
    ASSERT_TRUE(Open(Write("second.tif", second)));
    EXPECT_TRUE(Probe::m_nBandCount(m_p) == 1 && Probe::m_noDataValues(m_p).GetSize() == 1 &&
                !Probe::m_bNoDataActive(m_p));
    EXPECT_TRUE(Probe::m_dMinValue(m_p) == 3.0 && Probe::m_dMaxValue(m_p) == 5.0 && !Probe::m_bandHasMax(m_p)[1] &&
                !Probe::m_bandHasMax(m_p)[2]);
    EXPECT_TRUE(Probe::m_nProjType(m_p) == 1 && !Probe::m_pSrcToLatLon(m_p) && !Probe::m_pLatLonSRS(m_p));
    EXPECT_TRUE(Probe::m_srcBounds(m_p).GetGeoBounds().right == 11.0 &&
                Probe::m_latLonBounds(m_p).GetGeoBounds().bottom == 49.0);
    EXPECT_EQ(std::string(m_p.ExportProjectionRefToProj4().Cstr()).find("+proj=utm"), std::string::npos);
}

TEST_F(OpenTest, RealRastersMatchGdal)
{
    if (!std::filesystem::exists(KR_REAL_DATA_DIR))
        GTEST_SKIP() << "real-world data absent";
    // Projected references give kind 2, else 1: the JPEG has only a world file, in feet, yet is taken as degrees.
    for (const char* file : {"rasterio/RGB.byte.tif", "terra/elev.tif", "rio-tiler/inverted_lat.tif",
                             "geotiff-samples/SP27GTIF.TIF", "node-gdal/a39se10.jpg"}) {
        SCOPED_TRACE(file);
        const std::string path = std::string(KR_REAL_DATA_DIR) + "/" + file;
        GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER));
        ASSERT_TRUE(ds && Open(path));
        const int kind = ds->GetSpatialRef() != nullptr && ds->GetSpatialRef()->IsProjected() ? 2 : 1;
        EXPECT_TRUE(Probe::m_nWidth(m_p) == std::uint64_t(ds->GetRasterXSize()) &&
                    Probe::m_nHeight(m_p) == std::uint64_t(ds->GetRasterYSize()));
        EXPECT_TRUE(Probe::m_nBandCount(m_p) == ds->GetRasterCount() && Probe::m_nProjType(m_p) == kind);
        double gt[6] = {0, 1, 0, 0, 0, 1}, xs[4], ys[4]; // GDAL's own geotransform at the four corners
        ds->GetGeoTransform(gt);
        for (int k = 0; k < 4; ++k)
            GDALApplyGeoTransform(gt, (k & 1) * ds->GetRasterXSize(), (k >> 1) * ds->GetRasterYSize(), &xs[k], &ys[k]);
        const KRC::KRRect2d want(*std::min_element(xs, xs + 4), *std::max_element(ys, ys + 4),
                                 *std::max_element(xs, xs + 4), *std::min_element(ys, ys + 4));
        krtest::ExpectRectNear(Probe::m_srcBounds(m_p).GetGeoBounds(), want,
                               1e-9 * std::max(1.0, std::fabs(want.left) + std::fabs(want.top)));
        int gdalHas = 0;
        const double gdalNoData = ds->GetRasterBand(1)->GetNoDataValue(&gdalHas);
        bool has = false;
        EXPECT_TRUE((m_p.GetNoDataValue(has) == gdalNoData || gdalHas == 0) && has == (gdalHas != 0));
    }
}

} // namespace
