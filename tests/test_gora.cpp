// gora, the command-line host, run as a user runs it on rasters made here;
// its pictures, reports and files are read back with GDAL and compared with
// values worked out from the rasters' own formulas.
#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "KRTestSupport.h"

using krtest::Png;
using krtest::RasterLayout;
using nlohmann::json;

namespace {

using Rgba = std::array<int, 4>;
using Value = std::function<double(int band, int column, int row)>;

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The host's tiling: level 8 tiles are 180 / 256 degrees, columns from -180,
// rows from +90. Tile 266 62 holds 7.2 E 46.15 N.
constexpr double kTile = 180.0 / 256.0;
constexpr double kTileWest = -180.0 + 266 * kTile;
constexpr double kTileNorth = 90.0 - 62 * kTile;
constexpr int kMargin = 16; // source pixels around the tiles, so no window is cut

//! North-up in WGS84 from `west`, `north`, with square pixels of `px` degrees.
RasterLayout Wgs84(int w, int h, int bands, GDALDataType type, double west, double north, double px, Value value)
{
    return RasterLayout{w, h, bands, type, {west, px, 0.0, north, 0.0, -px}, krtest::WktOfEpsg(4326), {}, value};
}

//! Source pixels of exactly one tile pixel each, over `tiles` x `tiles`
//! tiles and a margin; `value(band, column, row)` counts from the tiles' corner.
RasterLayout OverTiles(int tiles, int bands, GDALDataType type, Value value)
{
    const int side = 256 * tiles + 2 * kMargin;
    const double px = kTile / 256.0;
    return Wgs84(side, side, bands, type, kTileWest - kMargin * px, kTileNorth + kMargin * px, px,
                 [value](int b, int c, int r) { return value(b, c - kMargin, r - kMargin); });
}

//! Red = column, green = row of the tile pixel (divided by the tile count), blue 100;
//! GDAL clamps what lies beyond 0..255 in the margin.
Value Gradient(int tiles)
{
    return [tiles](int b, int c, int r) { return b == 1 ? c / tiles : b == 2 ? r / tiles : 100; };
}

Rgba Opaque(int r, int g, int b)
{
    return {r, g, b, 255};
}

Rgba Grey(int v)
{
    return Opaque(v, v, v);
}

//! Band b holds channel b - 1 of `west` left of the tile's middle, of `east` right of it.
Value WestEast(Rgba west, Rgba east)
{
    return [west, east](int b, int c, int) { return (c < 128 ? west : east)[static_cast<size_t>(b - 1)]; };
}

std::function<Rgba(int, int)> Halves(Rgba west, Rgba east)
{
    return [west, east](int, int c) { return c < 128 ? west : east; };
}

//! Alpha 0 means only the transparency is checked.
void ExpectPixel(const Png& png, int r, int c, Rgba want, int tolerance = 2)
{
    const Rgba got = png.At(r, c);
    EXPECT_EQ(got[3], want[3]) << "alpha at row " << r << " column " << c;
    for (size_t k = 0; k < 3 && want[3] != 0; ++k)
        EXPECT_NEAR(got[k], want[k], tolerance) << "row " << r << " column " << c << " channel " << k;
}

class GoraTest : public ::testing::Test {
protected:
    void SetUp() override { GDALAllRegister(); }

    struct Result {
        int status = -1;
        std::string out;
        std::string err;
    };

    Result Gora(const std::vector<std::string>& args)
    {
        std::string command = Quote(KR_GORA) + " --module-dir " + Quote(KR_MODULE_DIR);
        for (const std::string& a : args)
            command += " " + Quote(a);
        const std::string out = m_io.File("out.txt");
        const std::string err = m_io.File("err.txt");
        const int raw = std::system((command + " >" + Quote(out) + " 2>" + Quote(err)).c_str());
        return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, krtest::ReadText(out), krtest::ReadText(err)};
    }

