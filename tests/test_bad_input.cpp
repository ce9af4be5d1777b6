// Bad input: every operation in every state of the object with bad arguments,
// and files that are empty, cut short, junk or absurd. Nothing may crash,
// overrun or leak; each answer is the failure value of its kind or clean.
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "KRHostSession.h"
#include "KRTestSupport.h"

using namespace KRC;
using namespace krtest;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

//! Where the object stands when a bad call arrives, and whether it then holds a raster.
struct State {
    const char* name;
    bool holdsRaster;
    std::function<void(KRRasterDataAccessor&, const TempDir&)> enter;
};

//! One operation with one bad argument; true when the answer is acceptable.
struct BadCall {
    std::string name;
    std::function<bool(KRRasterDataAccessor&, bool holdsRaster)> ok;
};

std::string Junk(size_t bytes, unsigned seed)
{
    std::mt19937 random(seed);
    std::string text(bytes, '\0');
    for (char& c : text)
        c = static_cast<char>(random());
    return text;
}

bool IsGeoTiff(KRRasterDataAccessor& p)
{
    return std::string(p.GetFileName().Cstr()).find(".tif") != std::string::npos;
}

bool Same(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

bool SameRect(const KRRect2d& a, const KRRect2d& b)
{
    return Same(a.left, b.left) && Same(a.top, b.top) && Same(a.right, b.right) && Same(a.bottom, b.bottom);
}

const std::vector<std::pair<const char*, KRRect2d>> kBadRects = {
    {"NaN", KRRect2d(kNaN, kNaN, kNaN, kNaN)},
    {"one NaN side", KRRect2d(10, kNaN, 12, 48)},
    {"infinite", KRRect2d(-kInf, kInf, kInf, -kInf)},
    {"zero area", KRRect2d(11, 49, 11, 49)},
    {"left > right", KRRect2d(12, 50, 10, 48)},
    {"top < bottom", KRRect2d(10, 48, 12, 50)},
    {"far larger than the world", KRRect2d(-1e300, 1e300, 1e300, -1e300)},
    {"smaller than a double step", KRRect2d(11, 49 + 1e-14, 11 + 1e-14, 49)},
};

//! Column, row and level of tiles: negative, beyond level 30, at the ints' limits.
const int kBadTiles[][3] = {{-1, 0, 0},  {0, -1, 0},   {0, 0, -1},       {-5, -5, -5},
                            {0, 0, 31},  {0, 0, 64},   {0, 0, 1100},     {INT_MAX, INT_MAX, INT_MAX},
                            {INT_MIN, INT_MIN, INT_MIN}, {INT_MAX, 0, 30}, {1 << 20, 1 << 19, 20}};

class BadInputTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        GDALAllRegister();
        s_dir = new TempDir();
        RasterLayout geo{16, 16, 1, GDT_Float32, {10, 0.125, 0, 50, 0, -0.125}, WktOfEpsg(4326), {-1.0},
                         [](int, int c, int r) { return c + 10.0 * r; }};
        ASSERT_TRUE(WriteRaster(s_dir->File("geo.tif"), geo));
        RasterLayout utm = geo; // three 16-bit bands: the stretched colour path
        utm.bands = 3;
        utm.type = GDT_UInt16;
        utm.noData = {7, 7, 7};
        utm.geoTransform = {500000, 1000, 0, 4500000, 0, -1000};
        utm.wkt = WktOfEpsg(32633);
        ASSERT_TRUE(WriteRaster(s_dir->File("utm.tif"), utm));
        WriteText(s_dir->File("geo.dem"), "NSDTF-DEM 1.0 D 0 0 10 50 0.5 0.5 3 3 1\n1 2 3\n4 5 6\n7 8 9\n");
        WriteText(s_dir->File("bandless.vrt"), "<VRTDataset rasterXSize=\"10\" rasterYSize=\"10\"></VRTDataset>");
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
    }

    static std::vector<State> States()
    {
        const auto open = [](const char* name) {
            return [name](KRRasterDataAccessor& p, const TempDir& dir) { p.OpenForRead(dir.File(name).c_str()); };
        };
        return {
            {"never opened", false, [](KRRasterDataAccessor&, const TempDir&) {}},
            {"closed", false,
             [](KRRasterDataAccessor& p, const TempDir& dir) {
                 p.OpenForRead(dir.File("utm.tif").c_str());
                 p.Close();
             }},
            {"failed open", false, open("absent.tif")},
            // The second open fails after GDAL opened the file: a dataset without a band stays open.
            {"bandless after a raster", false,
             [](KRRasterDataAccessor& p, const TempDir& dir) {
                 p.OpenForRead(dir.File("utm.tif").c_str());
                 p.OpenForRead(dir.File("bandless.vrt").c_str());
             }},
            {"geographic", true, open("geo.tif")},
            // A band that does not exist leaves no current band while the dataset stays open.
            {"no current band", true,
             [](KRRasterDataAccessor& p, const TempDir& dir) {
                 p.OpenForRead(dir.File("geo.tif").c_str());
                 p.BeginRead(99);
             }},
            // A smaller raster created in place of an open one, whose description the object keeps.
            {"writer", true,
             [](KRRasterDataAccessor& p, const TempDir& dir) {
                 p.OpenForRead(dir.File("geo.tif").c_str());
                 p.CreateRasterFile(dir.File("writer.tif").c_str(), 8, 8, 0.25, 10, 50, 1, GDT_Float32, false);
             }},
            {"projected", true, open("utm.tif")},
            {"NSDTF-DEM", true, open("geo.dem")},
        };
    }

    //! Every call in every state, each on a fresh object; the state must then still serve cleanly.
    static void Run(const std::vector<BadCall>& calls)
    {
        int tried = 0;
        for (const State& state : States()) {
            for (const BadCall& call : calls) {
                SCOPED_TRACE(std::string(state.name) + ": " + call.name);
                KRGORasterAccessorPlugin p;
                state.enter(p, *s_dir);
                EXPECT_TRUE(call.ok(p, state.holdsRaster));
                const int delivered = ServeEverything(p, false); // image tiles have their own rows
                EXPECT_TRUE(delivered == 0 || p.IsValid());
                ++tried;
            }
        }
        std::printf("%zu operations x bad arguments in %zu states: %d calls\n", calls.size(), States().size(), tried);
    }

    static TempDir* s_dir;
};

