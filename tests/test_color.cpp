// Palettes, grey tables, the histogram clip, the contrast stretch and the
// host's single-value colour queries, alone and through image fetches.
#include <cmath>
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
    void SetUp() override { GDALAllRegister(); }

    //! A one-band Byte raster over lon 10..12, lat 48..50 whose west half is
    //! `west` and east half `east`, seen through a VRT with a colour table of
    //! `entries` entries (a GeoTIFF would pad its table to 256 entries).
    std::string PaletteRaster(int entries, double west, double east, const std::string& name = "palette")
    {
        PlaneRaster raster;
        raster.bands = 1;
        raster.value = [=](int, double c, double) { return c < 32 ? west : east; };
        const std::string tif = m_dir.File(name + ".tif"), vrt = m_dir.File(name + ".vrt");
        if (!WriteRaster(tif, raster.Layout()))
            return "";
        std::string table;
        for (int i = 0; i < entries; ++i) {
            const GDALColorEntry e = Entry(i);
            table += "<Entry c1=\"" + std::to_string(e.c1) + "\" c2=\"" + std::to_string(e.c2) + "\" c3=\"" +
                     std::to_string(e.c3) + "\" c4=\"255\"/>";
        }
        WriteText(vrt, "<VRTDataset rasterXSize=\"64\" rasterYSize=\"64\"><SRS>EPSG:4326</SRS><GeoTransform>10, "
                       "0.03125, 0, 50, 0, -0.03125</GeoTransform><VRTRasterBand dataType=\"Byte\" band=\"1\">" +
                           (entries > 0 ? "<ColorTable>" + table + "</ColorTable>" : std::string()) +
                           "<SimpleSource><SourceFilename>" + tif +
                           "</SourceFilename><SourceBand>1</SourceBand></SimpleSource></VRTRasterBand></VRTDataset>");
        return vrt;
    }

    std::unique_ptr<KRImageData> FetchInside(enumPixelFormat format = PF_R8G8B8)
    {
        auto image = MakeImage(40, 40, format);
        KRImageData* newImage = nullptr;
        EXPECT_EQ(m_p.FetchImageData(image.get(), newImage, KRRect2d(10.2, 49.8, 11.8, 48.2), nullptr, false),
                  GetchResult_Delivered);
        EXPECT_EQ(newImage, nullptr);
        delete newImage;
        return image;
    }

    TempDir m_dir;
    KRGORasterAccessorPlugin m_p;
};

TEST_F(ColorTest, PaletteColoursGoOutRedGreenBlueWhateverTheBandOrder)
{
    ASSERT_TRUE(m_p.OpenForRead(PaletteRaster(16, 3, 12).c_str()));
    m_p.CheckInitColorInfo();
    m_p.SetBindsOrder("0,1,2,3");
    auto image = FetchInside();
    ASSERT_EQ(Probe::m_colorset(m_p).GetColorSize(), 16);
    // Palette colour i is KRRGB(c3, c2, c1): byte 0 gets the entry's third component.
    for (const auto& [column, index] : {std::pair(2, 3), std::pair(37, 12)}) {
        const unsigned char* px = PixelAt(*image, column, 20);
        const GDALColorEntry e = Entry(index);
        EXPECT_TRUE(px[0] == e.c3 && px[1] == e.c2 && px[2] == e.c1) << column;
    }
    EXPECT_EQ(m_p.GetColorFromTable(3.9), KRRGB(Entry(3).c3, Entry(3).c2, Entry(3).c1));
    // Indices the palette lacks fall back to the value itself.
    EXPECT_EQ(m_p.GetColorFromTable(16.0), 16u);
    EXPECT_EQ(m_p.GetColorFromTable(-1.0), 0xFFFFFFFFu);

    // The host's dictionary comes first.
    KRColorDictTable dict;
    dict.AddColor(0.0, KRRGB(1, 2, 3));
    Probe::m_pColorDict(m_p) = &dict;
    EXPECT_EQ(m_p.GetColorFromTable(3.9), KRRGB(1, 2, 3));
    Probe::m_pColorDict(m_p) = nullptr;

    // A second file brings its own palette, or none.
    PlaneRaster plain;
    plain.bands = 1;
    plain.value = [](int, double, double) { return 200.0; };
    ASSERT_TRUE(WriteRaster(m_dir.File("plain.tif"), plain.Layout()));
    ASSERT_TRUE(m_p.OpenForRead(m_dir.File("plain.tif").c_str()));
    image = FetchInside();
    EXPECT_EQ(Probe::m_colorset(m_p).GetColorSize(), 0);
    const unsigned char* px = PixelAt(*image, 5, 5);
    EXPECT_TRUE(px[0] == 200 && px[1] == 0 && px[2] == 0); // the value is the packed colour
    EXPECT_EQ(m_p.GetColorFromTable(255.7), 255u);
}

