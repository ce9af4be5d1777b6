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

#include "KRPluginProbe.h"
#include "KRTestSupport.h"

using namespace KRC;
using Probe = KRGORasterAccessorPluginProbe;

namespace {

// 8 x 8 pixels of one unit over x 0..8, y 0..8. Sample of band b at GDAL column
// c and row r (row 0 at the top): distinct in every band and below 256.
int Sample(int b, int c, int r)
{
    return r * 8 + c + 64 * (b - 1);
}

krtest::RasterLayout Grid(int bands, bool northUp = true)
{
    krtest::RasterLayout layout;
    layout.width = layout.height = 8;
    layout.bands = bands;
    layout.type = GDT_Byte;
    layout.geoTransform = northUp ? std::vector<double>{0, 1, 0, 8, 0, -1} : std::vector<double>{0, 1, 0, 0, 0, 1};
    layout.value = [](int b, int c, int r) { return Sample(b, c, r); };
    return layout;
}

std::unique_ptr<KRImageData> Image(int width, int height, enumPixelFormat format)
{
    auto image = std::make_unique<KRImageData>();
    image->m_nWidth = width;
    image->m_nHeight = height;
    image->SetPixelFormat(format);
    EXPECT_TRUE(image->CreateData());
    return image;
}

//! GDAL column and row of the source pixel that image pixel (row r from the south, column c) shows, or none.
using SourceOf = std::function<std::optional<std::pair<int, int>>(int r, int c)>;

constexpr int kDefaultMap[4] = {2, 1, 0, 3};

//! Every byte of the image: band b + 1 of the source pixel at byte map[b] for the first `bands` bands whose
//! entry lies in the pixel, 255 at byte 3 when `opaque`; 0 everywhere else.
void ExpectPixels(const KRImageData& image, const SourceOf& source, int bands, bool opaque,
                  const int* map = kDefaultMap)
{
    const int p = image.GetPixelSize();
    int mismatches = 0;
    for (int r = 0; r < image.GetHeight(); ++r) {
        for (int c = 0; c < image.GetWidth(); ++c) {
            std::vector<int> want(static_cast<size_t>(p), 0);
            if (const auto s = source(r, c)) {
                for (int b = 0; b < bands; ++b)
                    if (map[b] >= 0 && map[b] < p)
                        want[static_cast<size_t>(map[b])] = Sample(b + 1, s->first, s->second);
                if (opaque)
                    want[3] = 255;
            }
            for (int k = 0; k < p; ++k) {
                const int got = image.m_pData[r * image.GetWidthBytes() + c * p + k];
                if (got != want[static_cast<size_t>(k)] && ++mismatches <= 5)
                    ADD_FAILURE() << "row " << r << ", column " << c << ", byte " << k << ": " << got << ", expected "
                                  << want[static_cast<size_t>(k)];
            }
        }
    }
}

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

class QuickFetchTest : public ::testing::Test {
protected:
    void SetUp() override { GDALAllRegister(); }
    bool Open(const krtest::RasterLayout& layout, const std::string& name = "grid.tif")
    {
        return krtest::WriteRaster(m_dir.File(name), layout) && m_p.OpenForRead(m_dir.File(name).c_str());
    }
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

