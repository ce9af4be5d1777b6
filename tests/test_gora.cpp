// gora, the command-line host, run as a user runs it on rasters made here;
// its pictures, reports and files are read back with GDAL and compared with
// values worked out from the rasters' own formulas.
#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include <cpl_string.h>
#include <nlohmann/json.hpp>

#include "KRTestSupport.h"

using krtest::Png;
using krtest::RasterLayout;
using krtest::ReadPng;
using krtest::TempDir;
using nlohmann::json;

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// The host's tiling: level L tiles are 180 / 2^L degrees, columns from -180, rows from +90.
constexpr int kLevel = 8;
constexpr double kTile = 180.0 / 256.0;
constexpr int kTileX = 266; // holds 7.2 E 46.15 N
constexpr int kTileY = 62;
constexpr double kTileWest = -180.0 + kTileX * kTile;
constexpr double kTileNorth = 90.0 - kTileY * kTile;
constexpr int kMargin = 16; // source pixels around the tiles, so no window is cut

//! Source pixels of exactly one tile pixel each, over `tiles` x `tiles`
//! tiles and a margin; `value(band, column, row)` counts from the tiles' corner.
RasterLayout OverTiles(int tiles, int bands, GDALDataType type, std::function<double(int, int, int)> value)
{
    RasterLayout layout;
    layout.width = layout.height = 256 * tiles + 2 * kMargin;
    layout.bands = bands;
    layout.type = type;
    const double px = kTile / 256.0;
    layout.geoTransform = {kTileWest - kMargin * px, px, 0.0, kTileNorth + kMargin * px, 0.0, -px};
    layout.wkt = krtest::WktOfEpsg(4326);
    layout.value = [value](int b, int c, int r) { return value(b, c - kMargin, r - kMargin); };
    return layout;
}

int Clamp255(int v)
{
    return std::clamp(v, 0, 255);
}

//! Red = column, green = row of the tile pixel (divided by the tile count), blue 100.
double Gradient(int tiles, int b, int c, int r)
{
    return b == 1 ? Clamp255(c / tiles) : b == 2 ? Clamp255(r / tiles) : 100;
}

class GoraTest : public ::testing::Test {
protected:
    void SetUp() override { GDALAllRegister(); }

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

    //! Runs COMMAND RASTER out.png OPTIONS... and reads the picture back.
    Png Picture(const std::string& command, const std::string& raster, const std::vector<std::string>& options,
                const std::vector<std::string>& more = {})
    {
        const std::string png = m_dir.File("out.png");
        std::vector<std::string> args = {command, raster, png};
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), more.begin(), more.end());
        const Result run = Gora(args);
        EXPECT_EQ(run.status, 0) << run.err;
        return ReadPng(png);
    }

    std::string Raster(const std::string& name, const RasterLayout& layout)
    {
        const std::string path = m_dir.File(name);
        EXPECT_TRUE(krtest::WriteRaster(path, layout));
        return path;
    }

    std::string RgbTiles(int tiles)
    {
        return Raster("rgb" + std::to_string(tiles) + ".tif",
                      OverTiles(tiles, 3, GDT_Byte, [tiles](int b, int c, int r) { return Gradient(tiles, b, c, r); }));
    }

    //! The files in the working folder: a failed command must leave none.
    std::vector<std::string> Files() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir m_dir;
    TempDir m_io;
};

void ExpectPixelNear(const Png& png, int r, int c, std::array<int, 3> want, int tolerance)
{
    const std::array<int, 4> got = png.At(r, c);
    for (size_t k = 0; k < 3; ++k)
        EXPECT_NEAR(got[k], want[k], tolerance) << "pixel row " << r << " column " << c << " channel " << k;
}

const std::vector<std::array<int, 2>> kProbes = {{3, 5}, {40, 200}, {128, 128}, {250, 17}, {201, 240}};

// ---------------------------------------------------------------------------
// Image tiles and rectangles, with the display options

struct ColourCase {
    const char* name;
    std::vector<std::string> options;
    std::function<std::array<int, 3>(int r, int c)> want;
};

void PrintTo(const ColourCase& c, std::ostream* os)
{
    *os << c.name;
}

const std::vector<std::string> kTheTile = {"--tile", "266", "62"};

std::vector<std::string> TileAnd(std::vector<std::string> options)
{
    options.insert(options.begin(), kTheTile.begin(), kTheTile.end());
    return options;
}

