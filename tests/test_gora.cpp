// gora, the command-line host, run as a user runs it on rasters made here; its
// pictures, reports and files are read back with GDAL and compared with values
// worked out from the rasters' own formulas.
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <tuple>

#include <nlohmann/json.hpp>

#include "KRTestSupport.h"

using krtest::Png;
using krtest::RasterLayout;
using nlohmann::json;

namespace {

using Rgba = std::array<int, 4>;
using Value = std::function<double(int band, int column, int row)>;
const Rgba kClear = {0, 0, 0, 0};

const auto Num = [](double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return std::string(text);
};

// Level 8 tiles are 180 / 256 degrees, columns from -180 and rows from +90:
// tile 266 62 spans 7.03125..7.734375 E and 46.40625..45.703125 N.
constexpr double kTile = 180.0 / 256.0, kPx = kTile / 256.0;
constexpr double kWest = -180.0 + 266 * kTile, kNorth = 90.0 - 62 * kTile;
constexpr int kMargin = 16; // source pixels around the tiles, so no window is cut
constexpr int kSide = 512 + 2 * kMargin;

RasterLayout Wgs84(int w, int h, int bands, GDALDataType type, double west, double north, double px, Value value,
                   std::vector<double> noData = {})
{
    return RasterLayout{w, h, bands, type, {west, px, 0.0, north, 0.0, -px}, krtest::WktOfEpsg(4326), noData, value};
}

//! One source pixel per tile pixel over tiles 266..267 x 62..63 and the margin;
//! `value` counts from the tiles' north-west corner.
RasterLayout OverTiles(int bands, Value value, GDALDataType type = GDT_Byte)
{
    return Wgs84(kSide, kSide, bands, type, kWest - kMargin * kPx, kNorth + kMargin * kPx, kPx,
                 [value](int b, int c, int r) { return value(b, c - kMargin, r - kMargin); });
}

//! red = column / 2, green = row / 2, blue 100 (and a fourth band 0); GDAL clamps the margin.
const Value kTiles = [](int b, int c, int r) { return b == 1 ? c / 2 : b == 2 ? r / 2 : b == 3 ? 100 : 0; };
//! kTiles, with an alpha band that is clear west of the tiles' column 128.
const Value kClearWest = [](int b, int c, int r) { return b < 4 ? kTiles(b, c, r) : c < 128 ? 0 : 255; };

const Value kSteps16 = [](int, int c, int) { return 256.0 * (c / 2) + 255; };

const char* const kRgbAlpha[] = {"PHOTOMETRIC=RGB", "ALPHA=YES", nullptr};
const char* const kNoColours[] = {"PHOTOMETRIC=MINISBLACK", nullptr};

//! Inputs (and gora's stdout and stderr) go to m_in, outputs to m_out.
class GoraTest : public ::testing::Test {
protected:
    void SetUp() override { GDALAllRegister(); } // for reading back what gora writes

    struct Result {
        int status = -1;
        std::string out, err;
    };

    std::string Raster(const std::string& name, const RasterLayout& layout, const char* const* options = nullptr)
    {
        EXPECT_TRUE(krtest::WriteRaster(m_in.File(name), layout, "GTiff", options));
        return m_in.File(name);
    }

    //! The file a placeholder of Run's arguments names, made when it is a raster.
    std::string Placeholder(const std::string& a)
    {
        if (a == "TILES" || a == "TILES4") // TILES4: a fourth band of zeros that does not say it is alpha
            return Raster(a + ".tif", OverTiles(a == "TILES" ? 3 : 4, kTiles), kNoColours);
        if (a == "ALPHA") // the file says band 4 is alpha
            return Raster("alpha.tif", OverTiles(4, kClearWest), kRgbAlpha);
        if (a == "TILES16") // 16-bit, three bands alike: 256 per two columns, with 255 in every low byte
            return Raster("tiles16.tif", OverTiles(3, kSteps16, GDT_UInt16), kNoColours);
        if (a == "GRAY")
            return Raster("gray.tif", OverTiles(1, kTiles));
        if (a == "NOCRS") // a grid in feet and no coordinate system
            return Raster("nocrs.tif", RasterLayout{40, 20, 1, GDT_Byte, {1485309, 3.28, 0, 603662, 0, -3.28}, "", {}});
        if (a == "DEM") { // 3 x 2 samples 0.01 degrees apart from 7.00 E 46.00 N, the northern row first
            krtest::WriteText(m_in.File("hills.dem"),
                              "NSDTF-DEM 1.0 D 0 0 7.0 46.0 0.01 0.01 2 3 1\n0 1 2\n100 101 102\n");
            return m_in.File("hills.dem");
        }
        const std::map<std::string, std::string> named = {{"OUT", m_png},
                                                          {"TIF", m_out.File("out.tif")},
                                                          {"TEXT", m_in.File("notes.txt")},
                                                          {"FOLDER", m_out.File("folder")},
                                                          {"NOFOLDER", m_out.File("none/out.tif")}};
        return named.count(a) ? named.at(a) : a;
    }