    krtest::TempDir m_dir;
    KRGORasterAccessorPlugin m_p;
    std::unique_ptr<KRImageData> m_newImage;
};

// A three-band north-up raster into three-byte images. Inside the raster nothing
// is cut and the caller's image is filled; a request over an edge comes back in a
// new four-byte image, opaque only over the raster. Rows count from the south.
TEST_F(QuickFetchTest, InsideAndOverEachEdge)
{
    ASSERT_TRUE(Open(Grid(3)));
    const struct {
        const char* name;
        KRRect2d rect;
        int iw, ih;
        bool flip;
        SourceOf source;
    } cases[] = {
        {"inside", {2, 6, 6, 2}, 4, 4, false, Span(0, 4, 0, 4, 2, 5, true)},
        {"inside, twice the size", {2, 6, 6, 2}, 8, 8, false, Span(0, 8, 0, 8, 2, 5, true, 2)},
        // flip on a north-up raster: the window's bottom row count taken as a GDAL row, rows unreversed
        {"inside, flipped", {2, 6, 6, 2}, 4, 4, true, Span(0, 4, 0, 4, 2, 2, false)},
        {"west", {-2, 6, 6, 2}, 8, 4, false, Span(2, 8, 0, 4, 0, 5, true)},
        {"east", {2, 6, 10, 2}, 8, 4, false, Span(0, 6, 0, 4, 2, 5, true)},
        {"south", {2, 6, 6, -2}, 4, 8, false, Span(0, 4, 2, 8, 2, 7, true)},
        {"north", {2, 10, 6, 2}, 4, 8, false, Span(0, 4, 0, 6, 2, 5, true)},
        {"every side", {-2, 10, 10, -2}, 12, 12, false, Span(2, 10, 2, 10, 0, 7, true)},
        {"west, flipped", {-2, 6, 6, 2}, 8, 4, true, Span(2, 8, 0, 4, 0, 2, false)},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        auto image = Image(tc.iw, tc.ih, PF_R8G8B8);
        image->m_bHasData = 7;
        ASSERT_EQ(Fetch(image.get(), tc.rect, tc.flip), GetchResult_Delivered);
        EXPECT_EQ(image->m_bHasData, 7); // success leaves the flag alone
        const bool cut = std::string(tc.name).rfind("inside", 0) != 0;
        ASSERT_EQ(m_newImage != nullptr, cut);
        if (cut) {
            EXPECT_EQ(m_newImage->GetPixelFormat(), PF_A8R8G8B8);
            EXPECT_EQ(m_newImage->GetWidth() * 100 + m_newImage->GetHeight(), tc.iw * 100 + tc.ih);
        }
        ExpectPixels(cut ? *m_newImage : *image, tc.source, 3, cut);
    }
}

// The new image of a cut request takes format 22 for a caller's format 19, else
// 21; a caller's image of four bytes is written in place and gets no alpha from a
// three-band raster. A south-up raster reads its rows bottom up, unreversed.
TEST_F(QuickFetchTest, PixelFormatsBandCountsAndRowOrder)
{
    ASSERT_TRUE(Open(Grid(3)));
    auto narrow = Image(8, 4, PF_R5G6B5);
    ASSERT_EQ(Fetch(narrow.get(), {-2, 6, 6, 2}), GetchResult_Delivered);
    ASSERT_NE(m_newImage, nullptr);
    EXPECT_EQ(m_newImage->GetPixelFormat(), PF_X8R8G8B8);
    ExpectPixels(*m_newImage, Span(2, 8, 0, 4, 0, 5, true), 2, true); // two bytes: two bands

    auto wide = Image(8, 4, PF_A8R8G8B8);
    ASSERT_EQ(Fetch(wide.get(), {-2, 6, 6, 2}), GetchResult_Delivered);
    EXPECT_EQ(m_newImage, nullptr);
    ExpectPixels(*wide, Span(2, 8, 0, 4, 0, 5, true), 3, false);

    // More bands than bytes: a two-byte pixel takes bands 1 and 2, and band 1's
    // default byte 2 lies outside it, so only band 2 (byte 1) is written.
    ASSERT_TRUE(Open(Grid(4), "four.tif"));
    auto twoBytes = Image(4, 4, PF_L16);
    ASSERT_EQ(Fetch(twoBytes.get(), {2, 6, 6, 2}), GetchResult_Delivered);
    ExpectPixels(*twoBytes, Span(0, 4, 0, 4, 2, 5, true), 2, false);
    auto fourBytes = Image(4, 4, PF_A8R8G8B8);
    ASSERT_EQ(Fetch(fourBytes.get(), {2, 6, 6, 2}), GetchResult_Delivered);
    ExpectPixels(*fourBytes, Span(0, 4, 0, 4, 2, 5, true), 4, false);
    // A map that sends bands beyond the pixel, alpha included, writes inside it only.
    int outside[4] = {0, 7, -1, 4};
    auto rgb = Image(8, 4, PF_R8G8B8);
    ASSERT_EQ(Fetch(rgb.get(), {-2, 6, 6, 2}, false, outside), GetchResult_Delivered);
    ASSERT_NE(m_newImage, nullptr);
    ExpectPixels(*m_newImage, Span(2, 8, 0, 4, 0, 5, true), 3, false, outside);

    ASSERT_TRUE(Open(Grid(3, false), "south-up.tif"));
    auto image = Image(4, 4, PF_R8G8B8);
    ASSERT_EQ(Fetch(image.get(), {2, 6, 6, 2}), GetchResult_Delivered);
    ExpectPixels(*image, Span(0, 4, 0, 4, 2, 2, false), 3, false);
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
        {GDT_Byte, 200, 200},    {GDT_UInt16, 300, 44},    {GDT_Int16, -1, 255},     {GDT_UInt32, 4294967295.0, 255},
        {GDT_Int32, -2, 254},    {GDT_Float32, -3.7, 253}, {GDT_Float32, 1e10, 0},   {GDT_Float32, NAN, 0},
        {GDT_Float64, 257.9, 1}, {GDT_CInt16, -2, 254},    {GDT_CInt32, 70000, 112}, {GDT_CFloat32, 300, 0},
        {GDT_CFloat64, 300, -1},
    };
    int map[4] = {0, 1, 2, 3};
    for (const auto& tc : cases) {
        SCOPED_TRACE(std::string(GDALGetDataTypeName(tc.type)) + " " + std::to_string(tc.value));
        krtest::RasterLayout layout = Grid(1);
        layout.type = tc.type;
        layout.value = [&](int, int, int) { return tc.value; };
        ASSERT_TRUE(Open(layout, std::string(GDALGetDataTypeName(tc.type)) + ".tif"));
        auto image = Image(2, 2, PF_L8);
        std::fill(image->m_pData, image->m_pData + 4, 0xAB);
        const GetchResult result = Fetch(image.get(), {0, 8, 8, 0}, false, map);
        EXPECT_EQ(m_newImage, nullptr);
        EXPECT_EQ(result, tc.byte < 0 ? GetchResult_None : GetchResult_Delivered);
        const int want = tc.byte < 0 ? 0xAB : tc.byte; // untouched when nothing is delivered
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(image->m_pData[i], want);
    }
}