class ImageTile : public GoraTest, public ::testing::WithParamInterface<ColourCase> {};

TEST_P(ImageTile, ColoursFollowTheSourceTopRowFirst)
{
    const Png got = Picture("tile", RgbTiles(1), {"--level", "8"}, GetParam().options);
    ASSERT_EQ(got.width, 256);
    ASSERT_EQ(got.height, 256);
    EXPECT_EQ(got.bands, 3); // nothing transparent, so the tile stays RGB
    for (const auto& [r, c] : kProbes)
        ExpectPixelNear(got, r, c, GetParam().want(r, c), 2);
}

INSTANTIATE_TEST_SUITE_P(Gora, ImageTile,
                         ::testing::Values(ColourCase{"Plain", kTheTile,
                                                      [](int r, int c) {
                                                          return std::array<int, 3>{c, r, 100};
                                                      }},
                                           ColourCase{"PointInsideTheTile",
                                                      {"--at", "7.2", "46.15"},
                                                      [](int r, int c) {
                                                          return std::array<int, 3>{c, r, 100};
                                                      }},
                                           // Bands land in the bytes the order names; the host shows byte 0 as blue.
                                           ColourCase{"BandOrder", TileAnd({"--band-order", "0,1,2,3"}),
                                                      [](int r, int c) {
                                                          return std::array<int, 3>{100, r, c};
                                                      }},
                                           // Read from the other end, the source's rows come out mirrored.
                                           ColourCase{"Flip", TileAnd({"--flip"}),
                                                      [](int r, int c) {
                                                          return std::array<int, 3>{c, 255 - r, 100};
                                                      }}),
                         [](const auto& info) { return std::string(info.param.name); });

class SingleBandTile : public GoraTest, public ::testing::WithParamInterface<ColourCase> {};

TEST_P(SingleBandTile, RampsTurnValuesIntoColours)
{
    // Values 0..255 from west to east, and exactly that range.
    const std::string raster =
        Raster("grey.tif", OverTiles(1, 1, GDT_Byte, [](int, int c, int) { return Clamp255(c); }));
    const Png got = Picture("tile", raster, TileAnd({"--level", "8"}), GetParam().options);
    for (const auto& [r, c] : kProbes)
        ExpectPixelNear(got, r, c, GetParam().want(r, c), 2);
}