TempDir* BadInputTest::s_dir = nullptr;

TEST_F(BadInputTest, TerrainFetches)
{
    std::vector<BadCall> calls;
    calls.push_back({"rectangle into a null grid", [](KRRasterDataAccessor& p, bool) {
                         return p.FetchTerrainData(nullptr, KRRect2d(10, 50, 12, 48), false) == GetchResult_None;
                     }});
    struct GridKind {
        const char* name;
        int width, height;
        bool allocate;
    };
    const GridKind grids[] = {{"unallocated 33 x 33", 33, 33, false}, {"0 x 0", 0, 0, false}, {"1 x 1", 1, 1, true},
                              {"1 x 33", 1, 33, true},                {"33 x 1", 33, 1, true}, {"33 x 33", 33, 33, true}};
    for (const GridKind& kind : grids) {
        for (const auto& [rectName, rect] : kBadRects) {
            calls.push_back({std::string(kind.name) + " grid, rectangle " + rectName,
                             [kind, rect = rect](KRRasterDataAccessor& p, bool holdsRaster) {
                                 auto grid = kind.allocate ? FilledGrid(kind.width, kind.height, 7.0)
                                                           : std::make_unique<KRTerrainData>(KRTerrainData::Structure());
                                 grid->SetWidth(kind.width);
                                 grid->SetHeight(kind.height);
                                 const GetchResult result = p.FetchTerrainData(grid.get(), rect, true);
                                 ExpectCleanGrid(result, *grid, 7.0);
                                 const bool nothing = !holdsRaster || !kind.allocate || std::isnan(rect.top);
                                 return !nothing || result == GetchResult_None;
                             }});
        }
    }
    for (const auto& t : kBadTiles) {
        calls.push_back({"tile " + std::to_string(t[0]) + ", " + std::to_string(t[1]) + ", level " + std::to_string(t[2]),
                         [t](KRRasterDataAccessor& p, bool holdsRaster) {
                             KRTerrainData* tile = reinterpret_cast<KRTerrainData*>(&p); // must be replaced
                             const GetchResult result = p.FetchTerrainData(tile, t[0], t[1], t[2]);
                             std::unique_ptr<KRTerrainData> owned(tile);
                             if (owned)
                                 ExpectCleanGrid(GetchResult_Delivered, *owned, 0);
                             return (result == GetchResult_Delivered) == (owned != nullptr) &&
                                    (holdsRaster || result == GetchResult_None);
                         }});
    }
    Run(calls);
}

