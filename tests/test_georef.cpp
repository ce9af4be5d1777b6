// Georeferencing: world files in both line orders, bounds of plain and rotated
// grids, the world file and ".prj" fallbacks, and the resolution rule.
#include <cstdint>
#include <string>
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
    void SetUp() override { krtest::RegisterGdal(); }

    //! A BMP (no geotransform, and GDAL reads ".bpw" or ".wld", never ".tfw") or a GeoTIFF with one.
    std::string Write(const std::string& name, int width, int height, std::vector<double> gt = {}, std::string wkt = "")
    {
        krtest::RasterSpec layout;
        layout.width = width;
        layout.height = height;
        layout.type = GDT_Byte;
        layout.geoTransform = std::move(gt);
        layout.wkt = std::move(wkt);
        EXPECT_TRUE(krtest::WriteRaster(m_dir.File(name), layout, layout.geoTransform.empty() ? "BMP" : "GTiff"));
        return m_dir.File(name);
    }
    const KRRect2d& Src() { return Probe::m_srcBounds(m_p).GetGeoBounds(); }

    krtest::TempDir m_dir;
    KRC::KRGORasterAccessorPlugin m_p;
};

TEST_F(GeorefTest, WorldFileReadsSixNumbersInEitherOrder)
{
    const struct {
        const char* text;
        bool read;
        double gt[6];
    } cases[] = {{"2\n0\n0\n-2\n100\n300\n", true, {100, 2, 0, 300, 0, -2}},
                 {"2\r\n0\r\n0\r\n-2\r\n100\r\n300\r\n", true, {100, 2, 0, 300, 0, -2}},
                 {"100\n1\n0\n300\n0\n-1\n", true, {100, 1, 0, 300, 0, -1}}, // GDAL's order
                 {"2\n0\n0\n-2\n100\n", false, {}},                          // five lines: ignored
                 {"\n  2.5\n\n0\r\n0\n-2.5\n1e3\n-4E2", true, {1000, 2.5, 0, -400, 0, -2.5}},
                 {"2\n1e-17\n0\n-2\n100\n300", true, {100, 2, 0, 300, 1e-17, -2}}, // tiny rotation counts as zero
                 {"2\n1e-16\n0\n-2\n100\n300", true, {2, 1e-16, 0, -2, 100, 300}}, // at the limit: GDAL's order
                 {"x\n0\n0\n-2\n100\n300", true, {100, 0, 0, 300, 0, -2}}};        // text reads as zero
    const std::string path = m_dir.File("grid.tfw");
    for (const auto& c : cases) {
        krtest::WriteText(path, c.text);
        double gt[6] = {-1, -2, -3, -4, -5, -6};
        EXPECT_EQ(Probe::ReadTFW(m_p, KRC::KRString(path.c_str()), gt), c.read) << c.text;
        for (int k = 0; k < 6; ++k)
            EXPECT_EQ(gt[k], c.read ? c.gt[k] : -1.0 - k) << c.text << " gt" << k;
    }
}

