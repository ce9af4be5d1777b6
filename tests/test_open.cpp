// Opening rasters: routing, band types, statistics, nodata and the filter colour, reopening, and where a raster
// lies (its geotransform or a world file), with real rasters checked against GDAL.
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

using KRC::KRRect2d;
using krtest::ExpectRectNear;
using Probe = KRC::KRGORasterAccessorPluginProbe;

namespace {

void StoreStatistics(const std::string& path, int band, double min, double max)
{
    GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
    ASSERT_TRUE(ds && ds->GetRasterBand(band)->SetStatistics(min, max, (min + max) / 2, 1.0) == CE_None);
}

//! A 4 x 4 Float32 layout of `count` bands at (10, 50), half a degree a pixel.
krtest::RasterLayout Bands(int count, std::vector<double> noData = {})
{
    krtest::RasterLayout layout; // values 0
    layout.bands = count;
    layout.geoTransform = {10.0, 0.5, 0.0, 50.0, 0.0, -0.5};
    layout.noData = std::move(noData);
    return layout;
}

class OpenTest : public ::testing::Test {
protected:
    //! Erdas Imagine ("HFA") keeps one nodata value per band, which a GeoTIFF cannot. A BMP has no geotransform.
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
    const KRRect2d& Src() { return m_p.GetSrcBounds().GetGeoBounds(); }

