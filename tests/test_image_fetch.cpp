// Image rectangles and tiles of rasters whose bands are planes in the pixel
// indices: geographic (sampled bilinearly), south-up, and UTM (nearest pixel);
// inside, over an edge and beside the raster; band maps, band counts, tile
// formats. The colour rules are in test_color.cpp.
#include <algorithm>

#include "KRFetchTestSupport.h"

using namespace KRC;
using namespace krtest;

namespace {

// Planes, so bilinear sampling of a window read at full size reproduces them
// exactly; band 4 and on are an alpha of 200.
double Pattern(int b, double c, double r) { return b == 1 ? 2 * c + 5 : b == 2 ? 2 * r + 7 : b == 3 ? c + r : 200; }

// kUtm: 100 pixels 100 m apart in UTM 32N from (500, 5330) km; else 64 pixels over lon 10..12, lat 48..50.
enum Option { kFlip = 1, kIgnoreAlpha = 2, kTile = 4, kSouthUp = 8, kUtm = 16 };

int kDefaultMap[4] = {2, 1, 0, 3};
int kMapOffThePixel[4] = {3, 1, -1, 9}; // entries 0, 2 and 3 name no byte of a three-byte pixel

struct Request {
    const char* name;
    int bands;
    double c0, r0, c1, r1;  //!< fractions of the extent, south-west to north-east; kTile: the tile holding
                            //!< (c0, r0) at level c1
    enumPixelFormat format; //!< of the image delivered; PF_Unknown when nothing is
    int alpha;              //!< byte at map entry 3 of four-byte pixels over the raster
    bool straddles;         //!< partly over the raster, partly clear; else wholly over it
    int options = 0;
    int* map = nullptr;
    enumPixelFormat caller = PF_R8G8B8;
};

using ImageFetchTest = AccessorTest;

TEST_F(ImageFetchTest, RequestsFollowThePatternAndAreClearOffTheRaster)
{
    const double px = 1.0 / 63; // a pixel of the geographic raster
    const Request requests[] = {
        // name, bands, fractions, format, alpha, straddles, options, map, caller's format
        {"inside", 3, 0.25, 0.35, 0.65, 0.8, PF_R8G8B8, 0, false},
        {"south-up", 3, 0.25, 0.35, 0.65, 0.8, PF_R8G8B8, 0, false, kSouthUp},
        {"flipped", 3, 0.25, 0.35, 0.65, 0.8, PF_R8G8B8, 0, false, kFlip},
        {"over the west edge", 3, -0.25, 0.5, 0.25, 0.8, PF_A8R8G8B8, 255, true},
        // the window's 2-pixel margin runs past the edge, or just stays on the raster
        {"1.5 pixels in", 3, 1.5 * px, 0.3, 0.25, 0.7, PF_A8R8G8B8, 255, false},
        {"2.5 pixels in", 3, 2.5 * px, 0.3, 0.25, 0.7, PF_R8G8B8, 0, false},
        {"beside", 3, 5, 5, 5.2, 5.2, PF_Unknown, 0, false},
        {"UTM inside", 3, 0.3, 0.4, 0.55, 0.65, PF_R8G8B8, 0, false, kUtm}, // read at full size: 29 pixels
        {"UTM over the west edge", 3, -0.25, 0.5, 0.25, 0.8, PF_A8R8G8B8, 255, true, kUtm},
        {"map off the pixel", 3, 0.25, 0.35, 0.65, 0.8, PF_R8G8B8, 0, false, 0, kMapOffThePixel},
        {"four-byte caller, three bands", 3, 0.25, 0.35, 0.65, 0.8, PF_A8R8G8B8, 0, false, 0, nullptr, PF_A8R8G8B8},
        {"four bands, alpha ignored, west", 4, -0.25, 0.5, 0.25, 0.8, PF_A8R8G8B8, 255, true, kIgnoreAlpha},
        {"tile over the north-west corner", 3, 0, 1, 6, 0, PF_A8R8G8B8, 255, true, kTile},
        {"tile beside", 3, 5, 5, 6, 0, PF_Unknown, 0, false, kTile},
        {"tile of five bands", 5, 0.5, 0.5, 8, 0, PF_A8R8G8B8, 200, false, kTile},
        {"tile of five bands, alpha ignored", 5, 0.5, 0.5, 8, 0, PF_R8G8B8, 0, false, kTile | kIgnoreAlpha},
    };
    const auto nearest = [](double v) { // NaN a hair from half-way; off the west and south edges as it is
        return v < 0 ? v : std::fabs(v - std::floor(v) - 0.5) > 1e-6 ? std::floor(v + 0.5) : std::nan("");
    };
    for (const Request& q : requests) {
        SCOPED_TRACE(q.name);
        PlaneRaster g;
        if (q.options & kUtm)
            g.epsg = 32632, g.size = 100, g.step = 100, g.west = 500000, g.north = 5330000;
        g.bands = q.bands, g.northUp = !(q.options & kSouthUp), g.value = Pattern;
        const std::unique_ptr<Projector> prj(q.options & kUtm ? new Projector(32632) : nullptr);
        ASSERT_TRUE(WriteAndOpen(m_p, NewFile(), g.Layout()));
        m_p.SetIgnoreAlpha(q.options & kIgnoreAlpha);
        std::unique_ptr<KRImageData> owned, made;
        KRImageData* out = reinterpret_cast<KRImageData*>(&m_p); // must be reset
        KRRect2d rect = g.Rect(q.c0, q.r0, q.c1, q.r1, prj.get());
        GetchResult code;
        if (q.options & kTile) {
            const int level = static_cast<int>(q.c1);
            const auto at = TileAt(rect.left, rect.bottom, level);
            rect = TileRect(at.first, at.second, level);
            code = m_p.FetchImageData(out, at.first, at.second, level);
            owned.reset(out);
        } else {
            owned = MakeImage(40, 40, q.caller);
            code = m_p.FetchImageData(owned.get(), out, rect, q.map, q.options & kFlip);
            made.reset(out);
            EXPECT_EQ(made != nullptr, q.format != q.caller && q.format != PF_Unknown);
        }
        if (q.format == PF_Unknown) {
            EXPECT_TRUE(code == GetchResult_None && out == nullptr && (!owned || owned->m_bHasData == 0));
            continue;
        }
        ASSERT_EQ(code, GetchResult_Delivered);
        const KRImageData& image = made ? *made : *owned;
        EXPECT_TRUE(image.GetPixelFormat() == q.format && image.m_bHasData == 1);
        // Every pixel well over the raster holds each band's byte (the truncated plane; the nearest pixel's when
        // projected) at its map entry and `alpha` at entry 3 when in the pixel, other bytes 0; every pixel more
        // than a pixel off the raster is all 0.
        const int w = image.GetWidth(), h = image.GetHeight(), bytes = image.GetPixelSize();
        const int* map = q.map != nullptr ? q.map : kDefaultMap;
        const double last = g.size - 1, noise = prj ? 0.0 : 1e-6; // bilinear samples carry rounding noise
        int over = 0, clear = 0, wrong = 0;
        for (int i = 0; i < w * h * bytes; ++i) {
            const int x = i / bytes % w, y = i / bytes / w, k = i % bytes;
            double lon = rect.left + x * rect.Width() / (w - 1), lat = rect.bottom + y * rect.Height() / (h - 1);
            if (prj)
                prj->Forward(lon, lat);
            const double c = prj ? nearest(g.Column(lon)) : g.Column(lon);
            const double r = prj ? nearest(g.Row(lat)) : g.Row(lat);
            const double off = std::max({-c, c - last, -r, r - last});
            if ((off > 0 && off <= 1) || std::isnan(c + r))
                continue; // the edge's own step (clamped or skipped), or a hair from half-way
            double want = 0;
            for (int b = 0; off <= 0 && b < 4; ++b) // bands 1 to 3, then alpha, at their map entries
                if (map[b] == k && (b < 3 ? b < g.bands : bytes == 4))
                    want = b < 3 ? Pattern(b + 1, c, q.options & kFlip ? last - r : r) : q.alpha;
            if (k == 0)
                ++(off > 1 ? clear : over);
            const int got = PixelAt(image, x, y)[k];
            if (got != static_cast<int>(want - noise) && got != static_cast<int>(want + noise) && ++wrong <= 3)
                ADD_FAILURE() << "pixel " << x << ", " << y << " byte " << k << ": " << got << ", expected " << want;
        }
        EXPECT_TRUE(q.straddles ? over > w * h / 8 && clear > w * h / 8 : over == w * h) << over << ", " << clear;
    }
}

} // namespace
