// Accurate mode (GORA_ACCURATE=YES at opening): neighbouring tiles agree where
// they meet at every level, GDAL's warper agrees where the raster is read at
// full resolution, and classes stay classes in tiles and reprojections.
#include <map>
#include <set>

#include <cpl_conv.h>
#include <gdal_utils.h>

#include "KRFetchTestSupport.h"

using namespace KRC;
using namespace krtest;

namespace {

//! Detail at every scale, so that every reduction changes the values.
double Bumpy(int band, double c, double r)
{
    return 128 + 90 * std::sin(c / 3 + band) * std::cos(r / 4) + 25 * std::sin(c * 1.7 + r * 2.3);
}

//! Classes 0 and 10 in squares of 3 pixels, nodata (255) in the south-west corner; palette entry k is
//! (20 k, 255 - 20 k, 7 k).
double Classes(int, double c, double r)
{
    return c < 6 && r < 6 ? 255 : (int(c / 3) + int(r / 3)) % 2 * 10;
}

// A raster of 120 pixels of 0.01 degree, or 100 of 250 m in UTM 33N; dem: an NSDTF-DEM grid in metres.
// Levels: from one where the raster spans a few terrain samples to one read at full resolution.
struct Source {
    const char* name;
    int epsg;
    bool dem;
    int coarse, fine;
} const kSources[] = {
    {"geographic GeoTIFF", 4326, false, 3, 10},
    {"UTM GeoTIFF", 32633, false, 4, 12},
    {"NSDTF-DEM in metres", 32633, true, 4, 12},
};

using TileKey = std::pair<int, int>;

//! The tiles of a level over a lon/lat rectangle.
std::vector<TileKey> TilesOver(const KRRect2d& rect, int level)
{
    const TileKey nw = TileAt(rect.left, rect.top, level), se = TileAt(rect.right, rect.bottom, level);
    std::vector<TileKey> keys;
    for (int x = nw.first; x <= se.first; ++x)
        for (int y = nw.second; y <= se.second; ++y)
            keys.push_back({x, y});
    return keys;
}

//! A tile's samples, band after band, row 0 south: terrain values, or an
//! image's bands 1 to 3 (bytes 2 to 0); empty when nothing is delivered.
using Samples = std::vector<double>;
Samples FetchSamples(KRRasterDataAccessor& p, const TileKey& key, int level, bool image)
{
    Samples values;
    if (const auto t = image ? nullptr : FetchTerrainTile(p, key.first, key.second, level))
        for (int i = 0; i < 33 * 33; ++i)
            values.push_back(t->GetValue(i / 33, i % 33));
    if (const auto t = image ? FetchImageTile(p, key.first, key.second, level) : nullptr)
        for (int i = 0; i < 3 * 256 * 256; ++i)
            values.push_back(PixelAt(*t, i % 256, i / 256 % 256)[2 - i / (256 * 256)]);
    return values;
}

//! Largest difference where neighbours meet: a tile's east column against the
//! next one's west column, its south row against the north row of the one below.
double LargestSeam(const std::map<TileKey, Samples>& tiles, int n)
{
    double largest = 0;
    for (const auto& [key, tile] : tiles) {
        const auto east = tiles.find({key.first + 1, key.second}), south = tiles.find({key.first, key.second + 1});
        for (size_t i = 0; i < tile.size(); i += n) { // the first sample of each row, then of each column
            const size_t k = i % (size_t(n) * n) / n, band = i / (size_t(n) * n) * n * n;
            if (east != tiles.end())
                largest = std::max(largest, std::fabs(tile[i + n - 1] - east->second[i]));
            if (south != tiles.end())
                largest = std::max(largest, std::fabs(tile[band + k] - south->second[band + (n - 1) * n + k]));
        }
    }
    return largest;
}

//! GDAL's warp (exact transformer) of `path` onto an n x n lattice whose outer samples lie on the edges of
//! `rect`, as a host tile's: band after band, north row first.
std::vector<double> WarpedLattice(const std::string& path, const KRRect2d& rect, int n, int bands,
                                  const char* resampling)
{
    GDALDatasetUniquePtr src(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER));
    GDALDatasetUniquePtr dst(
        GetGDALDriverManager()->GetDriverByName("MEM")->Create("", n, n, bands, GDT_Float64, nullptr));
    const double dx = rect.Width() / (n - 1), dy = rect.Height() / (n - 1);
    double gt[6] = {rect.left - dx / 2, dx, 0, rect.top + dy / 2, 0, -dy};
    dst->SetGeoTransform(gt);
    dst->SetProjection(WktOfEpsg(4326).c_str());
    CPLStringList args(CSLTokenizeString(CPLSPrintf("-r %s -et 0", resampling)));
    GDALWarpAppOptions* options = GDALWarpAppOptionsNew(args.List(), nullptr);
    GDALDatasetH source = src.get();
    GDALWarp(nullptr, dst.get(), 1, &source, options, nullptr);
    GDALWarpAppOptionsFree(options);
    std::vector<double> values(size_t(n) * n * bands);
    EXPECT_EQ(dst->RasterIO(GF_Read, 0, 0, n, n, values.data(), n, n, GDT_Float64, bands, nullptr, 0, 0, 0, nullptr),
              CE_None);
    return values;
}