    //! Runs gora with the placeholders in `args` made and named.
    Result Run(std::vector<std::string> args)
    {
        std::string command = "'" KR_GORA "' --module-dir '" KR_MODULE_DIR "'";
        for (std::string& a : args)
            command += " '" + Placeholder(a) + "'"; // no argument holds a single quote
        const int raw = std::system((command + " >" + m_in.File("out.txt") + " 2>" + m_in.File("err.txt")).c_str());
        return Result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, krtest::ReadText(m_in.File("out.txt")),
                      krtest::ReadText(m_in.File("err.txt"))};
    }

    krtest::TempDir m_in, m_out;
    const std::string m_png = m_out.File("out.png");
};

// ---------------------------------------------------------------------------
// Pictures: tile arithmetic, joins, rows top first, channels in RGB order

struct PictureCase {
    const char* name;
    std::vector<std::string> args;
    int bands;
    std::function<Rgba(int r, int c)> want;
    std::vector<std::array<int, 2>> probes = {{3, 5}, {250, 200}}; //!< row, column
    int width = 256, height = 256, tolerance = 2;
};

//! The colours of TILES at picture pixel (r, c): tile pixel (r0, c0) on, a pixel spanning `rowScale` x
//! `columnScale` tile pixels.
std::function<Rgba(int, int)> Gradient(int r0, int c0, int rowScale = 1, int columnScale = 1)
{
    const auto channel = [](int v) { return std::clamp(v / 2, 0, 255); }; // GDAL clamps the margin
    return [=](int r, int c) { return Rgba{channel(c0 + columnScale * c), channel(r0 + rowScale * r), 100, 255}; };
}

//! The colours of tile 266 62 with its values stretched from 0..127 onto 0..255.
Rgba Doubled(int r, int c)
{
    const Rgba g = Gradient(0, 0)(r, c);
    return {std::min(2 * g[0], 255), std::min(2 * g[1], 255), 200, 255};
}

//! Bands 1 and 3 trade places.
Rgba Swapped(int r, int c)
{
    const Rgba g = Gradient(0, 0)(r, c);
    return {g[2], g[1], g[0], 255};
}

//! `args` for tile 266 62 at level 8.
const auto TileOf = [](std::vector<std::string> args) {
    args.insert(args.end(), {"--level", "8", "--tile", "266", "62"});
    return args;
};