//! A rectangle image fetch, the full one or the quick one.
using ImageFetch = std::function<GetchResult(KRRasterDataAccessor&, KRImageData*, KRImageData*&, const KRRect2d&,
                                             int*, bool)>;

//! Bad images, rectangles and band maps for a rectangle image fetch.
void AddImageRows(std::vector<BadCall>& calls, const std::string& prefix, const ImageFetch& fetch)
{
    struct ImageKind {
        const char* name;
        int width, height;
        enumPixelFormat format;
        bool allocate;
        int widthAfter; //!< the public width once allocated (a host that changed it)
    };
    const ImageKind images[] = {
        {"unallocated 256 x 256", 256, 256, PF_R8G8B8, false, 256}, {"0 x 0", 0, 0, PF_R8G8B8, false, 0},
        {"1 x 1 RGB", 1, 1, PF_R8G8B8, true, 1},                     {"1 x 256 RGBA", 1, 256, PF_A8R8G8B8, true, 1},
        {"256 x 1 16-bit", 256, 1, PF_R5G6B5, true, 256},            {"64 x 64 grey", 64, 64, PF_L8, true, 64},
        {"64 x 64 unknown format", 64, 64, PF_Unknown, false, 64},   {"widened after allocation", 8, 8, PF_R8G8B8, true, 4096},
    };
    calls.push_back({prefix + "rectangle into a null image", [fetch](KRRasterDataAccessor& p, bool) {
                         KRImageData* replacement = nullptr;
                         return fetch(p, nullptr, replacement, KRRect2d(10, 50, 12, 48), nullptr, false) ==
                                    GetchResult_None &&
                                replacement == nullptr;
                     }});
    for (const ImageKind& kind : images) {
        for (const auto& [rectName, rect] : kBadRects) {
            calls.push_back({prefix + kind.name + " image, rectangle " + rectName,
                             [fetch, kind, rect = rect](KRRasterDataAccessor& p, bool holdsRaster) {
                                 auto image = std::make_unique<KRImageData>();
                                 image->m_nWidth = kind.width;
                                 image->m_nHeight = kind.height;
                                 image->SetPixelFormat(kind.format);
                                 if (kind.allocate && !image->CreateData())
                                     return false;
                                 image->m_nWidth = kind.widthAfter;
                                 KRImageData* replacement = nullptr;
                                 const GetchResult result = fetch(p, image.get(), replacement, rect, nullptr, true);
                                 // Pixels the caller's image cannot take may still come in a replacement.
                                 const bool replaced = ExpectCleanImageFetch(result, *image, replacement) != nullptr;
                                 const bool nothing = !holdsRaster || std::isnan(rect.top) ||
                                                      (!replaced && (kind.widthAfter != kind.width ||
                                                                     image->m_pData == nullptr));
                                 return !nothing || result == GetchResult_None;
                             }});
        }
    }
    const std::vector<int> bandMaps[] = {{0, 1, 2, 3}, {99, -1, 1000, INT_MIN}, {3, 3, 3, 3}, {-4, 4, 7, 8}};
    for (const auto& map : bandMaps) {
        calls.push_back({prefix + "band map " + std::to_string(map[0]) + ", " + std::to_string(map[1]) + ", ...",
                         [fetch, map](KRRasterDataAccessor& p, bool) {
                             std::vector<int> order = map;
                             for (enumPixelFormat format : {PF_A8R8G8B8, PF_R8G8B8, PF_R5G6B5}) {
                                 auto image = MakeImage(32, 32, format);
                                 KRImageData* replacement = nullptr;
                                 const GetchResult result =
                                     fetch(p, image.get(), replacement, KRRect2d(9, 51, 13, 47), order.data(), false);
                                 ExpectCleanImageFetch(result, *image, replacement);
                             }
                             return order == map; // read, never written
                         }});
    }
}