// File formats give a colour table the palette interpretation; a memory band
// stands in for a grey-index band with a 256-entry table.
TEST_F(ColorTest, GreyIndexTableRampsFromWhiteToBlack)
{
    ASSERT_TRUE(m_p.OpenForRead(PaletteRaster(0, 0, 0).c_str()));
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDatasetUniquePtr ds(mem->Create("", 4, 4, 1, GDT_Byte, nullptr));
    GDALRasterBand* band = ds->GetRasterBand(1);
    GDALColorTable table;
    for (int i = 0; i < 256; ++i) {
        const GDALColorEntry e{1, 2, 3, 255};
        table.SetColorEntry(i, &e);
    }
    band->SetColorTable(&table);
    band->SetColorInterpretation(GCI_GrayIndex);
    ASSERT_EQ(band->GetColorInterpretation(), GCI_GrayIndex);

    GDALRasterBand* own = Probe::m_pBand(m_p);
    Probe::m_pBand(m_p) = band;
    const KRColorset colors = Probe::ReadColorset(m_p);
    Probe::m_pBand(m_p) = own;
    ASSERT_EQ(colors.GetColorSize(), 256);
    EXPECT_EQ(colors.m_colors[0], KRRGB(255, 255, 255));
    for (int k : {1, 77, 254})
        EXPECT_EQ(colors.m_colors[k], KRRGB(k, k, k));
    EXPECT_EQ(colors.m_colors[255], KRRGB(0, 0, 0));
}

struct StretchCase {
    int type;
    float gamma;
    double value;
    double expected;
};

class StretchValueTest : public ColorTest, public ::testing::WithParamInterface<StretchCase> {};

TEST_P(StretchValueTest, StretchesBetweenTheBandRange)
{
    const StretchCase& t = GetParam();
    ASSERT_TRUE(m_p.OpenForRead(PaletteRaster(0, 0, 0).c_str()));
    Probe::m_bandMin(m_p)[1] = 100;
    Probe::m_bandMax(m_p)[1] = 200;
    Probe::m_bMinMaxValid(m_p) = true;
    m_p.SetStetchType(t.type);
    m_p.SetStretchGama(t.gamma);
    EXPECT_NEAR(m_p.GetStretchValue(t.value, 1), t.expected, 1e-9);
    Probe::m_bMinMaxValid(m_p) = false;
    EXPECT_EQ(m_p.GetStretchValue(t.value, 1), t.value);
    EXPECT_EQ(m_p.GetStretchValue(t.value, 4), t.value); // no range beyond the fourth band
}

INSTANTIATE_TEST_SUITE_P(Table, StretchValueTest,
                         ::testing::Values(StretchCase{1, 1, 150, 127.5}, StretchCase{1, 1, 99, 0},
                                           StretchCase{1, 1, 201, 255}, StretchCase{1, 1, 100, 0},
                                           StretchCase{2, 1, 200, 255}, StretchCase{2, 2, 125, 127.5},
                                           StretchCase{0, 1, 150, 150}, StretchCase{3, 1, 150, 150}));

