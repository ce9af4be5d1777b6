// Georeferencing: world files in both line orders, bounds of plain and rotated
// grids, the world file and ".prj" fallbacks, and the resolution rule.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "KRPluginProbe.h"
#include "KRTestSupport.h"

using KRC::KRGORasterAccessorPlugin;
using KRC::KRRect2d;
using Probe = KRC::KRGORasterAccessorPluginProbe;

namespace {

void ExpectRect(const KRRect2d& got, double left, double top, double right, double bottom)
{
    EXPECT_DOUBLE_EQ(got.left, left);
    EXPECT_DOUBLE_EQ(got.top, top);
    EXPECT_DOUBLE_EQ(got.right, right);
    EXPECT_DOUBLE_EQ(got.bottom, bottom);
}

class GeorefTest : public ::testing::Test {
protected:
    void SetUp() override { krtest::RegisterGdal(); }

    //! A BMP: GDAL looks for ".bpw" or ".wld" beside it, never ".tfw", so the
    //! world file below is the accessor's own to read.
    std::string WriteBmp(const std::string& stem, int width, int height)
    {
        krtest::RasterSpec layout;
        layout.width = width;
        layout.height = height;
        layout.type = GDT_Byte;
        const std::string path = m_dir.File(stem + ".bmp");
        EXPECT_TRUE(krtest::WriteRaster(path, layout, "BMP"));
        return path;
    }