INSTANTIATE_TEST_SUITE_P(Gora, SingleBandTile,
                         ::testing::Values(ColourCase{"GrayByDefault",
                                                      {},
                                                      [](int, int c) {
                                                          return std::array<int, 3>{c, c, c};
                                                      }},
                                           // Without a ramp the value is a packed colour with only its low byte set.
                                           ColourCase{"NoRamp",
                                                      {"--ramp", "none"},
                                                      [](int, int c) {
                                                          return std::array<int, 3>{0, 0, c};
                                                      }}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GoraTest, TerrainRampRunsFromGreenToWhite)
{
    const std::string raster =
        Raster("grey.tif", OverTiles(1, 1, GDT_Byte, [](int, int c, int) { return c < 128 ? 0 : 255; }));
    const Png got = Picture("tile", raster, TileAnd({"--level", "8", "--ramp", "terrain"}));
    ExpectPixelNear(got, 100, 40, {46, 125, 50}, 0);
    ExpectPixelNear(got, 100, 220, {255, 255, 255}, 0);
}

TEST_F(GoraTest, PaletteColoursAreNotReplacedByTheRamp)
{
    const std::string raster =
        Raster("palette.tif",
               OverTiles(1, 1, GDT_Byte, [](int, int c, int r) { return (r < 128 ? 0 : 2) + (c < 128 ? 0 : 1); }));
    const std::array<std::array<short, 3>, 4> colours = {{{200, 30, 40}, {20, 160, 60}, {10, 20, 220}, {240, 200, 0}}};
    {
        GDALDatasetUniquePtr ds(GDALDataset::Open(raster.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
        ASSERT_TRUE(ds);
        GDALColorTable table;
        for (size_t i = 0; i < colours.size(); ++i) {
            const GDALColorEntry e = {colours[i][0], colours[i][1], colours[i][2], 255};
            table.SetColorEntry(static_cast<int>(i), &e);
        }
        ds->GetRasterBand(1)->SetColorTable(&table);
    }
    const Png got = Picture("tile", raster, TileAnd({"--level", "8"}));
    const std::array<std::array<int, 2>, 4> centres = {{{64, 64}, {64, 192}, {192, 64}, {192, 192}}};
    for (size_t i = 0; i < centres.size(); ++i)
        ExpectPixelNear(got, centres[i][0], centres[i][1], {colours[i][0], colours[i][1], colours[i][2]}, 0);
}

struct TransparencyCase {
    const char* name;
    std::vector<std::string> options;
    std::vector<double> noData;
    std::function<double(int b, int c, int r)> value;
    std::array<int, 3> west;
};

void PrintTo(const TransparencyCase& c, std::ostream* os)
{
    *os << c.name;
}

class Transparency : public GoraTest, public ::testing::WithParamInterface<TransparencyCase> {};

TEST_P(Transparency, WestHalfOpaqueEastHalfClear)
{
    RasterLayout layout = OverTiles(1, 3, GDT_Byte, GetParam().value);
    layout.noData = GetParam().noData;
    const Png got = Picture("tile", Raster("t.tif", layout), TileAnd({"--level", "8"}), GetParam().options);
    ASSERT_EQ(got.bands, 4);
    for (int r : {5, 128, 250}) {
        EXPECT_EQ(got.At(r, 60)[3], 255) << r;
        EXPECT_EQ(got.At(r, 200)[3], 0) << r;
        ExpectPixelNear(got, r, 60, GetParam().west, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Gora, Transparency,
    ::testing::Values(
        TransparencyCase{"FilterColour",
                         {"--filter-color", "10", "20", "30"},
                         {},
                         [](int b, int c, int) { return c < 128 ? 100 + b : 10 * b; },
                         {101, 102, 103}},
        TransparencyCase{
            "NodataCollar", {}, {0, 0, 0}, [](int b, int c, int) { return c < 128 ? 60 * b : 0; }, {60, 120, 180}}),
    [](const auto& info) { return std::string(info.param.name); });

struct StretchCase {
    const char* name;
    std::vector<std::string> options;
    int west;
    int east;
};

void PrintTo(const StretchCase& c, std::ostream* os)
{
    *os << c.name;
}

class SixteenBit : public GoraTest, public ::testing::WithParamInterface<StretchCase> {};

TEST_P(SixteenBit, StretchOrLowByte)
{
    const std::string raster =
        Raster("u16.tif", OverTiles(1, 3, GDT_UInt16, [](int, int c, int) { return c < 128 ? 1000 : 3000; }));
    {
        GDALDatasetUniquePtr ds(GDALDataset::Open(raster.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
        ASSERT_TRUE(ds);
        for (int b = 1; b <= 3; ++b)
            ds->GetRasterBand(b)->SetStatistics(1000.0, 3000.0, 2000.0, 1000.0);
    }
    const Png got = Picture("tile", raster, TileAnd({"--level", "8"}), GetParam().options);
    ExpectPixelNear(got, 100, 40, {GetParam().west, GetParam().west, GetParam().west}, 0);
    ExpectPixelNear(got, 100, 220, {GetParam().east, GetParam().east, GetParam().east}, 0);
}

// Unstretched, only the low byte (1000 % 256 = 232, 3000 % 256 = 184) shows;
// stretched, the range's ends. The histogram clip of two values keeps both.
INSTANTIATE_TEST_SUITE_P(Gora, SixteenBit,
                         ::testing::Values(StretchCase{"None", {}, 232, 184},
                                           StretchCase{"MinMax", {"--stretch", "minmax"}, 0, 255},
                                           StretchCase{"HistogramClip", {"--stretch", "clip"}, 0, 255}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GoraTest, RectangleAtAGivenSize)
{
    const Png got = Picture("image", RgbTiles(1),
                            {"--rect", std::to_string(kTileWest), std::to_string(kTileNorth - kTile),
                             std::to_string(kTileWest + kTile), std::to_string(kTileNorth), "--size", "128", "64"});
    ASSERT_EQ(got.width, 128);
    ASSERT_EQ(got.height, 64);
    for (const auto& [r, c] : std::vector<std::array<int, 2>>{{2, 3}, {30, 64}, {60, 120}})
        ExpectPixelNear(got, r, c, {2 * c, 4 * r, 100}, 4);
}

// ---------------------------------------------------------------------------
// Mosaics and renders

TEST_F(GoraTest, ImageMosaicJoinsTilesWithoutSeams)
{
    const Png got = Picture("mosaic", RgbTiles(2), TileAnd({"--level", "8", "--tiles", "2"}));
    ASSERT_EQ(got.width, 512);
    ASSERT_EQ(got.height, 512);
    // Across the joins at 255/256 the gradient keeps rising by one per two pixels.
    for (const auto& [r, c] : std::vector<std::array<int, 2>>{{10, 250}, {10, 262}, {250, 300}, {262, 300}, {500, 500}})
        ExpectPixelNear(got, r, c, {c / 2, r / 2, 100}, 2);
}

TEST_F(GoraTest, RenderCoversEveryTileTheRasterReaches)
{
    // The margin reaches one tile further on every side: 4 x 4 tiles.
    const Png got = Picture("render", RgbTiles(2), {"--level", "8"});
    ASSERT_EQ(got.width, 1024);
    ASSERT_EQ(got.height, 1024);
    ASSERT_EQ(got.bands, 4);
    EXPECT_EQ(got.At(100, 100)[3], 0); // north-west neighbour tile, beyond the margin
    for (const auto& [r, c] : std::vector<std::array<int, 2>>{{10, 20}, {300, 400}})
        ExpectPixelNear(got, 256 + r, 256 + c, {c / 2, r / 2, 100}, 2);
}

//! A peak in the middle of 2 x 2 tiles, which the raster covers exactly.
RasterLayout PeakDem()
{
    RasterLayout layout;
    layout.width = layout.height = 128;
    layout.type = GDT_Float32;
    const double px = 2 * kTile / 128;
    layout.geoTransform = {kTileWest, px, 0.0, kTileNorth, 0.0, -px};
    layout.wkt = krtest::WktOfEpsg(4326);
    layout.value = [](int, int c, int r) {
        const double dx = (c - 63.5) / 20.0, dy = (r - 63.5) / 20.0;
        return 500.0 + 3000.0 * std::exp(-(dx * dx + dy * dy));
    };
    return layout;
}

TEST_F(GoraTest, ReliefIsLitFromTheNorthWest)
{
    const Png got =
        Picture("render", Raster("peak.tif", PeakDem()), {"--level", "8", "--as", "relief", "--z-factor", "5"});
    ASSERT_EQ(got.width, 65); // 2 tiles of 32 steps, sharing their edge samples
    ASSERT_EQ(got.height, 65);
    const int nw = got.At(22, 22)[0];
    const int se = got.At(42, 42)[0];
    EXPECT_GT(nw, se + 60) << "slopes facing the light are brighter";
    // Flat ground lit from 45 degrees up: 1 + 254 sin 45.
    EXPECT_NEAR(got.At(2, 62)[0], 1 + 254 * std::sin(M_PI / 4), 1.0);
    EXPECT_EQ(got.At(32, 32)[1], 255);
}

TEST_F(GoraTest, GrayRenderRunsFromLowestToHighest)
{
    const Png got = Picture("render", Raster("peak.tif", PeakDem()), {"--level", "8", "--as", "gray"});
    EXPECT_EQ(got.At(32, 32)[0], 255); // the summit
    EXPECT_LT(got.At(1, 1)[0], 10);    // the foot
}

// ---------------------------------------------------------------------------
// info

TEST_F(GoraTest, InfoJsonDescribesTheRaster)
{
    RasterLayout layout;
    layout.width = 40;
    layout.height = 20;
    layout.type = GDT_Int16;
    layout.geoTransform = {10.0, 0.25, 0.0, 50.0, 0.0, -0.25};
    layout.wkt = krtest::WktOfEpsg(4326);
    layout.noData = {-9999};
    layout.value = [](int, int c, int r) { return c + r; };
    const Result run = Gora({"info", "--json", Raster("info.tif", layout)});
    ASSERT_EQ(run.status, 0) << run.err;
    const json d = json::parse(run.out);
    EXPECT_EQ(d["width"], 40);
    EXPECT_EQ(d["height"], 20);
    EXPECT_EQ(d["bands"], 1);
    EXPECT_EQ(d["dataFormat"], 2);
    EXPECT_EQ(d["coordinateKind"], 1);
    EXPECT_EQ(d["northRowFirst"], true);
    EXPECT_EQ(d["noData"], -9999.0);
    EXPECT_EQ(d["valueRange"], json({0.0, 58.0}));
    EXPECT_EQ(d["wgs84Bounds"], json({{"west", 10.0}, {"south", 45.0}, {"east", 20.0}, {"north", 50.0}}));
    EXPECT_NE(d["projection"]["proj4"].get<std::string>().find("+proj=longlat"), std::string::npos);
    for (const char* key :
         {"file", "valid", "pixelFormat", "sourceBounds", "resolution", "wgs84Resolution", "pixelSize", "projection"})
        EXPECT_TRUE(d.contains(key)) << key;

    const Result text = Gora({"info", m_dir.File("info.tif")});
    EXPECT_NE(text.out.find("40 x 20 pixels"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Projection (ESRI):"), std::string::npos);
}

// ---------------------------------------------------------------------------
// The quick path, direct reads and raster output

//! Red = 4 x column, green = 8 x row, blue 100: bytes GDAL stores exactly.
RasterLayout SmallRgb()
{
    RasterLayout layout;
    layout.width = 64;
    layout.height = 32;
    layout.bands = 3;
    layout.type = GDT_Byte;
    layout.geoTransform = {7.0, 0.01, 0.0, 46.0, 0.0, -0.01};
    layout.wkt = krtest::WktOfEpsg(4326);
    layout.value = [](int b, int c, int r) { return b == 1 ? 4 * c : b == 2 ? 8 * r : 100; };
    return layout;
}

class DirectCommands : public GoraTest {
protected:
    void SetUp() override
    {
        GoraTest::SetUp();
        m_raster = Raster("small.tif", SmallRgb());
        // These operations come with the module's output work; before it the
        // base class answers false for all of them.
        krtest::PluginModule module;
        auto accessor = module.Create();
        ASSERT_TRUE(accessor && accessor->OpenForRead(m_raster.c_str()));
        KRC::KRPixelDataMultiBand probe(1, 1, 3, KRC::RDF_UInt8, false, 0.0, 0.0);
        if (!accessor->ReadPixels(probe, 0, 0, 0, 0, false))
            GTEST_SKIP() << "the module does not read pixels yet";
    }

    std::string m_raster;
};

TEST_F(DirectCommands, QuickPathCopiesSourcePixels)
{
    const Png got = Picture("quick", m_raster, {"--size", "64", "32"});
    ASSERT_EQ(got.width, 64);
    ASSERT_EQ(got.height, 32);
    EXPECT_EQ(got.bands, 3);
    for (const auto& [r, c] : std::vector<std::array<int, 2>>{{0, 0}, {31, 63}, {5, 40}})
        ExpectPixelNear(got, r, c, {4 * c, 8 * r, 100}, 0);
}

TEST_F(DirectCommands, QuickPathOverTheWestEdgeIsTransparentThere)
{
    // A quarter of the rectangle lies west of the raster.
    const Png got = Picture("quick", m_raster, {"--src-rect", "6.84", "45.68", "7.48", "46.0", "--size", "64", "32"});
    ASSERT_EQ(got.bands, 4);
    EXPECT_EQ(got.At(10, 15)[3], 0);
    EXPECT_EQ(got.At(10, 16)[3], 255);
    ExpectPixelNear(got, 10, 30, {4 * 14, 80, 100}, 0);
}

TEST_F(DirectCommands, PixelsCountRowsAsTheHostDoes)
{
    // North-up: host row 0 is the bottom row, unless flipped. Rows arrive top first.
    for (const bool flip : {false, true}) {
        std::vector<std::string> args = {"pixels", m_raster, "--rows", "0",      "1",
                                         "--cols", "2",      "4",      "--json", "--colors"};
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

TEST_F(DirectCommands, ReprojectTakesEveryKindOfDefinition)
{
    OGRSpatialReference utm;
    utm.importFromEPSG(32632);
    const std::string prj = m_dir.File("utm.prj");
    krtest::WriteText(prj, krtest::WktOfEpsg(32632, true));
    for (const std::string& to : {std::string("EPSG:32632"), std::string("32632"), prj,
                                  std::string("+proj=utm +zone=32 +datum=WGS84 +units=m +no_defs"),
                                  krtest::WktOfEpsg(32632), krtest::WktOfEpsg(32632, true)}) {
        const std::string out = m_dir.File("utm.tif");
        const Result run = Gora({"reproject", m_raster, out, "--to", to});
        ASSERT_EQ(run.status, 0) << to << ": " << run.err;
        GDALDatasetUniquePtr ds(GDALDataset::Open(out.c_str(), GDAL_OF_RASTER));
        ASSERT_TRUE(ds) << to;
        const OGRSpatialReference* srs = ds->GetSpatialRef();
        ASSERT_NE(srs, nullptr);
        EXPECT_TRUE(srs->IsSame(&utm)) << to;
        ds.reset();
        std::filesystem::remove(out);
    }
}

TEST_F(DirectCommands, ReprojectToAnUnknownSystemLeavesNoFile)
{
    const std::vector<std::string> before = Files();
    const Result run = Gora({"reproject", m_raster, m_dir.File("x.tif"), "--to", "EPSG:999999"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Files(), before);
}

TEST_F(DirectCommands, Dem2TifPutsOnePixelOnEachSample)
{
    // 6 x 4 samples 0.01 degrees apart from 7.00 E 46.00 N; value 100 x row + column.
    std::string dem = "NSDTF-DEM 1.0 D 0 0 7.0 46.0 0.01 0.01 4 6 1\n";
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 6; ++c)
            dem += std::to_string(100 * r + c) + " ";
        dem += "\n";
    }
    krtest::WriteText(m_dir.File("hills.dem"), dem);
    const std::string tif = m_dir.File("hills.tif");
    const Result run = Gora({"dem2tif", m_dir.File("hills.dem"), tif});
    ASSERT_EQ(run.status, 0) << run.err;
    GDALDatasetUniquePtr ds(GDALDataset::Open(tif.c_str(), GDAL_OF_RASTER));
    ASSERT_TRUE(ds);
    ASSERT_EQ(ds->GetRasterXSize(), 6);
    ASSERT_EQ(ds->GetRasterYSize(), 4);
    EXPECT_EQ(ds->GetRasterBand(1)->GetRasterDataType(), GDT_Float32);
    std::array<double, 6> gt{};
    ds->GetGeoTransform(gt.data());
    const std::array<double, 6> want = {6.995, 0.01, 0.0, 46.005, 0.0, -0.01};
    for (size_t i = 0; i < gt.size(); ++i)
        EXPECT_NEAR(gt[i], want[i], 1e-9) << i;
    std::vector<float> values(24);
    ASSERT_EQ(ds->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, 6, 4, values.data(), 6, 4, GDT_Float32, 0, 0, nullptr),
              CE_None);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 6; ++c)
            EXPECT_NEAR(values[static_cast<size_t>(r * 6 + c)], 100 * r + c, 1e-3) << r << " " << c;
    }
}

// ---------------------------------------------------------------------------
// Failures: one line naming the file, exit 1; usage errors exit 2; no file left

struct FailureCase {
    const char* name;
    std::vector<std::string> args; //!< RASTER, TEXT and OUT stand for files of the test
    int status;
    const char* message; //!< in stderr, for status 1
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.name;
}

class Failure : public GoraTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failure, ExitsCleanlyAndLeavesNoFile)
{
    const std::string raster = RgbTiles(1);
    krtest::WriteText(m_dir.File("notes.txt"), "not a raster\n");
    const std::vector<std::string> before = Files();
    std::vector<std::string> args = GetParam().args;
    for (std::string& a : args) {
        if (a == "RASTER")
            a = raster;
        else if (a == "TEXT")
            a = m_dir.File("notes.txt");
        else if (a == "OUT")
            a = m_dir.File("out.png");
    }
    const Result run = Gora(args);
    EXPECT_EQ(run.status, GetParam().status) << run.err;
    if (GetParam().status == 1) {
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    }
    EXPECT_EQ(Files(), before);
}

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
        FailureCase{"NoTileNamed", {"tile", "RASTER", "OUT", "--level", "8"}, 2, ""},
        FailureCase{"LevelNotANumber", {"tile", "RASTER", "OUT", "--level", "x", "--tile", "1", "1"}, 2, ""},
        FailureCase{"UnknownStretch", {"image", "RASTER", "OUT", "--stretch", "bogus"}, 2, ""},
        FailureCase{"ShortBandOrder", {"image", "RASTER", "OUT", "--band-order", "1,2"}, 2, ""},
        FailureCase{"EmptyRectangle", {"image", "RASTER", "OUT", "--rect", "8", "46", "7", "47"}, 2, ""},
        FailureCase{"UnknownCommand", {"paint", "RASTER"}, 2, ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