class AccurateTest : public AccessorTest {
protected:
    //! Writes and opens a source of the table in accurate mode: one band of Bumpy with a nodata hole
    //! (terrain), or three bands of bytes (image).
    std::string Open(const Source& s, bool image)
    {
        m_g = PlaneRaster();
        m_g.epsg = s.epsg, m_g.bands = image ? 3 : 1, m_g.type = image ? GDT_Byte : GDT_Float32;
        const bool geo = s.epsg == 4326;
        m_g.size = geo ? 120 : 100, m_g.step = geo ? 0.01 : 250, m_g.west = geo ? 10 : 500000;
        m_g.north = geo ? 50 : 4500000;
        m_g.value = [image](int b, double c, double r) {
            return !image && c >= 90 && r < 8 ? -9999 : image ? Bumpy(b, c, r) : 10 * Bumpy(b, c, r);
        };
        m_g.noData.assign(!image, -9999);
        m_prj.reset(geo ? nullptr : new Projector(s.epsg));
        const std::string path = NewFile(s.dem ? ".dem" : ".tif");
        if (s.dem)
            WriteText(path, DemText(m_g, false, -9999));
        const CPLConfigOptionSetter accurate("GORA_ACCURATE", "YES", false);
        EXPECT_TRUE((s.dem || WriteRaster(path, m_g.Layout())) && m_p.OpenForRead(path.c_str()));
        EXPECT_TRUE(!s.dem || m_p.ImportProjectionRefFromProj4("+proj=utm +zone=33 +datum=WGS84 +units=m"));
        return path;
    }
    KRRect2d Bounds() const { return m_g.Rect(0, 0, 1, 1, m_prj.get()); }

    PlaneRaster m_g;
    std::unique_ptr<Projector> m_prj;
};

TEST_F(AccurateTest, NeighbouringTilesAgreeAtEveryLevel)
{
    for (const Source& s : kSources) {
        for (const bool image : {false, true}) {
            if (image && s.dem)
                continue; // elevation only
            SCOPED_TRACE(std::string(s.name) + (image ? ", image tiles" : ", terrain tiles"));
            Open(s, image);
            // Image tiles hold about eight times the samples of terrain ones: their levels start three lower.
            for (int level = s.coarse - 3 * image; level <= s.fine - 3 * image; ++level) {
                std::map<TileKey, Samples> tiles;
                int strays = 0;
                for (const TileKey& key : TilesOver(Bounds(), level)) {
                    tiles[key] = FetchSamples(m_p, key, level, image);
                    // Nodata is never averaged in: a sample is the surface's (130 to 2430) or 0 where there is none.
                    for (const double v : image ? Samples() : tiles[key])
                        strays += v != 0 && !(v > 120 && v < 2440);
                }
                EXPECT_EQ(LargestSeam(tiles, image ? 256 : 33), 0.0) << "level " << level;
                EXPECT_EQ(strays, 0) << "level " << level;
            }
        }
    }
}

