// Image fetch: 256 x 256 tiles and WGS84 rectangles from geographic and
// projected GDAL rasters, coloured by the pixel rules (filter colour,
// transparency, stretch, palette, band order) into the caller's image or a
// working RGBA image.
#include "KRGORasterAccessorPlugin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include <cpl_conv.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include "KRBandWindow.h"
#include "KRColorRules.h"
#include "KRGatheredBands.h"
#include "KRSampleBuffers.h"
#include "KRSourceLattice.h"

namespace KRC {

namespace {

constexpr int kTileImageSize = 256;
constexpr int kBoundsSteps = 256; // points per edge when carrying a request into source units
constexpr double kIntersectTolerance = 1e-16;
constexpr int kMaxSampledBands = 4; // the sampler fills four values per pixel

//! Copies the caller's share of every working pixel back into the caller's image.
void FoldBack(const KRImageData& working, KRImageData& caller)
{
    const std::size_t toBytes = static_cast<std::size_t>(caller.GetPixelSize());
    const std::size_t fromBytes = static_cast<std::size_t>(working.GetPixelSize());
    const std::size_t bytes = std::min(toBytes, fromBytes);
    for (int r = 0; r < caller.GetHeight(); ++r) {
        const unsigned char* from = working.m_pData + static_cast<std::size_t>(r) * working.GetWidthBytes();
        unsigned char* to = caller.m_pData + static_cast<std::size_t>(r) * caller.GetWidthBytes();
        for (int c = 0; c < caller.GetWidth(); ++c, to += toBytes, from += fromBytes)
            std::memcpy(to, from, bytes);
    }
}

//! Low byte of a value truncated toward zero to 32 bits (saturating, so never undefined).
unsigned char LowByte(double value)
{
    return static_cast<unsigned char>(static_cast<unsigned int>(detail::TruncateToInt(value)) & 0xFFu);
}

//! Calls paint(r, c, row, col) for every destination pixel of `span` over the source grid of `frame`.
//! A nearest sample depends on its position only through the cell it falls in, which the lattice finds for
//! far fewer exact transformations; the reference path transforms every sample.
template <class Paint>
void WalkImage(int width, int height, const KRRect2d& rect, const detail::KRSampleSpan& span,
               const detail::KRGridFrame& frame, OGRCoordinateTransformation* toSource, bool reference, Paint& paint)
{
    if (toSource == nullptr || reference) {
        detail::ForEachGridPosition(width, height, rect, span, frame, toSource, paint);
        return;
    }
    // One per thread, kept between fetches: its buffers (a megabyte for a tile)
    // are then allocated once, not mapped and faulted in again at every fetch.
    static thread_local detail::KRSourceLattice lattice;
    const detail::KRSampleSpan clamped = detail::ClampSpan(span, width, height);
    if (!lattice.Compute(width, height, rect, clamped, frame, *toSource))
        return;
    for (int r = clamped.r0; r <= clamped.r1; ++r)
        for (int c = clamped.c0; c <= clamped.c1; ++c)
            detail::VisitPosition(frame, r, c, lattice.Row(r, c), lattice.Col(r, c), paint);
}

} // namespace

//! How one fetch turns a pixel's samples into bytes.
struct KRPixelPaint {
    int order[4] = {2, 1, 0, 3}; //!< byte of bands 1 to 3 and (entry 3) of alpha
    int bands = 0;               //!< effective bands sampled
    int channels = 0;            //!< bands written: no more than the caller's bytes per pixel
    int pixelBytes = 0;          //!< bytes per pixel of the image written to
    bool writeAlpha = false;     //!< the image written to is a working RGBA image
    bool stretch[4] = {};        //!< band k is 16-bit and so contrast-stretched

