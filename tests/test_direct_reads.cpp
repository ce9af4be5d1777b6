// Direct reads in raster coordinates: row numbering of blocks and scanlines, the
// current band, display bytes with stretch and filter colour, and guards.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "KRPluginProbe.h"
#include "KRTestSupport.h"

using namespace KRC;
using Probe = KRGORasterAccessorPluginProbe;

namespace {

// 5 x 4 pixels; sample of band b at GDAL column c and row r (row 0 at the top).
int Sample(int b, int c, int r)
{
    return 1000 * b + 10 * r + c;
}

krtest::RasterLayout Grid(int bands, GDALDataType type, bool northUp = true)
{
    krtest::RasterLayout layout;
    layout.width = 5;
    layout.height = 4;
    layout.bands = bands;
    layout.type = type;
    layout.geoTransform = northUp ? std::vector<double>{0, 1, 0, 4, 0, -1} : std::vector<double>{0, 1, 0, 0, 0, 1};
    layout.value = [](int b, int c, int r) { return Sample(b, c, r); };
    return layout;
}

//! Pixel values (row first, then column, then band) of a raster of 1 x width pixels and 1 to 4 bands.
krtest::RasterLayout Row(GDALDataType type, const std::vector<std::vector<double>>& pixels)
{
    krtest::RasterLayout layout;
    layout.width = static_cast<int>(pixels.size());
    layout.height = 1;
    layout.bands = static_cast<int>(pixels[0].size());
    layout.type = type;
    layout.geoTransform = {0, 1, 0, 1, 0, -1};
    layout.value = [pixels](int b, int c, int) { return pixels[static_cast<size_t>(c)][static_cast<size_t>(b - 1)]; };
    return layout;
}

std::vector<int> BytesOf(const KRPixelDataMultiBand* colors)
{
    if (colors == nullptr)
        return {};
    return std::vector<int>(colors->GetData(), colors->GetData() + colors->GetDataBytes());
}

class DirectReadTest : public ::testing::Test {
protected:
    void SetUp() override { GDALAllRegister(); }
    bool Open(const krtest::RasterLayout& layout, const std::string& name = "grid.tif")
    {
        return krtest::WriteRaster(m_dir.File(name), layout) && m_p.OpenForRead(m_dir.File(name).c_str());
    }
    std::vector<int> Colors(int r0, int r1, int c0, int c1, bool flip = false)
    {
        std::unique_ptr<KRPixelDataMultiBand> colors(m_p.ReadColors(r0, r1, c0, c1, flip));
        return BytesOf(colors.get());
    }
    //! Sets the stretch range of the first bands as opening would have found it.
    void StretchBetween(double lo, double hi, int type = 1, float gamma = 1.0f)
    {
        for (int i = 0; i < 4; ++i) {
            Probe::m_bandMin(m_p)[i] = lo;
            Probe::m_bandMax(m_p)[i] = hi;
        }
        Probe::m_bMinMaxValid(m_p) = true;
        m_p.SetStetchType(type);
        m_p.SetStretchGama(gamma);
    }

