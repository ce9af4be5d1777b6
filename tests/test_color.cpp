// Palettes, grey tables, the histogram clip, the contrast stretch and the
// host's single-value colour queries, alone and through image fetches.
#include <functional>
#include <memory>
#include <string>
#include <utility>
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

GDALColorTable Palette(int entries)
{
    GDALColorTable table;
    for (int i = 0; i < entries; ++i) {
        const GDALColorEntry e = Entry(i);
        table.SetColorEntry(i, &e);
    }
    return table;
}

class ColorTest : public ::testing::Test {
protected:
    //! Opens a one-band Byte raster over lon 10..12, lat 48..50, `west` in its west half and `east` in
    //! its east half, seen through a VRT with a palette of `entries` entries (GeoTIFF pads tables to 256).
    bool OpenTable(int entries, double west, double east)
    {
        PlaneRaster raster;
        raster.bands = 1;
        raster.value = [=](int, double c, double) { return c < 32 ? west : east; };
        const std::string name = m_dir.File(std::to_string(++m_files));
        if (!WriteRaster(name + ".tif", raster.Layout()))
            return false;
        if (entries > 0) {
            GDALDatasetUniquePtr tif(GDALDataset::Open((name + ".tif").c_str(), GDAL_OF_RASTER));
            GDALDatasetUniquePtr vrt(GetGDALDriverManager()->GetDriverByName("VRT")->CreateCopy(
                (name + ".vrt").c_str(), tif.get(), FALSE, nullptr, nullptr, nullptr));
            GDALColorTable palette = Palette(entries);
            vrt->GetRasterBand(1)->SetColorTable(&palette);
        }
        return m_p.OpenForRead((name + (entries > 0 ? ".vrt" : ".tif")).c_str());
    }

    //! Pixel (column, 20) of an image wholly inside the raster, delivered in place.
    std::vector<int> FetchedPixel(int column)
    {
        auto image = MakeImage(40, 40, PF_R8G8B8);
        KRImageData* newImage = nullptr;
        EXPECT_EQ(m_p.FetchImageData(image.get(), newImage, KRRect2d(10.2, 49.8, 11.8, 48.2), nullptr, false),
                  GetchResult_Delivered);
        EXPECT_EQ(newImage, nullptr);
        delete newImage;
        const unsigned char* px = PixelAt(*image, column, 20);
        return {px[0], px[1], px[2]};
    }

    TempDir m_dir;
    int m_files = 0;
    KRGORasterAccessorPlugin m_p;
};

TEST_F(ColorTest, PaletteGreyTableAndNoTable)
{
    // Palette colour i is KRRGB(c3, c2, c1) and goes out in fixed places whatever the band order.
    ASSERT_TRUE(OpenTable(16, 3, 12));
    m_p.SetBindsOrder("1,2,0,3");
    for (const auto& [column, index] : {std::pair(2, 3), std::pair(37, 12)})
        EXPECT_EQ(FetchedPixel(column), std::vector<int>({Entry(index).c3, Entry(index).c2, Entry(index).c1}));
    EXPECT_EQ(m_p.GetColorFromTable(3.9), KRRGB(Entry(3).c3, Entry(3).c2, Entry(3).c1));
    EXPECT_EQ(m_p.GetColorFromTable(16.0), 16u); // indices the palette lacks fall back to the value
    EXPECT_EQ(m_p.GetColorFromTable(-1.0), 0xFFFFFFFFu);
    KRColorDictTable dict; // the host's dictionary comes first
    dict.AddColor(0.0, KRRGB(1, 2, 3));
    Probe::m_pColorDict(m_p) = &dict;
    EXPECT_EQ(m_p.GetColorFromTable(3.9), KRRGB(1, 2, 3));
    Probe::m_pColorDict(m_p) = nullptr;

    // A grey table ramps from white at index 0 to black at the last. File formats give a colour
    // table the palette interpretation; a memory band stands in for a grey-index band.
    GDALDatasetUniquePtr mem(GetGDALDriverManager()->GetDriverByName("MEM")->Create("", 1, 1, 1, GDT_Byte, nullptr));
    GDALRasterBand* grey = mem->GetRasterBand(1);
    GDALColorTable table = Palette(16);
    grey->SetColorTable(&table);
    grey->SetColorInterpretation(GCI_GrayIndex);
    std::swap(Probe::m_pBand(m_p), grey);
    const KRColorset colors = Probe::ReadColorset(m_p);
    std::swap(Probe::m_pBand(m_p), grey);
    ASSERT_EQ(colors.GetColorSize(), 16);
    EXPECT_TRUE(colors.m_colors[0] == KRRGB(255, 255, 255) && colors.m_colors[7] == KRRGB(7, 7, 7) &&
                colors.m_colors[15] == KRRGB(0, 0, 0));

    // A file without a table drops the last one: the value itself is the packed colour.
    ASSERT_TRUE(OpenTable(0, 5, 5));
    EXPECT_EQ(FetchedPixel(5), std::vector<int>({5, 0, 0}));
    EXPECT_EQ(m_p.GetColorFromTable(255.7), 255u);
}