TEST_F(GeorefTest, BoundsFromTransformWorldFileOrPixelGrid)
{
    // A world file (CRLF) places a raster without a transform: the corner as it stands, no half-pixel shift.
    krtest::WriteText(m_dir.File("tfw.tfw"), "2\r\n0\r\n0\r\n-2\r\n100\r\n300\r\n");
    ASSERT_TRUE(m_p.OpenForRead(Write("tfw.bmp", 10, 5).c_str()));
    ExpectRectNear(Src(), KRRect2d(100, 300, 120, 290), 0);
    EXPECT_TRUE(Probe::m_dPixelSizeX(m_p) == 2.0 && Probe::m_dPixelSizeY(m_p) == -2.0 && m_p.IsDataReverse());
    EXPECT_DOUBLE_EQ(Probe::m_dResX(m_p), 20.0 / 9.0); // steps between first and last pixel
    EXPECT_DOUBLE_EQ(Probe::m_dResY(m_p), 2.5);

    krtest::WriteText(m_dir.File("bare.tfw"), "2\n0\n0\n-2\n100\n"); // five lines: ignored
    ASSERT_TRUE(m_p.OpenForRead(Write("bare.bmp", 10, 5).c_str()));
    ExpectRectNear(Src(), KRRect2d(0, 5, 10, 0), 0);
    EXPECT_TRUE(Probe::m_dPixelSizeY(m_p) == 1.0 && !m_p.IsDataReverse());
    EXPECT_EQ(Probe::m_nProjType(m_p), 1); // nothing imported: still taken as degrees

    krtest::WriteText(m_dir.File("own.tfw"), "2\n0\n0\n-2\n100\n300\n"); // the internal transform wins
    ASSERT_TRUE(m_p.OpenForRead(Write("own.tif", 4, 4, {10.0, 0.5, 0.0, 50.0, 0.0, -0.5}).c_str()));
    ExpectRectNear(Src(), KRRect2d(10, 50, 12, 48), 0);

    // Rotated: corners (c, r) -> (1000 + 10c + 5r, 2000 + 3c - 10r):
    // (0,0) 1000,2000  (0,6) 1030,1940  (4,0) 1040,2012  (4,6) 1070,1952.
    ASSERT_TRUE(m_p.OpenForRead(Write("rotated.tif", 4, 6, {1000.0, 10.0, 5.0, 2000.0, 3.0, -10.0}).c_str()));
    ExpectRectNear(Src(), KRRect2d(1000, 2012, 1070, 1940), 0);
    EXPECT_TRUE(Probe::m_dPixelSizeX(m_p) == 10.0 && Probe::m_dPixelSizeY(m_p) == -10.0);
}

TEST_F(GeorefTest, PrjFileGivesTheReferenceOnlyWhenTheDatasetHasNone)
{
    krtest::WriteText(m_dir.File("utm.tfw"), "30\n0\n0\n-30\n500000\n4500000\n");
    krtest::WriteText(m_dir.File("utm.prj"), krtest::WktOfEpsg(32633, true));
    ASSERT_TRUE(m_p.OpenForRead(Write("utm.bmp", 10, 10).c_str()));
    EXPECT_EQ(Probe::m_nProjType(m_p), 2);
    // Easting 500000 is the central meridian of zone 33 (15 E).
    EXPECT_NEAR(Probe::m_latLonBounds(m_p).GetGeoBounds().left, 15.0, 1e-9);

    krtest::WriteText(m_dir.File("geo.prj"), krtest::WktOfEpsg(32633, true));
    ASSERT_TRUE(m_p.OpenForRead(Write("geo.tif", 4, 4, {10, 0.5, 0, 50, 0, -0.5}, krtest::WktOfEpsg(4326)).c_str()));
    EXPECT_EQ(Probe::m_nProjType(m_p), 1);
    EXPECT_EQ(Probe::m_pSrcToLatLon(m_p), nullptr);
}

TEST_F(GeorefTest, ResolutionDividesByStepsBetweenFirstAndLastPixel)
{
    const struct {
        std::uint64_t width, height;
        KRRect2d src, geo;
        double resX, resY, geoResX, geoResY;
    } cases[] = {{11, 5, {0, 40, 100, 0}, {10, 2, 12, 1}, 10, 10, 0.2, 0.25},
                 {1, 3, {0, 40, 100, 0}, {10, 2, 12, 1}, 100, 20, 2, 0.5}, // one pixel wide
                 {0, 0, {0, 40, 100, 0}, {10, 2, 12, 1}, 100, 40, 2, 1},   // empty
                 {3, 3, {100, 0, 0, 40}, {12, 1, 10, 2}, 50, 20, 1, 0.5}}; // reversed rectangle
    for (const auto& c : cases) {
        Probe::m_nWidth(m_p) = c.width;
        Probe::m_nHeight(m_p) = c.height;
        Probe::m_srcBounds(m_p).SetGeoBounds(c.src);
        Probe::m_latLonBounds(m_p).SetGeoBounds(c.geo);
        Probe::CalcResolution(m_p);
        EXPECT_DOUBLE_EQ(Probe::m_dResX(m_p), c.resX) << c.width;
        EXPECT_DOUBLE_EQ(Probe::m_dResY(m_p), c.resY) << c.width;
        EXPECT_DOUBLE_EQ(Probe::m_dLatLonResX(m_p), c.geoResX) << c.width;
        EXPECT_DOUBLE_EQ(Probe::m_dLatLonResY(m_p), c.geoResY) << c.width;
    }
}

} // namespace
