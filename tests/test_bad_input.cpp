// Bad input: every operation in every state of the object with bad arguments,
// and files that are empty, cut short, junk or absurd. Nothing may crash,
// overrun or leak; each answer is the failure value of its kind or clean.
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "KRHostSession.h"
#include "KRTestSupport.h"

using namespace KRC;
using namespace krtest;
using P = KRRasterDataAccessor;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kNaNf = std::numeric_limits<float>::quiet_NaN();
const TempDir kDir; // the rasters the states open

//! One operation with `count` sets of bad arguments: ok(p, i, holdsRaster) tries the i-th and judges the answer.
struct Family {
    const char* name;
    size_t count;
    std::function<bool(P&, size_t, bool holdsRaster)> ok;
};

std::string Junk(size_t bytes, unsigned seed)
{
    std::mt19937 random(seed);
    std::string text(bytes, '\0');
    for (char& c : text)
        c = static_cast<char>(random());
    return text;
}

bool Same(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

// NaN, one NaN side, infinite, zero area, left > right, top < bottom, far larger than the world, below a double step.
const KRRect2d kBadRects[] = {{kNaN, kNaN, kNaN, kNaN}, {10, kNaN, 12, 48}, {-kInf, kInf, kInf, -kInf},
                              {11, 49, 11, 49},         {12, 50, 10, 48},   {10, 48, 12, 50},
                              {-1e300, 1e300, 1e300, -1e300}, {11, 49 + 1e-14, 11 + 1e-14, 49}};
constexpr size_t kRects = std::size(kBadRects);

//! Column, row and level of tiles: negative, beyond level 30, at the ints' limits.
const int kBadTiles[][3] = {{-1, 0, 0}, {0, -1, 0}, {0, 0, -1},   {-5, -5, -5},
                            {0, 0, 31}, {0, 0, 64}, {0, 0, 1100}, {INT_MAX, 0, 30},
                            {INT_MAX, INT_MAX, INT_MAX}, {INT_MIN, INT_MIN, INT_MIN}, {1 << 20, 1 << 19, 20}};

//! Where the object stands when a bad call arrives: the file it opened, what came next, whether it holds a raster.
struct State {
    const char* name;
    bool holdsRaster;
    const char* file;
    std::function<void(P&)> then;
};

const State kStates[] = {
    {"never opened", false, nullptr, nullptr},
    {"closed", false, "utm.tif", [](P& p) { p.Close(); }},
    {"failed open", false, "absent.tif", nullptr},
    // The second open fails after GDAL opened the file: a dataset without a band stays open.
    {"bandless after a raster", false, "utm.tif", [](P& p) { p.OpenForRead(kDir.File("bandless.vrt").c_str()); }},
    {"geographic", true, "geo.tif", nullptr},
    // A band that does not exist leaves no current band while the dataset stays open.
    {"no current band", true, "geo.tif", [](P& p) { p.BeginRead(99); }},
    // A smaller raster created in place of an open one, whose description the object keeps.
    {"writer", true, "geo.tif",
     [](P& p) { p.CreateRasterFile(kDir.File("writer.tif").c_str(), 8, 8, 0.25, 10, 50, 1, GDT_Float32, false); }},
    {"projected", true, "utm.tif", nullptr},
    {"NSDTF-DEM", true, "geo.dem", nullptr},
};

class BadInputTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        GDALAllRegister();
        RasterLayout geo{16, 16, 1, GDT_Float32, {10, 0.125, 0, 50, 0, -0.125}, WktOfEpsg(4326), {-1.0},
                         [](int, int c, int r) { return c + 10.0 * r; }};
        RasterLayout utm = geo; // three 16-bit bands: the stretched colour path
        utm.bands = 3;
        utm.type = GDT_UInt16;
        utm.noData = {7, 7, 7};
        utm.geoTransform = {500000, 1000, 0, 4500000, 0, -1000};
        utm.wkt = WktOfEpsg(32633);
        ASSERT_TRUE(WriteRaster(kDir.File("geo.tif"), geo) && WriteRaster(kDir.File("utm.tif"), utm));
        WriteText(kDir.File("geo.dem"), "NSDTF-DEM 1.0 D 0 0 10 50 0.5 0.5 3 3 1\n1 2 3\n4 5 6\n7 8 9\n");
        WriteText(kDir.File("bandless.vrt"), "<VRTDataset rasterXSize=\"10\" rasterYSize=\"10\"></VRTDataset>");
    }

    //! Every call in every state, each on a fresh object; the state must then still serve cleanly.
    static void Run(const std::vector<Family>& families)
    {
        size_t calls = 0;
        for (const State& state : kStates) {
            for (const Family& family : families) {
                for (size_t i = 0; i < family.count; ++i, ++calls) {
                    SCOPED_TRACE(std::string(state.name) + ": " + family.name + " #" + std::to_string(i));
                    KRGORasterAccessorPlugin p;
                    if (state.file != nullptr)
                        p.OpenForRead(kDir.File(state.file).c_str());
                    if (state.then)
                        state.then(p);
                    EXPECT_TRUE(family.ok(p, i, state.holdsRaster));
                    // Image tiles have their own family. A failed creation changes the band count but not the
                    // NSDTF-DEM grid, which still serves.
                    EXPECT_TRUE(ServeEverything(p, false) == 0 || p.IsValid() || family.name == std::string("create"));
                }
            }
        }
        std::printf("%zu operations x bad arguments in %zu states: %zu calls\n", calls / std::size(kStates),
                    std::size(kStates), calls);
    }
};

