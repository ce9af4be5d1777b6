// Bad input: every operation in every state of the object with bad arguments,
// and files of our own format that are cut short or absurd. Nothing may crash,
// overrun or leak; each answer is the failure value of its kind or clean.
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "KRFetchTestSupport.h"

using namespace KRC;
using namespace krtest;
using P = KRGORasterAccessorPlugin;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const TempDir kDir; // the rasters the states open

//! Where the object stands when a bad call arrives: the file it opened, what came next, whether it holds a
//! raster, and whether that raster is a GDAL dataset with bands (what writes and direct reads need).
struct State {
    const char* name;
    bool holdsRaster, dataset;
    const char* file;
    std::function<void(P&)> then;
};

const State kStates[] = {
    {"never opened", false, false, nullptr, nullptr},
    // Closed twice and released between: each must leave an object that serves nothing and can be destroyed.
    {"closed", false, false, "utm.tif", [](P& p) { p.Close(), p.Release(), p.Close(); }},
    {"failed open", false, false, "absent.tif", nullptr},
    // The second open fails after GDAL opened the file: a dataset without a band stays open.
    {"bandless after a raster", false, false, "utm.tif",
     [](P& p) { p.OpenForRead(kDir.File("bandless.vrt").c_str()); }},
    {"geographic", true, true, "geo.tif", nullptr},
    // A band that does not exist leaves no current band while the dataset stays open.
    {"no current band", true, true, "geo.tif", [](P& p) { p.BeginRead(99); }},
    // A smaller raster created in place of an open one, whose description the object keeps.
    {"writer", true, true, "geo.tif",
     [](P& p) { p.CreateRasterFile(kDir.File("writer.tif").c_str(), 8, 8, 0.25, 10, 50, 1, GDT_Float32, false); }},
    {"projected", true, true, "utm.tif", nullptr},
    {"NSDTF-DEM", true, false, "geo.dem", nullptr},
};

//! One operation with `count` sets of bad arguments: ok(p, i, state) tries the i-th and judges the answer.
struct Family {
    const char* name;
    size_t count;
    std::function<bool(P&, size_t, const State&)> ok;
    bool changes = false; //!< the call may change what the object serves
};

// NaN, one NaN side, infinite, zero area, left > right, top < bottom, far larger than the world, below a double step.
const KRRect2d kBadRects[] = {
    {kNaN, kNaN, kNaN, kNaN}, {10, kNaN, 12, 48}, {-kInf, kInf, kInf, -kInf},     {11, 49, 11, 49},
    {12, 50, 10, 48},         {10, 48, 12, 50},   {-1e300, 1e300, 1e300, -1e300}, {11, 49 + 1e-14, 11 + 1e-14, 49}};
constexpr size_t kRects = std::size(kBadRects);
//! Column, row and level of tiles, none of which covers a raster: negative, beyond level 30, at the ints'
//! limits, far from every raster. (Tile 0, 0 of level -1 would cover the world twice over.)
const int kBadTiles[][3] = {{-1, 0, 0},
                            {0, -1, 0},
                            {1, 0, -1},
                            {-5, -5, -5},
                            {0, 0, 31},
                            {0, 0, 1100},
                            {INT_MAX, 0, 30},
                            {INT_MIN, INT_MIN, INT_MIN},
                            {1 << 20, 1 << 19, 20}};

class BadInputTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RasterLayout geo{
            16, 16, 1, GDT_Float32, {10, 0.125, 0, 50, 0, -0.125}, WktOfEpsg(4326), {-1.0}, [](int, int c, int r) {
                return c + 10.0 * r;
            }};
        // Three 16-bit bands: the stretched colour path.
        const RasterLayout utm{
            16, 16, 3, GDT_UInt16, {500000, 1000, 0, 4500000, 0, -1000}, WktOfEpsg(32633), {7, 7, 7}, geo.value};
        ASSERT_TRUE(WriteRaster(kDir.File("geo.tif"), geo) && WriteRaster(kDir.File("utm.tif"), utm));
        WriteText(kDir.File("geo.dem"), "NSDTF-DEM 1.0 D 0 0 10 50 0.5 0.5 3 3 1\n1 2 3\n4 5 6\n7 8 9\n");
        WriteText(kDir.File("bandless.vrt"), "<VRTDataset rasterXSize=\"10\" rasterYSize=\"10\"></VRTDataset>");
    }

    //! Every call in every state. A call that may change the object gets a fresh one and is followed by the
    //! host's session; the others share one, which serves after the family's last call.
    static void Run(const std::vector<Family>& families)
    {
        for (const State& state : kStates) {
            for (const Family& family : families) {
                std::unique_ptr<P> p;
                for (size_t i = 0; i < family.count; ++i) {
                    SCOPED_TRACE(std::string(state.name) + ": " + family.name + " #" + std::to_string(i));
                    if (!p || family.changes) {
                        p = std::make_unique<P>();
                        if (state.file != nullptr)
                            p->OpenForRead(kDir.File(state.file).c_str());
                        if (state.then)
                            state.then(*p);
                    }
                    EXPECT_TRUE(family.ok(*p, i, state));
                    // A failed creation changes the band count but not the NSDTF-DEM grid, which still serves.
                    const bool served = (!family.changes && i + 1 < family.count) || ServeEverything(*p, false) == 0;
                    EXPECT_TRUE(served || p->IsValid() || family.name == std::string("create"));
                }
            }
        }
    }
};

TEST_F(BadInputTest, Fetches)
{
    // Grids: width, height, allocated. Images: width, height, pixel format, allocated, the public width once
    // allocated (a host that changed it): unallocated, 0 x 0, 1 x 1, a column, a row, grey, no format, widened.
    const int grids[][3] = {{33, 33, 0}, {0, 0, 0}, {1, 1, 1}, {1, 33, 1}, {33, 1, 1}, {33, 33, 1}};
    const int kinds[][5] = {{64, 64, PF_R8G8B8, 0, 64},  {0, 0, PF_R8G8B8, 0, 0},   {1, 1, PF_R8G8B8, 1, 1},
                            {1, 64, PF_A8R8G8B8, 1, 1},  {64, 1, PF_R5G6B5, 1, 64}, {32, 32, PF_L8, 1, 32},
                            {32, 32, PF_Unknown, 0, 32}, {8, 8, PF_R8G8B8, 1, 4096}};
    const std::vector<int> bandMaps[] = {{0, 1, 2, 3}, {99, -1, 1000, INT_MIN}, {3, 3, 3, 3}, {-4, 4, 7, 8}};
    const auto fetch = [](P& p, bool quick, KRImageData* image, KRImageData*& out, const KRRect2d& rect, int* map) {
        return quick ? p.QucikFetchImageData(image, out, rect, map, true)
                     : p.FetchImageData(image, out, rect, map, true);
    };
    Run({{"grid x rectangle", std::size(grids) * kRects,
          [&](P& p, size_t i, const State& state) {
              const int* g = grids[i / kRects];
              const KRRect2d& rect = kBadRects[i % kRects];
              auto grid =
                  g[2] ? SessionGrid(g[0], g[1], 7.0) : std::make_unique<KRTerrainData>(KRTerrainData::Structure{});
              grid->SetWidth(g[0]);
              grid->SetHeight(g[1]);
              const GetchResult result = p.FetchTerrainData(grid.get(), rect, true);
              CheckGrid(result, *grid, 7.0);
              return result == GetchResult_None || (state.holdsRaster && g[2] && !std::isnan(rect.top));
          }},
         {"image (full, quick) x rectangle", 2 * std::size(kinds) * kRects,
          [&](P& p, size_t i, const State& state) {
              const int* kind = kinds[i / 2 / kRects];
              const KRRect2d& rect = kBadRects[i / 2 % kRects];
              KRImageData image;
              image.m_nWidth = kind[0];
              image.m_nHeight = kind[1];
              image.SetPixelFormat(static_cast<enumPixelFormat>(kind[2]));
              if (kind[3] != 0 && !image.CreateData())
                  return false;
              image.m_nWidth = kind[4];
              KRImageData* out = nullptr;
              const GetchResult result = fetch(p, i % 2 == 1, &image, out, rect, nullptr);
              // Pixels the caller's image cannot take may still come in a replacement.
              const bool replaced = CheckImageFetch(result, image, out) != nullptr;
              return result == GetchResult_None || (state.holdsRaster && !std::isnan(rect.top) &&
                                                    (replaced || (kind[4] == kind[0] && image.m_pData != nullptr)));
          }},
         {"band map (full, quick)", 2 * std::size(bandMaps),
          [&](P& p, size_t i, const State&) {
              std::vector<int> order = bandMaps[i / 2];
              for (enumPixelFormat format : {PF_A8R8G8B8, PF_R8G8B8, PF_R5G6B5}) {
                  auto image = MakeImage(16, 16, format);
                  KRImageData* out = nullptr;
                  // Fetch first: the replacement pointer must be read after the fetch has set it.
                  const GetchResult result = fetch(p, i % 2 == 1, image.get(), out, {9, 51, 13, 47}, order.data());
                  CheckImageFetch(result, *image, out);
              }
              return order == bandMaps[i / 2]; // read, never written
          }},
         {"terrain and image tiles, and a null grid or image (full, quick)", std::size(kBadTiles),
          [&](P& p, size_t i, const State&) {
              const int* t = kBadTiles[i];
              KRTerrainData* tile = reinterpret_cast<KRTerrainData*>(&p); // stale: must be replaced by null
              KRImageData* out = nullptr;
              return p.FetchTerrainData(tile, t[0], t[1], t[2]) == GetchResult_None && tile == nullptr &&
                     FetchImageTile(p, t[0], t[1], t[2]) == nullptr &&
                     p.FetchTerrainData(nullptr, {10, 50, 12, 48}, false) == GetchResult_None &&
                     fetch(p, i % 2 == 1, nullptr, out, {10, 50, 12, 48}, nullptr) == GetchResult_None && !out;
          }}});
}