TEST_F(BadInputTest, ImageFetches)
{
    std::vector<BadCall> calls;
    AddImageRows(calls, "", [](KRRasterDataAccessor& p, KRImageData* image, KRImageData*& replacement,
                               const KRRect2d& rect, int* map, bool flip) {
        return p.FetchImageData(image, replacement, rect, map, flip);
    });
    for (const auto& t : kBadTiles) {
        calls.push_back({"image tile " + std::to_string(t[0]) + ", " + std::to_string(t[1]) + ", level " +
                             std::to_string(t[2]),
                         [t](KRRasterDataAccessor& p, bool holdsRaster) {
                             auto tile = FetchImageTile(p, t[0], t[1], t[2]);
                             return holdsRaster || tile == nullptr;
                         }});
    }
    for (double v : {kNaN, kInf, -kInf, 1e300, -1e300}) {
        calls.push_back({"colour of " + std::to_string(v), [v](KRRasterDataAccessor& p, bool) {
                             p.CheckInitColorInfo();
                             p.GetColorFromTable(v);
                             return true;
                         }});
        for (int band : {-1, 4, INT_MAX, INT_MIN}) {
            calls.push_back({"stretch of " + std::to_string(v) + " in band " + std::to_string(band),
                             [v, band](KRRasterDataAccessor& p, bool) {
                                 for (float gamma : {1.0f, 0.0f, -2.0f, std::numeric_limits<float>::quiet_NaN()}) {
                                     p.SetStetchType(2);
                                     p.SetStretchGama(gamma);
                                     const double stretched = p.GetStretchValue(v, band);
                                     if (!(Same(stretched, v) || std::isfinite(stretched)))
                                         return false;
                                 }
                                 return true;
                             }});
        }
    }
    Run(calls);
}

TEST_F(BadInputTest, QuickImageFetches)
{
    std::vector<BadCall> calls;
    AddImageRows(calls, "quick: ", [](KRRasterDataAccessor& p, KRImageData* image, KRImageData*& replacement,
                                      const KRRect2d& rect, int* map, bool flip) {
        return p.QucikFetchImageData(image, replacement, rect, map, flip);
    });
    Run(calls);
}

//! Inclusive row and column ranges (first row, last row, first column, last column) in and beyond a 16 x 16 raster.
const int kBadRanges[][4] = {{0, 0, 0, 0},   {0, 15, 0, 15},  {5, 2, 0, 0},         {-1, 0, 0, 0},
                             {0, 0, -5, 3},  {0, 16, 0, 15},  {0, 15, 0, 16},       {INT_MIN, INT_MAX, INT_MIN, INT_MAX},
                             {0, INT_MAX, 0, 0}, {INT_MAX, INT_MAX, 0, 0}};

std::string RangeName(const int* range)
{
    return std::to_string(range[0]) + ".." + std::to_string(range[1]) + " x " + std::to_string(range[2]) + ".." +
           std::to_string(range[3]);
}