TEST_F(BadInputTest, TerrainFetches)
{
    const int grids[][3] = {{33, 33, 0}, {0, 0, 0}, {1, 1, 1}, {1, 33, 1}, {33, 1, 1}, {33, 33, 1}}; // 0: unallocated
    Run({{"rectangle into a null grid", 1,
          [](P& p, size_t, bool) { return p.FetchTerrainData(nullptr, {10, 50, 12, 48}, false) == GetchResult_None; }},
         {"grid x rectangle", std::size(grids) * kRects,
          [&grids](P& p, size_t i, bool holdsRaster) {
              const int* g = grids[i / kRects];
              const KRRect2d& rect = kBadRects[i % kRects];
              auto grid = g[2] ? FilledGrid(g[0], g[1], 7.0)
                               : std::make_unique<KRTerrainData>(KRTerrainData::Structure{});
              grid->SetWidth(g[0]);
              grid->SetHeight(g[1]);
              const GetchResult result = p.FetchTerrainData(grid.get(), rect, true);
              ExpectCleanGrid(result, *grid, 7.0);
              return result == GetchResult_None || (holdsRaster && g[2] && !std::isnan(rect.top));
          }},
         {"tile", std::size(kBadTiles), [](P& p, size_t i, bool holdsRaster) {
              const int* t = kBadTiles[i];
              KRTerrainData* const stale = reinterpret_cast<KRTerrainData*>(&p); // must be replaced
              KRTerrainData* tile = stale;
              const GetchResult result = p.FetchTerrainData(tile, t[0], t[1], t[2]);
              if (tile == stale)
                  return false;
              std::unique_ptr<KRTerrainData> owned(tile);
              if (owned)
                  ExpectCleanGrid(GetchResult_Delivered, *owned, 0);
              return (result == GetchResult_Delivered) == (owned != nullptr) &&
                     (holdsRaster || result == GetchResult_None);
          }}});
}

//! The full rectangle image fetch, or the quick one.
GetchResult FetchRect(P& p, bool quick, KRImageData* image, KRImageData*& out, const KRRect2d& rect, int* map)
{
    return quick ? p.QucikFetchImageData(image, out, rect, map, true) : p.FetchImageData(image, out, rect, map, true);
}

