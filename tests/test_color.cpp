// The colour rules: the display bytes of direct reads, one image fetch per rule
// (palette, grey table, stretch with gamma, filter colour, nodata), the host's
// single-value queries, and the histogram clip.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KRImageTestSupport.h"
#include "KRPluginProbe.h"
#include "KRTestSupport.h"

using namespace KRC;
using namespace krtest;
using Probe = KRGORasterAccessorPluginProbe;

namespace {

// Palette entry i as GDAL holds it (c1, c2, c3 = red, green, blue).
GDALColorEntry Entry(int i)
{
    return GDALColorEntry{static_cast<short>(10 * i), static_cast<short>(255 - 10 * i), static_cast<short>(7 * i), 255};
}

class ColorTest : public ::testing::Test {
protected:
    //! Opens a raster over lon 10..12, lat 48..50 whose band b holds value(b, west half or not); with a table, seen
    //! through a VRT giving band 1 the table and its interpretation (GeoTIFF pads tables to 256 and makes them
    //! palettes).
    bool Open(GDALDataType type, int bands, std::function<double(int, bool)> value,
              GDALColorInterp interp = GCI_Undefined, std::vector<double> noData = {})
    {
        PlaneRaster raster;
        raster.type = type;
        raster.bands = bands;
        raster.noData = noData;
        raster.value = [value](int b, double c, double) { return value(b, c < 32); };
        const std::string name = m_dir.File(std::to_string(++m_files));
        if (!WriteRaster(name + ".tif", raster.Layout()))
            return false;
        if (interp != GCI_Undefined) {
            GDALDatasetUniquePtr tif(GDALDataset::Open((name + ".tif").c_str(), GDAL_OF_RASTER));
            GDALDatasetUniquePtr vrt(GetGDALDriverManager()->GetDriverByName("VRT")->CreateCopy(
                (name + ".vrt").c_str(), tif.get(), FALSE, nullptr, nullptr, nullptr));
            GDALColorTable table;
            for (int i = 0; i < 16; ++i) {
                const GDALColorEntry e = Entry(i);
                table.SetColorEntry(i, &e);
            }
            vrt->GetRasterBand(1)->SetColorTable(&table);
            vrt->GetRasterBand(1)->SetColorInterpretation(interp);
        }
        return m_p.OpenForRead((name + (interp != GCI_Undefined ? ".vrt" : ".tif")).c_str());
    }

    //! Bytes of pixels 2 (over the west half) and 37 (the east half) of row 20 of a 40 x 40 image of
    //! lon 10.2..11.8, lat 48.2..49.8: the working image when one is delivered.
    std::vector<int> Fetched()
    {
        auto image = MakeImage(40, 40, PF_R8G8B8);
        KRImageData* made = nullptr;
        EXPECT_EQ(m_p.FetchImageData(image.get(), made, KRRect2d(10.2, 49.8, 11.8, 48.2), nullptr, false),
                  GetchResult_Delivered);
        const std::unique_ptr<KRImageData> owned(made);
        const KRImageData& result = made != nullptr ? *made : *image;
        std::vector<int> bytes;
        for (const int column : {2, 37})
            for (int k = 0; k < result.GetPixelSize(); ++k)
                bytes.push_back(PixelAt(result, column, 20)[k]);
        return bytes;
    }