    krtest::TempDir m_dir;
    KRC::KRGORasterAccessorPlugin m_p;
};

TEST_F(OpenTest, DemExtensionRoutesAndBandTypesMapToTheHostsFormats)
{
    ASSERT_TRUE(Open(Write("tiff.dem", Bands(1))) && Probe::m_pDataset(m_p) && !Probe::m_bNsdtfDem(m_p));
    // An NSDTF header without its grid fails, even after a one-band raster whose size could pass for it.
    krtest::WriteText(m_dir.File("broken.dem"), "NSDTF-DEM");
    EXPECT_FALSE(Open(m_dir.File("broken.dem")) || Probe::m_bNsdtfDem(m_p));

    // GDAL's type, then the host's sample format and pixel format
    const std::tuple<GDALDataType, int, int> cases[] = {
        {GDT_Byte, 1, 53},    {GDT_UInt16, 3, 54},  {GDT_Int16, 2, 54},  {GDT_UInt32, 6, 22}, {GDT_Int32, 5, 22},
        {GDT_Float32, 4, 58}, {GDT_Float64, 8, 59}, {GDT_CInt16, 5, 22}, {GDT_CInt32, 7, 57}, {GDT_CFloat32, 8, 59},
        {GDT_CFloat64, 0, 0}, {GDT_Int64, 0, 0},    {GDT_UInt64, 0, 0}};
    for (const auto& [type, dataFormat, pixelFormat] : cases) {
        krtest::RasterLayout layout = Bands(1);
        layout.type = type;
        ASSERT_TRUE(Open(Write("typed.tif", layout)));
        EXPECT_TRUE(int(m_p.GetRasterDataFormat()) == dataFormat && int(m_p.GetPixelFormat()) == pixelFormat)
            << GDALGetDataTypeName(type);
    }
}

// 4 x 4 bands of c + 10r, but -7.5 at (1, 1) and band 1's nodata at (3, 3), which must not count. Band count,
// stored (min, max) per band (min > max: none stored), then whether the range is valid and the range.
TEST_F(OpenTest, RangeSpansTheBandsStatistics)
{
    const std::tuple<int, std::vector<std::pair<double, double>>, bool, double, double> cases[] = {
        {1, {}, true, -7.5, 32.0},                                          // one band: scanned exactly
        {1, {{-100, 1000}}, true, -100, 1000},                              // stored statistics win
        {3, {}, false, 1e100, -1e100},                                      // several: never scanned
        {3, {{5, 50}, {1, 0}, {-20, 30}}, false, -20, 50},                  // one unknown band invalidates
        {5, {{0, 10}, {0, 20}, {0, 30}, {0, 40}, {-3, 99}}, true, -3, 99}}; // the fifth counts, without a slot
    krtest::RasterLayout layout = Bands(1, {-9999.0});
    layout.value = [](int, int c, int r) {
        return c == 1 && r == 1 ? -7.5 : c == 3 && r == 3 ? -9999.0 : c + 10.0 * r;
    };
    int index = 0;
    for (const auto& [bands, stored, valid, min, max] : cases) {
        SCOPED_TRACE(index);
        layout.bands = bands;
        const std::string path = Write("range" + std::to_string(index++) + ".tif", layout);
        for (size_t b = 0; b < stored.size(); ++b)
            if (stored[b].first <= stored[b].second)
                StoreStatistics(path, static_cast<int>(b) + 1, stored[b].first, stored[b].second);
        ASSERT_TRUE(Open(path));
        EXPECT_EQ(std::tuple(m_p.IsMinMaxValid(), m_p.GetMinValue(), m_p.GetMaxValue()),
                  std::tuple(valid, min, max));
        EXPECT_EQ(Probe::m_bandHasMax(m_p)[1], stored.size() > 1 && stored[1].first <= stored[1].second); // a slot
    }
}

TEST_F(OpenTest, NodataIsInForceOnlyWhenEveryBandDeclaresOneAndTheFilterColourReplacesIt)
{
    ASSERT_TRUE(Open(Write("all.img", Bands(3, {1.0, 2.0, -3.5}), "HFA")));
    bool hasNoData = false;
    EXPECT_TRUE(Probe::m_bNoDataActive(m_p) && ActiveNoData() == std::vector<double>({1.0, 2.0, -3.5}));
    EXPECT_TRUE(m_p.GetNoDataValue(hasNoData) == 1.0 && hasNoData); // band 1 is current
    ASSERT_TRUE(Open(Write("some.img", Bands(3, {1.0, 2.0}), "HFA")) && !Probe::m_bNoDataActive(m_p)); // band 3: none

    // The filter colour replaces the nodata values, here on five bands.
    ASSERT_TRUE(Open(Write("five.img", Bands(5, {7.0, 8.0, 9.0, 10.0, 11.0}), "HFA")));
    m_p.SetFilterColor(KRC::KRColor3(1.0f, 0.5f, 0.25f, 0.75f));
    m_p.SetFilterColorTolerance(3.0);
    EXPECT_EQ(Probe::m_dNoDataTolerance(m_p), 1e-10); // not in use yet
    m_p.SetFilterColorUsed(true);
    EXPECT_EQ(Probe::m_dNoDataTolerance(m_p), 3.0);
    EXPECT_EQ(ActiveNoData(), std::vector<double>({255.0, 127.5, 63.75, 191.25, 0.0})); // r, g, b, a, 0
    m_p.SetFilterColorUsed(false);
    EXPECT_EQ(ActiveNoData(), std::vector<double>({7.0, 8.0, 9.0, 10.0, 11.0})); // the bands' own come back

    // 0.5 is stored as 127.5, read back as 127.
    m_p.SetFilterColor(KRC::KRColor3(0.5f, 1.0f, 0.0f, 1.0f));
    EXPECT_FLOAT_EQ(m_p.GetFilterColor().r, 127.0f / 255.0f);
}

// Closing resets the transformations (see the accessor's life tests); what opening itself must replace is here.
TEST_F(OpenTest, SecondRasterReplacesTheFirstsState)
{
    krtest::RasterLayout first = Bands(3, {0.0, 0.0, 0.0});
    first.wkt = krtest::WktOfEpsg(4326);
    const std::string firstPath = Write("first.tif", first);
    for (int b = 1; b <= 3; ++b)
        StoreStatistics(firstPath, b, 1.0, 200.0);
    ASSERT_TRUE(Open(firstPath) && Open(Write("second.tif", Bands(1))));
    EXPECT_TRUE(Probe::m_noDataValues(m_p).GetSize() == 1 && !Probe::m_bNoDataActive(m_p) &&
                !Probe::m_bandHasMax(m_p)[1] && !Probe::m_bandHasMax(m_p)[2] && m_p.GetMaxValue() == 0.0);
    EXPECT_EQ(std::string(m_p.ExportProjectionRefToWkt().Cstr()), ""); // no reference: not the previous one
}

// A world file places a 4 x 4 raster without a transform (GDAL reads ".bpw" or ".wld" for a BMP, never ".tfw"):
// the corner as it stands, no half-pixel shift. Its text, then the bounds it gives.
TEST_F(OpenTest, WorldFileReadsSixNumbersInEitherOrder)
{
    const std::pair<const char*, KRRect2d> cases[] = {
        {"2\r\n0\r\n0\r\n-2\r\n100\r\n300\r\n", {100, 300, 108, 292}},
        {"100\n2\n0\n300\n0\n-2\n", {100, 300, 108, 292}},              // GDAL's order
        {"\n  2.5\n\n0\n0\n-2.5\n1e3\n-4E2", {1000, -400, 1010, -410}}, // blank lines, exponents
        {"2\n1e-17\n0\n-2\n100\n300", {100, 300, 108, 292}},            // tiny rotation counts as zero
        {"2\n1e-16\n0\n-2\n100\n300", {2, 1598, 2, -2}},                // at the limit: GDAL's order
        {"2\n0\n0\n-2\n100\n", {0, 4, 4, 0}}};                          // five lines: the pixel grid
    krtest::RasterLayout bmp = Bands(1);
    bmp.type = GDT_Byte;
    bmp.geoTransform.clear();
    for (const auto& [text, bounds] : cases) {
        krtest::WriteText(m_dir.File("placed.tfw"), text);
        ASSERT_TRUE(Open(Write("placed.bmp", bmp, "BMP")));
        ExpectRectNear(Src(), bounds, 1e-9);
    }
    EXPECT_TRUE(!m_p.IsDataReverse() && m_p.GetProjType() == 1); // no reference, bounds within degrees
}

// Rotated: corners (c, r) -> (1000 + 10c + 5r, 2000 + 3c - 10r), so x 1000 .. 1060 and y 1960 .. 2012, with
// 3 steps between the outer pixels of 4. A ".prj" is not read when the dataset has a reference of its own.
TEST_F(OpenTest, RotatedBoundsAndNoPrjOverTheDatasetsReference)
{
    krtest::RasterLayout rotated = Bands(1);
    rotated.geoTransform = {1000.0, 10.0, 5.0, 2000.0, 3.0, -10.0};
    rotated.wkt = krtest::WktOfEpsg(32633);
    krtest::WriteText(m_dir.File("rotated.prj"), krtest::WktOfEpsg(4326, true));
    ASSERT_TRUE(Open(Write("rotated.tif", rotated)));
    ExpectRectNear(Src(), KRRect2d(1000, 2012, 1060, 1960), 0);
    EXPECT_TRUE(m_p.GetResX() == 20.0 && m_p.GetResY() == 52.0 / 3 && m_p.IsDataReverse());
    EXPECT_TRUE(m_p.GetProjType() == 2 && Probe::m_pSrcToLatLon(m_p) != nullptr);
}

TEST_F(OpenTest, RealRastersMatchGdal)
{
    if (!std::filesystem::exists(KR_REAL_DATA_DIR))
        GTEST_SKIP() << "real-world data absent";
    GDALAllRegister();
    // Projected references give kind 2, else 1. The SRTM tile has its own transform and a ".tfw" (pixel centres,
    // half a pixel off the corner) beside it, which must not count; the JPEG has only a world file GDAL reads,
    // in feet, yet is taken as degrees; the last raster is south-up.
    for (const char* file : {"rasterio/RGB.byte.tif", "oggm/hef_srtm.tif", "geotiff-samples/SP27GTIF.TIF",
                             "node-gdal/a39se10.jpg", "rio-tiler/inverted_lat.tif"}) {
        SCOPED_TRACE(file);
        const std::string path = std::string(KR_REAL_DATA_DIR) + "/" + file;
        GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER));
        ASSERT_TRUE(ds && Open(path));
        const int kind = ds->GetSpatialRef() != nullptr && ds->GetSpatialRef()->IsProjected() ? 2 : 1;
        EXPECT_TRUE(m_p.GetWidth() == std::uint64_t(ds->GetRasterXSize()) &&
                    m_p.GetHeight() == std::uint64_t(ds->GetRasterYSize()) &&
                    m_p.GetBandCount() == ds->GetRasterCount() && m_p.GetProjType() == kind);
        double gt[6] = {0, 1, 0, 0, 0, 1}; // GDAL's own geotransform; none of them is rotated
        ds->GetGeoTransform(gt);
        const double x1 = gt[0] + gt[1] * ds->GetRasterXSize(), y1 = gt[3] + gt[5] * ds->GetRasterYSize();
        const KRRect2d want(std::min(gt[0], x1), std::max(gt[3], y1), std::max(gt[0], x1), std::min(gt[3], y1));
        ExpectRectNear(Src(), want, 1e-9 * std::max(1.0, std::fabs(want.left) + std::fabs(want.top)));
        EXPECT_EQ(m_p.IsDataReverse(), gt[5] < 0);
    }
}

} // namespace