TEST_F(BadInputTest, StretchAndColours)
{
    // Value, stretched over 10 .. 20 whatever the gamma (NaN stays NaN, what lies beyond the range goes to its
    // end), and its colour: no state has a palette, so the value truncated to 64 bits (saturating, NaN 0), low half.
    const std::tuple<double, double, unsigned> values[] = {
        {kNaN, kNaN, 0u}, {kInf, 255, 0xFFFFFFFFu}, {-kInf, 0, 0u},  {1e300, 255, 0xFFFFFFFFu},
        {-1e300, 0, 0u},  {-1.5, 0, 0xFFFFFFFFu},   {25.9, 255, 25u}};
    Run({{"stretch in bad bands with bad gammas, and colour", std::size(values), [&](P& p, size_t i, const State&) {
              const auto& [value, stretched, color] = values[i];
              bool ok = true;
              p.CheckInitColorInfo();
              for (float gamma : {1.0f, 0.0f, -2.0f, std::numeric_limits<float>::quiet_NaN()}) {
                  for (int type : {0, 2}) {
                      SetStretch(p, 10, 20, type, gamma);
                      // Only the first four bands have a range; without one, or without a stretch, the value stays.
                      for (int band : {-1, 0, 3, 4, INT_MAX, INT_MIN})
                          ok &= std::isnan(value) ? std::isnan(p.GetStretchValue(value, band))
                                                  : p.GetStretchValue(value, band) ==
                                                        (type == 2 && band >= 0 && band < 4 ? stretched : value);
                  }
              }
              return ok && p.GetColorFromTable(value) == color;
          }}});
}

