// Image rectangles and tiles of geographic and UTM rasters whose bands are
// planes in the pixel indices: both paths inside, over an edge and beside the
// raster, the working RGBA image, nodata, filter colour, tile formats, band
// counts and band maps.
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KRImageTestSupport.h"
#include "KRPluginProbe.h"
#include "KRTerrainTestSupport.h"
#include "KRTestSupport.h"

using namespace KRC;
using namespace krtest;
using Probe = KRGORasterAccessorPluginProbe;

namespace {

// Planes, so bilinear sampling of a window read at full size reproduces them
// exactly; band 4 and on are an alpha of 200.
double Pattern(int band, double c, double r)
{
    return band == 1 ? 2 * c + 5 : band == 2 ? 2 * r + 7 : band == 3 ? c + r : 200;
}

//! The source of a request; `nodataWest` columns of nodata 0 on the west side.
struct Source {
    int bands = 3;
    bool northUp = true;
    bool utm = false; //!< 100 x 100 pixels of 101 m in UTM 32N, west edge on the central meridian 9 E
    int nodataWest = 0;
};

//! A byte value equals the truncation of `expected`, up to `noise` either way.
bool ByteMatches(int got, double expected, double noise)
{
    return got == static_cast<int>(expected - noise) || got == static_cast<int>(expected + noise);
}

enum Option { kFlip = 1, kIgnoreAlpha = 2, kTile = 4 };

struct Request {
    const char* name;
    Source source;
    KRRect2d rect;          //!< the tile's with kTile
    enumPixelFormat format; //!< of the image delivered; PF_Unknown when nothing is
    int alpha;              //!< byte at map entry 3 of four-byte pixels over the raster
    bool straddles;         //!< partly over the raster (and its data), partly clear; else wholly over it
    int options = 0;
    int* map = nullptr;
    enumPixelFormat caller = PF_R8G8B8;
};

class ImageFetchTest : public ::testing::Test {
protected:
    bool Open(const Source& s, const std::string& name)
    {
        m_raster = PlaneRaster();
        if (s.utm) {
            m_raster.epsg = 32632, m_raster.size = 100, m_raster.extent = 10100;
            m_raster.west = 500000, m_raster.south = 5320000;
        }
        m_raster.bands = s.bands;
        m_raster.northUp = s.northUp;
        const int n = s.nodataWest;
        m_raster.value = [n](int b, double c, double r) { return c < n ? 0.0 : Pattern(b, c, r); };
        m_raster.noData.assign(n > 0 ? static_cast<size_t>(s.bands) : 0, 0.0);
        m_utm.reset(s.utm ? new Projector(32632) : nullptr);
        return WriteAndOpen(m_p, m_dir.File(name), m_raster.Layout());
    }
    //! Fractional pixel of a point; the projected path takes the nearest pixel (NaN a hair from half-way).
    void Position(double lon, double lat, double& c, double& r) const
    {
        const auto nearest = [](double v) { // left as it is off the raster's west and south edges
            return v < 0 ? v : std::fabs(v - std::floor(v) - 0.5) > 1e-6 ? std::floor(v + 0.5) : std::nan("");
        };
        if (m_utm)
            m_utm->Forward(lon, lat);
        c = m_raster.Column(lon), r = m_raster.Row(lat);
        if (m_utm)
            c = nearest(c), r = nearest(r);
    }
    //! Every pixel: well over the raster (and east of its nodata), each band's byte at its map entry and
    //! `alpha` at entry 3 when in the pixel, other bytes 0; well off it or over nodata, all 0.
    void ExpectPattern(const KRImageData& image, const Request& q)
    {
        const int w = image.GetWidth(), h = image.GetHeight(), bytes = image.GetPixelSize();
        int defaultMap[4] = {2, 1, 0, 3};
        const int* map = q.map != nullptr ? q.map : defaultMap;
        const double last = m_raster.size - 1, nodata = q.source.nodataWest;
        const double noise = m_utm ? 0.0 : 1e-6; // bilinear samples of a plane carry rounding noise
        int over = 0, clear = 0;
        for (int j = 0; j < h; ++j) {
            for (int i = 0; i < w; ++i) {
                double c, r;
                Position(q.rect.left + i * q.rect.Width() / (w - 1), q.rect.bottom + j * q.rect.Height() / (h - 1), c,
                         r);
                std::vector<double> want(static_cast<size_t>(bytes), 0.0);
                const auto put = [&](int entry, double v) {
                    if (map[entry] >= 0 && map[entry] < bytes)
                        want[static_cast<size_t>(map[entry])] = v;
                };
                if (c < -1 || r < -1 || c > last + 1 || r > last + 1 || c < nodata - 1.01) {
                    ++clear;
                } else if (c < nodata || c < 0 || r < 0 || c > last || r > last || std::isnan(c + r)) {
                    continue; // the edge's own step: clamped or skipped
                } else {
                    ++over;
                    for (int b = 1; b <= std::min(3, m_raster.bands); ++b)
                        put(b - 1, Pattern(b, c, q.options & kFlip ? last - r : r));
                    if (bytes == 4)
                        put(3, q.alpha);
                }
                const unsigned char* px = PixelAt(image, i, j);
                for (int k = 0; k < bytes; ++k)
                    EXPECT_TRUE(ByteMatches(px[k], want[static_cast<size_t>(k)], noise))
                        << "pixel " << i << ", " << j << " byte " << k << ": " << int(px[k]) << ", expected "
                        << want[static_cast<size_t>(k)];
            }
        }
        const int n = w * h;
        EXPECT_TRUE(q.straddles ? over > n / 8 && clear > n / 8 : over == n) << over << " over, " << clear << " clear";
    }
    TempDir m_dir;
    KRGORasterAccessorPlugin m_p;
    PlaneRaster m_raster;
    std::unique_ptr<Projector> m_utm;
};

TEST_F(ImageFetchTest, RequestsFollowThePatternAndAreClearOffTheRaster)
{
    const Source geo, southUp{3, false}, utm{3, true, true}, nodata{3, true, false, 8};
    const double res = 2.0 / 63; // of the geographic raster: 64 pixels over lon 10..12, lat 48..50
    const KRRect2d inside(10.5, 49.6, 11.3, 48.7), west(9.5, 49.8, 10.5, 49.2), beside(20, 10, 21, 9);
    const KRRect2d tile = TileRect(271, 57, 8); // inside
    int mapOffThePixel[4] = {3, 1, -1, 9};      // entries 0, 2 and 3 name no byte of a three-byte pixel
    const Request requests[] = {
        // name, source, rectangle, format, alpha, straddles, options, map, caller's format
        {"inside", geo, inside, PF_R8G8B8, 0, false},
        {"south-up", southUp, inside, PF_R8G8B8, 0, false},
        {"flipped", geo, inside, PF_R8G8B8, 0, false, kFlip},
        {"south-up, flipped", southUp, inside, PF_R8G8B8, 0, false, kFlip},
        {"over the west edge", geo, west, PF_A8R8G8B8, 255, true},
        {"window cut two pixels from the edge", geo, {10 + res, 49.5, 10.5, 49}, PF_A8R8G8B8, 255, false},
        {"beside", geo, beside, PF_Unknown, 0, false},
        {"UTM inside", utm, {9.05, 48.09, 9.08, 48.07}, PF_R8G8B8, 0, false},
        {"UTM over the west edge", utm, {8.99, 48.085, 9.01, 48.065}, PF_A8R8G8B8, 255, true},
        {"UTM beside", utm, beside, PF_Unknown, 0, false},
        {"over nodata", nodata, {10 + 3 * res, 49.5, 10 + 20 * res, 48.5}, PF_A8R8G8B8, 255, true},
        {"nodata beside: folded back", nodata, {10 + 20 * res, 49.5, 10 + 40 * res, 48.5}, PF_R8G8B8, 0, false},
        {"two bands", {2}, inside, PF_R8G8B8, 0, false},
        {"map off the pixel", geo, inside, PF_R8G8B8, 0, false, 0, mapOffThePixel},
        {"map off the pixel, cut", geo, {9.9, 49.6, 10.4, 48.7}, PF_A8R8G8B8, 255, true, 0, mapOffThePixel},
        {"four-byte caller, three bands", geo, inside, PF_A8R8G8B8, 0, false, 0, nullptr, PF_A8R8G8B8},
        {"four bands, alpha ignored, cut", {4}, west, PF_A8R8G8B8, 255, true, kIgnoreAlpha},
        {"tile over the north-west corner", geo, TileRect(67, 14, 6), PF_A8R8G8B8, 255, true, kTile},
        {"tile beside", geo, TileRect(10, 10, 6), PF_Unknown, 0, false, kTile},
        {"tile of four bands", {4}, tile, PF_A8R8G8B8, 200, false, kTile},
        {"tile of four bands, alpha ignored", {4}, tile, PF_R8G8B8, 0, false, kTile | kIgnoreAlpha},
        {"tile of five bands", {5}, tile, PF_A8R8G8B8, 200, false, kTile},
        {"tile of five bands, alpha ignored", {5}, tile, PF_R8G8B8, 0, false, kTile | kIgnoreAlpha},
    };
    int n = 0;
    for (const Request& q : requests) {
        SCOPED_TRACE(q.name);
        ASSERT_TRUE(Open(q.source, std::to_string(++n) + ".tif"));
        m_p.SetIgnoreAlpha(q.options & kIgnoreAlpha);
        std::unique_ptr<KRImageData> image, newImage;
        KRImageData* made = reinterpret_cast<KRImageData*>(&m_p); // must be reset
        GetchResult code;
        if (q.options & kTile) {
            const double side = q.rect.Width();
            code =
                m_p.FetchImageData(made, int(std::lround((q.rect.left + 180) / side)),
                                   int(std::lround((90 - q.rect.top) / side)), int(std::lround(std::log2(180 / side))));
            image.reset(made);
        } else {
            image = MakeImage(40, 40, q.caller);
            code = m_p.FetchImageData(image.get(), made, q.rect, q.map, q.options & kFlip);
            newImage.reset(made);
            EXPECT_EQ(newImage != nullptr, q.format != q.caller && q.format != PF_Unknown);
        }
        if (q.format == PF_Unknown) {
            EXPECT_TRUE(code == GetchResult_None && made == nullptr && (!image || image->m_bHasData == 0));
            continue;
        }
        ASSERT_EQ(code, GetchResult_Delivered);
        const KRImageData& result = newImage ? *newImage : *image;
        EXPECT_TRUE(result.GetPixelFormat() == q.format && result.m_bHasData == 1);
        ExpectPattern(result, q);
    }
}

// The pixel rule matches the filter colour within a fixed 1e-10, whatever the
// host's tolerance: a tolerance of 1e-20 keeps the sampler from treating the
// colour as nodata, so only the pixel rule can make these pixels transparent.
TEST_F(ImageFetchTest, FilterColourMatchesWithinAFixedTolerance)
{
    PlaneRaster raster;
    raster.type = GDT_Float64;
    raster.value = [](int b, double c, double) { return b < 3 ? b * 10.0 : 30.0 + (c < 32 ? 1e-11 : 1e-7); };
    ASSERT_TRUE(WriteAndOpen(m_p, m_dir.File("f.tif"), raster.Layout()));
    double* filter = Probe::m_filterColor(m_p);
    filter[0] = 10, filter[1] = 20, filter[2] = 30;
    m_p.SetFilterColorUsed(true);
    m_p.SetFilterColorTolerance(1e-20);
    const KRRect2d rect(10.2, 49.5, 11.8, 48.5);
    auto image = MakeImage(64, 8, PF_R8G8B8);
    KRImageData* made = nullptr;
    ASSERT_EQ(m_p.FetchImageData(image.get(), made, rect, nullptr, false), GetchResult_Delivered);
    std::unique_ptr<KRImageData> working(made);
    ASSERT_TRUE(working);
    for (int i = 0; i < 64; ++i) {
        const double c = raster.Column(rect.left + i * rect.Width() / 63);
        const unsigned char* px = PixelAt(*working, i, 4);
        if (c < 30) {
            EXPECT_EQ(px[3], 0) << i;
        } else if (c > 33) {
            EXPECT_TRUE(px[3] == 255 && px[0] == 30 && px[1] == 20 && px[2] == 10) << i;
        }
    }
}

// Projected, but with nothing to transform to: neither image is touched.
TEST_F(ImageFetchTest, SourceWithoutTransformationTouchesNeitherImage)
{
    PlaneRaster raster;
    raster.value = Pattern;
    RasterLayout layout = raster.Layout();
    layout.wkt = R"(LOCAL_CS["site grid",UNIT["metre",1]])";
    ASSERT_TRUE(WriteAndOpen(m_p, m_dir.File("plain.tif"), layout));
    ASSERT_TRUE(Probe::m_nProjType(m_p) == 2 && !Probe::m_pLatLonToSrc(m_p));
    auto image = MakeImage(8, 8, PF_R8G8B8);
    KRImageData* made = image.get();
    EXPECT_EQ(m_p.FetchImageData(image.get(), made, KRRect2d(10.5, 49.6, 11.3, 48.7), nullptr, false),
              GetchResult_None);
    EXPECT_EQ(made, image.get());
}

} // namespace