    //! Runs a command that writes m_png and reads the picture back.
    Png Picture(const std::vector<std::string>& args)
    {
        const Result run = Gora(args);
        EXPECT_EQ(run.status, 0) << run.err;
        return krtest::ReadPng(m_png);
    }

    std::string Raster(const std::string& name, const RasterLayout& layout)
    {
        const std::string path = m_dir.File(name);
        EXPECT_TRUE(krtest::WriteRaster(path, layout));
        return path;
    }

    //! 64 x 32 pixels from 7 E 46 N: red = 4 x column, green = 8 x row, blue 100.
    std::string SmallRgb()
    {
        return Raster("small.tif", Wgs84(64, 32, 3, GDT_Byte, 7.0, 46.0, 0.01, [](int b, int c, int r) {
                          return b == 1 ? 4 * c : b == 2 ? 8 * r : 100;
                      }));
    }

    krtest::TempDir m_dir;
    krtest::TempDir m_io;
    const std::string m_png = m_dir.File("out.png");
};

// ---------------------------------------------------------------------------
// One image tile per display option, colours probed in both halves of the tile

//! The tile's pixels map one to one onto source pixels; `want(row, column)`.
struct TileCase {
    const char* name;
    Value value;
    std::vector<std::string> options;
    std::function<Rgba(int r, int c)> want;
    int bands = 3;
    GDALDataType type = GDT_Byte;
    std::vector<double> noData = {};
    std::function<void(GDALDataset&)> touch = nullptr; //!< after writing: palette, statistics
};

const Rgba kPaletteWest = {200, 30, 40, 255};
const Rgba kPaletteEast = {20, 160, 220, 255};

void SetPalette(GDALDataset& ds)
{
    GDALColorTable table;
    for (const Rgba& p : {kPaletteWest, kPaletteEast}) {
        const GDALColorEntry e = {static_cast<short>(p[0]), static_cast<short>(p[1]), static_cast<short>(p[2]), 255};
        table.SetColorEntry(table.GetColorEntryCount(), &e);
    }
    ds.GetRasterBand(1)->SetColorTable(&table);
}

void SetRange1000To3000(GDALDataset& ds)
{
    for (int b = 1; b <= ds.GetRasterCount(); ++b)
        ds.GetRasterBand(b)->SetStatistics(1000.0, 3000.0, 2000.0, 1000.0);
}

const Value kGrey = [](int, int c, int) { return c; };
const Rgba kClear = {0, 0, 0, 0};

// The host shows byte 0 of a pixel as blue, so band order 0,1,2 swaps red and
// blue. Without a ramp a value is a packed colour with only its low byte set.
// Unstretched 16-bit values show their low byte (1000 % 256 = 232, 3000 % 256
// = 184); stretched, the range's ends: the histogram clip of two values keeps both.
// clang-format off
const std::vector<TileCase> kTileCases = {
    {"Plain", Gradient(1), {}, [](int r, int c) { return Opaque(c, r, 100); }},
    {"BandOrder", Gradient(1), {"--band-order", "0,1,2,3"}, [](int r, int c) { return Opaque(100, r, c); }},
    {"Flip", Gradient(1), {"--flip"}, [](int r, int c) { return Opaque(c, 255 - r, 100); }},
    {"GrayRamp", kGrey, {}, [](int, int c) { return Grey(c); }, 1},
    {"NoRamp", kGrey, {"--ramp", "none"}, [](int, int c) { return Opaque(0, 0, c); }, 1},
    {"TerrainRamp", WestEast(Grey(0), Grey(255)), {"--ramp", "terrain"}, Halves(Opaque(46, 125, 50), Grey(255)), 1},
    {"Palette", WestEast(Grey(0), Grey(1)), {}, Halves(kPaletteWest, kPaletteEast), 1, GDT_Byte, {}, SetPalette},
    {"FilterColour", WestEast(Opaque(101, 102, 103), Opaque(10, 20, 30)), {"--filter-color", "10", "20", "30"},
     Halves(Opaque(101, 102, 103), kClear)},
    {"NodataCollar", WestEast(Opaque(60, 120, 180), Grey(0)), {}, Halves(Opaque(60, 120, 180), kClear), 3, GDT_Byte,
     {0, 0, 0}},
    {"SixteenBitLowByte", WestEast(Grey(1000), Grey(3000)), {}, Halves(Grey(232), Grey(184)), 3, GDT_UInt16, {},
     SetRange1000To3000},
    {"SixteenBitMinMax", WestEast(Grey(1000), Grey(3000)), {"--stretch", "minmax"}, Halves(Grey(0), Grey(255)), 3,
     GDT_UInt16, {}, SetRange1000To3000},
    {"SixteenBitClip", WestEast(Grey(1000), Grey(3000)), {"--stretch", "clip"}, Halves(Grey(0), Grey(255)), 3,
     GDT_UInt16, {}, SetRange1000To3000},
};
// clang-format on