TEST_F(BadInputTest, ImageFetches)
{
    // Width, height, pixel format, whether allocated, the public width once allocated (a host that changed it):
    // unallocated, 0 x 0, 1 x 1, one column, one row, grey, of no known format, widened after allocation.
    const int kinds[][5] = {{256, 256, PF_R8G8B8, 0, 256}, {0, 0, PF_R8G8B8, 0, 0},    {1, 1, PF_R8G8B8, 1, 1},
                            {1, 256, PF_A8R8G8B8, 1, 1},   {256, 1, PF_R5G6B5, 1, 256}, {64, 64, PF_L8, 1, 64},
                            {64, 64, PF_Unknown, 0, 64},   {8, 8, PF_R8G8B8, 1, 4096}};
    const std::vector<int> bandMaps[] = {{0, 1, 2, 3}, {99, -1, 1000, INT_MIN}, {3, 3, 3, 3}, {-4, 4, 7, 8}};
    const double values[] = {kNaN, kInf, -kInf, 1e300, -1e300};
    Run({{"full or quick, into a null image", 2, [](P& p, size_t i, bool) {
              KRImageData* out = nullptr;
              return FetchRect(p, i == 1, nullptr, out, KRRect2d(10, 50, 12, 48), nullptr) == GetchResult_None && !out;
          }},
         {"full or quick, image x rectangle", 2 * std::size(kinds) * kRects,
          [&kinds](P& p, size_t i, bool holdsRaster) {
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
              const GetchResult result = FetchRect(p, i % 2 == 1, &image, out, rect, nullptr);
              // Pixels the caller's image cannot take may still come in a replacement.
              const bool replaced = ExpectCleanImageFetch(result, image, out) != nullptr;
              const bool nothing = !holdsRaster || std::isnan(rect.top) ||
                                   (!replaced && (kind[4] != kind[0] || image.m_pData == nullptr));
              return !nothing || result == GetchResult_None;
          }},
         {"full or quick, band map", 2 * std::size(bandMaps),
          [&bandMaps](P& p, size_t i, bool) {
              std::vector<int> order = bandMaps[i / 2];
              for (enumPixelFormat format : {PF_A8R8G8B8, PF_R8G8B8, PF_R5G6B5}) {
                  auto image = MakeImage(32, 32, format);
                  KRImageData* out = nullptr;
                  const GetchResult result = FetchRect(p, i % 2 == 1, image.get(), out, {9, 51, 13, 47}, order.data());
                  ExpectCleanImageFetch(result, *image, out);
              }
              return order == bandMaps[i / 2]; // read, never written
          }},
         {"image tile", std::size(kBadTiles),
          [](P& p, size_t i, bool holdsRaster) {
              return holdsRaster || FetchImageTile(p, kBadTiles[i][0], kBadTiles[i][1], kBadTiles[i][2]) == nullptr;
          }},
         {"stretch in bad bands and colour of a bad value", std::size(values), [&values](P& p, size_t i, bool) {
              bool ok = true;
              p.SetStetchType(2);
              for (int band : {-1, 4, INT_MAX, INT_MIN}) {
                  for (float gamma : {1.0f, 0.0f, -2.0f, kNaNf}) {
                      p.SetStretchGama(gamma);
                      const double stretched = p.GetStretchValue(values[i], band);
                      ok &= Same(stretched, values[i]) || std::isfinite(stretched);
                  }
              }
              p.CheckInitColorInfo();
              p.GetColorFromTable(values[i]);
              return ok;
          }}});
}

TEST_F(BadInputTest, DirectReads)
{
    const int bands[] = {0, -1, 4, 99, INT_MAX, INT_MIN};
    const size_t lineBytes[] = {0, 1, 63, 1 << 16};
    // Inclusive rows and columns (first row, last row, first column, last column) in and beyond a 16 x 16 raster.
    const int ranges[][4] = {{0, 0, 0, 0},   {0, 15, 0, 15}, {5, 2, 0, 0}, {-1, 0, 0, 0},     {0, 0, -5, 3},
                             {0, 16, 0, 15}, {0, 15, 0, 16}, {INT_MIN, INT_MAX, INT_MIN, INT_MAX},
                             {0, INT_MAX, 0, 0}, {INT_MAX, INT_MAX, 0, 0}};
    Run({{"begin reading a band", std::size(bands), [&bands](P& p, size_t i, bool) { return !p.BeginRead(bands[i]); }},
         {"scanlines into a line of bytes", std::size(lineBytes),
          [&lineBytes](P& p, size_t i, bool holdsRaster) {
              bool ok = true;
              for (int row : {-1, 0, 16, INT_MAX, INT_MIN}) {
                  KRRasterScanline line(lineBytes[i]);
                  ok &= !p.ReadScanline(line, row, 0) || (holdsRaster && lineBytes[i] >= 32); // 16 samples of 2 or 4 bytes
              }
              return ok;
          }},
         {"pixels and colours of a range", std::size(ranges), [&ranges](P& p, size_t i, bool holdsRaster) {
              const int* r = ranges[i];
              bool ok = true;
              // width, height, bands and format of the caller's block
              const std::tuple<int, int, int, enumRasterDataFromat> blocks[] = {
                  {1, 1, 1, RDF_Float32}, {16, 16, 1, RDF_Float32}, {16, 16, 3, RDF_UInt16}, {0, 0, 1, RDF_UInt8},
                  {16, 16, 9, RDF_UInt16}, {4, 4, 1, RDF_UInt8},    {16, 16, 1, RDF_Float64}};
              for (const auto& [width, height, count, format] : blocks) {
                  KRPixelDataMultiBand pixels(width, height, count, format, false, 0, 0);
                  ok &= !p.ReadPixels(pixels, r[0], r[1], r[2], r[3], true) || holdsRaster;
              }
              for (bool flip : {false, true}) {
                  std::unique_ptr<KRPixelDataMultiBand> colors(p.ReadColors(r[0], r[1], r[2], r[3], flip));
                  ok &= !colors || (holdsRaster && colors->GetWidth() == r[3] - r[2] + 1 &&
                                    colors->GetHeight() == r[1] - r[0] + 1 && colors->GetData() != nullptr);
              }
              return ok;
          }}});
}