TEST_F(ColorTest, StretchValueBetweenTheBandRange)
{
    ASSERT_TRUE(OpenTable(0, 0, 0));
    const struct {
        int type;
        float gamma;
        double value, expected;
    } cases[] = {{1, 1, 150, 127.5}, {2, 2, 125, 127.5}, {0, 1, 150, 150}, {3, 1, 150, 150}};
    for (const auto& t : cases) {
        SetStretch(m_p, 100, 200, t.type, t.gamma);
        EXPECT_NEAR(m_p.GetStretchValue(t.value, 1), t.expected, 1e-9) << t.type << " " << t.value;
        EXPECT_EQ(m_p.GetStretchValue(t.value, 4), t.value); // no range beyond the fourth band
        Probe::m_bMinMaxValid(m_p) = false;
        EXPECT_EQ(m_p.GetStretchValue(t.value, 1), t.value);
    }
}

// Only 16-bit grids are stretched on the way into an image.
TEST_F(ColorTest, SixteenBitBandsAreStretchedIntoImagesWithGamma)
{
    for (const GDALDataType type : {GDT_UInt16, GDT_Int16, GDT_Byte}) {
        SCOPED_TRACE(type);
        PlaneRaster raster;
        raster.type = type;
        raster.value = [](int b, double, double) { return b == 1 ? 125 : b == 2 ? 150 : 90; };
        const std::string path = m_dir.File(std::to_string(type) + ".tif");
        ASSERT_TRUE(WriteAndOpen(m_p, path, raster.Layout()));
        SetStretch(m_p, 100, 200, 1, 2.0f);
        // Bytes 2, 1, 0 hold bands 1, 2, 3: sqrt(0.25) x 255 = 127.5, sqrt(0.5) x 255 = 180.3, below range 0.
        EXPECT_EQ(FetchedPixel(10),
                  type == GDT_Byte ? std::vector<int>({90, 150, 125}) : std::vector<int>({0, 180, 127}));
    }
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
        int buffers;                      // histogram buffers allocated
        double storedMax = 0.0;           // a stale maximum the file claims; 0: the true one
    } cases[] = {
        // 1 to 4,999,996 in steps of 5: the 2500th value from each end.
        {GDT_Int32, 1000, 1000, [](int i) { return 1 + 5.0 * i; }, 12496, 4987501, 0},
        // 3 to 4,095,000,003 in steps of a million: the 10th value from each end.
        {GDT_UInt32, 64, 64, [](int i) { return 3 + 1e6 * i; }, 9000003, 4086000003.0, 0},
        // Only values up to 5,000,000 count at the top (those of i < 2500).
        {GDT_Int32, 64, 64, [](int i) { return 1 + 2000.0 * i; }, 18001, 4980001, 0, 5e6},
        // 300 non-zero pixels: the threshold is 0, so the clip is 1 and the truncated maximum.
        {GDT_UInt16, 64, 64, [](int i) { return i < 300 ? 5 + 3 * i : 0; }, 1, 902, 1},
        // 1 to 4000, ten pixels each, and a band of zeros that does not count: 100 pixels cut each end.
        {GDT_UInt16, 200, 220, [](int i) { return i < 40000 ? i % 4000 + 1 : 0; }, 10, 3991, 1},
        {GDT_Float32, 16, 16, [](int i) { return -50.0 + i % 41; }, -50, -10, 0},
        {GDT_Float64, 16, 16, [](int i) { return i * 1e10; }, 0, 255e10, 0},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.max);
        const RasterLayout layout{
            t.width, t.height, 1, t.type, {10, 0.01, 0, 50, 0, -0.01}, WktOfEpsg(4326), {}, [&t](int, int c, int r) {
                return t.value(r * t.width + c);
            }};
        const std::string path = m_dir.File(std::to_string(++m_files) + ".tif");
        ASSERT_TRUE(WriteAndOpen(m_p, path, layout));
        if (t.storedMax > 0.0) {
            Probe::m_bandMax(m_p)[0] = t.storedMax;
            Probe::m_bandHasMin(m_p)[0] = true;
        }
        m_p.SetStetchType(2);
        m_p.CheckInitColorInfo();
        EXPECT_TRUE(Probe::m_histogramState(m_p));
        EXPECT_EQ(Probe::m_bandMin(m_p)[0], t.min);
        EXPECT_EQ(Probe::m_bandMax(m_p)[0], t.max);
        EXPECT_EQ(Probe::m_histograms(m_p).GetSize(), t.buffers);
        EXPECT_EQ(m_p.GetStretchValue(t.min - 100, 0), 0.0);
    }
}

} // namespace