TEST_F(BadInputTest, DirectReads)
{
    std::vector<BadCall> calls;
    for (int band : {0, -1, 4, 99, INT_MAX, INT_MIN})
        calls.push_back({"begin reading band " + std::to_string(band),
                         [band](KRRasterDataAccessor& p, bool) { return !p.BeginRead(band); }});
    for (const std::size_t bytes : {std::size_t(0), std::size_t(1), std::size_t(63), std::size_t(1) << 16}) {
        for (int row : {-1, 0, 16, INT_MAX, INT_MIN}) {
            calls.push_back({"scanline of " + std::to_string(bytes) + " bytes, row " + std::to_string(row),
                             [bytes, row](KRRasterDataAccessor& p, bool) {
                                 KRRasterScanline line(bytes);
                                 const bool read = p.ReadScanline(line, row, 0);
                                 return !read || (bytes >= 32 && row == 0); // 16 samples of 2 or 4 bytes fit in 64
                             }});
        }
    }
    struct Block {
        int width, height, bands;
        enumRasterDataFromat format;
    };
    const Block blocks[] = {{1, 1, 1, RDF_Float32},  {16, 16, 1, RDF_Float32}, {16, 16, 3, RDF_UInt16}, {0, 0, 1, RDF_UInt8},
                            {16, 16, 9, RDF_UInt16}, {4, 4, 1, RDF_UInt8},     {16, 16, 1, RDF_Float64}};
    for (const auto& range : kBadRanges) {
        for (const Block& block : blocks) {
            calls.push_back({"pixels " + RangeName(range) + " into " + std::to_string(block.width) + " x " +
                                 std::to_string(block.height) + " x " + std::to_string(block.bands),
                             [range, block](KRRasterDataAccessor& p, bool holdsRaster) {
                                 KRPixelDataMultiBand pixels(block.width, block.height, block.bands, block.format,
                                                             false, 0, 0);
                                 return !p.ReadPixels(pixels, range[0], range[1], range[2], range[3], true) ||
                                        holdsRaster;
                             }});
        }
        calls.push_back({"colours " + RangeName(range), [range](KRRasterDataAccessor& p, bool holdsRaster) {
                             for (bool flip : {false, true}) {
                                 std::unique_ptr<KRPixelDataMultiBand> colors(
                                     p.ReadColors(range[0], range[1], range[2], range[3], flip));
                                 if (colors != nullptr &&
                                     (!holdsRaster || colors->GetWidth() != range[3] - range[2] + 1 ||
                                      colors->GetHeight() != range[1] - range[0] + 1 || colors->GetData() == nullptr))
                                     return false;
                             }
                             return true;
                         }});
    }
    Run(calls);
}

int Cancel(double, const char*, void*)
{
    return FALSE;
}