int Cancel(double, const char*, void*)
{
    return FALSE;
}

TEST_F(BadInputTest, RasterOutput)
{
    // Path, size, pixel size, bands, type, JPEG-compressed, made (-1: either): an empty path, a folder, 0 x 0,
    // a negative size, a negative band count, unknown types, JPEG of floats, a NaN pixel size, folders to make.
    const std::tuple<std::string, int, int, double, int, int, bool, int> creations[] = {
        {"", 4, 4, 0.1, 1, GDT_Int16, false, 0},
        {kDir.Path(), 4, 4, 0.1, 1, GDT_Int16, false, 0},
        {kDir.File("empty.tif"), 0, 0, 0.1, 1, GDT_Int16, false, 0},
        {kDir.File("negative.tif"), -5, 10, 0.1, 1, GDT_Int16, false, 0},
        {kDir.File("bandless.tif"), 4, 4, 0.1, -1, GDT_Int16, false, 0},
        {kDir.File("typeless.tif"), 4, 4, 0.1, 1, 99, false, 0},
        {kDir.File("type0.tif"), 4, 4, 0.1, 1, GDT_Unknown, false, 0},
        {kDir.File("jpeg.tif"), 4, 4, 0.1, 1, GDT_Float32, true, -1},
        {kDir.File("nan.tif"), 4, 4, kNaN, 1, GDT_Float32, false, 1},
        {kDir.File("made/for/output.tif"), 4, 4, 0.1, 2, GDT_Float32, false, 1}};
    const int writes[][4] = {{-1, 0, 2, 2},  {0, -1, 2, 2}, {0, 0, 0, 0}, {0, 0, 17, 1},
                             {15, 15, 2, 2}, {INT_MAX, INT_MAX, INT_MAX, INT_MAX}, {0, 0, 64, 64}};
    const std::pair<const char*, int> targets[] = {{"", 0},         {"+junk", 0}, {"+proj=utm +zone=33", -1},
                                                   {"+proj=utm +zone=33", 5}, {"99999999", 4}, {"junk", 1},
                                                   {"junk", 2},     {"junk", 3},  {"4326", INT_MIN}};
    const std::string places[] = {"", kDir.Path(), kDir.File("out.xyz"), kDir.File("cancelled.tif")};
    // What is made must take writes and serve cleanly (Run serves every state after the call).
    Run({{"create", std::size(creations),
          [&creations](P& p, size_t i, bool) {
              const auto& [path, width, height, pixel, bands, type, jpeg, expected] = creations[i];
              const bool made = p.CreateRasterFile(path.c_str(), width, height, pixel, 10, 50, bands, type, jpeg);
              std::vector<float> samples(16, 1.5f);
              return (expected < 0 || made == (expected == 1)) && p.WriteRasterFile(0, 0, 4, 4, samples.data()) == made;
          }},
         {"write beyond the raster, or without samples", std::size(writes),
          [&writes](P& p, size_t i, bool) {
              const int* w = writes[i];
              std::vector<float> samples(64 * 64, -3.9f);
              p.WriteRasterFile(w[0], w[1], w[2], w[3], samples.data()); // read-only or too small: refused
              return !p.WriteRasterFile(w[0], w[1], w[2], w[3], nullptr);
          }},
         {"reproject to a bad definition", std::size(targets),
          [&targets](P& p, size_t i, bool) {
              const auto& [definition, kind] = targets[i];
              return !p.ReprojectImage(kDir.File("out.tif").c_str(), definition, kind, nullptr, nullptr);
          }},
         {"reproject into a bad place, or cancelled", std::size(places), [&places](P& p, size_t i, bool) {
              return !p.ReprojectImage(places[i].c_str(), "4326", 4, Cancel, nullptr);
          }}});
}