class ImageTile : public GoraTest, public ::testing::WithParamInterface<TileCase> {};

TEST_P(ImageTile, ColoursAtProbesTopRowFirst)
{
    const TileCase& t = GetParam();
    RasterLayout layout = OverTiles(1, t.bands, t.type, t.value);
    layout.noData = t.noData;
    const std::string raster = Raster("source.tif", layout);
    if (t.touch) {
        GDALDatasetUniquePtr ds(GDALDataset::Open(raster.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
        ASSERT_TRUE(ds);
        t.touch(*ds);
    }
    std::vector<std::string> args = {"tile", raster, m_png, "--level", "8", "--tile", "266", "62"};
    args.insert(args.end(), t.options.begin(), t.options.end());
    const Png got = Picture(args);
    ASSERT_EQ(got.width, 256);
    ASSERT_EQ(got.height, 256);
    bool clear = false;
    for (const auto& [r, c] : std::vector<std::array<int, 2>>{{3, 5}, {40, 200}, {128, 100}, {250, 17}, {201, 240}}) {
        const Rgba want = t.want(r, c);
        clear = clear || want[3] == 0;
        // Resampling may shift a gradient by a pixel; where the source is flat around a probe, colours are exact.
        const bool flat = t.value(1, c - 2, r) == t.value(1, c + 2, r) && t.value(1, c, r - 2) == t.value(1, c, r + 2);
        ExpectPixel(got, r, c, want, flat ? 0 : 2);
    }
    EXPECT_EQ(got.bands, clear ? 4 : 3) << "an alpha band only when something is transparent";
}

INSTANTIATE_TEST_SUITE_P(Gora, ImageTile, ::testing::ValuesIn(kTileCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Rectangles, mosaics and renders

TEST_F(GoraTest, RectangleAtAGivenSize)
{
    const std::string raster = Raster("rgb.tif", OverTiles(1, 3, GDT_Byte, Gradient(1)));
    const Png got =
        Picture({"image", raster, m_png, "--rect", std::to_string(kTileWest), std::to_string(kTileNorth - kTile),
                 std::to_string(kTileWest + kTile), std::to_string(kTileNorth), "--size", "128", "64"});
    ASSERT_EQ(got.width, 128);
    ASSERT_EQ(got.height, 64);
    for (const auto& [r, c] : std::vector<std::array<int, 2>>{{2, 3}, {30, 64}, {60, 120}})
        ExpectPixel(got, r, c, {2 * c, 4 * r, 100, 255}, 4);
}

TEST_F(GoraTest, MosaicAndRenderJoinTilesWithoutSeams)
{
    const std::string raster = Raster("rgb2.tif", OverTiles(2, 3, GDT_Byte, Gradient(2)));
    // 7.2 E 46.15 N lies in tile 266 62.
    const Png mosaic = Picture({"mosaic", raster, m_png, "--level", "8", "--at", "7.2", "46.15", "--tiles", "2"});
    ASSERT_EQ(mosaic.width, 512);
    ASSERT_EQ(mosaic.height, 512);
    EXPECT_EQ(mosaic.bands, 3) << "every tile opaque: no alpha band";
    // Across the joins at 255/256 the gradient keeps rising by one per two pixels.
    for (const auto& [r, c] : std::vector<std::array<int, 2>>{{10, 250}, {10, 262}, {250, 300}, {262, 300}, {500, 500}})
        ExpectPixel(mosaic, r, c, {c / 2, r / 2, 100, 255});

    // The margin reaches one tile further on every side: 4 x 4 tiles.
    const Png render = Picture({"render", raster, m_png, "--level", "8"});
    ASSERT_EQ(render.width, 1024);
    ASSERT_EQ(render.height, 1024);
    ExpectPixel(render, 100, 100, kClear); // north-west neighbour tile, beyond the margin
    for (const auto& [r, c] : std::vector<std::array<int, 2>>{{10, 20}, {300, 400}})
        ExpectPixel(render, 256 + r, 256 + c, {c / 2, r / 2, 100, 255});
}

TEST_F(GoraTest, ReliefIsLitFromTheNorthWestAndGrayRunsFromFootToSummit)
{
    // A peak in the middle of 2 x 2 tiles, which the raster covers exactly.
    const std::string raster = Raster(
        "peak.tif", Wgs84(128, 128, 1, GDT_Float32, kTileWest, kTileNorth, 2 * kTile / 128, [](int, int c, int r) {
            const double dx = (c - 63.5) / 20.0, dy = (r - 63.5) / 20.0;
            return 500.0 + 3000.0 * std::exp(-(dx * dx + dy * dy));
        }));
    const Png relief = Picture({"render", raster, m_png, "--level", "8", "--as", "relief", "--z-factor", "5"});
    ASSERT_EQ(relief.width, 65); // 2 tiles of 32 steps, sharing their edge samples
    ASSERT_EQ(relief.height, 65);
    EXPECT_GT(relief.At(22, 22)[0], relief.At(42, 42)[0] + 60) << "slopes facing the light are brighter";
    // Flat ground lit from 45 degrees up: 1 + 254 sin 45.
    EXPECT_NEAR(relief.At(2, 62)[0], 1 + 254 * std::sin(M_PI / 4), 1.0);
    EXPECT_EQ(relief.At(32, 32)[1], 255);

    const Png gray = Picture({"render", raster, m_png, "--level", "8", "--as", "gray"});
    EXPECT_EQ(gray.At(32, 32)[0], 255);
    EXPECT_LT(gray.At(1, 1)[0], 10);
}

// ---------------------------------------------------------------------------
// info

TEST_F(GoraTest, InfoDescribesTheRaster)
{
    RasterLayout layout = Wgs84(40, 20, 1, GDT_Int16, 10.0, 50.0, 0.25, [](int, int c, int r) { return c + r; });
    layout.noData = {-9999};
    const std::string raster = Raster("info.tif", layout);
    const Result run = Gora({"info", "--json", raster});
    ASSERT_EQ(run.status, 0) << run.err;
    const json got = json::parse(run.out);
    const json want = json::parse(R"({"width": 40, "height": 20, "bands": 1, "dataFormat": 2, "coordinateKind": 1,
        "northRowFirst": true, "noData": -9999, "valueRange": [0, 58],
        "wgs84Bounds": {"west": 10, "south": 45, "east": 20, "north": 50}})");
    for (const auto& [key, value] : want.items())
        EXPECT_EQ(got[key], value) << key;
    EXPECT_NE(got["projection"]["proj4"].get<std::string>().find("+proj=longlat"), std::string::npos);
    for (const char* key :
         {"file", "valid", "pixelFormat", "sourceBounds", "resolution", "wgs84Resolution", "pixelSize"})
        EXPECT_TRUE(got.contains(key)) << key;

    const std::string text = Gora({"info", raster}).out;
    EXPECT_NE(text.find("40 x 20 pixels"), std::string::npos) << text;
    EXPECT_NE(text.find("Projection (ESRI):"), std::string::npos);
}

// ---------------------------------------------------------------------------
// The quick path, direct reads and raster output

TEST_F(GoraTest, QuickPathCopiesSourcePixelsAndIsTransparentOffTheRaster)
{
    const std::string raster = SmallRgb();
    const Png whole = Picture({"quick", raster, m_png, "--size", "64", "32"});
    ASSERT_EQ(whole.width, 64);
    ASSERT_EQ(whole.height, 32);
    EXPECT_EQ(whole.bands, 3);
    for (const auto& [r, c] : std::vector<std::array<int, 2>>{{0, 0}, {31, 63}, {5, 40}})
        ExpectPixel(whole, r, c, {4 * c, 8 * r, 100, 255}, 0);

    // A quarter of this rectangle lies west of the raster.
    const Png west =
        Picture({"quick", raster, m_png, "--src-rect", "6.84", "45.68", "7.48", "46.0", "--size", "64", "32"});
    ASSERT_EQ(west.bands, 4);
    ExpectPixel(west, 10, 15, kClear);
    ExpectPixel(west, 10, 16, {0, 80, 100, 255}, 0);
    ExpectPixel(west, 10, 30, {4 * 14, 80, 100, 255}, 0);
}

TEST_F(GoraTest, PixelsCountRowsAsTheHostDoes)
{
    // North-up: host row 0 is the bottom row, unless flipped. Rows arrive top first.
    const std::string raster = SmallRgb();
    for (const bool flip : {false, true}) {
        std::vector<std::string> args = {"pixels", raster, "--rows", "0",      "1",
                                         "--cols", "2",    "4",      "--json", "--colors"};
        if (flip)
            args.push_back("--flip");
        const Result run = Gora(args);
        ASSERT_EQ(run.status, 0) << run.err;
        const json out = json::parse(run.out);
        const int top = flip ? 0 : 30; // GDAL row of the block's first row
        EXPECT_EQ(out["rows"], flip ? json({0, 1}) : json({1, 0}));
        for (int k = 0; k < 2; ++k) {
            for (int j = 0; j < 3; ++j) {
                const json want = {4 * (2 + j), 8 * (top + k), 100};
                EXPECT_EQ(out["values"][k][j], want) << flip << k << j;
                EXPECT_EQ(out["colors"][k][j], want) << flip << k << j;
            }
        }
    }
}

TEST_F(GoraTest, ReprojectTakesEveryKindOfDefinition)
{
    const std::string raster = SmallRgb();
    OGRSpatialReference utm;
    utm.importFromEPSG(32632);
    const std::string prj = m_dir.File("utm.prj");
    krtest::WriteText(prj, krtest::WktOfEpsg(32632, true));
    const std::string out = m_dir.File("utm.tif");
    for (const std::string& to : {std::string("EPSG:32632"), std::string("32632"), prj,
                                  std::string("+proj=utm +zone=32 +datum=WGS84 +units=m +no_defs"),
                                  krtest::WktOfEpsg(32632), krtest::WktOfEpsg(32632, true)}) {
        const Result run = Gora({"reproject", raster, out, "--to", to});
        ASSERT_EQ(run.status, 0) << to << ": " << run.err;
        GDALDatasetUniquePtr ds(GDALDataset::Open(out.c_str(), GDAL_OF_RASTER));
        ASSERT_TRUE(ds && ds->GetSpatialRef()) << to;
        EXPECT_TRUE(ds->GetSpatialRef()->IsSame(&utm)) << to;
        ds.reset();
        std::filesystem::remove(out);
    }
}

TEST_F(GoraTest, Dem2TifPutsOnePixelOnEachSample)
{
    // 3 x 2 samples 0.01 degrees apart from 7.00 E 46.00 N, the northern row first.
    krtest::WriteText(m_dir.File("hills.dem"), "NSDTF-DEM 1.0 D 0 0 7.0 46.0 0.01 0.01 2 3 1\n0 1 2\n100 101 102\n");
    const std::string tif = m_dir.File("hills.tif");
    const Result run = Gora({"dem2tif", m_dir.File("hills.dem"), tif});
    ASSERT_EQ(run.status, 0) << run.err;
    GDALDatasetUniquePtr ds(GDALDataset::Open(tif.c_str(), GDAL_OF_RASTER));
    ASSERT_TRUE(ds);
    ASSERT_EQ(ds->GetRasterXSize(), 3);
    ASSERT_EQ(ds->GetRasterYSize(), 2);
    EXPECT_EQ(ds->GetRasterBand(1)->GetRasterDataType(), GDT_Float32);
    std::array<double, 6> gt{};
    ds->GetGeoTransform(gt.data());
    const std::array<double, 6> wantGt = {6.995, 0.01, 0.0, 46.005, 0.0, -0.01};
    for (size_t i = 0; i < gt.size(); ++i)
        EXPECT_NEAR(gt[i], wantGt[i], 1e-9) << i;
    std::vector<float> got(6);
    ASSERT_EQ(ds->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, 3, 2, got.data(), 3, 2, GDT_Float32, 0, 0, nullptr),
              CE_None);
    EXPECT_EQ(got, std::vector<float>({0, 1, 2, 100, 101, 102}));
}

// ---------------------------------------------------------------------------
// Failures: one line naming the file, exit 1; usage errors exit 2; no file left

struct FailureCase {
    const char* name;
    std::vector<std::string> args; //!< RASTER, TEXT and OUT stand for files of the test
    int status;
    const char* message = ""; //!< in stderr, for status 1
};

class Failure : public GoraTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failure, ExitsCleanlyAndLeavesNoFile)
{
    const std::string raster = Raster("rgb.tif", OverTiles(1, 3, GDT_Byte, Gradient(1)));
    krtest::WriteText(m_dir.File("notes.txt"), "not a raster\n");
    const auto files = [this] { return std::distance(std::filesystem::directory_iterator(m_dir.Path()), {}); };
    const auto before = files();
    std::vector<std::string> args = GetParam().args;
    for (std::string& a : args)
        a = a == "RASTER" ? raster : a == "TEXT" ? m_dir.File("notes.txt") : a == "OUT" ? m_png : a;
    const Result run = Gora(args);
    EXPECT_EQ(run.status, GetParam().status) << run.err;
    if (GetParam().status == 1) {
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    }
    EXPECT_EQ(files(), before) << "a failed command leaves no file";
}

// Usage errors of CLI11's own checks share one path; the rows below exit 2
// through the checks gora adds.
INSTANTIATE_TEST_SUITE_P(
    Gora, Failure,
    ::testing::Values(
        FailureCase{"MissingFile", {"info", "/nonexistent/x.tif"}, 1, "/nonexistent/x.tif: no such file"},
        FailureCase{
            "NotARaster", {"tile", "TEXT", "OUT", "--level", "8", "--tile", "1", "1"}, 1, "notes.txt: not a raster"},
        FailureCase{"TileOutsideTheRaster",
                    {"tile", "RASTER", "OUT", "--level", "8", "--tile", "0", "0"},
                    1,
                    "nothing delivered"},
        FailureCase{"BigRender", {"render", "RASTER", "OUT", "--level", "13"}, 1, "--big"},
        FailureCase{"FolderMissing", {"image", "RASTER", "/nonexistent/out.png"}, 1, "/nonexistent/out.png"},
        FailureCase{"UnknownSystem", {"reproject", "RASTER", "OUT", "--to", "EPSG:999999"}, 1, "could not reproject"},
        FailureCase{"NoTileNamed", {"tile", "RASTER", "OUT", "--level", "8"}, 2},
        FailureCase{"UnknownStretch", {"image", "RASTER", "OUT", "--stretch", "bogus"}, 2},
        FailureCase{"ShortBandOrder", {"image", "RASTER", "OUT", "--band-order", "1,2"}, 2},
        FailureCase{"EmptyRectangle", {"image", "RASTER", "OUT", "--rect", "8", "46", "7", "47"}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