TEST_F(BadInputTest, RasterOutput)
{
    std::vector<BadCall> calls;
    const std::string folder = s_dir->Path(), nested = s_dir->File("made/for/output.tif");
    struct Creation {
        const char* name;
        std::string path;
        int width, height;
        double pixel;
        int bands, type;
        bool compress;
        int made; //!< -1: either
    };
    const Creation creations[] = {
        {"empty path", "", 4, 4, 0.1, 1, GDT_Int16, false, 0},
        {"a folder", folder, 4, 4, 0.1, 1, GDT_Int16, false, 0},
        {"0 x 0", s_dir->File("empty.tif"), 0, 0, 0.1, 1, GDT_Int16, false, 0},
        {"negative size", s_dir->File("negative.tif"), -5, 10, 0.1, 1, GDT_Int16, false, 0},
        {"negative band count", s_dir->File("bandless.tif"), 4, 4, 0.1, -1, GDT_Int16, false, 0},
        {"unknown type", s_dir->File("typeless.tif"), 4, 4, 0.1, 1, 99, false, 0},
        {"type 0", s_dir->File("type0.tif"), 4, 4, 0.1, 1, GDT_Unknown, false, 0},
        {"JPEG of floats", s_dir->File("jpeg.tif"), 4, 4, 0.1, 1, GDT_Float32, true, -1},
        {"NaN pixel size", s_dir->File("nan.tif"), 4, 4, kNaN, 1, GDT_Float32, false, 1},
        {"nested folders", nested, 4, 4, 0.1, 2, GDT_Float32, false, 1},
    };
    for (const Creation& c : creations) {
        // What is made must take writes and serve cleanly (Run serves every state after the call).
        calls.push_back({std::string("create, ") + c.name, [c](KRRasterDataAccessor& p, bool) {
                             const bool made = p.CreateRasterFile(c.path.c_str(), c.width, c.height, c.pixel, 10, 50,
                                                                  c.bands, c.type, c.compress);
                             std::vector<float> samples(16, 1.5f);
                             return (c.made < 0 || made == (c.made == 1)) &&
                                    p.WriteRasterFile(0, 0, 4, 4, samples.data()) == made;
                         }});
    }
    std::vector<float> samples(64 * 64, -3.9f);
    const int writes[][4] = {{-1, 0, 2, 2}, {0, -1, 2, 2}, {0, 0, 0, 0}, {0, 0, 17, 1}, {15, 15, 2, 2},
                             {INT_MAX, INT_MAX, INT_MAX, INT_MAX}, {0, 0, 64, 64}};
    for (const auto& w : writes) {
        calls.push_back({"write " + RangeName(w), [w, samples](KRRasterDataAccessor& p, bool) {
                             std::vector<float> copy = samples;
                             p.WriteRasterFile(w[0], w[1], w[2], w[3], copy.data()); // read-only or too small: refused
                             return !p.WriteRasterFile(w[0], w[1], w[2], w[3], nullptr);
                         }});
    }
    const std::pair<std::string, int> targets[] = {{"", 0},      {"+junk", 0},          {"+proj=utm +zone=33", -1},
                                                   {"+proj=utm +zone=33", 5}, {"99999999", 4}, {"junk", 1},
                                                   {"junk", 2},  {"junk", 3},          {"4326", INT_MIN}};
    for (const auto& [text, kind] : targets) {
        calls.push_back({"reproject to '" + text + "' of kind " + std::to_string(kind),
                         [text = text, kind = kind](KRRasterDataAccessor& p, bool) {
                             return !p.ReprojectImage(s_dir->File("out.tif").c_str(), text.c_str(), kind, nullptr,
                                                      nullptr);
                         }});
    }
    for (const std::string& target : {std::string(), folder, s_dir->File("out.xyz"), s_dir->File("cancelled.tif")}) {
        calls.push_back({"reproject into '" + target + "'", [target](KRRasterDataAccessor& p, bool) {
                             const bool done = p.ReprojectImage(target.c_str(), "4326", 4, Cancel, nullptr);
                             return !done;
                         }});
    }
    Run(calls);
}

TEST_F(BadInputTest, CoordinateConversions)
{
    std::vector<BadCall> calls;
    const double values[] = {kNaN, kInf, -kInf, 1e308, -1e308, 5e-324};
    for (double v : values) {
        const std::string name = std::to_string(v);
        // Without a transformation the answer is the input; with one, anything finite or not, but no crash.
        calls.push_back({"source point " + name, [v](KRRasterDataAccessor& p, bool) {
                             KRPoint3d out(1, 2, 3);
                             p.SrcPtToWGS84Pt(KRPoint3d(v, v, v), out);
                             return p.GetProjType() == 2 || (Same(out.x, v) && Same(out.y, v) && Same(out.z, v));
                         }});
        calls.push_back({"WGS84 point " + name, [v](KRRasterDataAccessor& p, bool) {
                             KRPoint3d point(v, 0, v);
                             p.WGS84PtToSrcPt(point, point);
                             return p.GetProjType() == 2 || (Same(point.x, v) && point.y == 0 && Same(point.z, v));
                         }});
        calls.push_back({"longitude/latitude " + name, [v](KRRasterDataAccessor& p, bool) {
                             double x = 0, y = 0;
                             p.LatLonToProPnt(v, v, x, y);
                             return p.GetProjType() == 2 || (Same(x, v) && Same(y, v));
                         }});
    }
    for (const auto& [rectName, rect] : kBadRects) {
        calls.push_back({std::string("bounds ") + rectName, [rect = rect](KRRasterDataAccessor& p, bool) {
                             KRRect2d out(1, 2, 3, 4);
                             p.LatLonToProBounds(rect, out);
                             return p.GetProjType() == 2 || SameRect(out, rect);
                         }});
    }
    Run(calls);
}