TEST_F(BadInputTest, CoordinateConversions)
{
    const double values[] = {kNaN, kInf, -kInf, 1e308, -1e308, 5e-324};
    // Without a transformation the answer is the input; with one, anything finite or not, but no crash.
    Run({{"points", std::size(values),
          [&values](P& p, size_t i, bool) {
              const double v = values[i];
              KRPoint3d out(1, 2, 3), point(v, 0, v);
              double x = 0, y = 0;
              p.SrcPtToWGS84Pt(KRPoint3d(v, v, v), out);
              p.WGS84PtToSrcPt(point, point);
              p.LatLonToProPnt(v, v, x, y);
              return p.GetProjType() == 2 || (Same(out.x, v) && Same(out.y, v) && Same(out.z, v) && Same(point.x, v) &&
                                              point.y == 0 && Same(point.z, v) && Same(x, v) && Same(y, v));
          }},
         {"bounds", kRects, [](P& p, size_t i, bool) {
              const KRRect2d& in = kBadRects[i];
              KRRect2d out(1, 2, 3, 4);
              p.LatLonToProBounds(in, out);
              return p.GetProjType() == 2 || (Same(out.left, in.left) && Same(out.top, in.top) &&
                                              Same(out.right, in.right) && Same(out.bottom, in.bottom));
          }}});
}

TEST_F(BadInputTest, ProjectionImportsAndExports)
{
    const std::string huge(1 << 20, 'A'), nested = std::string(20000, '[') + std::string(20000, ']');
    const std::string junk = Junk(4096, 1);
    WriteText(kDir.File("junk.prj"), junk);
    WriteText(kDir.File("empty.prj"), "");
    // Null, empty, junk, 1 MiB of one letter, deep brackets, cut-off WKT, then texts PROJ takes but cannot
    // carry far: zone 999, a zero-size Earth, Mercator true at the pole, a satellite at the Earth's centre.
    const char* texts[] = {nullptr, "", junk.c_str(), huge.c_str(), nested.c_str(),
                           "PROJCS[\"x\",GEOGCS[\"y\",DATUM[\"z\",SPHEROID[\"s\",6378137,0",
                           "+proj=utm +zone=999 +datum=WGS84", "+proj=longlat +a=0 +b=0",
                           "+proj=merc +lat_ts=90 +datum=WGS84", "+proj=geos +h=0 +lon_0=0 +datum=WGS84"};
    bool (P::*const imports[])(const char*) = {&P::ImportProjectionRefFromWkt, &P::ImportProjectionRefFromProj4,
                                               &P::ImportProjectionRefFromESRI};
    const std::string files[] = {"", kDir.Path(), kDir.File("absent.prj"), kDir.File("junk.prj"),
                                 kDir.File("empty.prj"), std::string(5000, 'x')};
    const std::string places[] = {"", kDir.Path(), kDir.File("no/such/folder/x.prj")};
    Run({{"import WKT, Proj4 or ESRI", std::size(texts) * std::size(imports),
          [&](P& p, size_t i, bool) {
              // A failed import reclassifies the source from its bounds; only the serving afterwards must be clean.
              const char* text = texts[i / std::size(imports)];
              (p.*imports[i % std::size(imports)])(text);
              return text == nullptr || !p.Proj4ToEsriPrjFile(text, ""); // nowhere to write
          }},
         {"read a .prj or a data file", std::size(files),
          [&files](P& p, size_t i, bool) {
              const KRString path(files[i].c_str());
              const bool none = p.EsriPrjFileToProj4(path).IsEmpty() && p.ExportToProj4FromDataFile(path).IsEmpty() &&
                                p.ExportToEsriPrjFromDataFile(path).IsEmpty() &&
                                !p.ExportToEsriPrjFileFromDataFile(path, KRString(""));
              p.LoadProjectionFromESRIFile(path); // either answer; the serving afterwards must be clean
              return none;
          }},
         {"write a .prj into a bad place", std::size(places),
          [&places](P& p, size_t i, bool) {
              const KRString path(places[i].c_str());
              return !p.ExportProjToEsriPrjFile(path) && !p.Proj4ToEsriPrjFile("+proj=longlat", path);
          }},
         {"export", 1, [](P& p, size_t, bool holdsRaster) {
              const bool gdal = holdsRaster && std::string(p.GetFileName().Cstr()).find(".tif") != std::string::npos;
              return p.GetProjectionRef().IsEmpty() != gdal;
          }}});
}