    //! Band orders may name any byte; only those inside the pixel are written.
    void Put(unsigned char* pixel, int index, unsigned char value) const
    {
        if (index >= 0 && index < pixelBytes)
            pixel[index] = value;
    }
};

bool KRGORasterAccessorPlugin::MatchesFilterColor(const double* sample, int bands) const
{
    // A fixed, tight tolerance: the host's filter tolerance governs the nodata comparison only.
    for (int k = 0; k < bands; ++k) {
        if (!detail::MatchesWithin(sample[k], m_filterColor[k], detail::kFilterColorEpsilon))
            return false;
    }
    return true;
}

int KRGORasterAccessorPlugin::EffectiveBandCount() const
{
    const int bands = (m_nBandCount > 3 && m_bIgnoreAlpha) ? 3 : m_nBandCount;
    // Bands past the fourth have no sample slot; the first four are served.
    return std::min(bands, kMaxSampledBands);
}

void KRGORasterAccessorPlugin::ColorPixel(double* sample, const KRPixelPaint& paint, unsigned char* pixel,
                                          bool& transparent)
{
    if (m_bFilterColorUsed && MatchesFilterColor(sample, paint.bands))
        sample[3] = 0.0;
    if (sample[3] == 0.0)
        transparent = true;

    for (int k = 0; k < paint.channels; ++k) {
        double v = sample[k];
        if (paint.stretch[k])
            v = GetStretchValue(v, k);
        if (paint.bands == 1) {
            // Palette colours go out red, green, blue in fixed places, whatever the band order.
            const unsigned int color = GetColorFromTable(v);
            paint.Put(pixel, 0, KRREDVAL(color));
            paint.Put(pixel, 1, KRGREENVAL(color));
            paint.Put(pixel, 2, KRBLUEVAL(color));
        } else {
            paint.Put(pixel, paint.order[k], LowByte(v));
        }
    }
    if (paint.writeAlpha)
        paint.Put(pixel, paint.order[3], LowByte(sample[3]));
}

GetchResult KRGORasterAccessorPlugin::FetchImageFromBands(KRImageData& image, KRImageData*& newImage,
                                                          const KRRect2d& rect, const KRRect2d& srcRect,
                                                          const int* bandMap, bool flip,
                                                          OGRCoordinateTransformation* toSource)
{
    if (!detail::IsWritable(image))
        return GetchResult_None;
    const bool topDown = (m_dPixelSizeY < 0.0) != flip;
    KRBandWindow window;
    if (!SourceWindow(rect, srcRect, image.GetWidth(), image.GetHeight(), topDown, window))
        return GetchResult_None;

    // Every grid takes band 1's sample format; other bands are converted to it on reading.
    GDALRasterBand* first = m_pDataset->GetRasterBand(1);
    const enumRasterDataFromat format =
        detail::GridFormatOfGdalType(first != nullptr ? first->GetRasterDataType() : GDT_Unknown);
    if (format == RDF_None)
        return GetchResult_None;

    const int bands = EffectiveBandCount();
    std::unique_ptr<KRTerrainData> owned[kMaxSampledBands];
    KRArray<KRTerrainData*> grids;
    grids.SetSize(bands);
    for (int k = 0; k < bands; ++k) {
        grids[k] = nullptr;
        GDALRasterBand* band = m_pDataset->GetRasterBand(k + 1);
        if (band == nullptr)
            continue; // a missing band samples as 0
        owned[k] = detail::NewTerrainGrid(window.bufW, window.bufH, format);
        if (!owned[k])
            return GetchResult_None;
        grids[k] = owned[k].get();
        ReadBandWindow(band, window, topDown, *grids[k], nullptr);
    }

    // Pixels outside the raster, nodata and the filter colour need alpha.
    const bool needAlpha = window.cut || m_bNoDataActive || m_bFilterColorUsed;
    std::unique_ptr<KRImageData> working;
    if (needAlpha && image.GetPixelSize() < 4) {
        working = detail::NewWorkingImage(image);
        if (!working)
            return GetchResult_None;
    }
    KRImageData& target = working ? *working : image;
    target.ZeroAll();
    bool transparent = needAlpha && window.cut;

    KRPixelPaint paint;
    if (bandMap != nullptr)
        std::copy(bandMap, bandMap + 4, paint.order);
    else
        std::copy(m_bandOrder, m_bandOrder + 4, paint.order);
    paint.bands = bands;
    paint.channels = std::min(image.GetPixelSize(), bands);
    paint.pixelBytes = target.GetPixelSize();
    paint.writeAlpha = working != nullptr;
    for (int k = 0; k < bands; ++k)
        paint.stretch[k] = grids[k] != nullptr && (format == RDF_Int16 || format == RDF_UInt16);

    // Projected requests take the nearest sample; geographic ones are interpolated.
    const int width = target.GetWidth();
    const int height = target.GetHeight();
    const detail::KRGridFrame frame = WalkFrame(window, topDown, toSource != nullptr);
    const detail::KRSampleSpan span = WalkSpan(rect, width, height, toSource != nullptr);
    const std::size_t rowBytes = static_cast<std::size_t>(target.GetWidthBytes());
    const std::size_t pixelBytes = static_cast<std::size_t>(target.GetPixelSize());
    const bool ignoreNoData = !m_bNoDataActive;
    const bool reference = detail::ReferencePathsAsked();
    // Classes must not be blended into values that are not on the map.
    const bool nearest = toSource != nullptr || (m_bAccurate && m_bCategorical);
    // The sampler is chosen once per fetch, and each choice has a walk of its own.
    const auto walkWith = [&](auto&& sample) {
        auto paintSample = [&](int r, int c, double row, double col) {
            double values[4];
            sample(row, col, values);
            ColorPixel(values, paint, target.m_pData + r * rowBytes + c * pixelBytes, transparent);
        };
        WalkImage(width, height, rect, span, frame, toSource, reference, paintSample);
    };
    const auto walkTyped = [&](auto sampleType) {
        const detail::KRGatheredBands<decltype(sampleType)> gathered(grids, format, m_activeNoData, ignoreNoData,
                                                                     m_dNoDataTolerance);
        if (nearest)
            walkWith([&](double row, double col, double* out) { gathered.Nearest(row, col, out); });
        else
            walkWith([&](double row, double col, double* out) { gathered.Bilinear(row, col, out); });
    };
    if (!reference)
        detail::VisitSampleType(format, walkTyped);
    else if (nearest)
        walkWith([&](double row, double col, double* out) {
            KRTerrainData::GetValue(row, col, grids, m_activeNoData, out, ignoreNoData, m_dNoDataTolerance);
        });
    else
        walkWith([&](double row, double col, double* out) {
            KRTerrainData::GetBRasampleValue(row, col, grids, m_activeNoData, out, ignoreNoData, m_dNoDataTolerance);
        });

    target.m_bHasData = 1;
    if (working && !transparent) {
        FoldBack(*working, image);
        image.m_bHasData = 1;
        working.reset();
    }
    newImage = working.release();
    return GetchResult_Delivered;
}

GetchResult KRGORasterAccessorPlugin::FetchLatLonImageDataFromLatLonData(KRImageData* image, KRImageData*& newImage,
                                                                         const KRRect2d& rect, int* bandMap, bool flip)
{
    newImage = nullptr;
    if (image == nullptr || m_pDataset == nullptr)
        return GetchResult_None;
    if (!rect.IsIntersect(m_srcBounds.GetGeoBounds(), kIntersectTolerance)) {
        image->m_bHasData = 0;
        return GetchResult_None;
    }
    return FetchImageFromBands(*image, newImage, rect, rect, bandMap, flip, nullptr);
}

GetchResult KRGORasterAccessorPlugin::FetchLatLonImageDataFromProData(KRImageData* image, KRImageData*& newImage,
                                                                      const KRRect2d& rect, int* bandMap, bool flip)
{
    newImage = nullptr;
    if (m_pDataset == nullptr || image == nullptr)
        return GetchResult_None;
    if (!rect.IsIntersect(m_latLonBounds.GetGeoBounds(), kIntersectTolerance)) {
        image->m_bHasData = 0;
        return GetchResult_None;
    }
    const std::unique_ptr<OGRCoordinateTransformation> toSource = detail::CloneForFetch(m_pLatLonToSrc);
    if (!toSource)
        return GetchResult_None;
    const KRRect2d srcRect = TransformBounds(toSource.get(), rect, kBoundsSteps);
    if (!srcRect.IsIntersect(m_srcBounds.GetGeoBounds(), kIntersectTolerance)) {
        image->m_bHasData = 0;
        return GetchResult_None;
    }
    return FetchImageFromBands(*image, newImage, rect, srcRect, bandMap, flip, toSource.get());
}

GetchResult KRGORasterAccessorPlugin::FetchImageData(KRImageData* image, KRImageData*& newImage, const KRRect2d& rect,
                                                     int* bandMap, bool flip)
{
    try {
        CheckInitColorInfo();
        if (m_nProjType == 1)
            return FetchLatLonImageDataFromLatLonData(image, newImage, rect, bandMap, flip);
        if (m_nProjType == 2 && m_pSrcToLatLon != nullptr && m_pLatLonToSrc != nullptr)
            return FetchLatLonImageDataFromProData(image, newImage, rect, bandMap, flip);
    } catch (...) {
        // Nothing may reach the host; an allocation that failed delivers nothing.
    }
    return GetchResult_None;
}

GetchResult KRGORasterAccessorPlugin::FetchImageData(KRImageData*& image, int x, int y, int level)
{
    image = nullptr;
    try {
        KRRect2d rect;
        if (!TileOverRaster(x, y, level, rect))
            return GetchResult_None;

        const enumPixelFormat format = (m_nBandCount > 3 && !m_bIgnoreAlpha) ? PF_A8R8G8B8 : PF_R8G8B8;
        std::unique_ptr<KRImageData> tile = detail::NewImage(kTileImageSize, kTileImageSize, format);
        if (!tile)
            return GetchResult_None;
        KRImageData* replacement = nullptr;
        const GetchResult result = FetchImageData(tile.get(), replacement, rect, nullptr, false);
        std::unique_ptr<KRImageData> ownedReplacement(replacement);
        if (result == GetchResult_Delivered)
            image = ownedReplacement ? ownedReplacement.release() : tile.release();
        return result;
    } catch (...) {
        return GetchResult_None;
    }
}

} // namespace KRC