// Where the window is read at full resolution: terrain as GDAL's bilinear warp to float rounding, image tiles
// within a byte (bands 1 to 3 in bytes 2 to 0; bilinear from geographic sources, nearest from projected ones).
TEST_F(AccurateTest, FullResolutionTilesMatchGdalWarp)
{
    for (const Source& s : kSources) {
        for (const bool image : {false, true}) {
            if (s.dem)
                continue; // GDAL does not read the format
            SCOPED_TRACE(std::string(s.name) + (image ? ", image" : ", terrain"));
            const std::string path = Open(s, image);
            const KRRect2d mid = m_g.Rect(0.45, 0.55, 0.45, 0.55, m_prj.get());
            const int level = image ? s.fine - 3 : s.fine, bands = image ? 3 : 1;
            const size_t n = image ? 256 : 33;
            const TileKey key = TileAt(mid.left, mid.top, level);
            const std::vector<double> gdal = WarpedLattice(path, TileRect(key.first, key.second, level), int(n), bands,
                                                           image && s.epsg != 4326 ? "near" : "bilinear");
            const Samples ours = FetchSamples(m_p, key, level, image);
            ASSERT_EQ(ours.size(), gdal.size());
            double largest = 0;
            for (size_t i = 0; i < ours.size(); ++i) // rows from the south against rows from the north
                largest = std::max(
                    largest, std::fabs(ours[i] - gdal[i / (n * n) * n * n + (n - 1 - i % (n * n) / n) * n + i % n]));
            EXPECT_LE(largest, image ? 1.0 : 1e-3);
        }
    }
}

TEST_F(AccurateTest, ClassesStayClasses)
{
    m_g.bands = 1, m_g.size = 120, m_g.step = 0.01, m_g.noData = {255}, m_g.value = Classes;
    const std::string path = NewFile();
    ASSERT_TRUE(WriteRaster(path, m_g.Layout()));
    AddPalette(path, 11, [](int k) { return std::array<short, 3>{short(20 * k), short(255 - 20 * k), short(7 * k)}; });
    const CPLConfigOptionSetter accurate("GORA_ACCURATE", "YES", false);
    ASSERT_TRUE(m_p.OpenForRead(path.c_str()));
    // Tiles reduced many times, a few times, and read at full resolution: each pixel class 0, class 10, or none.
    // The host's palette pixels hold blue, green and red in bytes 0 to 2, so "bands" 1 to 3 are red, green, blue.
    const auto rgb = [](int k) { return 20.0 * k * 65536 + (255 - 20 * k) * 256.0 + 7 * k; };
    for (const int level : {2, 5, 8}) {
        std::set<double> seen;
        for (const TileKey& key : TilesOver(m_g.Rect(0, 0, 1, 1), level)) {
            const Samples t = FetchSamples(m_p, key, level, true);
            for (size_t i = 0, n = t.size() / 3; i < n; ++i)
                seen.insert(t[i] * 65536 + t[n + i] * 256 + t[2 * n + i]);
        }
        EXPECT_EQ(seen, (std::set<double>{rgb(0), rgb(10), 0.0})) << level; // both classes shown, nothing else
    }
    // Reprojected: the classes, the palette and the nodata value as they were.
    const std::string utm = NewFile();
    ASSERT_TRUE(m_p.ReprojectImage(utm.c_str(), "32632", 4, nullptr, nullptr));
    GDALDatasetUniquePtr out(GDALDataset::Open(utm.c_str(), GDAL_OF_RASTER));
    ASSERT_TRUE(out);
    GDALRasterBand* band = out->GetRasterBand(1);
    int hasNoData = 0;
    EXPECT_EQ(band->GetNoDataValue(&hasNoData), 255);
    EXPECT_TRUE(hasNoData);
    ASSERT_NE(band->GetColorTable(), nullptr);
    EXPECT_EQ(band->GetColorTable()->GetColorEntry(10)->c1, 200);
    std::vector<unsigned char> values(size_t(out->GetRasterXSize()) * out->GetRasterYSize());
    ASSERT_EQ(band->RasterIO(GF_Read, 0, 0, out->GetRasterXSize(), out->GetRasterYSize(), values.data(),
                             out->GetRasterXSize(), out->GetRasterYSize(), GDT_Byte, 0, 0, nullptr),
              CE_None);
    EXPECT_EQ(std::set<unsigned char>(values.begin(), values.end()), (std::set<unsigned char>{0, 10, 255}));
    EXPECT_STREQ(out->GetMetadataItem("COMPRESSION", "IMAGE_STRUCTURE"), "DEFLATE");
}

} // namespace