TEST_F(BadInputTest, OpeningAndDescription)
{
    const std::string folder = kDir.Path();
    const std::string paths[] = {"", folder, folder + "/", ".dem", folder + "/.dem", std::string(10000, 'a') + ".tif",
                                 "/dev/null", kDir.File("absent.dem")};
    const float filters[] = {kNaNf, std::numeric_limits<float>::infinity(), -1e30f};
    Run({{"open", std::size(paths),
          [&paths](P& p, size_t i, bool) { return !p.OpenForRead(paths[i].c_str()) && ServeEverything(p) == 0; }},
         {"nodata queries", 1,
          [](P& p, size_t, bool holdsRaster) {
              bool hasNoData = true;
              const double value = p.GetNoDataValue(hasNoData);
              if (p.GetRasterDataFormat() == RDF_None) // no current band
                  return !hasNoData && value == -9999.0 && p.GetNoValue() == 0.0;
              return holdsRaster && value == p.GetNoValue();
          }},
         {"filter colour", std::size(filters),
          [&filters](P& p, size_t i, bool) {
              const float v = filters[i];
              p.SetFilterColor(KRColor3(v, v, v, v));
              p.SetFilterColorTolerance(v);
              p.SetFilterColorUsed(true);
              return p.IsFilterColorUsed() && !std::isnan(p.GetFilterColor().r); // truncation saturates
          }},
         {"closed twice, released", 1, [](P& p, size_t, bool) {
              p.Close();
              p.Release();
              p.Close();
              return ServeEverything(p) == 0;
          }}});
}