// clang-format off
const std::vector<PictureCase> kPictures = {
    {"Tile", TileOf({"tile", "TILES", "OUT"}), 3, Gradient(0, 0), {{3, 5}, {40, 200}, {128, 100}, {250, 17}}},
    {"TileAtAPoint", {"tile", "TILES", "OUT", "--level", "8", "--at", "7.9", "45.5"}, 3, Gradient(256, 256)},
    {"Rectangle", {"image", "TILES", "OUT", "--rect", Num(kWest), Num(kNorth - kTile), Num(kWest + kTile), Num(kNorth),
     "--size", "128", "64"}, 3, Gradient(0, 0, 4, 2), {{2, 3}, {30, 64}, {60, 120}}, 128, 64},
    // Across the joins at 255/256 the gradient keeps rising by one per two pixels.
    // The flip byte mirrors the whole source, whose rows run 0..511 over the two tiles.
    {"Flip", TileOf({"tile", "TILES", "OUT", "--flip"}), 3, Gradient(511, 0, -1), {{3, 5}, {40, 200}, {128, 100}, {250, 17}}},
    // Pixels hold blue, green, red: this order puts band 1 where blue goes.
    {"BandOrder", TileOf({"tile", "TILES", "OUT", "--band-order", "0,1,2,3"}), 3, Swapped},
    {"Mosaic", {"mosaic", "TILES", "OUT", "--level", "8", "--at", "7.2", "46.15", "--tiles", "2"}, 3, Gradient(0, 0),
     {{10, 250}, {10, 262}, {250, 300}, {262, 300}, {500, 500}}, 512, 512},
    // The margin reaches one tile further on every side: 4 x 4 tiles, the outer ring clear beyond it.
    {"Render", {"render", "TILES", "OUT", "--level", "8"}, 4,
     [](int r, int c) { return std::max(r, c) < 768 && std::min(r, c) >= 256 ? Gradient(-256, -256)(r, c) : kClear; },
     {{100, 100}, {266, 276}, {520, 700}, {700, 520}, {1000, 500}}, 1024, 1024},
    // Source pixels one to one; source units are degrees; a quarter of this rectangle lies west of the raster.
    {"QuickOverTheEdge", {"quick", "TILES", "OUT", "--src-rect", Num(kWest - (kMargin + 32) * kPx),
     Num(kNorth - (64 - kMargin) * kPx), Num(kWest + (96 - kMargin) * kPx), Num(kNorth + kMargin * kPx),
     "--size", "128", "64"}, 4, [](int r, int c) { return c < 32 ? kClear : Gradient(-kMargin, -kMargin - 32)(r, c); },
     {{40, 10}, {40, 31}, {40, 32}, {5, 100}, {60, 120}}, 128, 64},
    // Two strips of 256 rows, one source row each; columns two source pixels wide.
    {"Strips", {"image", "TILES", "OUT", "--rect", Num(kWest), Num(kNorth - 2 * kTile), Num(kWest + 2 * kTile), Num(kNorth),
     "--size", "256", "512"}, 3, Gradient(0, 0, 1, 2), {{3, 5}, {255, 100}, {256, 100}, {257, 200}, {511, 17}}, 256, 512},
    {"OneSizeKeepsTheProportions", {"image", "TILES", "OUT", "--rect", Num(kWest), Num(kNorth - kTile), Num(kWest + 2 * kTile),
     Num(kNorth), "--size", "128"}, 3, Gradient(0, 0, 4, 4), {{2, 3}, {60, 120}}, 128, 64},
    {"BandsPicked", TileOf({"tile", "TILES", "OUT", "--bands", "3,2,1"}), 3, Swapped},
    {"FourthBandIsNotAlpha", TileOf({"tile", "TILES4", "OUT"}), 3, Gradient(0, 0)},
    {"FourthBandPickedAsAlpha", TileOf({"tile", "TILES4", "OUT", "--bands", "1,2,3,4"}), 4, [](int, int) { return kClear; }},
    {"AlphaTheFileNames", TileOf({"tile", "ALPHA", "OUT"}), 4, [](int r, int c) { return c < 128 ? kClear : Gradient(0, 0)(r, c); },
     {{3, 5}, {200, 120}, {200, 136}, {250, 200}}},
    {"RangeStretchesBands", TileOf({"tile", "TILES", "OUT", "--range", "0", "127"}), 3, Doubled},
    {"RangeSpreadsTheRamp", TileOf({"tile", "GRAY", "OUT", "--range", "0", "127"}), 3,
     [](int r, int c) { const int v = Doubled(r, c)[0]; return Rgba{v, v, v, 255}; }},
    // Clipped, not cut to the low byte (255 everywhere): the 271 steps of 256 spread over 0..255.
    {"SixteenBitsAreStretched", TileOf({"tile", "TILES16", "OUT"}), 3,
     [](int, int c) { const int v = 255 * ((c + kMargin) / 2) / 271; return Rgba{v, v, v, 255}; }, {{3, 5}, {100, 128}}, 256, 256, 20},
};
// clang-format on

class Pictures : public GoraTest, public ::testing::WithParamInterface<PictureCase> {};

