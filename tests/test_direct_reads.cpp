// Direct reads in raster coordinates: row numbering of blocks and scanlines, the
// current band, and blocks off the raster. Display bytes are in test_color.cpp.
#include <cstdint>
#include <cstring>

#include "KRFetchTestSupport.h"

using namespace KRC;
using namespace krtest;

namespace {

// 5 x 4 pixels; sample of band b at GDAL column c and row r (row 0 at the top).
int Sample(int b, int c, int r) { return 1000 * b + 10 * r + c; }

//! Two 16-bit bands.
RasterLayout Grid(bool northUp = true)
{
    return {5, 4, 2, GDT_UInt16, {0, 1, 0, northUp ? 4.0 : 0.0, 0, northUp ? -1.0 : 1.0}, "", {}, Sample};
}

using DirectReadTest = AccessorTest;

// Blocks of both bands, pixel-interleaved, rows in GDAL order: counted up from
// the bottom when the row flag (north-up, inverted by flip) is set. Scanlines
// are GDAL rows of the current band, whatever the orientation.
TEST_F(DirectReadTest, BlockAndScanlineRows)
{
    const struct {
        bool northUp, flip;
        int r0, r1, c0, c1, topRow; //!< topRow: GDAL row of the block's first row
    } cases[] = {
        {true, false, 0, 0, 0, 4, 3},  {true, true, 0, 1, 1, 3, 0},  {true, false, 0, 1, 1, 3, 2},
        {false, false, 0, 1, 1, 3, 0}, {false, true, 0, 1, 1, 3, 2}, {true, false, 3, 3, 4, 4, 0}, // NE corner
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(testing::Message() << tc.northUp << tc.flip << " rows " << tc.r0 << ".." << tc.r1);
        ASSERT_TRUE(WriteAndOpen(m_p, m_dir.File(tc.northUp ? "north" : "south"), Grid(tc.northUp)));
        ASSERT_TRUE(m_p.BeginRead(1));
        const int w = tc.c1 - tc.c0 + 1, h = tc.r1 - tc.r0 + 1;
        KRPixelDataMultiBand pixels(w, h, 2, RDF_UInt16, false, 0.0, 0.0);
        ASSERT_TRUE(m_p.ReadPixels(pixels, tc.r0, tc.r1, tc.c0, tc.c1, tc.flip));
        const auto* samples = reinterpret_cast<const std::uint16_t*>(pixels.GetData());
        for (int i = 0; i < w * h * 2; ++i)
            EXPECT_EQ(samples[i], Sample(i % 2 + 1, tc.c0 + i / 2 % w, tc.topRow + i / 2 / w)) << i;
    }
    for (int k = 0; k < 8; ++k) { // band 1 + k / 4, row k % 4
        KRRasterScanline line(5 * sizeof(std::uint16_t));
        ASSERT_TRUE(m_p.BeginRead(1 + k / 4) && m_p.ReadScanline(line, k % 4, 0));
        for (int c = 0; c < 5; ++c)
            EXPECT_EQ(reinterpret_cast<const std::uint16_t*>(line.GetData())[c], Sample(1 + k / 4, c, k % 4)) << k;
    }
}

// A block off the raster is a read GDAL refuses: the call succeeds and the
// buffer keeps what it held (ReadColors: a new buffer of zeros). A buffer that
// does not fit the block or the band's type is refused, untouched.
TEST_F(DirectReadTest, BlocksOffTheRasterReadNothing)
{
    ASSERT_TRUE(WriteAndOpen(m_p, m_dir.File("grid.tif"), Grid()) && m_p.BeginRead(1));
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
        EXPECT_EQ(std::vector<int>(block.GetData(), block.GetData() + block.GetDataBytes()),
                  std::vector<int>(block.GetDataBytes(), 0xAB));
        const std::unique_ptr<KRPixelDataMultiBand> colors(m_p.ReadColors(tc.r0, tc.r1, tc.c0, tc.c1, tc.flip));
        EXPECT_TRUE(!tc.accepted ||
                    (colors && std::vector<int>(colors->GetData(), colors->GetData() + 8) == std::vector<int>(8, 0)));
    }
    KRRasterScanline line(10), shortLine(9); // five 2-byte samples
    std::memset(line.GetData(), 0xAB, 10);
    EXPECT_TRUE(m_p.ReadScanline(line, -1, 0) && m_p.ReadScanline(line, 4, 0) && line.GetData()[9] == 0xAB);
    EXPECT_FALSE(m_p.ReadScanline(shortLine, 0, 0));
}

} // namespace