// Bad files open as false or serve cleanly. The NSDTF-DEM files that announce more
// values than they hold must not make the module allocate for the announced count.
TEST_F(BadInputTest, BadFiles)
{
    const TempDir dir;
    const std::string header = "NSDTF-DEM 1.0 D 0 0 10 50 0.5 0.5 ";
    struct BadFile {
        std::string name;
        std::string text;
        int delivers; //!< -1: either; 0: nothing; 1: some grid
    };
    std::vector<BadFile> files = {
        {"empty.tif", "", 0},           {"empty.dem", "", 0},           {"magic.dem", "NSDTF-DEM", 0},
        {"junk.tif", Junk(4096, 2), 0}, {"junk.dem", Junk(4096, 3), 0},
        {"junk-after-magic.dem", "NSDTF-DEM" + Junk(4096, 4), 0},
        {"billions.dem", header + "100000 100000 1\n1 2 3\n", 0},
        {"a-third.dem", header + "3 3 1\n1 2 3\n", 0},
        {"one-short.dem", header + "3 3 1\n1 2 3 4 5 6 7 8\n", 1},
        {"words.dem", header + "3 3 1\none two three four five six seven eight nine\n", 1},
        {"nan.dem", header + "3 3 1\nnan inf -inf 1e999 -1e999 nan 0 0 0\n", 1},
        {"huge-divisor.dem", header + "3 3 1e308\n1 2 3 4 5 6 7 8 9\n", 1},
        {"zero-divisor.dem", header + "3 3 0\n1 2 3 4 5 6 7 8 9\n", 1},
        {"zero-spacing.dem", "NSDTF-DEM 1.0 D 0 0 10 50 0 0 3 3 1\n1 2 3 4 5 6 7 8 9\n", -1},
        {"huge-spacing.dem", "NSDTF-DEM 1.0 D 0 0 10 50 1e308 1e308 3 3 1\n1 2 3 4 5 6 7 8 9\n", 0},
        {"bandless.vrt", "<VRTDataset rasterXSize=\"10\" rasterYSize=\"10\"></VRTDataset>", 0},
        {"int-max.vrt",
         "<VRTDataset rasterXSize=\"2147483647\" rasterYSize=\"2147483647\"><GeoTransform>-180, 1.6e-7, 0, 90, 0, "
         "-8.4e-8</GeoTransform><VRTRasterBand dataType=\"Float32\" band=\"1\"/></VRTDataset>",
         1},
        {"missing-source.vrt",
         "<VRTDataset rasterXSize=\"10\" rasterYSize=\"10\"><GeoTransform>10, 0.1, 0, 50, 0, -0.1</GeoTransform>"
         "<VRTRasterBand dataType=\"Byte\" band=\"1\"><SimpleSource><SourceFilename>absent.tif</SourceFilename>"
         "<SourceBand>1</SourceBand></SimpleSource></VRTRasterBand></VRTDataset>",
         -1},
    };
    for (const BadFile& file : files)
        WriteText(dir.File(file.name), file.text); // the ones added below write their own

    // GeoTIFFs: cut short at two places, one pixel, bounds of zero width; BMPs placed by junk world files.
    RasterLayout tiff{64, 64, 1, GDT_Float32, {10, 0.01, 0, 50, 0, -0.01}, WktOfEpsg(4326), {},
                      [](int, int c, int r) { return c * r; }};
    ASSERT_TRUE(WriteRaster(dir.File("whole.tif"), tiff));
    const std::string whole = ReadText(dir.File("whole.tif"));
    for (size_t keep : {whole.size() / 2, size_t(300)}) {
        files.push_back({"cut" + std::to_string(keep) + ".tif", "", -1});
        WriteText(dir.File(files.back().name), whole.substr(0, keep));
    }
    tiff.width = tiff.height = 1;
    files.push_back({"one-pixel.tif", "", 1});
    ASSERT_TRUE(WriteRaster(dir.File(files.back().name), tiff));
    tiff.width = tiff.height = 8;
    tiff.geoTransform = {10, 0, 0, 50, 0, -0.01};
    files.push_back({"zero-width.tif", "", -1});
    ASSERT_TRUE(WriteRaster(dir.File(files.back().name), tiff));
    tiff.geoTransform.clear();
    tiff.wkt.clear();
    tiff.type = GDT_Byte;
    const std::pair<const char*, std::string> worlds[] = {
        {"junk-world", Junk(512, 5)}, {"nan-world", "nan\nnan\nnan\nnan\nnan\nnan\n"},
        {"inf-world", "inf\n0\n0\n-inf\n1e308\n-1e308\n"}, {"huge-world", "1e308\n0\n0\n-1e308\n-1e308\n1e308\n"}};
    for (const auto& [stem, text] : worlds) {
        files.push_back({std::string(stem) + ".bmp", "", -1});
        ASSERT_TRUE(WriteRaster(dir.File(files.back().name), tiff, "BMP"));
        WriteText(dir.File(std::string(stem) + ".tfw"), text);
        WriteText(dir.File(std::string(stem) + ".prj"), Junk(300, 6));
    }
    files.push_back({"folder.dem", "", 0});
    std::filesystem::create_directory(dir.File("folder.dem"));
    // An 8 GiB sparse file whose header announces 1.6 billion values and holds none: big enough to pass the
    // header's size test, so only counting the values read can keep the fetch from allocating 6.4 GB.
    files.push_back({"sparse.dem", "", 0});
    WriteText(dir.File("sparse.dem"), header + "40000 40000 1\n");
    std::filesystem::resize_file(dir.File("sparse.dem"), 8ull << 30);

    for (const BadFile& file : files) {
        SCOPED_TRACE(file.name);
        KRGORasterAccessorPlugin p;
        const bool opened = p.OpenForRead(dir.File(file.name).c_str());
        const int delivered = ServeEverything(p);
        EXPECT_TRUE(opened || delivered == 0);
        EXPECT_TRUE(file.delivers < 0 || (delivered > 0) == (file.delivers == 1)) << delivered;
    }
    std::printf("%zu bad files tried\n", files.size());
}

} // namespace
