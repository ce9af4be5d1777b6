// The quick image path: requests inside and over each edge, flip, pixel sizes
// against band counts and band maps, sample narrowing, mixed band types, failures.
#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "KRImageTestSupport.h"
#include "KRPluginProbe.h"
#include "KRTestSupport.h"

using namespace KRC;
using namespace krtest;
using Probe = KRGORasterAccessorPluginProbe;

namespace {

// 8 x 8 pixels of one unit over x 0..8, y 0..8. Sample of band b at GDAL column
// c and row r (row 0 at the top): distinct in every band and below 256.
int Sample(int b, int c, int r)
{
    return r * 8 + c + 64 * (b - 1);
}

RasterLayout Grid(int bands, bool northUp = true, GDALDataType type = GDT_Byte)
{
    return {8, 8, bands, type, {0, 1, 0, northUp ? 8.0 : 0.0, 0, northUp ? -1.0 : 1.0}, "", {}, Sample};
}

//! GDAL column and row of the source pixel that image pixel (row r from the south, column c) shows, or none.
using SourceOf = std::function<std::optional<std::pair<int, int>>(int r, int c)>;

//! Image columns [c0, c1) and rows [r0, r1) show source column col0 + (c - c0) / scale and, counted from
//! GDAL row row0 upward when `reversed` (else downward), row (r - r0) / scale.
SourceOf Span(int c0, int c1, int r0, int r1, int col0, int row0, bool reversed, int scale = 1)
{
    return [=](int r, int c) -> std::optional<std::pair<int, int>> {
        if (c < c0 || c >= c1 || r < r0 || r >= r1)
            return std::nullopt;
        const int dr = (r - r0) / scale;
        return std::make_pair(col0 + (c - c0) / scale, reversed ? row0 - dr : row0 + dr);
    };
}

int kDefaultMap[4] = {2, 1, 0, 3};
int kMapOffThePixel[4] = {0, 7, -1, 4}; // bands 2 and 3 and alpha name no byte of the pixel
int kAlphaFirst[4] = {1, 2, 3, 0};

//! Every byte of the image: band b + 1 of the source pixel at byte map[b] for the first `bands` bands whose
//! entry lies in the pixel, 255 at byte map[3] when `opaque`; 0 everywhere else.
void ExpectPixels(const KRImageData& image, const SourceOf& source, int bands, bool opaque, const int* map)
{
    const int p = image.GetPixelSize();
    int mismatches = 0;
    for (int r = 0; r < image.GetHeight(); ++r) {
        for (int c = 0; c < image.GetWidth(); ++c) {
            std::vector<int> want(static_cast<size_t>(p), 0);
            const auto put = [&](int byte, int value) {
                if (byte >= 0 && byte < p)
                    want[static_cast<size_t>(byte)] = value;
            };
            if (const auto s = source(r, c)) {
                for (int b = 0; b < bands; ++b)
                    put(map[b], Sample(b + 1, s->first, s->second));
                if (opaque)
                    put(map[3], 255);
            }
            for (int k = 0; k < p; ++k) {
                const int got = PixelAt(image, c, r)[k];
                if (got != want[static_cast<size_t>(k)] && ++mismatches <= 5)
                    ADD_FAILURE() << "row " << r << ", column " << c << ", byte " << k << ": " << got << ", expected "
                                  << want[static_cast<size_t>(k)];
            }
        }
    }
}

class QuickFetchTest : public ::testing::Test {
protected:
    //! The fetch; `newImage` is kept in m_newImage.
    GetchResult Fetch(KRImageData* image, const KRRect2d& rect, bool flip = false, int* map = nullptr)
    {
        KRImageData sentinel;
        KRImageData* made = &sentinel;
        const GetchResult result = m_p.QucikFetchImageData(image, made, rect, map, flip);
        EXPECT_NE(made, &sentinel) << "newImage is always set";
        m_newImage.reset(made != &sentinel ? made : nullptr);
        return result;
    }