    krtest::TempDir m_dir;
    KRGORasterAccessorPlugin m_p;
};

// --- World-file parsing ------------------------------------------------------------

struct WorldFileCase {
    const char* name;
    const char* text;
    bool read;
    double gt[6];
};

class WorldFileTest : public GeorefTest, public ::testing::WithParamInterface<WorldFileCase> {};

TEST_P(WorldFileTest, ReadsSixNumbersInEitherOrder)
{
    const WorldFileCase& c = GetParam();
    const std::string path = m_dir.File("grid.tfw");
    krtest::WriteText(path, c.text);
    const double untouched[6] = {-1.0, -2.0, -3.0, -4.0, -5.0, -6.0};
    double gt[6];
    std::copy(untouched, untouched + 6, gt);

    EXPECT_EQ(Probe::ReadTFW(m_p, KRC::KRString(path.c_str()), gt), c.read);
    const double* expected = c.read ? c.gt : untouched;
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(gt[k], expected[k]) << "gt" << k;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WorldFileTest,
    ::testing::Values(
        WorldFileCase{"UsualOrder", "2\n0\n0\n-2\n100\n300\n", true, {100, 2, 0, 300, 0, -2}},
        WorldFileCase{"UsualOrderCrlf", "2\r\n0\r\n0\r\n-2\r\n100\r\n300\r\n", true, {100, 2, 0, 300, 0, -2}},
        WorldFileCase{"GdalOrder", "100\n1\n0\n300\n0\n-1\n", true, {100, 1, 0, 300, 0, -1}},
        WorldFileCase{"FiveLinesIgnored", "2\n0\n0\n-2\n100\n", false, {}},
        WorldFileCase{"BlankLinesAndBlanksSkipped", "\n  2.5\n\n0\r\n0\n-2.5\n1e3\n-4E2", true,
                      {1000, 2.5, 0, -400, 0, -2.5}},
        WorldFileCase{"TinyRotationCountsAsZero", "2\n1e-17\n0\n-2\n100\n300", true, {100, 2, 0, 300, 1e-17, -2}},
        WorldFileCase{"RotationAtTheLimitIsGdalOrder", "2\n1e-16\n0\n-2\n100\n300", true,
                      {2, 1e-16, 0, -2, 100, 300}},
        WorldFileCase{"TextReadsAsZero", "x\n0\n0\n-2\n100\n300", true, {100, 0, 0, 300, 0, -2}}),
    [](const ::testing::TestParamInfo<WorldFileCase>& info) { return std::string(info.param.name); });

// --- Bounds of the opened raster ------------------------------------------------------

TEST_F(GeorefTest, WorldFilePlacesARasterWithoutItsOwnTransform)
{
    const std::string path = WriteBmp("tfw", 10, 5);
    krtest::WriteText(m_dir.File("tfw.tfw"), "2\r\n0\r\n0\r\n-2\r\n100\r\n300\r\n");
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    // The corner is taken as it stands: no half-pixel shift.
    ExpectRect(Probe::m_srcBounds(m_p).GetGeoBounds(), 100, 300, 120, 290);
    EXPECT_EQ(Probe::m_dPixelSizeX(m_p), 2.0);
    EXPECT_EQ(Probe::m_dPixelSizeY(m_p), -2.0);
    EXPECT_TRUE(m_p.IsDataReverse());
    // Steps between the first and last pixel: 20 / 9 and 10 / 4.
    EXPECT_DOUBLE_EQ(Probe::m_dResX(m_p), 20.0 / 9.0);
    EXPECT_DOUBLE_EQ(Probe::m_dResY(m_p), 2.5);
}

TEST_F(GeorefTest, WithoutTransformOrWorldFileThePixelGridIsTheBounds)
{
    const std::string path = WriteBmp("bare", 10, 5);
    krtest::WriteText(m_dir.File("bare.tfw"), "2\n0\n0\n-2\n100\n"); // five lines: ignored
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    ExpectRect(Probe::m_srcBounds(m_p).GetGeoBounds(), 0, 5, 10, 0);
    EXPECT_EQ(Probe::m_dPixelSizeY(m_p), 1.0);
    EXPECT_FALSE(m_p.IsDataReverse());
    EXPECT_EQ(Probe::m_nProjType(m_p), 1); // nothing imported: still taken as degrees
}

TEST_F(GeorefTest, InternalTransformWinsOverAWorldFile)
{
    krtest::RasterSpec layout;
    layout.geoTransform = {10.0, 0.5, 0.0, 50.0, 0.0, -0.5};
    const std::string path = m_dir.File("own.tif");
    ASSERT_TRUE(krtest::WriteRaster(path, layout));
    krtest::WriteText(m_dir.File("own.tfw"), "2\n0\n0\n-2\n100\n300\n");
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    ExpectRect(Probe::m_srcBounds(m_p).GetGeoBounds(), 10, 50, 12, 48);
}

TEST_F(GeorefTest, RotatedGridGetsTheBoxAroundItsCorners)
{
    krtest::RasterSpec layout;
    layout.width = 4;
    layout.height = 6;
    layout.geoTransform = {1000.0, 10.0, 5.0, 2000.0, 3.0, -10.0};
    const std::string path = m_dir.File("rotated.tif");
    ASSERT_TRUE(krtest::WriteRaster(path, layout));
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    // Corners (c, r) -> (1000 + 10c + 5r, 2000 + 3c - 10r):
    // (0,0) 1000,2000  (0,6) 1030,1940  (4,0) 1040,2012  (4,6) 1070,1952.
    ExpectRect(Probe::m_srcBounds(m_p).GetGeoBounds(), 1000, 2012, 1070, 1940);
    EXPECT_EQ(Probe::m_dPixelSizeX(m_p), 10.0);
    EXPECT_EQ(Probe::m_dPixelSizeY(m_p), -10.0);
}

// --- Reference from a ".prj" beside the raster -------------------------------------------

std::string EsriWktOfEpsg(int epsg)
{
    OGRSpatialReference srs;
    srs.importFromEPSG(epsg);
    srs.morphToESRI();
    char* wkt = nullptr;
    srs.exportToWkt(&wkt);
    std::string text = wkt != nullptr ? wkt : "";
    CPLFree(wkt);
    return text;
}

TEST_F(GeorefTest, PrjFileGivesTheReferenceOnlyWhenTheDatasetHasNone)
{
    const std::string path = WriteBmp("utm", 10, 10);
    krtest::WriteText(m_dir.File("utm.tfw"), "30\n0\n0\n-30\n500000\n4500000\n");
    krtest::WriteText(m_dir.File("utm.prj"), EsriWktOfEpsg(32633));
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    EXPECT_EQ(Probe::m_nProjType(m_p), 2);
    // Easting 500000 is the central meridian of zone 33 (15 E).
    EXPECT_NEAR(Probe::m_latLonBounds(m_p).GetGeoBounds().left, 15.0, 1e-9);

    krtest::RasterSpec layout;
    layout.geoTransform = {10.0, 0.5, 0.0, 50.0, 0.0, -0.5};
    layout.wkt = krtest::WktOfEpsg(4326);
    ASSERT_TRUE(krtest::WriteRaster(m_dir.File("geo.tif"), layout));
    krtest::WriteText(m_dir.File("geo.prj"), EsriWktOfEpsg(32633));
    ASSERT_TRUE(m_p.OpenForRead(m_dir.File("geo.tif").c_str()));
    EXPECT_EQ(Probe::m_nProjType(m_p), 1);
    EXPECT_EQ(Probe::m_pSrcToLatLon(m_p), nullptr);
}

// --- Resolution ---------------------------------------------------------------------

struct ResolutionCase {
    const char* name;
    std::uint64_t width;
    std::uint64_t height;
    KRRect2d src;
    KRRect2d geo;
    double resX, resY, geoResX, geoResY;
};

class ResolutionTest : public GeorefTest, public ::testing::WithParamInterface<ResolutionCase> {};

TEST_P(ResolutionTest, DividesByStepsBetweenFirstAndLastPixel)
{
    const ResolutionCase& c = GetParam();
    Probe::m_nWidth(m_p) = c.width;
    Probe::m_nHeight(m_p) = c.height;
    Probe::m_srcBounds(m_p).SetGeoBounds(c.src);
    Probe::m_latLonBounds(m_p).SetGeoBounds(c.geo);
    Probe::CalcResolution(m_p);
    EXPECT_DOUBLE_EQ(Probe::m_dResX(m_p), c.resX);
    EXPECT_DOUBLE_EQ(Probe::m_dResY(m_p), c.resY);
    EXPECT_DOUBLE_EQ(Probe::m_dLatLonResX(m_p), c.geoResX);
    EXPECT_DOUBLE_EQ(Probe::m_dLatLonResY(m_p), c.geoResY);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ResolutionTest,
    ::testing::Values(ResolutionCase{"Grid", 11, 5, {0, 40, 100, 0}, {10, 2, 12, 1}, 10, 10, 0.2, 0.25},
                      ResolutionCase{"OnePixelWide", 1, 3, {0, 40, 100, 0}, {10, 2, 12, 1}, 100, 20, 2, 0.5},
                      ResolutionCase{"Empty", 0, 0, {0, 40, 100, 0}, {10, 2, 12, 1}, 100, 40, 2, 1},
                      ResolutionCase{"ReversedRectangle", 3, 3, {100, 0, 0, 40}, {12, 1, 10, 2}, 50, 20, 1, 0.5}),
    [](const ::testing::TestParamInfo<ResolutionCase>& info) { return std::string(info.param.name); });

} // namespace