    TempDir m_dir;
    int m_files = 0;
    KRGORasterAccessorPlugin m_p;
};

// Five pixels of three bands, stretched between 100 and 300 (type 1 or 2 with a known range, gamma 1 or 2),
// else their low byte. With the filter colour in use, a pixel that only matches it once stretched is moved off
// it by one in every band (255 becomes 254); band k compares with the filter component that entry k of the band
// order names. Byte rasters come back as read, never stretched; a fourth band is dropped only when alpha is
// ignored.
TEST_F(ColorTest, ReadColorsStretchAndMoveOffTheFilterColour)
{
    const int pixels[5][4] = {{50, 60, 70, 9}, {0, 0, 0, 9}, {200, 60, 70, 9}, {400, 50, 60, 9}, {400, 400, 400, 9}};
    const auto value = [&pixels](int b, int c, int) { return pixels[c][b - 1]; };
    const auto low = [&value](int b, int c, int r) { return value(b, c, r) % 256; };
    ASSERT_TRUE(WriteRaster(m_dir.File("byte.tif"), {5, 1, 4, GDT_Byte, {0, 1, 0, 1, 0, -1}, "", {}, low}));
    ASSERT_TRUE(WriteRaster(m_dir.File("wide.tif"), {5, 1, 3, GDT_UInt16, {0, 1, 0, 1, 0, -1}, "", {}, value}));
    const std::vector<int> raw = {50, 60, 70, 0, 0, 0, 200, 60, 70, 144, 50, 60, 144, 144, 144};
    const std::vector<int> stretched = {0, 0, 0, 0, 0, 0, 127, 0, 0, 255, 0, 0, 255, 255, 255};
    const struct {
        bool bytes, ignoreAlpha;
        int type;
        float gamma;
        bool valid, filtered;
        KRColor3 filter;
        const char* order;
        std::vector<int> want;
    } cases[] = {
        {false, false, 1, 1.0f, true, false, {}, "2,1,0,3", stretched},
        {false, false, 2, 1.0f, true, false, {}, "2,1,0,3", stretched},
        {false, false, 1, 2.0f, true, false, {}, "2,1,0,3", {0, 0, 0, 0, 0, 0, 180, 0, 0, 255, 0, 0, 255, 255, 255}},
        {false, false, 0, 1.0f, true, false, {}, "2,1,0,3", raw},
        {false, false, 1, 1.0f, false, false, {}, "2,1,0,3", raw},
        // raw (0, 0, 0) matches before the stretch and is kept as it is
        {false, false, 1, 1.0f, true, true, {0, 0, 0, 1}, "2,1,0,3", {1, 1, 1, 0, 0, 0, 127, 0, 0, 255, 0, 0, 255, 255, 255}},
        {false, false, 1, 1.0f, true, true, {1, 1, 1, 1}, "2,1,0,3", {0, 0, 0, 0, 0, 0, 127, 0, 0, 255, 0, 0, 254, 254, 254}},
        // blue 255: band 1 meets it through entry 0 of the default order
        {false, false, 1, 1.0f, true, true, {0, 0, 1, 1}, "2,1,0,3", {0, 0, 0, 0, 0, 0, 127, 0, 0, 254, 1, 1, 255, 255, 255}},
        {false, false, 1, 1.0f, true, true, {0, 0, 1, 1}, "0,1,2,3", stretched},
        {false, false, 1, 1.0f, true, false, {0, 0, 1, 1}, "2,1,0,3", stretched},
        {true, true, 1, 1.0f, true, false, {}, "2,1,0,3", raw},
        {true, false, 1, 1.0f, true, false, {}, "2,1,0,3", {50, 60, 70, 9, 0, 0, 0, 9, 200, 60, 70, 9, 144, 50, 60, 9, 144, 144, 144, 9}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(testing::Message() << tc.bytes << tc.type << tc.gamma << tc.valid << tc.filter.b << tc.order);
        if (&tc == cases || tc.bytes != (&tc - 1)->bytes) { // opened once: colours are prepared on the first read
            ASSERT_TRUE(m_p.OpenForRead(m_dir.File(tc.bytes ? "byte.tif" : "wide.tif").c_str()));
        }
        SetStretch(m_p, 100, 300, tc.type, tc.gamma);
        Probe::m_bMinMaxValid(m_p) = tc.valid;
        m_p.SetIgnoreAlpha(tc.ignoreAlpha);
        m_p.SetFilterColorUsed(tc.filtered);
        m_p.SetFilterColor(tc.filter);
        m_p.SetBindsOrder(tc.order);
        std::unique_ptr<KRPixelDataMultiBand> colors(m_p.ReadColors(0, 0, 0, 4, false));
        ASSERT_NE(colors, nullptr);
        EXPECT_EQ(std::vector<int>(colors->GetData(), colors->GetData() + colors->GetDataBytes()), tc.want);
    }
}

TEST_F(ColorTest, ImageFetchesApplyEachRule)
{
    // A palette's colour i is KRRGB(c3, c2, c1), out in fixed places whatever the band order; the host's own
    // dictionary comes first; indices the palette lacks fall back to the value.
    ASSERT_TRUE(Open(GDT_Byte, 1, [](int, bool west) { return west ? 3 : 12; }, GCI_PaletteIndex));
    m_p.SetBindsOrder("1,2,0,3");
    EXPECT_EQ(Fetched(), (std::vector<int>{Entry(3).c3, Entry(3).c2, Entry(3).c1, Entry(12).c3, Entry(12).c2,
                                           Entry(12).c1}));
    EXPECT_EQ(m_p.GetColorFromTable(3.9), KRRGB(Entry(3).c3, Entry(3).c2, Entry(3).c1));
    EXPECT_EQ(m_p.GetColorFromTable(16.0), 16u);
    EXPECT_EQ(m_p.GetColorFromTable(-1.0), 0xFFFFFFFFu);
    KRColorDictTable dict;
    dict.AddColor(0.0, KRRGB(1, 2, 3));
    Probe::m_pColorDict(m_p) = &dict;
    EXPECT_EQ(m_p.GetColorFromTable(3.9), KRRGB(1, 2, 3));
    Probe::m_pColorDict(m_p) = nullptr;

    // A grey table ramps from white at index 0 to black at the last. File formats make any table a palette;
    // a memory band stands in for a grey-index band.
    GDALDatasetUniquePtr mem(GetGDALDriverManager()->GetDriverByName("MEM")->Create("", 1, 1, 1, GDT_Byte, nullptr));
    GDALRasterBand* grey = mem->GetRasterBand(1);
    grey->SetColorTable(Probe::m_pBand(m_p)->GetColorTable());
    grey->SetColorInterpretation(GCI_GrayIndex);
    std::swap(Probe::m_pBand(m_p), grey);
    const KRColorset colors = Probe::ReadColorset(m_p);
    std::swap(Probe::m_pBand(m_p), grey);
    ASSERT_EQ(colors.GetColorSize(), 16);
    EXPECT_TRUE(colors.m_colors[0] == KRRGB(255, 255, 255) && colors.m_colors[7] == KRRGB(7, 7, 7) &&
                colors.m_colors[15] == KRRGB(0, 0, 0));
    m_p.SetBindsOrder("2,1,0,3");

    // Without a table the value is the colour.
    ASSERT_TRUE(Open(GDT_Byte, 1, [](int, bool) { return 5; }));
    EXPECT_EQ(Fetched(), (std::vector<int>{5, 0, 0, 5, 0, 0}));

    // Only 16-bit bands are stretched: sqrt(0.25) x 255 = 127.5, sqrt(0.5) x 255 = 180.3, below the range 0.
    for (const GDALDataType type : {GDT_UInt16, GDT_Byte}) {
        ASSERT_TRUE(Open(type, 3, [](int b, bool) { return b == 1 ? 125 : b == 2 ? 150 : 90; }));
        SetStretch(m_p, 100, 200, 1, 2.0f);
        EXPECT_EQ(Fetched(), type == GDT_Byte ? std::vector<int>({90, 150, 125, 90, 150, 125})
                                              : std::vector<int>({0, 180, 127, 0, 180, 127}));
    }
    EXPECT_EQ(m_p.GetStretchValue(150, 4), 150); // no range beyond the fourth band
    m_p.SetStetchType(3);
    EXPECT_EQ(m_p.GetStretchValue(150, 1), 150);

    // Nodata in the west half is transparent in the working image.
    ASSERT_TRUE(Open(GDT_Byte, 3, [](int b, bool west) { return west ? 0 : 10 * b; }, GCI_Undefined, {0, 0, 0}));
    EXPECT_EQ(Fetched(), (std::vector<int>{0, 0, 0, 0, 30, 20, 10, 255}));

    // The pixel rule matches the filter colour within a fixed 1e-10, whatever the host's tolerance: one of
    // 1e-20 keeps the sampler from treating the colour as nodata, so only the pixel rule makes pixels clear.
    ASSERT_TRUE(Open(GDT_Float64, 3, [](int b, bool west) { return b < 3 ? b * 10.0 : 30 + (west ? 1e-11 : 1e-7); }));
    double* filter = Probe::m_filterColor(m_p);
    filter[0] = 10, filter[1] = 20, filter[2] = 30;
    m_p.SetFilterColorUsed(true);
    m_p.SetFilterColorTolerance(1e-20);
    EXPECT_EQ(Fetched(), (std::vector<int>{30, 20, 10, 0, 30, 20, 10, 255}));
}

// The clip cuts a quarter percent of the non-zero pixels at each end, counting
// the integers 0 to the band's maximum (values above a stale stored maximum do
// not count), however wide that range is up to 32 bits; other ranges keep
// their plain minimum and maximum.
TEST_F(ColorTest, HistogramClip)
{
    const struct {
        GDALDataType type;
        int width, height;
        std::function<double(int)> value; // of the pixel index
        double min, max;                  // stretch range after preparation
        double storedMax = 0.0;           // a stale maximum the file claims; 0: the true one
    } cases[] = {
        // 1 to 4,999,996 in steps of 5: the 2500th value from each end.
        {GDT_Int32, 1000, 1000, [](int i) { return 1 + 5.0 * i; }, 12496, 4987501},
        // 3 to 4,095,000,003 in steps of a million: the 10th value from each end.
        {GDT_UInt32, 64, 64, [](int i) { return 3 + 1e6 * i; }, 9000003, 4086000003.0},
        // Only values up to 5,000,000 count at the top (those of i < 2500).
        {GDT_Int32, 64, 64, [](int i) { return 1 + 2000.0 * i; }, 18001, 4980001, 5e6},
        // 300 non-zero pixels: the threshold is 0, so the clip is 1 and the truncated maximum.
        {GDT_UInt16, 64, 64, [](int i) { return i < 300 ? 5 + 3 * i : 0; }, 1, 902},
        // 1 to 4000, ten pixels each, and a band of zeros that does not count: 100 pixels cut each end.
        {GDT_UInt16, 200, 220, [](int i) { return i < 40000 ? i % 4000 + 1 : 0; }, 10, 3991},
        {GDT_Float32, 16, 16, [](int i) { return -50.0 + i % 41; }, -50, -10},
        {GDT_Float64, 16, 16, [](int i) { return i * 1e10; }, 0, 255e10},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.max);
        const RasterLayout layout{
            t.width, t.height, 1, t.type, {10, 0.01, 0, 50, 0, -0.01}, WktOfEpsg(4326), {}, [&t](int, int c, int r) {
                return t.value(r * t.width + c);
            }};
        ASSERT_TRUE(WriteAndOpen(m_p, m_dir.File(std::to_string(++m_files) + ".tif"), layout));
        if (t.storedMax > 0.0) {
            Probe::m_bandMax(m_p)[0] = t.storedMax;
            Probe::m_bandHasMin(m_p)[0] = true;
        }
        m_p.SetStetchType(2);
        m_p.CheckInitColorInfo();
        EXPECT_EQ(Probe::m_bandMin(m_p)[0], t.min);
        EXPECT_EQ(Probe::m_bandMax(m_p)[0], t.max);
        EXPECT_EQ(m_p.GetStretchValue(t.min - 100, 0), 0.0);
    }
}

} // namespace