// Bands of different types (a VRT of a Byte and a Float64 band): every band is
// read in the current band's type, so neither current band overruns the buffer.
TEST_F(QuickFetchTest, BandsOfDifferentTypes)
{
    krtest::RasterLayout byteBand = Grid(1);
    krtest::RasterLayout floatBand = Grid(1);
    floatBand.type = GDT_Float64;
    floatBand.value = [](int, int c, int r) { return Sample(2, c, r); };
    ASSERT_TRUE(krtest::WriteRaster(m_dir.File("a.tif"), byteBand));
    ASSERT_TRUE(krtest::WriteRaster(m_dir.File("b.tif"), floatBand));
    const auto band = [](const char* type, int n, const char* file) {
        return "<VRTRasterBand dataType=\"" + std::string(type) + "\" band=\"" + std::to_string(n) +
               "\"><SimpleSource><SourceFilename relativeToVRT=\"1\">" + file +
               "</SourceFilename><SourceBand>1</SourceBand></SimpleSource></VRTRasterBand>";
    };
    krtest::WriteText(m_dir.File("mixed.vrt"), "<VRTDataset rasterXSize=\"8\" rasterYSize=\"8\"><GeoTransform>0, 1, 0, "
                                               "8, 0, -1</GeoTransform>" +
                                                   band("Byte", 1, "a.tif") + band("Float64", 2, "b.tif") +
                                                   "</VRTDataset>");
    ASSERT_TRUE(m_p.OpenForRead(m_dir.File("mixed.vrt").c_str()));
    for (int current : {1, 2}) {
        SCOPED_TRACE(current);
        ASSERT_TRUE(m_p.BeginRead(current));
        auto image = Image(8, 4, PF_R8G8B8);
        ASSERT_EQ(Fetch(image.get(), {-2, 6, 6, 2}), GetchResult_Delivered);
        ASSERT_NE(m_newImage, nullptr);
        ExpectPixels(*m_newImage, Span(2, 8, 0, 4, 0, 5, true), 2, true);
    }
}

TEST_F(QuickFetchTest, FailuresDeliverNothing)
{
    auto image = Image(4, 4, PF_R8G8B8);
    EXPECT_EQ(Fetch(nullptr, {2, 6, 6, 2}), GetchResult_None);
    EXPECT_EQ(m_newImage, nullptr);
    image->m_bHasData = 1;
    EXPECT_EQ(Fetch(image.get(), {2, 6, 6, 2}), GetchResult_None); // nothing open
    EXPECT_EQ(image->m_bHasData, 0);

    ASSERT_TRUE(Open(Grid(3)));
    image->m_bHasData = 1;
    EXPECT_EQ(Fetch(image.get(), {20, 16, 26, 12}), GetchResult_None); // beside the raster
    EXPECT_EQ(image->m_bHasData, 0);
    KRImageData empty; // no pixels to write into
    empty.m_nWidth = empty.m_nHeight = 4;
    empty.SetPixelFormat(PF_R8G8B8);
    EXPECT_EQ(Fetch(&empty, {2, 6, 6, 2}), GetchResult_None);
    // A sample count beyond 32 bits has no buffer.
    EXPECT_EQ(Probe::CreateBandData(m_p, 65536, 32768), nullptr);
    EXPECT_EQ(Probe::CreateBandData(m_p, 0, 4), nullptr);
    m_p.Close();
    EXPECT_EQ(Fetch(image.get(), {2, 6, 6, 2}), GetchResult_None);
}

} // namespace
