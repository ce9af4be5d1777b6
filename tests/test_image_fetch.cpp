// Image rectangles and tiles: geometry of both paths, edges and the working
// RGBA image, nodata and filter colour, tile formats, band counts and band maps.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include "KRImageTestSupport.h"
#include "KRPluginProbe.h"
#include "KRTerrainTestSupport.h"
#include "KRTestSupport.h"

using namespace KRC;
using namespace krtest;
using Probe = KRGORasterAccessorPluginProbe;

namespace {

// Bands are planes in the pixel indices, so bilinear sampling of a window read
// at full size reproduces them exactly; values stay inside one byte.
double Pattern(int band, double c, double r)
{
    switch (band) {
    case 1:
        return 2 * c + 5;
    case 2:
        return 2 * r + 7;
    case 3:
        return c + r;
    default:
        return 200; // an alpha band, opaque
    }
}

PlaneRaster GeoRaster(int bands = 3, bool northUp = true)
{
    PlaneRaster raster;
    raster.bands = bands;
    raster.northUp = northUp;
    raster.value = Pattern;
    return raster;
}

// 100 x 100 pixels of 101 m in UTM zone 32N; its west edge is the central meridian, 9 E.
PlaneRaster UtmRaster()
{
    PlaneRaster raster = GeoRaster();
    raster.epsg = 32632;
    raster.size = 100;
    raster.west = 500000;
    raster.south = 5320000;
    raster.extent = 10100;
    return raster;
}

//! A byte value equals the truncation of `expected`, up to rounding noise.
bool ByteMatches(int got, double expected)
{
    return got == static_cast<int>(expected - 1e-6) || got == static_cast<int>(expected + 1e-6);
}

// Default band order {2, 1, 0, 3}: band 1 goes to byte 2, band 3 to byte 0.
constexpr int kByteOfBand[3] = {2, 1, 0};

struct Fetched {
    GetchResult code = GetchResult_None;
    std::unique_ptr<KRImageData> image;    // the caller's image
    std::unique_ptr<KRImageData> newImage; // the working RGBA image, when handed back
    const KRImageData& Result() const { return newImage ? *newImage : *image; }
};

class ImageFetchTest : public ::testing::Test {
protected:
    void SetUp() override { GDALAllRegister(); }
    bool Open(const PlaneRaster& raster, const std::string& name = "image.tif")
    {
        m_raster = raster;
        return WriteRaster(m_dir.File(name), raster.Layout()) && m_p.OpenForRead(m_dir.File(name).c_str());
    }
    // Images at least as large as the windows asked for, so GDAL reads them at full size.
    Fetched Fetch(const KRRect2d& rect, int w = 40, int h = 40, enumPixelFormat format = PF_R8G8B8,
                  int* bandMap = nullptr, bool flip = false)
    {
        Fetched f;
        f.image = MakeImage(w, h, format);
        KRImageData* newImage = nullptr;
        f.code = m_p.FetchImageData(f.image.get(), newImage, rect, bandMap, flip);
        f.newImage.reset(newImage);
        return f;
    }
    //! Checks every pixel of `image` over `rect`: where `position` puts the pixel well
    //! inside the raster, the bands' bytes (and alpha 255 when there is room); where
    //! well outside, all zero. Returns {inside, outside} counts.
    template <class Position>
    std::pair<int, int> ExpectPattern(const KRImageData& image, const KRRect2d& rect, Position&& position,
                                      bool flip = false, int alpha = 255)
    {
        const int w = image.GetWidth(), h = image.GetHeight(), bytes = image.GetPixelSize();
        const double last = m_raster.size - 1;
        int inside = 0, outside = 0;
        for (int j = 0; j < h; ++j) {
            for (int i = 0; i < w; ++i) {
                double c, r;
                position(rect.left + i * rect.Width() / (w - 1), rect.bottom + j * rect.Height() / (h - 1), c, r);
                const unsigned char* px = PixelAt(image, i, j);
                if (c < -1 || r < -1 || c > last + 1 || r > last + 1) {
                    ++outside;
                    for (int k = 0; k < bytes; ++k)
                        EXPECT_EQ(px[k], 0) << "outside pixel " << i << ", " << j;
                    continue;
                }
                if (c < 0 || r < 0 || c > last || r > last || std::isnan(c))
                    continue; // the edge's own step: clamped or skipped
                ++inside;
                for (int b = 1; b <= std::min(3, m_raster.bands); ++b) {
                    const double e = Pattern(b, c, flip ? last - r : r);
                    EXPECT_TRUE(ByteMatches(px[kByteOfBand[b - 1]], e))
                        << "pixel " << i << ", " << j << " band " << b << ": " << int(px[kByteOfBand[b - 1]])
                        << ", expected " << e;
                }
                if (bytes == 4) {
                    EXPECT_EQ(px[3], alpha);
                }
            }
        }
        return {inside, outside};
    }
    void GeoPosition(double lon, double lat, double& c, double& r) const
    {
        c = m_raster.Column(lon);
        r = m_raster.Row(lat);
    }
    TempDir m_dir;
    KRGORasterAccessorPlugin m_p;
    PlaneRaster m_raster;
};

// The projected path takes the nearest pixel of each transformed point.
class UtmPosition {
public:
    explicit UtmPosition(const PlaneRaster& raster) : m_raster(raster)
    {
        OGRSpatialReference wgs, utm;
        wgs.importFromEPSG(4326);
        utm.importFromEPSG(raster.epsg);
        wgs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        utm.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        m_ct.reset(OGRCreateCoordinateTransformation(&wgs, &utm));
    }
    void operator()(double lon, double lat, double& c, double& r) const
    {
        double x = lon, y = lat;
        m_ct->Transform(1, &x, &y);
        c = Nearest(m_raster.Column(x));
        r = Nearest(m_raster.Row(y));
    }

private:
    // Positions a hair from a half-way point may round either way; they are not checked.
    static double Nearest(double v)
    {
        if (v < 0)
            return v; // outside the raster: left as it is, so the caller sees it outside
        const double frac = v - std::floor(v);
        return std::fabs(frac - 0.5) < 1e-6 ? std::nan("") : std::floor(v + 0.5);
    }
    const PlaneRaster& m_raster;
    std::unique_ptr<OGRCoordinateTransformation> m_ct;
};

TEST_F(ImageFetchTest, GeographicInsideFollowsThePatternInEveryOrientation)
{
    const KRRect2d rect(10.5, 49.6, 11.3, 48.7);
    for (int k = 0; k < 4; ++k) {
        const bool northUp = k & 1, flip = k & 2;
        SCOPED_TRACE(k);
        ASSERT_TRUE(Open(GeoRaster(3, northUp), std::to_string(k) + ".tif"));
        Fetched f = Fetch(rect, 40, 40, PF_R8G8B8, nullptr, flip);
        ASSERT_EQ(f.code, GetchResult_Delivered);
        EXPECT_FALSE(f.newImage); // not cut, no nodata: written straight into the caller's image
        EXPECT_EQ(f.image->m_bHasData, 1);
        const auto [inside, outside] = ExpectPattern(
            *f.image, rect, [&](double lon, double lat, double& c, double& r) { GeoPosition(lon, lat, c, r); }, flip);
        EXPECT_TRUE(inside == 40 * 40 && outside == 0);
    }
}

TEST_F(ImageFetchTest, RequestOverAnEdgeComesBackAsRgbaTransparentOutside)
{
    ASSERT_TRUE(Open(GeoRaster()));
    const KRRect2d rect(9.5, 49.8, 10.5, 49.2); // the west half lies off the raster
    Fetched f = Fetch(rect);
    ASSERT_EQ(f.code, GetchResult_Delivered);
    ASSERT_TRUE(f.newImage);
    EXPECT_TRUE(f.newImage->GetPixelFormat() == PF_A8R8G8B8 && f.newImage->m_bHasData == 1);
    const auto [inside, outside] = ExpectPattern(
        *f.newImage, rect, [&](double lon, double lat, double& c, double& r) { GeoPosition(lon, lat, c, r); });
    EXPECT_TRUE(inside > 500 && outside > 500) << inside << " " << outside;

    // Two pixels from the border the window is cut too: RGBA although every pixel is opaque.
    const double res = m_raster.Res();
    Fetched near = Fetch(KRRect2d(10 + res, 49.5, 10.5, 49.0));
    ASSERT_TRUE(near.newImage);
    for (int j = 0; j < 40; ++j) {
        for (int i = 0; i < 40; ++i)
            ASSERT_EQ(PixelAt(*near.newImage, i, j)[3], 255);
    }

    Fetched away = Fetch(KRRect2d(20, 10, 21, 9));
    EXPECT_TRUE(away.code == GetchResult_None && !away.newImage && away.image->m_bHasData == 0);
}

TEST_F(ImageFetchTest, ProjectedPathTakesTheNearestPixelOfEachTransformedPoint)
{
    ASSERT_TRUE(Open(UtmRaster()));
    const UtmPosition position(m_raster);
    const KRRect2d box = m_p.GetLatLonBounds().GetGeoBounds();
    const double dx = box.Width() * 0.35, dy = box.Height() * 0.35;
    const KRRect2d inner(box.left + dx, box.top - dy, box.right - dx, box.bottom + dy);
    Fetched f = Fetch(inner, 50, 40);
    ASSERT_EQ(f.code, GetchResult_Delivered);
    EXPECT_FALSE(f.newImage);
    EXPECT_EQ(ExpectPattern(*f.image, inner, position).first, 50 * 40 - 0) << "every pixel sampled";

    // Over the west edge (the zone's central meridian): transparent west of it.
    const double lat = (box.top + box.bottom) / 2;
    const KRRect2d edge(8.99, lat + 0.01, 9.01, lat - 0.01);
    Fetched e = Fetch(edge, 50, 40);
    ASSERT_TRUE(e.code == GetchResult_Delivered && e.newImage);
    const auto [inside, outside] = ExpectPattern(*e.newImage, edge, position);
    EXPECT_TRUE(inside > 500 && outside > 500) << inside << " " << outside;

    Fetched away = Fetch(KRRect2d(20, 10, 21, 9));
    EXPECT_TRUE(away.code == GetchResult_None && away.image->m_bHasData == 0);
}

TEST_F(ImageFetchTest, NodataMakesPixelsTransparentAndFoldsBackWhenNoneIs)
{
    PlaneRaster raster = GeoRaster();
    raster.noData = {0, 0, 0};
    raster.value = [](int b, double c, double r) { return c < 8 ? 0.0 : Pattern(b, c, r); };
    ASSERT_TRUE(Open(raster));
    ASSERT_TRUE(Probe::m_bNoDataActive(m_p));
    const double res = m_raster.Res();

    // Columns 20 to 40: no nodata sample, so the working image is folded back.
    Fetched clean = Fetch(KRRect2d(10 + 20 * res, 49.5, 10 + 40 * res, 48.5));
    ASSERT_EQ(clean.code, GetchResult_Delivered);
    EXPECT_TRUE(!clean.newImage && clean.image->m_bHasData == 1);
    ExpectPattern(*clean.image, KRRect2d(10 + 20 * res, 49.5, 10 + 40 * res, 48.5),
                  [&](double lon, double lat, double& c, double& r) { GeoPosition(lon, lat, c, r); });

    // Columns 3 to 20: the nodata block is transparent, the rest opaque.
    const KRRect2d rect(10 + 3 * res, 49.5, 10 + 20 * res, 48.5);
    Fetched holes = Fetch(rect, 35, 40);
    ASSERT_TRUE(holes.code == GetchResult_Delivered && holes.newImage);
    int transparent = 0, opaque = 0;
    for (int i = 0; i < 35; ++i) {
        const double c = 3 + i * 17.0 / 34;
        const unsigned char* px = PixelAt(*holes.newImage, i, 10);
        if (c < 6.99) {
            EXPECT_TRUE(px[0] == 0 && px[1] == 0 && px[2] == 0 && px[3] == 0) << i;
            ++transparent;
        } else if (c >= 8) {
            EXPECT_TRUE(px[3] == 255 && ByteMatches(px[2], Pattern(1, c, 0))) << i;
            ++opaque;
        }
    }
    EXPECT_TRUE(transparent > 5 && opaque > 5);
}

// The pixel rule matches the filter colour within a fixed 1e-10, whatever the
// host's tolerance: a tolerance of 1e-20 keeps the sampler from treating the
// colour as nodata, so only the pixel rule can make these pixels transparent.
TEST_F(ImageFetchTest, FilterColourMatchesWithinAFixedTolerance)
{
    PlaneRaster raster = GeoRaster();
    raster.type = GDT_Float64;
    raster.value = [](int b, double c, double) { return b < 3 ? b * 10.0 : 30.0 + (c < 32 ? 1e-11 : 1e-7); };
    ASSERT_TRUE(Open(raster));
    double* filter = Probe::m_filterColor(m_p);
    filter[0] = 10, filter[1] = 20, filter[2] = 30;
    m_p.SetFilterColorUsed(true);
    m_p.SetFilterColorTolerance(1e-20);

    const KRRect2d rect(10.2, 49.5, 11.8, 48.5);
    Fetched f = Fetch(rect, 64, 8);
    ASSERT_TRUE(f.code == GetchResult_Delivered && f.newImage);
    for (int i = 0; i < 64; ++i) {
        const double c = m_raster.Column(rect.left + i * rect.Width() / 63);
        const unsigned char* px = PixelAt(*f.newImage, i, 4);
        if (c < 30) {
            EXPECT_EQ(px[3], 0) << i;
        } else if (c > 33) {
            EXPECT_TRUE(px[3] == 255 && px[0] == 30 && px[1] == 20 && px[2] == 10) << i;
        }
    }
}

struct TileFormatCase {
    int bands;
    bool ignoreAlpha;
    enumPixelFormat format;
};

class TileFormatTest : public ImageFetchTest, public ::testing::WithParamInterface<TileFormatCase> {};

// A tile wholly inside the raster: 256 x 256 in the format the bands ask for, not replaced.
TEST_P(TileFormatTest, TileFormatFollowsBandsAndIgnoreAlpha)
{
    const TileFormatCase& t = GetParam();
    ASSERT_TRUE(Open(GeoRaster(t.bands)));
    m_p.SetIgnoreAlpha(t.ignoreAlpha);
    KRImageData* tile = nullptr;
    ASSERT_EQ(m_p.FetchImageData(tile, 271, 57, 8), GetchResult_Delivered);
    std::unique_ptr<KRImageData> owned(tile);
    ASSERT_TRUE(tile && tile->GetWidth() == 256 && tile->GetHeight() == 256);
    EXPECT_EQ(tile->GetPixelFormat(), t.format);
    const KRRect2d rect = TileRect(271, 57, 8);
    if (t.bands == 1) {
        // No palette: the value itself is the packed colour, red byte first.
        const unsigned char* px = PixelAt(*tile, 100, 100);
        const double c = m_raster.Column(rect.left + 100 * rect.Width() / 255);
        EXPECT_TRUE(ByteMatches(px[0], Pattern(1, c, 0)) && px[1] == 0 && px[2] == 0);
        return;
    }
    // In RGBA tiles alpha is the fourth band, written through entry 3 of the band order.
    ExpectPattern(
        *tile, rect, [&](double lon, double lat, double& c, double& r) { GeoPosition(lon, lat, c, r); }, false, 200);
}

INSTANTIATE_TEST_SUITE_P(Bands, TileFormatTest,
                         ::testing::Values(TileFormatCase{1, false, PF_R8G8B8}, TileFormatCase{3, false, PF_R8G8B8},
                                           TileFormatCase{4, false, PF_A8R8G8B8}, TileFormatCase{4, true, PF_R8G8B8},
                                           TileFormatCase{5, false, PF_A8R8G8B8}, TileFormatCase{5, true, PF_R8G8B8}));

TEST_F(ImageFetchTest, TilesOverAndOffTheRaster)
{
    ASSERT_TRUE(Open(GeoRaster()));
    KRImageData* tile = reinterpret_cast<KRImageData*>(&m_p); // must be reset
    EXPECT_EQ(m_p.FetchImageData(tile, 10, 10, 6), GetchResult_None);
    EXPECT_EQ(tile, nullptr);

    // Tile 67, 14 of level 6 straddles the raster's north-west corner: its RGBA image replaces the RGB one.
    ASSERT_EQ(m_p.FetchImageData(tile, 67, 14, 6), GetchResult_Delivered);
    std::unique_ptr<KRImageData> owned(tile);
    ASSERT_TRUE(tile && tile->GetPixelFormat() == PF_A8R8G8B8);
    const auto [inside, outside] = ExpectPattern(
        *tile, TileRect(67, 14, 6), [&](double lon, double lat, double& c, double& r) { GeoPosition(lon, lat, c, r); });
    EXPECT_TRUE(inside > 1000 && outside > 1000);
}

TEST_F(ImageFetchTest, BandCountsAndBandMapsStayInsideThePixel)
{
    const KRRect2d rect(10.5, 49.6, 11.3, 48.7);
    const double c = m_raster.Column(rect.left), r = m_raster.Row(rect.bottom);

    ASSERT_TRUE(Open(GeoRaster(2), "two.tif"));
    Fetched two = Fetch(rect);
    const unsigned char* px = PixelAt(*two.image, 0, 0);
    EXPECT_TRUE(ByteMatches(px[2], Pattern(1, c, r)) && ByteMatches(px[1], Pattern(2, c, r)) && px[0] == 0);

    ASSERT_TRUE(Open(GeoRaster(3), "three.tif"));
    int map[4] = {0, 5, -1, 9}; // only entry 0 names a byte of a three-byte pixel
    Fetched mapped = Fetch(rect, 40, 40, PF_R8G8B8, map);
    px = PixelAt(*mapped.image, 0, 0);
    EXPECT_TRUE(ByteMatches(px[0], Pattern(1, c, r)) && px[1] == 0 && px[2] == 0);

    // The same map with a cut window writes alpha through entry 3, which is off the pixel too.
    Fetched cut = Fetch(KRRect2d(9.9, 49.6, 10.4, 48.7), 40, 40, PF_R8G8B8, map);
    ASSERT_TRUE(cut.newImage);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(PixelAt(*cut.newImage, i, 5)[3], 0);

    // A four-byte caller image of a three-band raster keeps its fourth byte 0.
    Fetched four = Fetch(rect, 40, 40, PF_A8R8G8B8);
    EXPECT_TRUE(!four.newImage && PixelAt(*four.image, 3, 3)[3] == 0);
}

TEST_F(ImageFetchTest, UnsupportedSourcesTouchNeitherImage)
{
    RasterLayout layout = GeoRaster().Layout();
    layout.wkt = R"(LOCAL_CS["site grid",UNIT["metre",1]])"; // projected, but with nothing to transform to
    ASSERT_TRUE(WriteRaster(m_dir.File("plain.tif"), layout) && m_p.OpenForRead(m_dir.File("plain.tif").c_str()));
    ASSERT_TRUE(Probe::m_nProjType(m_p) == 2 && !Probe::m_pLatLonToSrc(m_p));
    auto image = MakeImage(8, 8, PF_R8G8B8);
    KRImageData* sentinel = image.get();
    KRImageData* newImage = sentinel;
    EXPECT_EQ(m_p.FetchImageData(image.get(), newImage, KRRect2d(10.5, 49.6, 11.3, 48.7), nullptr, false),
              GetchResult_None);
    EXPECT_EQ(newImage, sentinel);

    // A caller image whose size no longer matches its pixels is refused, not overrun.
    ASSERT_TRUE(Open(GeoRaster()));
    image->m_nWidth = 400;
    newImage = nullptr;
    EXPECT_EQ(m_p.FetchImageData(image.get(), newImage, KRRect2d(10.5, 49.6, 11.3, 48.7), nullptr, false),
              GetchResult_None);
    EXPECT_EQ(m_p.FetchImageData(nullptr, newImage, KRRect2d(10.5, 49.6, 11.3, 48.7), nullptr, false),
              GetchResult_None);
}

} // namespace