    TempDir m_dir;
    KRGORasterAccessorPlugin m_p;
    std::unique_ptr<KRImageData> m_newImage;
};

// Inside the raster the caller's image is filled; a request over an edge into
// fewer than four bytes comes back in a new four-byte image (format 22 for a
// caller's 19), opaque only over the raster. Rows count from the south.
TEST_F(QuickFetchTest, RequestsInsideAndOverEachEdge)
{
    ASSERT_TRUE(WriteRaster(m_dir.File("3.tif"), Grid(3)) && WriteRaster(m_dir.File("4.tif"), Grid(4)) &&
                WriteRaster(m_dir.File("south-up.tif"), Grid(3, false)));
    // Bands of different types: every band is read in the current band's type.
    RasterLayout floats = Grid(1, true, GDT_Float64);
    floats.value = [](int, int c, int r) { return Sample(2, c, r); };
    ASSERT_TRUE(WriteRaster(m_dir.File("1.tif"), Grid(1)) && WriteRaster(m_dir.File("f.tif"), floats));
    WriteText(m_dir.File("mixed.vrt"), R"(<VRTDataset rasterXSize="8" rasterYSize="8">
        <GeoTransform>0, 1, 0, 8, 0, -1</GeoTransform>
        <VRTRasterBand dataType="Byte" band="1"><SimpleSource><SourceFilename relativeToVRT="1">1.tif</SourceFilename>
        </SimpleSource></VRTRasterBand><VRTRasterBand dataType="Float64" band="2"><SimpleSource>
        <SourceFilename relativeToVRT="1">f.tif</SourceFilename></SimpleSource></VRTRasterBand></VRTDataset>)");
    const KRRect2d inside(2, 6, 6, 2), west(-2, 6, 6, 2), every(-2, 10, 10, -2);
    const SourceOf fromInside = Span(0, 4, 0, 4, 2, 5, true), fromWest = Span(2, 8, 0, 4, 0, 5, true);
    const struct {
        const char* name;
        const char* file;
        int current; //!< the current band
        KRRect2d rect;
        int iw, ih;
        enumPixelFormat format, made; //!< the caller's, and the new image's (PF_Unknown: none)
        SourceOf source;
        int bands; //!< bands written
        bool flip = false;
        int* map = kDefaultMap;
    } cases[] = {
        {"inside", "3.tif", 1, inside, 4, 4, PF_R8G8B8, PF_Unknown, fromInside, 3},
        {"twice the size", "3.tif", 1, inside, 8, 8, PF_R8G8B8, PF_Unknown, Span(0, 8, 0, 8, 2, 5, true, 2), 3},
        // flip on a north-up raster: the window's bottom row count taken as a GDAL row, rows unreversed
        {"flipped", "3.tif", 1, inside, 4, 4, PF_R8G8B8, PF_Unknown, Span(0, 4, 0, 4, 2, 2, false), 3, true},
        {"west", "3.tif", 1, west, 8, 4, PF_R8G8B8, PF_A8R8G8B8, fromWest, 3},
        {"every side", "3.tif", 1, every, 12, 12, PF_R8G8B8, PF_A8R8G8B8, Span(2, 10, 2, 10, 0, 7, true), 3},
        {"every side, flipped", "3.tif", 1, every, 12, 12, PF_R8G8B8, PF_A8R8G8B8, Span(2, 10, 2, 10, 0, 0, false), 3,
         true},
        {"west, flipped", "3.tif", 1, west, 8, 4, PF_R8G8B8, PF_A8R8G8B8, Span(2, 8, 0, 4, 0, 2, false), 3, true},
        {"two-byte caller", "3.tif", 1, west, 8, 4, PF_R5G6B5, PF_X8R8G8B8, fromWest, 2},
        // four bytes are written in place, without alpha from three bands
        {"four-byte caller", "3.tif", 1, west, 8, 4, PF_A8R8G8B8, PF_Unknown, fromWest, 3},
        // more bands than bytes: bands 1 and 2, and band 1's byte 2 lies outside the pixel
        {"four bands, two bytes", "4.tif", 1, inside, 4, 4, PF_L16, PF_Unknown, fromInside, 2},
        {"map off the pixel", "4.tif", 1, west, 8, 4, PF_R8G8B8, PF_A8R8G8B8, fromWest, 3, false, kMapOffThePixel},
        {"alpha first", "3.tif", 1, west, 8, 4, PF_R8G8B8, PF_A8R8G8B8, fromWest, 3, false, kAlphaFirst},
        // a south-up raster reads its rows bottom up, unreversed
        {"south-up", "south-up.tif", 1, inside, 4, 4, PF_R8G8B8, PF_Unknown, Span(0, 4, 0, 4, 2, 2, false), 3},
        {"mixed types, Byte current", "mixed.vrt", 1, west, 8, 4, PF_R8G8B8, PF_A8R8G8B8, fromWest, 2},
        {"mixed types, Float64 current", "mixed.vrt", 2, west, 8, 4, PF_R8G8B8, PF_A8R8G8B8, fromWest, 2},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        ASSERT_TRUE(m_p.OpenForRead(m_dir.File(tc.file).c_str()) && m_p.BeginRead(tc.current));
        auto image = MakeImage(tc.iw, tc.ih, tc.format);
        image->m_bHasData = 7;
        ASSERT_EQ(Fetch(image.get(), tc.rect, tc.flip, tc.map == kDefaultMap ? nullptr : tc.map),
                  GetchResult_Delivered);
        EXPECT_EQ(image->m_bHasData, 7); // success leaves the flag alone
        ASSERT_EQ(m_newImage != nullptr, tc.made != PF_Unknown);
        if (m_newImage) {
            EXPECT_EQ(m_newImage->GetPixelFormat(), tc.made);
            EXPECT_TRUE(m_newImage->GetWidth() == tc.iw && m_newImage->GetHeight() == tc.ih);
        }
        ExpectPixels(m_newImage ? *m_newImage : *image, tc.source, tc.bands, m_newImage != nullptr, tc.map);
    }
}

// One band of a constant into one-byte pixels: integers keep their low byte
// (complex ones their real part's), floats are truncated toward zero and give
// 0 when NaN or beyond 32 bits; a complex float's 8 bytes read as a double are
// a denormal, so 0. A type without a buffer size delivers nothing.
TEST_F(QuickFetchTest, SamplesNarrowToTheirLowByte)
{
    const struct {
        GDALDataType type;
        double value;
        int byte;
    } cases[] = {
        {GDT_UInt16, 300, 44},    {GDT_Int16, -1, 255},    {GDT_Int32, -2, 254},  {GDT_CInt32, 70000, 112},
        {GDT_Float32, -3.7, 253}, {GDT_Float32, 1e10, 0},  {GDT_Float32, NAN, 0}, {GDT_Float64, 257.9, 1},
        {GDT_CFloat32, 300, 0},   {GDT_CFloat64, 300, -1},
    };
    int map[4] = {0, 1, 2, 3};
    for (const auto& tc : cases) {
        SCOPED_TRACE(std::string(GDALGetDataTypeName(tc.type)) + " " + std::to_string(tc.value));
        RasterLayout layout = Grid(1, true, tc.type);
        layout.value = [&](int, int, int) { return tc.value; };
        ASSERT_TRUE(WriteAndOpen(m_p, m_dir.File(GDALGetDataTypeName(tc.type)), layout));
        auto image = MakeImage(2, 2, PF_L8);
        std::fill(image->m_pData, image->m_pData + 4, 0xAB);
        EXPECT_EQ(Fetch(image.get(), {0, 8, 8, 0}, false, map), tc.byte < 0 ? GetchResult_None : GetchResult_Delivered);
        const int want = tc.byte < 0 ? 0xAB : tc.byte; // untouched when nothing is delivered
        EXPECT_TRUE(std::all_of(image->m_pData, image->m_pData + 4, [want](int b) { return b == want; }));
    }
}

TEST_F(QuickFetchTest, FailuresDeliverNothing)
{
    ASSERT_TRUE(WriteAndOpen(m_p, m_dir.File("grid.tif"), Grid(3)));
    auto image = MakeImage(4, 4, PF_R8G8B8);
    image->m_bHasData = 1;
    EXPECT_EQ(Fetch(image.get(), {20, 16, 26, 12}), GetchResult_None); // beside the raster
    EXPECT_EQ(image->m_bHasData, 0);
    // A sample count beyond 32 bits has no buffer.
    EXPECT_EQ(Probe::CreateBandData(m_p, 65536, 32768), nullptr);
    EXPECT_EQ(Probe::CreateBandData(m_p, 0, 4), nullptr);
}

} // namespace
