// The quick image path: requests inside, over each edge and beside the raster,
// flip, pixel sizes against band counts and band maps, mixed band types.
#include "KRFetchTestSupport.h"

using namespace KRC;
using namespace krtest;

namespace {

// 8 x 8 pixels of one unit over x 0..8, y 0..8. Sample of band b at GDAL column
// c and row r (row 0 at the top): distinct in every band and below 256.
int Sample(int b, int c, int r) { return r * 8 + c + 64 * (b - 1); }

RasterLayout Grid(int bands, bool northUp = true, GDALDataType type = GDT_Byte)
{
    return {8, 8, bands, type, {0, 1, 0, northUp ? 8.0 : 0.0, 0, northUp ? -1.0 : 1.0}, "", {}, Sample};
}

//! Image columns [c0, c1) and rows [r0, r1) (counted from the south) show GDAL column col0 + c - c0 and GDAL
//! row row0 -/+ (r - r0), upward when `up`.
struct Span {
    int c0, c1, r0, r1, col0, row0;
    bool up;
};

const int kDefaultMap[4] = {2, 1, 0, 3};
int kMapOffThePixel[4] = {0, 7, -1, 4}; // bands 2 and 3 and alpha name no byte of the pixel

// Inside the raster the caller's image is filled; a request over an edge into fewer than four bytes comes back
// in a new four-byte image (format 22 for a caller's 19), opaque only over the raster; every byte the span and
// map do not name is 0.
using QuickFetchTest = AccessorTest;

TEST_F(QuickFetchTest, RequestsInsideOverEachEdgeAndBeside)
{
    ASSERT_TRUE(WriteRaster(m_dir.File("3.tif"), Grid(3)) && WriteRaster(m_dir.File("4.tif"), Grid(4)) &&
                WriteRaster(m_dir.File("south-up.tif"), Grid(3, false)) &&
                WriteRaster(m_dir.File("f.tif"), Grid(2, true, GDT_Float64)));
    // Bands of different types (band 1 of 3.tif, band 2 of f.tif): every band is read in the current band's type.
    WriteText(m_dir.File("mixed.vrt"), R"(<VRTDataset rasterXSize="8" rasterYSize="8"><GeoTransform>0,1,0,8,0,-1
        </GeoTransform><VRTRasterBand dataType="Byte" band="1"><SimpleSource>
        <SourceFilename relativeToVRT="1">3.tif</SourceFilename></SimpleSource></VRTRasterBand>
        <VRTRasterBand dataType="Float64" band="2"><SimpleSource>
        <SourceFilename relativeToVRT="1">f.tif</SourceFilename><SourceBand>2</SourceBand></SimpleSource>
        </VRTRasterBand></VRTDataset>)");
    const KRRect2d inside(2, 6, 6, 2), west(-2, 6, 6, 2), every(-2, 10, 10, -2);
    const Span fromInside{0, 4, 0, 4, 2, 5, true}, fromWest{2, 8, 0, 4, 0, 5, true};
    const struct {
        const char *name, *file;
        int current; //!< the current band
        KRRect2d rect;
        int iw, ih;
        enumPixelFormat format, made; //!< the caller's, and the new image's (PF_Unknown: none)
        Span span;                    //!< empty: nothing delivered
        int bands;                    //!< bands written
        bool flip = false;
        int* map = nullptr;
    } cases[] = {
        {"inside", "3.tif", 1, inside, 4, 4, PF_R8G8B8, PF_Unknown, fromInside, 3},
        {"west", "3.tif", 1, west, 8, 4, PF_R8G8B8, PF_A8R8G8B8, fromWest, 3},
        {"every side", "3.tif", 1, every, 12, 12, PF_R8G8B8, PF_A8R8G8B8, {2, 10, 2, 10, 0, 7, true}, 3},
        // flip on a north-up raster: the window's bottom row count taken as a GDAL row, rows unreversed
        {"every side, flipped", "3.tif", 1, every, 12, 12, PF_R8G8B8, PF_A8R8G8B8, {2, 10, 2, 10, 0, 0, false}, 3, 1},
        {"two-byte caller", "3.tif", 1, west, 8, 4, PF_R5G6B5, PF_X8R8G8B8, fromWest, 2},
        // four bytes are written in place, without alpha from three bands
        {"four-byte caller", "3.tif", 1, west, 8, 4, PF_A8R8G8B8, PF_Unknown, fromWest, 3},
        // more bands than bytes: bands 1 and 2, and band 1's byte 2 lies outside the pixel
        {"four bands, two bytes", "4.tif", 1, inside, 4, 4, PF_L16, PF_Unknown, fromInside, 2},
        {"map off the pixel", "4.tif", 1, west, 8, 4, PF_R8G8B8, PF_A8R8G8B8, fromWest, 3, false, kMapOffThePixel},
        // a south-up raster reads its rows bottom up, unreversed
        {"south-up", "south-up.tif", 1, inside, 4, 4, PF_R8G8B8, PF_Unknown, {0, 4, 0, 4, 2, 2, false}, 3},
        {"mixed types", "mixed.vrt", 2, west, 8, 4, PF_R8G8B8, PF_A8R8G8B8, fromWest, 2},
        {"beside", "3.tif", 1, {20, 16, 26, 12}, 4, 4, PF_R8G8B8, PF_Unknown, {}, 0},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        ASSERT_TRUE(m_p.OpenForRead(m_dir.File(tc.file).c_str()) && m_p.BeginRead(tc.current));
        auto image = MakeImage(tc.iw, tc.ih, tc.format);
        image->m_bHasData = 7;
        KRImageData* out = image.get(); // must be reset
        const GetchResult result = m_p.QucikFetchImageData(image.get(), out, tc.rect, tc.map, tc.flip);
        const std::unique_ptr<KRImageData> made(out != image.get() ? out : nullptr);
        EXPECT_NE(out, image.get());
        const Span& s = tc.span;
        EXPECT_EQ(result, s.c1 > 0 ? GetchResult_Delivered : GetchResult_None);
        EXPECT_EQ(image->m_bHasData, s.c1 > 0 ? 7 : 0); // success leaves the flag alone
        ASSERT_EQ(made != nullptr, tc.made != PF_Unknown);
        EXPECT_TRUE(!made || (made->GetPixelFormat() == tc.made &&
                              made->GetWidth() * 100 + made->GetHeight() == tc.iw * 100 + tc.ih));
        const KRImageData& got = made ? *made : *image;
        const int* map = tc.map != nullptr ? tc.map : kDefaultMap;
        const int bytes = got.GetPixelSize();
        for (int i = 0, wrong = 0; s.c1 > 0 && i < tc.iw * tc.ih * bytes; ++i) {
            const int c = i / bytes % tc.iw, r = i / bytes / tc.iw, k = i % bytes;
            int want = 0;
            if (c >= s.c0 && c < s.c1 && r >= s.r0 && r < s.r1) {
                const int col = s.col0 + c - s.c0, dr = r - s.r0;
                for (int b = 0; b < tc.bands; ++b)
                    want = map[b] == k ? Sample(b + 1, col, s.up ? s.row0 - dr : s.row0 + dr) : want;
                want = made && map[3] == k ? 255 : want;
            }
            if (PixelAt(got, c, r)[k] != want && ++wrong <= 3)
                ADD_FAILURE() << "row " << r << ", column " << c << ", byte " << k << ": " << int(PixelAt(got, c, r)[k])
                              << ", expected " << want;
        }
    }
}

} // namespace