TEST_F(BadInputTest, DirectReads)
{
    const int bands[] = {0, -1, 4, 99, INT_MAX, INT_MIN};
    const size_t lineBytes[] = {0, 1, 31, 1 << 16}; // each raster's line needs 32 to 64 bytes
    // Inclusive rows and columns (first row, last row, first column, last column) in and beyond a 16 x 16 raster.
    const int ranges[][4] = {
        {0, 0, 0, 0},       {0, 15, 0, 15},          {5, 2, 0, 0},   {-1, 0, 0, 0},
        {0, 0, -5, 3},      {0, 16, 0, 15},          {0, 15, 0, 16}, {INT_MIN, INT_MAX, INT_MIN, INT_MAX},
        {0, INT_MAX, 0, 0}, {INT_MAX, INT_MAX, 0, 0}};
    // The caller's blocks: width, height, bands, format.
    const std::tuple<int, int, int, enumRasterDataFromat> blocks[] = {
        {1, 1, 1, RDF_Float32},  {16, 16, 1, RDF_Float32}, {16, 16, 3, RDF_UInt16}, {0, 0, 1, RDF_UInt8},
        {16, 16, 9, RDF_UInt16}, {4, 4, 1, RDF_UInt8},     {16, 16, 1, RDF_Float64}};
    Run({{"begin reading a band", std::size(bands),
          [&](P& p, size_t i, const State&) { return !p.BeginRead(bands[i]); }, true},
         // A line long enough with a current band is read, or kept as it was for a row off the raster.
         {"scanlines into a line of bytes", std::size(lineBytes),
          [&](P& p, size_t i, const State&) {
              bool ok = true;
              for (int row : {-1, 0, 16, INT_MAX, INT_MIN}) {
                  KRRasterScanline line(lineBytes[i]);
                  if (line.GetData() != nullptr)
                      std::memset(line.GetData(), 0xAB, lineBytes[i]);
                  ok &=
                      p.ReadScanline(line, row, 0) == (p.GetRasterDataFormat() != RDF_None && lineBytes[i] == 1 << 16);
                  ok &= row == 0 || line.GetData() == nullptr ||
                        std::all_of(line.GetData(), line.GetData() + lineBytes[i], [](auto b) { return b == 0xAB; });
              }
              return ok;
          }},
         {"pixels and colours of a range", std::size(ranges), [&](P& p, size_t i, const State& state) {
              const int* r = ranges[i];
              const long long rows = r[1] - static_cast<long long>(r[0]) + 1,
                              cols = r[3] - static_cast<long long>(r[2]) + 1;
              // A block no buffer here holds is refused, never overrun (blocks beyond int sizes are not read at all).
              const long long block = rows >= 1 && cols >= 1 && rows <= INT_MAX && cols <= INT_MAX ? rows * cols : 0;
              bool ok = true;
              for (const auto& [width, height, count, format] : blocks) {
                  KRPixelDataMultiBand pixels(width, height, count, format, false, 0, 0);
                  ok &= !p.ReadPixels(pixels, r[0], r[1], r[2], r[3], true) ||
                        (state.dataset && block <= static_cast<long long>(width) * height);
              }
              for (bool flip : {false, true}) {
                  std::unique_ptr<KRPixelDataMultiBand> colors(p.ReadColors(r[0], r[1], r[2], r[3], flip));
                  ok &= !colors || (state.dataset && colors->GetWidth() == cols && colors->GetHeight() == rows &&
                                    colors->GetData() != nullptr);
              }
              return ok;
          }}});
}

TEST_F(BadInputTest, RasterOutput)
{
    // Path, pixel size, bands, type, made: an empty path, a folder, a negative band count, a type GDAL lacks,
    // a NaN pixel size, folders to make.
    const std::tuple<std::string, double, int, int, bool> creations[] = {
        {"", 0.1, 1, GDT_Int16, false},
        {kDir.Path(), 0.1, 1, GDT_Int16, false},
        {kDir.File("b.tif"), 0.1, -1, GDT_Int16, false},
        {kDir.File("t.tif"), 0.1, 1, 99, false},
        {kDir.File("nan.tif"), kNaN, 1, GDT_Float32, true},
        {kDir.File("made/for/output.tif"), 0.1, 2, GDT_Float32, true}};
    const int writes[][4] = {{-1, 0, 2, 2}, {0, -1, 2, 2},  {0, 0, 0, 0},
                             {0, 0, 17, 1}, {15, 15, 2, 2}, {INT_MAX, INT_MAX, INT_MAX, INT_MAX},
                             {0, 0, 64, 64}};
    // Definitions, of kinds: empty, of a kind that does not exist, an EPSG code that does not exist.
    const std::pair<const char*, int> targets[] = {
        {"", 0}, {"+proj=utm +zone=33", 5}, {"99999999", 4}, {"4326", INT_MIN}};
    const std::string places[] = {"", kDir.File("cancelled.tif")};
    const auto cancel = [](double, const char*, void*) { return FALSE; };
    Run({{"create", std::size(creations), // what is made takes writes
          [&](P& p, size_t i, const State&) {
              const auto& [path, pixel, bands, type, expected] = creations[i];
              std::vector<float> samples(16, 1.5f);
              return p.CreateRasterFile(path.c_str(), 4, 4, pixel, 10, 50, bands, type, false) == expected &&
                     p.WriteRasterFile(0, 0, 4, 4, samples.data()) == expected;
          },
          true},
         // A window GDAL refuses writes nothing and still succeeds; only a missing band or samples fail.
         {"write beyond the raster, or without samples", std::size(writes),
          [&](P& p, size_t i, const State& state) {
              const int* w = writes[i];
              std::vector<float> samples(64 * 64, -3.9f);
              return p.WriteRasterFile(w[0], w[1], w[2], w[3], samples.data()) == state.dataset &&
                     !p.WriteRasterFile(w[0], w[1], w[2], w[3], nullptr);
          }},
         {"reproject to a bad definition, or into a bad place, or cancelled", std::size(targets) + std::size(places),
          [&](P& p, size_t i, const State&) {
              return i < std::size(targets)
                         ? !p.ReprojectImage(kDir.File("out.tif").c_str(), targets[i].first, targets[i].second, nullptr,
                                             nullptr)
                         : !p.ReprojectImage(places[i - std::size(targets)].c_str(), "4326", 4, cancel, nullptr);
          }}});
}

