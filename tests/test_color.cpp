// The colour rules: the display bytes of direct reads, one image fetch per rule
// (palette, grey table, stretch with gamma, filter colour, nodata), the host's
// single-value queries, and the histogram clip.
#include <cctype>

#include "KRFetchTestSupport.h"

using namespace KRC;
using namespace krtest;
using Probe = KRGORasterAccessorPluginProbe;

namespace {

using ColorTest = AccessorTest;

// Five pixels of three bands, stretched between 100 and 300 (type 1 or 2 with a known range, gamma 1 or 2),
// else their low byte. With the filter colour in use, a pixel that only matches it once stretched is moved off
// it by one in every band (255 becomes 254); band k compares with the filter component that entry k of the band
// order names. Byte rasters come back as read, never stretched; a fourth band is dropped only when alpha is
// ignored.
TEST_F(ColorTest, ReadColorsStretchAndMoveOffTheFilterColour)
{
    const int pixels[5][4] = {{50, 60, 70, 9}, {0, 0, 0, 9}, {200, 60, 70, 9}, {400, 50, 60, 9}, {400, 400, 400, 9}};
    const auto value = [&pixels](int b, int c, int) { return pixels[c][b - 1]; };
    const auto low = [&pixels](int b, int c, int) { return pixels[c][b - 1] % 256; };
    ASSERT_TRUE(WriteRaster(m_dir.File("B"), {5, 1, 4, GDT_Byte, {0, 1, 0, 1, 0, -1}, "", {}, low}));
    ASSERT_TRUE(WriteRaster(m_dir.File("W"), {5, 1, 3, GDT_UInt16, {0, 1, 0, 1, 0, -1}, "", {}, value}));
    const std::vector<int> raw = {50, 60, 70, 0, 0, 0, 200, 60, 70, 144, 50, 60, 144, 144, 144};
    const std::vector<int> stretched = {0, 0, 0, 0, 0, 0, 127, 0, 0, 255, 0, 0, 255, 255, 255};
    const auto With = [&stretched](std::initializer_list<std::pair<int, int>> changes) { // bytes {index, value}
        std::vector<int> bytes = stretched;
        for (const auto& [index, value] : changes)
            bytes[static_cast<size_t>(index)] = value;
        return bytes;
    };
    const struct {
        const char* file; //!< W: 16-bit, B: bytes, b: bytes with alpha ignored
        int type;
        float gamma;
        bool valid;
        int filter; //!< red, green, blue bits of the filter colour; -1: none in use
        const char* order;
        std::vector<int> want;
    } cases[] = {
        {"W", 1, 1, true, -1, "2,1,0,3", stretched},
        {"W", 1, 2, true, -1, "2,1,0,3", With({{6, 180}})}, // 255 sqrt(0.5)
        {"W", 0, 1, true, -1, "2,1,0,3", raw},
        {"W", 1, 1, false, -1, "2,1,0,3", raw},
        // raw (0, 0, 0) matches before the stretch and is kept as it is
        {"W", 1, 1, true, 0, "2,1,0,3", With({{0, 1}, {1, 1}, {2, 1}})},
        {"W", 1, 1, true, 7, "2,1,0,3", With({{12, 254}, {13, 254}, {14, 254}})},
        // blue 255: band 1 meets it through entry 0 of the default order
        {"W", 1, 1, true, 1, "2,1,0,3", With({{9, 254}, {10, 1}, {11, 1}})},
        {"W", 1, 1, true, 1, "0,1,2,3", stretched},
        {"b", 1, 1, true, -1, "2,1,0,3", raw},
        {"B", 1, 1, true, -1, "2,1,0,3", {50, 60, 70, 9, 0, 0, 0, 9, 200, 60, 70, 9, 144, 50, 60, 9, 144, 144, 144, 9}},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(testing::Message() << tc.file << tc.type << tc.gamma << tc.valid << tc.filter << tc.order);
        if (&tc == cases || std::toupper(*tc.file) != std::toupper(*(&tc - 1)->file)) { // colours are prepared once
            ASSERT_TRUE(m_p.OpenForRead(m_dir.File(std::string(1, std::toupper(*tc.file))).c_str()));
        }
        SetStretch(m_p, 100, 300, tc.type, tc.gamma);
        Probe::m_bMinMaxValid(m_p) = tc.valid;
        m_p.SetIgnoreAlpha(*tc.file == 'b'), m_p.SetBindsOrder(tc.order), m_p.SetFilterColorUsed(tc.filter >= 0);
        m_p.SetFilterColor(KRColor3(tc.filter >> 2 & 1, tc.filter >> 1 & 1, tc.filter & 1, 1));
        const std::unique_ptr<KRPixelDataMultiBand> colors(m_p.ReadColors(0, 0, 0, 4, false));
        ASSERT_NE(colors, nullptr);
        EXPECT_EQ(std::vector<int>(colors->GetData(), colors->GetData() + colors->GetDataBytes()), tc.want);
    }
}

// One image fetch per rule, of a raster over lon 10..12, lat 48..50 whose band b holds value(b, west half or
// not): pixels 2 (over the west half) and 37 (the east half) of row 20 of a 40 x 40 image of lon 10.2..11.8,
// lat 48.2..49.8, in the working image when one is delivered.
TEST_F(ColorTest, ImageFetchesApplyEachRule)
{
    const auto bands = [](int b, bool) { return b == 1 ? 125 : b == 2 ? 150 : 90; };
    const auto stretch = [this](int type) { return [this, type] { SetStretch(m_p, 100, 200, type, 2.0f); }; };
    GDALColorTable palette; // of 16 entries (GeoTIFF pads it to 256): red, green, blue 10 i, 255 - 10 i, 7 i
    for (short i = 0; i < 16; ++i) {
        const GDALColorEntry e{short(10 * i), short(255 - 10 * i), short(7 * i), 255};
        palette.SetColorEntry(i, &e);
    }
    const struct {
        const char* rule;
        GDALDataType type;
        int bands;
        std::vector<double> noData;
        std::function<double(int, bool)> value;
        std::function<void()> setup;
        std::vector<int> want;
    } rules[] = {
        // sqrt(0.25) x 255 = 127.5, sqrt(0.5) x 255 = 180.3, below the range 0
        {"16-bit, stretched with gamma", GDT_UInt16, 3, {}, bands, stretch(1), {0, 180, 127, 0, 180, 127}},
        {"16-bit, stretch type 0", GDT_Int16, 3, {}, bands, stretch(0), {90, 150, 125, 90, 150, 125}},
        {"bytes, never stretched", GDT_Byte, 3, {}, bands, stretch(1), {90, 150, 125, 90, 150, 125}},
        {"nodata, clear", GDT_Byte, 3, {0, 0, 0}, [](int b, bool west) { return west ? 0 : 10 * b; }, {},
         {0, 0, 0, 0, 30, 20, 10, 255}},
        // Matched within a fixed 1e-10, whatever the host's tolerance: one of 1e-20 keeps the sampler from
        // taking the colour for nodata, so only the pixel rule can clear the west half.
        {"filter colour", GDT_Float64, 3, {}, [](int, bool west) { return 127.5 + (west ? 1e-11 : 1e-7); },
         [this] { m_p.SetFilterColor({0.5f, 0.5f, 0.5f, 1}), m_p.SetFilterColorTolerance(1e-20); },
         {127, 127, 127, 0, 127, 127, 127, 255}},
        {"no table: the value is the colour", GDT_Byte, 1, {}, [](int, bool) { return 5; }, {}, {5, 0, 0, 5, 0, 0}},
        // palette colour i is KRRGB(c3, c2, c1), out in fixed places whatever the band order
        {"palette", GDT_Byte, 1, {}, [](int, bool west) { return west ? 3 : 12; },
         [this] { m_p.SetBindsOrder("1,2,0,3"); },
         {21, 225, 30, 84, 135, 120}},
    };
    for (const auto& r : rules) {
        SCOPED_TRACE(r.rule);
        PlaneRaster raster;
        raster.type = r.type, raster.bands = r.bands, raster.noData = r.noData;
        raster.value = [&r](int b, double c, double) { return r.value(b, c < 32); };
        const std::string name = NewFile();
        ASSERT_TRUE(WriteRaster(name, raster.Layout()));
        if (std::string(r.rule) == "palette") { // written as the dataset closes
            GDALDatasetUniquePtr tif(GDALDataset::Open(name.c_str(), GDAL_OF_UPDATE));
            tif->GetRasterBand(1)->SetColorTable(&palette);
        }
        ASSERT_TRUE(m_p.OpenForRead(name.c_str()));
        m_p.SetFilterColorUsed(std::string(r.rule) == "filter colour");
        if (r.setup)
            r.setup();
        auto image = MakeImage(40, 40, PF_R8G8B8);
        KRImageData* made = nullptr;
        ASSERT_EQ(m_p.FetchImageData(image.get(), made, KRRect2d(10.2, 49.8, 11.8, 48.2), nullptr, false),
                  GetchResult_Delivered);
        const std::unique_ptr<KRImageData> owned(made);
        const KRImageData& result = made ? *made : *image;
        std::vector<int> bytes;
        for (const int column : {2, 37})
            for (int k = 0; k < result.GetPixelSize(); ++k)
                bytes.push_back(PixelAt(result, column, 20)[k]);
        EXPECT_EQ(bytes, r.want);
    }
    // The host's single-value query: an index the palette lacks is the colour itself.
    EXPECT_EQ(m_p.GetColorFromTable(3.9), KRRGB(21, 225, 30));
    EXPECT_EQ(m_p.GetColorFromTable(256.0), 256u);

    // A grey table ramps from white at index 0 to black at the last. File formats make any table a palette;
    // a memory band stands in for a grey-index band.
    GDALDatasetUniquePtr mem(GetGDALDriverManager()->GetDriverByName("MEM")->Create("", 1, 1, 1, GDT_Byte, nullptr));
    GDALRasterBand* grey = mem->GetRasterBand(1);
    grey->SetColorTable(&palette);
    grey->SetColorInterpretation(GCI_GrayIndex);
    std::swap(Probe::m_pBand(m_p), grey);
    const KRColorset colors = Probe::ReadColorset(m_p);
    std::swap(Probe::m_pBand(m_p), grey);
    ASSERT_EQ(colors.GetColorSize(), 16);
    EXPECT_TRUE(colors.m_colors[0] == KRRGB(255, 255, 255) && colors.m_colors[7] == KRRGB(7, 7, 7) &&
                colors.m_colors[15] == KRRGB(0, 0, 0));
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
        // 1 to 4000, ten pixels each, and a band of zeros that does not count: 100 pixels cut each end.
        {GDT_UInt16, 200, 220, [](int i) { return i < 40000 ? i % 4000 + 1 : 0; }, 10, 3991},
        {GDT_Float32, 16, 16, [](int i) { return -50.0 + i % 41; }, -50, -10},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.max);
        const auto value = [&t](int, int c, int r) { return t.value(r * t.width + c); };
        ASSERT_TRUE(WriteAndOpen(m_p, NewFile(), {t.width, t.height, 1, t.type, {}, "", {}, value}));
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