    krtest::TempDir m_dir;
    KRGORasterAccessorPlugin m_p;
};

// Blocks of both bands, pixel-interleaved, rows in GDAL order: counted up from
// the bottom when the row flag (north-up, inverted by flip) is set.
TEST_F(DirectReadTest, BlockRowsFollowTheRowFlag)
{
    const struct {
        bool northUp, flip;
        int r0, r1, c0, c1;
        int topRow; //!< GDAL row of the block's first row
    } cases[] = {
        {true, false, 0, 0, 0, 4, 3}, {true, true, 0, 0, 0, 4, 0},   {true, false, 0, 1, 1, 3, 2},
        {true, true, 0, 1, 1, 3, 0},  {false, false, 0, 1, 1, 3, 0}, {false, true, 0, 1, 1, 3, 2},
        {true, false, 3, 3, 4, 4, 0}, // one pixel: the north-east corner
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(testing::Message() << tc.northUp << tc.flip << " rows " << tc.r0 << ".." << tc.r1);
        ASSERT_TRUE(Open(Grid(2, GDT_UInt16, tc.northUp), tc.northUp ? "north.tif" : "south.tif"));
        const int w = tc.c1 - tc.c0 + 1, h = tc.r1 - tc.r0 + 1;
        KRPixelDataMultiBand pixels(w, h, 2, RDF_UInt16, false, 0.0, 0.0);
        ASSERT_TRUE(m_p.ReadPixels(pixels, tc.r0, tc.r1, tc.c0, tc.c1, tc.flip));
        const auto* samples = reinterpret_cast<const std::uint16_t*>(pixels.GetData());
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                for (int k = 0; k < 2; ++k)
                    EXPECT_EQ(samples[(r * w + c) * 2 + k], Sample(k + 1, tc.c0 + c, tc.topRow + r));
    }
}

// Scanlines are GDAL rows of the current band, whatever the raster's orientation.
TEST_F(DirectReadTest, ScanlinesReadGdalRowsOfTheCurrentBand)
{
    ASSERT_TRUE(Open(Grid(2, GDT_Int16)));
    for (int band : {1, 2}) {
        ASSERT_TRUE(m_p.BeginRead(band));
        for (int row = 0; row < 4; ++row) {
            KRRasterScanline line(5 * sizeof(std::int16_t));
            ASSERT_TRUE(m_p.ReadScanline(line, row, 0));
            std::int16_t samples[5];
            std::memcpy(samples, line.GetData(), sizeof(samples));
            for (int c = 0; c < 5; ++c)
                EXPECT_EQ(samples[c], Sample(band, c, row)) << band << " " << row << " " << c;
        }
    }
}

// Nothing open, no current band, rectangles off the raster and buffers that do
// not fit the block or the band's type: a failure value, the buffer untouched.
TEST_F(DirectReadTest, GuardsAnswerWithFailureValues)
{
    KRPixelDataMultiBand pixels(2, 2, 1, RDF_UInt16, false, 0.0, 0.0);
    KRRasterScanline line(10);
    EXPECT_FALSE(m_p.BeginRead(1));
    EXPECT_FALSE(m_p.ReadPixels(pixels, 0, 1, 0, 1, false));
    EXPECT_FALSE(m_p.ReadScanline(line, 0, 0));
    EXPECT_EQ(m_p.ReadColors(0, 1, 0, 1, false), nullptr);

    ASSERT_TRUE(Open(Grid(2, GDT_UInt16)));
    for (int band : {0, 3}) {
        EXPECT_FALSE(m_p.BeginRead(band));
        EXPECT_EQ(Probe::m_pBand(m_p), nullptr);
        EXPECT_FALSE(m_p.ReadPixels(pixels, 0, 1, 0, 1, false));
        EXPECT_FALSE(m_p.ReadScanline(line, 0, 0));
        EXPECT_EQ(m_p.ReadColors(0, 1, 0, 1, false), nullptr);
        EXPECT_EQ(m_p.GetRasterDataFormat(), RDF_None);
    }
    ASSERT_TRUE(m_p.BeginRead(1));
    const struct {
        int w, h, bands;
        enumRasterDataFromat format;
        int r0, r1, c0, c1;
    } bad[] = {
        {2, 1, 1, RDF_UInt16, 0, 1, 0, 1}, // one row short
        {2, 2, 1, RDF_UInt8, 0, 1, 0, 1},  // bytes, not 16-bit samples
        {2, 2, 3, RDF_UInt16, 0, 1, 0, 1}, // more bands than the raster
        {2, 2, 1, RDF_UInt16, 3, 4, 0, 1}, // past the last row
        {2, 2, 1, RDF_UInt16, 0, 1, 4, 5}, // past the last column
        {2, 2, 1, RDF_UInt16, 1, 0, 0, 1}, // rows reversed
        {2, 2, 1, RDF_UInt16, -1, 0, 0, 1},
    };
    for (const auto& tc : bad) {
        KRPixelDataMultiBand small(tc.w, tc.h, tc.bands, tc.format, false, 0.0, 0.0);
        std::memset(small.GetData(), 0xAB, small.GetDataBytes());
        EXPECT_FALSE(m_p.ReadPixels(small, tc.r0, tc.r1, tc.c0, tc.c1, false)) << tc.r0 << " " << tc.c0;
        for (size_t i = 0; i < small.GetDataBytes(); ++i)
            ASSERT_EQ(small.GetData()[i], 0xAB);
    }
    EXPECT_TRUE(Colors(3, 4, 0, 1).empty());
    EXPECT_TRUE(m_p.ReadScanline(line, 3, 0)); // five 2-byte samples
    EXPECT_FALSE(m_p.ReadScanline(line, 4, 0));
    KRRasterScanline shortLine(9);
    EXPECT_FALSE(m_p.ReadScanline(shortLine, 0, 0));
}

// Byte rasters come back as read, in the block's row order, never stretched;
// a fourth band is dropped only when alpha is ignored.
TEST_F(DirectReadTest, ByteColorsComeBackAsRead)
{
    krtest::RasterLayout layout = Grid(4, GDT_Byte);
    layout.value = [](int b, int c, int r) { return Sample(b, c, r) % 256; };
    ASSERT_TRUE(Open(layout));
    StretchBetween(100, 300);
    for (const bool ignoreAlpha : {false, true}) {
        for (const bool flip : {false, true}) {
            m_p.SetIgnoreAlpha(ignoreAlpha);
            const int bands = ignoreAlpha ? 3 : 4, topRow = flip ? 0 : 2;
            std::vector<int> want;
            for (int r = 0; r < 2; ++r)
                for (int c = 1; c <= 2; ++c)
                    for (int k = 1; k <= bands; ++k)
                        want.push_back(Sample(k, c, topRow + r) % 256);
            EXPECT_EQ(Colors(0, 1, 1, 2, flip), want) << ignoreAlpha << flip;
        }
    }
}

// 16-bit samples 50, 200, 300, 500: stretched between 100 and 300 (type 1 or 2,
// with a known range) with gamma 1 and 2, else their low byte. Type 2 comes
// after the colour information was prepared, so it starts no histogram.
TEST_F(DirectReadTest, WideColorsStretchWhenAStretchIsInForce)
{
    ASSERT_TRUE(Open(Row(GDT_UInt16, {{50}, {200}, {300}, {500}})));
    const struct {
        int type;
        float gamma;
        bool valid;
        std::vector<int> bytes;
    } cases[] = {
        {1, 1.0f, true, {0, 127, 255, 255}}, {2, 1.0f, true, {0, 127, 255, 255}},
        {1, 2.0f, true, {0, 180, 255, 255}}, // 255 x sqrt(0.5) = 180.3
        {0, 1.0f, true, {50, 200, 44, 244}}, {1, 1.0f, false, {50, 200, 44, 244}},
    };
    for (const auto& tc : cases) {
        StretchBetween(100, 300, tc.type, tc.gamma);
        Probe::m_bMinMaxValid(m_p) = tc.valid;
        EXPECT_EQ(Colors(0, 0, 0, 3), tc.bytes) << tc.type << " " << tc.gamma << " " << tc.valid;
    }
}

// With the filter colour in use, a pixel that only matches it once stretched is
// moved off it by one in every band (255 becomes 254). Band k compares with the
// filter component that entry k of the band order names.
TEST_F(DirectReadTest, StretchedPixelsOnTheFilterColourAreMovedOff)
{
    ASSERT_TRUE(Open(Row(GDT_UInt16, {{50, 60, 70}, {0, 0, 0}, {200, 60, 70}, {400, 50, 60}, {400, 400, 400}})));
    StretchBetween(100, 300);
    m_p.SetFilterColorUsed(true);
    const struct {
        KRColor3 filter;
        const char* order;
        std::vector<int> bytes;
    } cases[] = {
        // raw (0, 0, 0) matches before the stretch and is kept as it is
        {{0, 0, 0, 1}, "2,1,0,3", {1, 1, 1, 0, 0, 0, 127, 0, 0, 255, 0, 0, 255, 255, 255}},
        {{1, 1, 1, 1}, "2,1,0,3", {0, 0, 0, 0, 0, 0, 127, 0, 0, 255, 0, 0, 254, 254, 254}},
        // blue 255: band 1 meets it through entry 0 of the default order
        {{0, 0, 1, 1}, "2,1,0,3", {0, 0, 0, 0, 0, 0, 127, 0, 0, 254, 1, 1, 255, 255, 255}},
        {{0, 0, 1, 1}, "0,1,2,3", {0, 0, 0, 0, 0, 0, 127, 0, 0, 255, 0, 0, 255, 255, 255}},
    };
    for (const auto& tc : cases) {
        m_p.SetFilterColor(tc.filter);
        m_p.SetBindsOrder(tc.order);
        EXPECT_EQ(Colors(0, 0, 0, 4), tc.bytes) << tc.filter.b << " " << tc.order;
    }
    m_p.SetFilterColorUsed(false);
    EXPECT_EQ(Colors(0, 0, 0, 0), std::vector<int>({0, 0, 0}));
}

} // namespace