TEST_F(BadInputTest, ProjectionImportsAndExports)
{
    WriteText(kDir.File("junk.prj"), "\x01\xfe junk [[[ PROJCS");
    WriteText(kDir.File("empty.prj"), "");
    const std::string utm = WktOfEpsg(32633);
    // Text, then what the WKT, Proj4 and ESRI importers make of it: 0 refused, 2 projected, 3 a local system
    // with nothing to transform to. A refused text leaves no transformation behind.
    const std::tuple<const char*, int, int, int> texts[] = {
        {nullptr, 0, 0, 0},
        {"", 0, 0, 0},
        {"\x01\xfe junk [[[ PROJCS", 0, 0, 0},
        {"PROJCS[\"x\",GEOGCS[\"y\",DATUM[\"z\",SPHEROID[\"s\",6378137,0", 0, 0, 0},
        {utm.c_str(), 2, 2, 2}, // PROJ takes WKT for Proj4 text too
        {"+proj=utm +zone=33 +datum=WGS84", 0, 2, 0},
        {"+proj=geos +h=35785831 +lon_0=0 +datum=WGS84", 0, 2, 0}, // space around the Earth's disk
        {"LOCAL_CS[\"x\"]", 3, 3, 3}};
    bool (P::*const imports[])(const char*) = {&P::ImportProjectionRefFromWkt, &P::ImportProjectionRefFromProj4,
                                               &P::ImportProjectionRefFromESRI};
    const std::string files[] = {kDir.Path(), kDir.File("absent.prj"), kDir.File("junk.prj"), kDir.File("empty.prj")};
    Run({{"import WKT, Proj4 or ESRI", std::size(texts) * 3,
          [&](P& p, size_t i, const State&) {
              const auto& [text, wkt, proj4, esri] = texts[i / 3];
              const int made = std::array<int, 3>{wkt, proj4, esri}[i % 3];
              const bool result = (p.*imports[i % 3])(text);
              const std::string exported = p.ExportProjectionRefToProj4().Cstr();
              return result == (made != 3) && (p.GetProjType() == 2) == (made != 0) &&
                     (made != 2 || exported.find("+proj=") == 0);
          },
          true},
         {"read a .prj or a data file", std::size(files),
          [&](P& p, size_t i, const State&) {
              const KRString path(files[i].c_str());
              return p.EsriPrjFileToProj4(path).IsEmpty() && p.ExportToProj4FromDataFile(path).IsEmpty() &&
                     p.ExportToEsriPrjFromDataFile(path).IsEmpty() &&
                     !p.ExportToEsriPrjFileFromDataFile(path, KRString("")) && p.LoadProjectionFromESRIFile(path) &&
                     p.GetProjType() != 2;
          },
          true},
         {"export GDAL's own reference", 1,
          [](P& p, size_t, const State& state) { return p.GetProjectionRef().IsEmpty() != state.dataset; }}});
}

TEST_F(BadInputTest, OpeningAndDescription)
{
    const std::string folder = kDir.Path();
    const std::string paths[] = {"",
                                 folder,
                                 folder + "/",
                                 ".dem",
                                 folder + "/.dem",
                                 std::string(10000, 'a') + ".tif",
                                 "/dev/null",
                                 kDir.File("absent.dem")};
    Run({{"open", std::size(paths),
          [&](P& p, size_t i, const State&) { return !p.OpenForRead(paths[i].c_str()) && ServeEverything(p) == 0; },
          true},
         {"nodata queries", 1, [](P& p, size_t, const State& state) {
              bool hasNoData = true;
              const double value = p.GetNoDataValue(hasNoData);
              if (p.GetRasterDataFormat() == RDF_None) // no current band
                  return !hasNoData && value == -9999.0 && p.GetNoValue() == 0.0;
              return state.holdsRaster && value == p.GetNoValue();
          }}});
}

