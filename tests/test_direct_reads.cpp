// Direct reads in raster coordinates: row numbering of blocks and scanlines, the
// current band, display bytes with stretch and filter colour, and guards.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "KRImageTestSupport.h"
#include "KRTestSupport.h"

using namespace KRC;
using namespace krtest;
using Probe = KRGORasterAccessorPluginProbe;

namespace {

// 5 x 4 pixels; sample of band b at GDAL column c and row r (row 0 at the top).
int Sample(int b, int c, int r)
{
    return 1000 * b + 10 * r + c;
}

RasterLayout Grid(int bands, GDALDataType type, bool northUp = true)
{
    return {5, 4, bands, type, {0, 1, 0, northUp ? 4.0 : 0.0, 0, northUp ? -1.0 : 1.0}, "", {}, Sample};
}

class DirectReadTest : public ::testing::Test {
protected:
    std::vector<int> Colors(int r0, int r1, int c0, int c1, bool flip = false)
    {
        std::unique_ptr<KRPixelDataMultiBand> colors(m_p.ReadColors(r0, r1, c0, c1, flip));
        if (!colors)
            return {};
        return std::vector<int>(colors->GetData(), colors->GetData() + colors->GetDataBytes());
    }

    TempDir m_dir;
    KRGORasterAccessorPlugin m_p;
};

// Blocks of both bands, pixel-interleaved, rows in GDAL order: counted up from
// the bottom when the row flag (north-up, inverted by flip) is set. Scanlines
// are GDAL rows of the current band, whatever the orientation.
TEST_F(DirectReadTest, BlockAndScanlineRows)
{
    const struct {
        bool northUp, flip;
        int r0, r1, c0, c1;
        int topRow; //!< GDAL row of the block's first row
    } cases[] = {
        {true, false, 0, 0, 0, 4, 3},  {true, true, 0, 1, 1, 3, 0},  {true, false, 0, 1, 1, 3, 2},
        {false, false, 0, 1, 1, 3, 0}, {false, true, 0, 1, 1, 3, 2}, {true, false, 3, 3, 4, 4, 0}, // NE corner
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(testing::Message() << tc.northUp << tc.flip << " rows " << tc.r0 << ".." << tc.r1);
        ASSERT_TRUE(WriteAndOpen(m_p, m_dir.File(tc.northUp ? "north" : "south"), Grid(2, GDT_UInt16, tc.northUp)));
        ASSERT_TRUE(m_p.BeginRead(1));
        const int w = tc.c1 - tc.c0 + 1, h = tc.r1 - tc.r0 + 1;
        KRPixelDataMultiBand pixels(w, h, 2, RDF_UInt16, false, 0.0, 0.0);
        ASSERT_TRUE(m_p.ReadPixels(pixels, tc.r0, tc.r1, tc.c0, tc.c1, tc.flip));
        const auto* samples = reinterpret_cast<const std::uint16_t*>(pixels.GetData());
        for (int i = 0; i < w * h * 2; ++i)
            EXPECT_EQ(samples[i], Sample(i % 2 + 1, tc.c0 + i / 2 % w, tc.topRow + i / 2 / w)) << i;
    }
    for (int band : {1, 2}) {
        ASSERT_TRUE(m_p.BeginRead(band));
        for (int row = 0; row < 4; ++row) {
            KRRasterScanline line(5 * sizeof(std::uint16_t));
            ASSERT_TRUE(m_p.ReadScanline(line, row, 0));
            std::uint16_t samples[5];
            std::memcpy(samples, line.GetData(), sizeof(samples));
            for (int c = 0; c < 5; ++c)
                EXPECT_EQ(samples[c], Sample(band, c, row)) << band << " " << row << " " << c;
        }
    }
}

// A block off the raster is a read GDAL refuses: the call succeeds and the
// buffer keeps what it held (ReadColors: a new buffer of zeros). A buffer that
// does not fit the block or the band's type is refused, untouched.
TEST_F(DirectReadTest, BlocksOffTheRasterReadNothing)
{
    ASSERT_TRUE(WriteAndOpen(m_p, m_dir.File("grid.tif"), Grid(2, GDT_UInt16)) && m_p.BeginRead(1));
    const struct {
        bool accepted;
        int w, h, bands;
        enumRasterDataFromat format;
        int r0, r1, c0, c1;
        bool flip;
    } cases[] = {
        {false, 2, 1, 1, RDF_UInt16, 0, 1, 0, 1, false}, // one row short
        {false, 2, 2, 1, RDF_UInt8, 0, 1, 0, 1, false},  // bytes, not 16-bit samples
        {false, 2, 2, 3, RDF_UInt16, 0, 1, 0, 1, false}, // more bands than the raster
        {true, 2, 2, 1, RDF_UInt16, 3, 4, 0, 1, false},  // past the last row
        {true, 2, 2, 1, RDF_UInt16, 3, 4, 0, 1, true},   // past the bottom, counted from the top
        {true, 2, 2, 1, RDF_UInt16, 0, 1, 4, 5, false},  // past the last column
        {true, 2, 2, 1, RDF_UInt16, 0, 1, -1, 0, false}, // before the first column
    };
    for (const auto& tc : cases) {
        KRPixelDataMultiBand block(tc.w, tc.h, tc.bands, tc.format, false, 0.0, 0.0);
        std::memset(block.GetData(), 0xAB, block.GetDataBytes());
        EXPECT_EQ(m_p.ReadPixels(block, tc.r0, tc.r1, tc.c0, tc.c1, tc.flip), tc.accepted) << tc.r0 << " " << tc.c0;
        for (size_t i = 0; i < block.GetDataBytes(); ++i)
            ASSERT_EQ(block.GetData()[i], 0xAB);
        if (tc.accepted) {
            EXPECT_EQ(Colors(tc.r0, tc.r1, tc.c0, tc.c1, tc.flip), std::vector<int>(2 * 2 * 2, 0));
        }
    }
    KRRasterScanline line(10), shortLine(9); // five 2-byte samples
    for (const int row : {-1, 4}) {
        std::memset(line.GetData(), 0xAB, 10);
        EXPECT_TRUE(m_p.ReadScanline(line, row, 0));
        EXPECT_EQ(line.GetData()[9], 0xAB);
    }
    EXPECT_FALSE(m_p.ReadScanline(shortLine, 0, 0));
}

// Byte rasters come back as read, in the block's row order, never stretched;
// a fourth band is dropped only when alpha is ignored.
TEST_F(DirectReadTest, ByteColorsComeBackAsRead)
{
    RasterLayout layout = Grid(4, GDT_Byte);
    layout.value = [](int b, int c, int r) { return Sample(b, c, r) % 256; };
    ASSERT_TRUE(WriteAndOpen(m_p, m_dir.File("grid.tif"), layout));
    SetStretch(m_p, 100, 300, 1);
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

// 16-bit samples stretched between 100 and 300 (type 1 or 2 with a known
// range, gamma 1 or 2), else their low byte. With the filter colour in use, a
// pixel that only matches it once stretched is moved off it by one in every
// band (255 becomes 254); band k compares with the filter component that entry
// k of the band order names.
TEST_F(DirectReadTest, WideColorsStretchAndMoveOffTheFilterColour)
{
    const int pixels[5][3] = {{50, 60, 70}, {0, 0, 0}, {200, 60, 70}, {400, 50, 60}, {400, 400, 400}};
    const RasterLayout layout{
        5, 1, 3, GDT_UInt16, {0, 1, 0, 1, 0, -1}, "", {}, [&pixels](int b, int c, int) { return pixels[c][b - 1]; }};
    ASSERT_TRUE(WriteAndOpen(m_p, m_dir.File("grid.tif"), layout));
    const struct {
        int type;
        float gamma;
        bool valid, filtered;
        KRColor3 filter;
        const char* order;
        std::vector<int> bytes;
    } cases[] = {
        {1, 1.0f, true, false, {}, "2,1,0,3", {0, 0, 0, 0, 0, 0, 127, 0, 0, 255, 0, 0, 255, 255, 255}},
        {2, 1.0f, true, false, {}, "2,1,0,3", {0, 0, 0, 0, 0, 0, 127, 0, 0, 255, 0, 0, 255, 255, 255}},
        {1, 2.0f, true, false, {}, "2,1,0,3", {0, 0, 0, 0, 0, 0, 180, 0, 0, 255, 0, 0, 255, 255, 255}}, // 255 sqrt(.5)
        {0, 1.0f, true, false, {}, "2,1,0,3", {50, 60, 70, 0, 0, 0, 200, 60, 70, 144, 50, 60, 144, 144, 144}},
        {1, 1.0f, false, false, {}, "2,1,0,3", {50, 60, 70, 0, 0, 0, 200, 60, 70, 144, 50, 60, 144, 144, 144}},
        // raw (0, 0, 0) matches before the stretch and is kept as it is
        {1, 1.0f, true, true, {0, 0, 0, 1}, "2,1,0,3", {1, 1, 1, 0, 0, 0, 127, 0, 0, 255, 0, 0, 255, 255, 255}},
        {1, 1.0f, true, true, {1, 1, 1, 1}, "2,1,0,3", {0, 0, 0, 0, 0, 0, 127, 0, 0, 255, 0, 0, 254, 254, 254}},
        // blue 255: band 1 meets it through entry 0 of the default order
        {1, 1.0f, true, true, {0, 0, 1, 1}, "2,1,0,3", {0, 0, 0, 0, 0, 0, 127, 0, 0, 254, 1, 1, 255, 255, 255}},
        {1, 1.0f, true, true, {0, 0, 1, 1}, "0,1,2,3", {0, 0, 0, 0, 0, 0, 127, 0, 0, 255, 0, 0, 255, 255, 255}},
        {1, 1.0f, true, false, {0, 0, 1, 1}, "2,1,0,3", {0, 0, 0, 0, 0, 0, 127, 0, 0, 255, 0, 0, 255, 255, 255}},
    };
    for (const auto& tc : cases) {
        SetStretch(m_p, 100, 300, tc.type, tc.gamma);
        Probe::m_bMinMaxValid(m_p) = tc.valid;
        m_p.SetFilterColorUsed(tc.filtered);
        m_p.SetFilterColor(tc.filter);
        m_p.SetBindsOrder(tc.order);
        EXPECT_EQ(Colors(0, 0, 0, 4), tc.bytes) << tc.type << " " << tc.gamma << " " << tc.filter.b << " " << tc.order;
    }
}

} // namespace