TEST_F(BadInputTest, ProjectionImportsAndExports)
{
    const std::string huge(1 << 20, 'A');
    const std::string nested = std::string(20000, '[') + std::string(20000, ']');
    const std::string junk = Junk(4096, 1);
    const std::vector<std::pair<const char*, const char*>> texts = {
        {"null", nullptr},
        {"empty", ""},
        {"junk", junk.c_str()},
        {"1 MiB of one letter", huge.c_str()},
        {"deep brackets", nested.c_str()},
        {"cut-off WKT", "PROJCS[\"x\",GEOGCS[\"y\",DATUM[\"z\",SPHEROID[\"s\",6378137,0"},
        {"zone 999", "+proj=utm +zone=999 +datum=WGS84"},
        {"zero-size Earth", "+proj=longlat +a=0 +b=0"},
        {"Mercator true at the pole", "+proj=merc +lat_ts=90 +datum=WGS84"},
        {"satellite at the centre", "+proj=geos +h=0 +lon_0=0 +datum=WGS84"},
    };
    std::vector<BadCall> calls;
    for (const auto& [name, text] : texts) {
        // A failed import reclassifies the source from its bounds (true); only the serving afterwards must be clean.
        calls.push_back({std::string("WKT ") + name,
                         [text = text](KRRasterDataAccessor& p, bool) { return p.ImportProjectionRefFromWkt(text) || true; }});
        calls.push_back({std::string("Proj4 ") + name,
                         [text = text](KRRasterDataAccessor& p, bool) { return p.ImportProjectionRefFromProj4(text) || true; }});
        calls.push_back({std::string("ESRI ") + name,
                         [text = text](KRRasterDataAccessor& p, bool) { return p.ImportProjectionRefFromESRI(text) || true; }});
        if (text != nullptr)
            calls.push_back({std::string("Proj4 to a .prj at an empty path, ") + name,
                             [text = text](KRRasterDataAccessor& p, bool) { return !p.Proj4ToEsriPrjFile(text, ""); }});
    }
    WriteText(s_dir->File("junk.prj"), junk);
    WriteText(s_dir->File("empty.prj"), "");
    const std::string folder = s_dir->Path(), nowhere = s_dir->File("no/such/folder/x.prj");
    for (const std::string& path : {std::string(), folder, s_dir->File("absent.prj"), s_dir->File("junk.prj"),
                                    s_dir->File("empty.prj"), std::string(5000, 'x')}) {
        const KRString prj(path.c_str());
        calls.push_back({"load .prj " + path.substr(0, 80),
                         [prj](KRRasterDataAccessor& p, bool) { return p.LoadProjectionFromESRIFile(prj) || true; }});
        calls.push_back({".prj to Proj4 " + path.substr(0, 80),
                         [prj](KRRasterDataAccessor& p, bool) { return p.EsriPrjFileToProj4(prj).IsEmpty(); }});
        calls.push_back({"data file " + path.substr(0, 80), [prj](KRRasterDataAccessor& p, bool) {
                             return p.ExportToProj4FromDataFile(prj).IsEmpty() &&
                                    p.ExportToEsriPrjFromDataFile(prj).IsEmpty() &&
                                    !p.ExportToEsriPrjFileFromDataFile(prj, KRString(""));
                         }});
    }
    for (const std::string& target : {std::string(), folder, nowhere}) {
        const KRString prj(target.c_str());
        calls.push_back({"write .prj to " + target.substr(0, 80), [prj](KRRasterDataAccessor& p, bool) {
                             return !p.ExportProjToEsriPrjFile(prj) && !p.Proj4ToEsriPrjFile("+proj=longlat", prj);
                         }});
    }
    calls.push_back({"exports", [](KRRasterDataAccessor& p, bool holdsRaster) {
                         const bool gdal = holdsRaster && IsGeoTiff(p);
                         return p.GetProjectionRef().IsEmpty() != gdal;
                     }});
    Run(calls);
}