// NSDTF-DEM files cut short or absurd (the fuzz corpus holds many more), and rasters whose descriptions defeat the
// resolution and size arithmetic, open as false or serve cleanly. Files that announce more values than they hold must
// not make the module allocate for the announced count.
TEST_F(BadInputTest, BadFiles)
{
    const TempDir dir;
    const std::string header = "NSDTF-DEM 1.0 D 0 0 10 50 0.5 0.5 ";
    // name, content, whether anything is delivered (-1: either)
    std::vector<std::tuple<std::string, std::string, int>> files = {
        {"billions.dem", header + "100000 100000 1\n1 2 3\n", 0},
        {"a-third.dem", header + "3 3 1\n1 2 3\n", 0},
        {"one-short.dem", header + "3 3 1\n1 2 3 4 5 6 7 8\n", 1},
        {"nan.dem", header + "3 3 1\nnan inf -inf 1e999 -1e999 nan 0 0 0\n", 1},
        {"zero-divisor.dem", header + "3 3 0\n1 2 3 4 5 6 7 8 9\n", 1},
        {"zero-spacing.dem", "NSDTF-DEM 1.0 D 0 0 10 50 0 0 3 3 1\n1 2 3 4 5 6 7 8 9\n", -1},
        {"huge-spacing.dem", "NSDTF-DEM 1.0 D 0 0 10 50 1e308 1e308 3 3 1\n1 2 3 4 5 6 7 8 9\n", 0},
        {"bandless.vrt", "<VRTDataset rasterXSize=\"10\" rasterYSize=\"10\"></VRTDataset>", 0},
        {"int-max.vrt",
         "<VRTDataset rasterXSize=\"2147483647\" rasterYSize=\"2147483647\"><GeoTransform>-180, 1.6e-7, 0, 90, 0, "
         "-8.4e-8</GeoTransform><VRTRasterBand dataType=\"Float32\" band=\"1\"/></VRTDataset>",
         1}};
    for (const auto& [name, text, delivers] : files)
        WriteText(dir.File(name), text);
    // One pixel; bounds of zero width.
    RasterLayout tiff{
        1, 1, 1, GDT_Float32, {10, 0.01, 0, 50, 0, -0.01}, WktOfEpsg(4326), {}, [](int, int, int) { return 1.0; }};
    files.emplace_back("one-pixel.tif", "", 1);
    ASSERT_TRUE(WriteRaster(dir.File("one-pixel.tif"), tiff));
    tiff.width = tiff.height = 8;
    tiff.geoTransform = {10, 0, 0, 50, 0, -0.01};
    files.emplace_back("zero-width.tif", "", -1);
    ASSERT_TRUE(WriteRaster(dir.File("zero-width.tif"), tiff));
    files.emplace_back("folder.dem", "", 0);
    std::filesystem::create_directory(dir.File("folder.dem"));
    // An 8 GiB sparse file whose header announces 1.6 billion values and holds none: big enough to pass the
    // header's size test, so only counting the values read can keep the fetch from allocating 6.4 GB.
    files.emplace_back("sparse.dem", "", 0);
    WriteText(dir.File("sparse.dem"), header + "40000 40000 1\n");
    std::filesystem::resize_file(dir.File("sparse.dem"), 8ull << 30);

    // In both modes: accurate mode reduces windows of its own (the whole of int-max.vrt at coarse levels).
    for (const auto& [name, text, delivers] : files)
        for (const char* accurate : {"NO", "YES"}) {
            SCOPED_TRACE(name + ", accurate " + accurate);
            const CPLConfigOptionSetter mode("GORA_ACCURATE", accurate, false);
            P p;
            const bool opened = p.OpenForRead(dir.File(name).c_str());
            const int delivered = ServeEverything(p);
            EXPECT_TRUE(opened || delivered == 0);
            EXPECT_TRUE(delivers < 0 || (delivered > 0) == (delivers == 1)) << delivered;
        }
}

} // namespace
