// Georeferencing: world files, bounds of plain and rotated grids, the ".prj" fallback, the resolution rule.
#include <array>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "KRPluginProbe.h"
#include "KRTestSupport.h"

using KRC::KRRect2d;
using krtest::ExpectRectNear;
using Probe = KRC::KRGORasterAccessorPluginProbe;

namespace {

class GeorefTest : public ::testing::Test {
protected:
    void SetUp() override { GDALAllRegister(); }

    //! A BMP (no geotransform, and GDAL reads ".bpw" or ".wld", never ".tfw") or a GeoTIFF with one.
    std::string Write(const std::string& name, int width, int height, std::vector<double> gt = {}, std::string wkt = "")
    {
        const krtest::RasterLayout layout{width,         height,         1,  GDT_Byte,
                                        std::move(gt), std::move(wkt), {}, [](int, int, int) { return 0.0; }};
        EXPECT_TRUE(krtest::WriteRaster(m_dir.File(name), layout, layout.geoTransform.empty() ? "BMP" : "GTiff"));
        return m_dir.File(name);
    }
    const KRRect2d& Src() { return Probe::m_srcBounds(m_p).GetGeoBounds(); }

    krtest::TempDir m_dir;
    KRC::KRGORasterAccessorPlugin m_p;
};

TEST_F(GeorefTest, WorldFileReadsSixNumbersInEitherOrder)
{
    const std::tuple<const char*, bool, std::array<double, 6>> cases[] = {
        {"2\n0\n0\n-2\n100\n300\n", true, {100, 2, 0, 300, 0, -2}},
        {"100\n1\n0\n300\n0\n-1\n", true, {100, 1, 0, 300, 0, -1}},                  // GDAL's order
        {"2\n0\n0\n-2\n100\n", false, {-1, -2, -3, -4, -5, -6}},                     // five lines: untouched
        {"\n  2.5\n\n0\r\n0\n-2.5\n1e3\n-4E2", true, {1000, 2.5, 0, -400, 0, -2.5}}, // CRLF, blank lines
        {"2\n1e-17\n0\n-2\n100\n300", true, {100, 2, 0, 300, 1e-17, -2}},            // tiny rotation counts as zero
        {"2\n1e-16\n0\n-2\n100\n300", true, {2, 1e-16, 0, -2, 100, 300}},            // at the limit: GDAL's order
        {"x\n0\n0\n-2\n100\n300", true, {100, 0, 0, 300, 0, -2}}};                   // text reads as zero
    for (const auto& [text, read, expected] : cases) {
        krtest::WriteText(m_dir.File("grid.tfw"), text);
        std::array<double, 6> gt = {-1, -2, -3, -4, -5, -6};
        EXPECT_EQ(Probe::ReadTFW(m_p, KRC::KRString(m_dir.File("grid.tfw").c_str()), gt.data()), read) << text;
        EXPECT_EQ(gt, expected) << text;
    }
}

TEST_F(GeorefTest, BoundsFromTransformWorldFileOrPixelGridAndPrjFallback)
{
    // A world file (CRLF) places a raster without a transform: the corner as it stands, no half-pixel shift.
    krtest::WriteText(m_dir.File("tfw.tfw"), "2\r\n0\r\n0\r\n-2\r\n100\r\n300\r\n");
    ASSERT_TRUE(m_p.OpenForRead(Write("tfw.bmp", 10, 5).c_str()));
    ExpectRectNear(Src(), KRRect2d(100, 300, 120, 290), 0);
    EXPECT_TRUE(Probe::m_dPixelSizeX(m_p) == 2.0 && Probe::m_dPixelSizeY(m_p) == -2.0 && m_p.IsDataReverse());

    ASSERT_TRUE(m_p.OpenForRead(Write("bare.bmp", 10, 5).c_str()));
    ExpectRectNear(Src(), KRRect2d(0, 5, 10, 0), 0);
    EXPECT_TRUE(Probe::m_dPixelSizeY(m_p) == 1.0 && !m_p.IsDataReverse() && Probe::m_nProjType(m_p) == 1);

    krtest::WriteText(m_dir.File("own.tfw"), "2\n0\n0\n-2\n100\n300\n"); // the internal transform wins
    ASSERT_TRUE(m_p.OpenForRead(Write("own.tif", 4, 4, {10.0, 0.5, 0.0, 50.0, 0.0, -0.5}).c_str()));
    ExpectRectNear(Src(), KRRect2d(10, 50, 12, 48), 0);

    // Rotated: corners (c, r) -> (1000 + 10c + 5r, 2000 + 3c - 10r), so x 1000 .. 1070 and y 1940 .. 2012.
    ASSERT_TRUE(m_p.OpenForRead(Write("rotated.tif", 4, 6, {1000.0, 10.0, 5.0, 2000.0, 3.0, -10.0}).c_str()));
    ExpectRectNear(Src(), KRRect2d(1000, 2012, 1070, 1940), 0);
    EXPECT_TRUE(Probe::m_dPixelSizeX(m_p) == 10.0 && Probe::m_dPixelSizeY(m_p) == -10.0);

    // A ".prj" gives the reference only when the dataset has none.
    krtest::WriteText(m_dir.File("utm.tfw"), "30\n0\n0\n-30\n500000\n4500000\n");
    krtest::WriteText(m_dir.File("utm.prj"), krtest::WktOfEpsg(32633, true));
    ASSERT_TRUE(m_p.OpenForRead(Write("utm.bmp", 10, 10).c_str()));
    EXPECT_EQ(Probe::m_nProjType(m_p), 2);
    EXPECT_NEAR(Probe::m_latLonBounds(m_p).GetGeoBounds().left, 15.0, 1e-9); // zone 33's central meridian

    krtest::WriteText(m_dir.File("geo.prj"), krtest::WktOfEpsg(32633, true));
    ASSERT_TRUE(m_p.OpenForRead(Write("geo.tif", 4, 4, {10, 0.5, 0, 50, 0, -0.5}, krtest::WktOfEpsg(4326)).c_str()));
    EXPECT_TRUE(Probe::m_nProjType(m_p) == 1 && Probe::m_pSrcToLatLon(m_p) == nullptr);
}

TEST_F(GeorefTest, ResolutionDividesByStepsBetweenFirstAndLastPixel)
{
    // width, height, source bounds, geographic bounds, then x, y, geographic x, geographic y resolutions
    const std::tuple<std::uint64_t, std::uint64_t, KRRect2d, KRRect2d, std::array<double, 4>> cases[] = {
        {11, 5, {0, 40, 100, 0}, {10, 2, 12, 1}, {10, 10, 0.2, 0.25}},
        {1, 3, {0, 40, 100, 0}, {10, 2, 12, 1}, {100, 20, 2, 0.5}}, // one pixel wide
        {0, 0, {0, 40, 100, 0}, {10, 2, 12, 1}, {100, 40, 2, 1}},   // empty
        {3, 3, {100, 0, 0, 40}, {12, 1, 10, 2}, {50, 20, 1, 0.5}}}; // reversed rectangle
    for (const auto& [width, height, src, geo, expected] : cases) {
        Probe::m_nWidth(m_p) = width;
        Probe::m_nHeight(m_p) = height;
        Probe::m_srcBounds(m_p).SetGeoBounds(src);
        Probe::m_latLonBounds(m_p).SetGeoBounds(geo);
        Probe::CalcResolution(m_p);
        const double got[] = {Probe::m_dResX(m_p), Probe::m_dResY(m_p), Probe::m_dLatLonResX(m_p),
                              Probe::m_dLatLonResY(m_p)};
        for (int k = 0; k < 4; ++k)
            EXPECT_DOUBLE_EQ(got[k], expected[k]) << width << " x " << height << ": " << k;
    }
}

} // namespace