// Only 16-bit grids are stretched on the way into an image.
TEST_F(ColorTest, SixteenBitBandsAreStretchedIntoImagesWithGamma)
{
    for (const GDALDataType type : {GDT_UInt16, GDT_Int16, GDT_Byte}) {
        SCOPED_TRACE(type);
        PlaneRaster raster;
        raster.type = type;
        raster.value = [](int b, double, double) { return b == 1 ? 125 : b == 2 ? 150 : 90; };
        const std::string path = m_dir.File(std::to_string(type) + ".tif");
        ASSERT_TRUE(WriteRaster(path, raster.Layout()) && m_p.OpenForRead(path.c_str()));
        for (int b = 0; b < 3; ++b) {
            Probe::m_bandMin(m_p)[b] = 100;
            Probe::m_bandMax(m_p)[b] = 200;
        }
        Probe::m_bMinMaxValid(m_p) = true;
        m_p.SetStetchType(1);
        m_p.SetStretchGama(2.0f);
        auto image = FetchInside();
        const unsigned char* px = PixelAt(*image, 10, 10);
        // Bytes 2, 1, 0 hold bands 1, 2, 3: sqrt(0.25) x 255 = 127.5, sqrt(0.5) x 255 = 180.3, below range 0.
        if (type == GDT_Byte)
            EXPECT_TRUE(px[2] == 125 && px[1] == 150 && px[0] == 90);
        else
            EXPECT_TRUE(px[2] == 127 && px[1] == 180 && px[0] == 0);
    }
}

struct HistogramCase {
    const char* name;
    GDALDataType type;
    int width, height;
    std::function<double(int)> value; // of the pixel index
    double min, max;                  // stretch range after preparation
    int buffers;                      // histogram buffers allocated
};

class HistogramTest : public ColorTest, public ::testing::WithParamInterface<HistogramCase> {};

TEST_P(HistogramTest, ClipCutsAQuarterPercentOfNonZeroPixelsAtEachEnd)
{
    const HistogramCase& t = GetParam();
    RasterLayout layout;
    layout.width = t.width;
    layout.height = t.height;
    layout.type = t.type;
    layout.geoTransform = {10, 0.01, 0, 50, 0, -0.01};
    layout.wkt = WktOfEpsg(4326);
    const int w = t.width;
    auto f = t.value;
    layout.value = [f, w](int, int c, int r) { return f(r * w + c); };
    ASSERT_TRUE(WriteRaster(m_dir.File("h.tif"), layout) && m_p.OpenForRead(m_dir.File("h.tif").c_str()));
    m_p.SetStetchType(2);
    m_p.CheckInitColorInfo();
    EXPECT_TRUE(Probe::m_histogramState(m_p));
    EXPECT_EQ(Probe::m_bandMin(m_p)[0], t.min);
    EXPECT_EQ(Probe::m_bandMax(m_p)[0], t.max);
    EXPECT_EQ(Probe::m_histograms(m_p).GetSize(), t.buffers);
}

INSTANTIATE_TEST_SUITE_P(
    Bands, HistogramTest,
    ::testing::Values(
        // 300 non-zero pixels: the threshold is 0, so the clip is 1 and the truncated maximum.
        HistogramCase{"FewPixels", GDT_UInt16, 64, 64, [](int i) { return i < 300 ? 5 + 3 * i : 0; }, 1, 902, 1},
        // 1 to 4000, ten pixels each, and a band of zeros that does not count: 100 pixels cut each end.
        HistogramCase{"Spread", GDT_UInt16, 200, 220, [](int i) { return i < 40000 ? i % 4000 + 1 : 0; }, 10, 3991, 1},
        // Ranges with no sensible integer buckets keep their plain minimum and maximum.
        HistogramCase{"NegativeMaximum", GDT_Float32, 16, 16, [](int i) { return -50.0 + i % 41; }, -50, -10, 0},
        HistogramCase{"Beyond32Bits", GDT_Float64, 16, 16, [](int i) { return i * 1e10; }, 0, 255e10, 0}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