TEST_F(BadInputTest, OpeningAndDescription)
{
    std::vector<BadCall> calls;
    const std::string folder = s_dir->Path();
    for (const std::string& path : {std::string(), folder, folder + "/", std::string(".dem"), folder + "/.dem",
                                    std::string(10000, 'a') + ".tif", std::string("/dev/null"),
                                    s_dir->File("absent.dem")}) {
        calls.push_back({"open " + path.substr(0, 60), [path](KRRasterDataAccessor& p, bool) {
                             return !p.OpenForRead(path.c_str()) && ServeEverything(p) == 0;
                         }});
    }
    calls.push_back({"nodata queries", [](KRRasterDataAccessor& p, bool holdsRaster) {
                         bool hasNoData = true;
                         const double value = p.GetNoDataValue(hasNoData);
                         if (p.GetRasterDataFormat() == RDF_None) // no current band
                             return !hasNoData && value == -9999.0 && p.GetNoValue() == 0.0;
                         return holdsRaster && value == p.GetNoValue();
                     }});
    for (float v : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), -1e30f}) {
        calls.push_back({"filter colour " + std::to_string(v), [v](KRRasterDataAccessor& p, bool) {
                             p.SetFilterColor(KRColor3(v, v, v, v));
                             p.SetFilterColorTolerance(v);
                             p.SetFilterColorUsed(true);
                             const KRColor3 back = p.GetFilterColor(); // truncation saturates
                             return p.IsFilterColorUsed() && !std::isnan(back.r);
                         }});
    }
    calls.push_back({"closed twice, released", [](KRRasterDataAccessor& p, bool) {
                         p.Close();
                         p.Release();
                         p.Close();
                         return ServeEverything(p) == 0;
                     }});
    Run(calls);
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
        {"empty.tif", "", 0},
        {"empty.dem", "", 0},
        {"magic.dem", "NSDTF-DEM", 0},
        {"junk.tif", Junk(4096, 2), 0},
        {"junk.dem", Junk(4096, 3), 0},
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

    // GeoTIFFs: one pixel, bounds of zero width, cut short at two places; BMPs placed by junk world files.
    RasterLayout tiff{64, 64, 1, GDT_Float32, {10, 0.01, 0, 50, 0, -0.01}, WktOfEpsg(4326), {}, [](int, int c, int r) {
                          return c * r;
                      }};
    ASSERT_TRUE(WriteRaster(dir.File("whole.tif"), tiff));
    const std::string whole = ReadText(dir.File("whole.tif"));
    for (size_t keep : {whole.size() / 2, size_t(300)}) {
        files.push_back({"cut" + std::to_string(keep) + ".tif", "", -1});
        WriteText(dir.File(files.back().name), whole.substr(0, keep));
    }
    tiff.width = tiff.height = 1;
    ASSERT_TRUE(WriteRaster(dir.File("one-pixel.tif"), tiff));
    files.push_back({"one-pixel.tif", "", 1});
    tiff.width = tiff.height = 8;
    tiff.geoTransform = {10, 0, 0, 50, 0, -0.01};
    ASSERT_TRUE(WriteRaster(dir.File("zero-width.tif"), tiff));
    files.push_back({"zero-width.tif", "", -1});
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
    std::filesystem::create_directory(dir.File("folder.dem"));
    files.push_back({"folder.dem", "", 0});

    // An 8 GiB sparse file whose header announces 1.6 billion values and holds none: big enough to pass the
    // header's size test, so only counting the values read can keep the fetch from allocating 6.4 GB.
    WriteText(dir.File("sparse.dem"), header + "40000 40000 1\n");
    std::filesystem::resize_file(dir.File("sparse.dem"), 8ull << 30);
    files.push_back({"sparse.dem", "", 0});

    for (const BadFile& file : files) {
        const std::string path = dir.File(file.name);
        SCOPED_TRACE(path);
        KRGORasterAccessorPlugin p;
        const bool opened = p.OpenForRead(path.c_str());
        const int delivered = ServeEverything(p);
        EXPECT_TRUE(opened || delivered == 0);
        if (file.delivers >= 0) {
            EXPECT_EQ(delivered > 0, file.delivers == 1) << delivered;
        }
    }
    std::printf("%zu bad files tried\n", files.size());
}

} // namespace