TEST_P(Pictures, HaveTheSourceColoursTopRowFirst)
{
    const PictureCase& t = GetParam();
    ASSERT_EQ(Run(t.args).status, 0);
    const Png got = krtest::ReadPng(m_png);
    ASSERT_TRUE(got.width == t.width && got.height == t.height) << got.width << " x " << got.height;
    EXPECT_EQ(got.bands, t.bands) << "an alpha band only when something is transparent";
    for (const auto& [r, c] : t.probes) {
        const Rgba want = t.want(r, c), px = got.At(r, c);
        EXPECT_EQ(px[3], want[3]) << "alpha at row " << r << " column " << c;
        for (size_t k = 0; k < 3 && want[3] != 0; ++k)
            EXPECT_NEAR(px[k], want[k], t.tolerance) << "row " << r << " column " << c << " channel " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Gora, Pictures, ::testing::ValuesIn(kPictures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GoraTest, ReliefIsLitFromTheNorthWestAndGrayRunsFromFootToSummit)
{
    // A peak in the middle of 2 x 2 tiles, which the raster covers exactly.
    const std::string peak =
        Raster("peak.tif", Wgs84(128, 128, 1, GDT_Float32, kWest, kNorth, 2 * kTile / 128, [](int, int c, int r) {
                   const double dx = (c - 63.5) / 20.0, dy = (r - 63.5) / 20.0;
                   return 500.0 + 3000.0 * std::exp(-(dx * dx + dy * dy));
               }));
    ASSERT_EQ(Run({"render", peak, "OUT", "--level", "8", "--as", "relief", "--z-factor", "5"}).status, 0);
    const Png relief = krtest::ReadPng(m_png);
    ASSERT_TRUE(relief.width == 65 && relief.height == 65); // 2 tiles of 32 steps, sharing their edge samples
    EXPECT_GT(relief.At(22, 22)[0], relief.At(42, 42)[0] + 60) << "slopes facing the light are brighter";

    const Result gray = Run({"render", peak, "OUT", "--level", "8", "--as", "gray"});
    ASSERT_EQ(gray.status, 0) << gray.err;
    const Png got = krtest::ReadPng(m_png);
    EXPECT_EQ(got.At(32, 32)[0], 255);
    EXPECT_LT(got.At(1, 1)[0], 10);
    // Neighbouring tiles agree on their shared edges: here in both modes; on a real DEM at a level where the
    // window is reduced, only in accurate mode, gora's default.
    const std::string dem = std::string(KR_SAMPLE_DIR) + "/hef_srtm.tif";
    for (const auto& [args, agree] :
         {std::pair{gray, true},
          {Run({"render", dem, "OUT", "--level", "10", "--as", "gray"}), true},
          {Run({"render", dem, "OUT", "--level", "10", "--as", "gray", "--no-accurate"}), false}}) {
        std::smatch seam;
        ASSERT_TRUE(std::regex_search(args.out, seam, std::regex("shared edge samples ([^\\s]+)"))) << args.out;
        EXPECT_EQ(std::stod(seam[1]) == 0.0, agree) << seam[1];
    }
}

// ---------------------------------------------------------------------------
// Reports and files

TEST_F(GoraTest, InfoDescribesTheRaster)
{
    // 40 x 20 pixels of 250 m in UTM 32N from 350000 E 5100000 N; c + r has mean 29.
    RasterLayout layout{40, 20, 1, GDT_Int16, {350000, 250, 0, 5100000, 0, -250}, krtest::WktOfEpsg(32632), {-9999}};
    layout.value = [](int, int c, int r) { return c + r; };
    const std::string raster = Raster("info.tif", layout);
    const Result run = Run({"info", "--json", raster});
    ASSERT_EQ(run.status, 0) << run.err;
    const json got = json::parse(run.out);
    const json want = json::parse(R"({"width": 40, "height": 20, "bands": 1, "dataFormat": 2, "coordinateKind": 2,
        "northRowFirst": true, "noData": -9999, "valueRange": [0, 58], "dataFormatName": "Int16", "colours": "grey",
        "usableCoordinates": true, "valueRangeSource": "computed from the pixels", "accurateMode": true,
        "sourceBounds": {"west": 350000, "south": 5095000, "east": 360000, "north": 5100000}})");
    for (const auto& [key, value] : want.items())
        EXPECT_EQ(got[key], value) << key;
    EXPECT_NEAR(got["bandDetails"][0]["statistics"]["mean"].get<double>(), 29, 1e-9);
    EXPECT_EQ(got["bandDetails"][0]["overviews"], json::array());
    EXPECT_EQ(json::parse(Run({"info", "--json", "NOCRS"}).out)["usableCoordinates"], false);
    EXPECT_EQ(json::parse(Run({"info", "--json", "--no-accurate", raster}).out)["accurateMode"], false);
    EXPECT_TRUE(std::regex_match(Run({"--version"}).out, std::regex("gora \\d+\\.\\d+\\.\\d+\n")));
    // The module's edges in degrees are checked against GDAL's elsewhere; here, that info gives them: 150 and
    // 140 km west of 9 E near 46 N, about 7.06 and 7.19 E.
    const json b = got["wgs84Bounds"];
    EXPECT_TRUE(b["west"] > 7.0 && b["west"] < b["east"] && b["east"] < 7.3 && b["south"] > 45.9 &&
                b["south"] < b["north"] && b["north"] < 46.1)
        << b;
}

TEST_F(GoraTest, PixelsCountRowsAsTheHostDoes)
{
    // North-up: host row 0 is the bottom row, unless flipped. Rows come in the order asked.
    for (const auto& [flip, first, last] :
         {std::tuple{false, "299", "300"}, {true, "299", "300"}, {false, "300", "299"}}) {
        const std::vector<std::string> args = {"pixels", "TILES", "--rows", first,    last,
                                               "--cols", "100",   "102",    "--json", "--flip"};
        const Result run = Run({args.begin(), args.end() - !flip});
        ASSERT_EQ(run.status, 0) << run.err;
        const json out = json::parse(run.out), rows = {std::stoi(first), std::stoi(last)};
        EXPECT_EQ(out["rows"], rows);
        for (int k = 0; k < 2; ++k) {
            const int gdalRow = flip ? rows[k].get<int>() : kSide - 1 - rows[k].get<int>();
            for (int j = 0; j < 3; ++j)
                EXPECT_EQ(out["values"][k][j], json({(100 + j - kMargin) / 2, (gdalRow - kMargin) / 2, 100})) << k << j;
        }
    }
}

TEST_F(GoraTest, ReprojectTakesEveryKindOfDefinition)
{
    OGRSpatialReference utm;
    utm.importFromEPSG(32632);
    krtest::WriteText(m_in.File("utm.prj"), krtest::WktOfEpsg(32632, true));
    for (const std::string& to : std::vector<std::string>{"EPSG:32632", "32632", m_in.File("utm.prj"),
                                                          "+proj=utm +zone=32 +datum=WGS84 +units=m +no_defs",
                                                          krtest::WktOfEpsg(32632), krtest::WktOfEpsg(32632, true)}) {
        ASSERT_EQ(Run({"reproject", "TILES", "TIF", "--to", to}).status, 0) << to;
        GDALDatasetUniquePtr ds(GDALDataset::Open(Placeholder("TIF").c_str(), GDAL_OF_RASTER));
        EXPECT_TRUE(ds && ds->GetSpatialRef() && ds->GetSpatialRef()->IsSame(&utm)) << to;
    }
}

// 3 x 2 samples 0.01 degrees apart from 7.00 E 46.00 N, whose nodes are samples in both geometries; and
// 7 x 5 pixels of 1/120 degree, whose bounds are not a whole number of such steps from 0, with a nodata hole.
TEST_F(GoraTest, Dem2TifPutsOnePixelOnEachSample)
{
    const double px = 1.0 / 120;
    const std::vector<double> wgs84Gt = {5.7416666, px, 0, 50.1916666, 0, -px};
    const Value holed = [](int, int c, int r) { return c == 2 && r == 1 ? -32768 : 300 + c; };
    const std::string wgs84 = Raster("dem.tif", Wgs84(7, 5, 1, GDT_Int16, 5.7416666, 50.1916666, px, holed, {-32768}));
    std::vector<double> holedValues;
    for (int k = 0; k < 35; ++k)
        holedValues.push_back(holed(1, k % 7, k / 7));
    const std::vector<double> hills = {0, 1, 2, 100, 101, 102}, hillsGt = {6.995, 0.01, 0.0, 46.005, 0.0, -0.01};
    for (const auto& [source, accurate, w, h, gt, values] : {std::tuple{std::string("DEM"), true, 3, 2, hillsGt, hills},
                                                             {"DEM", false, 3, 2, hillsGt, hills},
                                                             {wgs84, true, 7, 5, wgs84Gt, holedValues}}) {
        const std::vector<std::string> args = {"dem2tif", source, "TIF", "--no-accurate"};
        ASSERT_EQ(Run({args.begin(), args.end() - accurate}).status, 0) << accurate;
        GDALDatasetUniquePtr ds(GDALDataset::Open(Placeholder("TIF").c_str(), GDAL_OF_RASTER));
        ASSERT_TRUE(ds && ds->GetRasterXSize() == w && ds->GetRasterYSize() == h) << source;
        GDALRasterBand* band = ds->GetRasterBand(1);
        std::vector<double> gotGt(6), got(w * h);
        ds->GetGeoTransform(gotGt.data());
        for (size_t i = 0; i < gt.size(); ++i)
            EXPECT_NEAR(gotGt[i], gt[i], 1e-9) << source << " " << i;
        ASSERT_EQ(band->RasterIO(GF_Read, 0, 0, w, h, got.data(), w, h, GDT_Float64, 0, 0, nullptr), CE_None);
        EXPECT_EQ(got, values) << source << " " << accurate;
        int hasNoData = FALSE;
        EXPECT_TRUE(source == "DEM" ? band->GetRasterDataType() == GDT_Float32
                                    : band->GetNoDataValue(&hasNoData) == -32768 && hasNoData);
    }
}

// ---------------------------------------------------------------------------
// Failures: one line naming the file, exit 1; usage errors exit 2; no file left

struct FailureCase {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* message = ""; //!< in stderr, for status 1
};

class Failure : public GoraTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(Failure, ExitsCleanlyAndLeavesNoFile)
{
    krtest::WriteText(m_in.File("notes.txt"), "not a raster\n");
    std::filesystem::create_directory(m_out.File("folder"));
    const Result run = Run(GetParam().args);
    EXPECT_EQ(run.status, GetParam().status) << run.err;
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    EXPECT_TRUE(GetParam().status != 1 || std::count(run.err.begin(), run.err.end(), '\n') == 1) << run.err;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_out.Path()), {}), 1)
        << "a failed command leaves no file";
}

// Usage errors of CLI11's own checks share one path; the rows below exit 2
// through the checks gora adds.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Gora, Failure, ::testing::Values(
    FailureCase{"MissingFile", {"info", "/nonexistent/x.tif"}, 1, "/nonexistent/x.tif: no such file"},
    FailureCase{"NotARaster", {"tile", "TEXT", "OUT", "--level", "8", "--tile", "1", "1"}, 1, "notes.txt: not a raster"},
    FailureCase{"TileOutsideTheRaster", {"tile", "TILES", "OUT", "--level", "8", "--tile", "0", "0"}, 1, "nothing delivered"},
    FailureCase{"BigRender", {"render", "TILES", "OUT", "--level", "12"}, 1, "--big"},
    // The picture is written under a temporary name, which cannot replace a folder.
    FailureCase{"OutputIsAFolder", {"tile", "TILES", "FOLDER", "--level", "8", "--tile", "266", "62"}, 1, "into place"},
    FailureCase{"UnknownSystem", {"reproject", "TILES", "TIF", "--to", "EPSG:999999"}, 1, "could not reproject"},
    FailureCase{"UnknownFormat", {"reproject", "TILES", "OUT", "--to", "EPSG:4326"}, 1, "unknown output format \".png\""},
    FailureCase{"MissingFolder", TileOf({"tile", "TILES", "NOFOLDER"}), 1, "folder does not exist"},
    FailureCase{"MissingFolderForTheModule", {"dem2tif", "DEM", "NOFOLDER"}, 1, "folder does not exist"},
    FailureCase{"ImageOfElevations", TileOf({"tile", "DEM", "OUT"}), 1, "has elevation only"},
    FailureCase{"BigImage", {"image", "TILES", "OUT", "--size", "4097", "4096"}, 1, "--big"},
    FailureCase{"PointWithoutASystem", {"to-source", "NOCRS", "--at", "7", "46"}, 1, "has no coordinate system"},
    FailureCase{"PointOffTheGlobe", {"to-source", "TILES", "--at", "200", "100"}, 2},
    FailureCase{"RampOnTheQuickPath", {"quick", "TILES", "OUT", "--ramp", "terrain"}, 2},
    FailureCase{"StretchOfTerrain", {"render", "TILES", "OUT", "--level", "8", "--as", "relief", "--stretch", "clip"}, 2},
    FailureCase{"NoTileNamed", {"tile", "TILES", "OUT", "--level", "8"}, 2},
    FailureCase{"UnknownStretch", {"image", "TILES", "OUT", "--stretch", "bogus"}, 2},
    FailureCase{"ShortBandOrder", {"image", "TILES", "OUT", "--band-order", "1,2"}, 2},
    FailureCase{"EmptyRectangle", {"image", "TILES", "OUT", "--rect", "8", "46", "7", "47"}, 2}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
