// Terrain fetch: the two host entry points, elevation grids from band 1 of a
// GDAL raster (geographic or projected), and the source-window and sampling
// steps that the image fetches and the NSDTF-DEM paths share with them.
#include "KRGORasterAccessorPlugin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include "KRBandWindow.h"
#include "KRColorRules.h"
#include "KRGatheredBands.h"
#include "KRSampleBuffers.h"

namespace KRC {

namespace {

constexpr int kTileSize = 33;    // samples per side of a terrain tile
constexpr int kBoundsSteps = 72; // points per edge when carrying a request into source units
constexpr double kIntersectTolerance = 1e-16;
constexpr double kNoDataTolerance = 1e-10;
constexpr long long kWindowMargin = 2; // pixels added around every source window

struct TypeFormat {
    GDALDataType type;
    enumRasterDataFromat format;
    enumPixelFormat pixelFormat;
};

// The host has no complex types: CInt16 passes as a 32-bit integer, CInt32 and
// CFloat32 as 8-byte samples of the same total width; CFloat64 and the 64-bit
// integers have no counterpart.
constexpr TypeFormat kTypeFormats[] = {
    {GDT_Byte, RDF_UInt8, PF_L8},          {GDT_UInt16, RDF_UInt16, PF_L16},     {GDT_Int16, RDF_Int16, PF_L16},
    {GDT_UInt32, RDF_UInt32, PF_X8R8G8B8}, {GDT_Int32, RDF_Int32, PF_X8R8G8B8},  {GDT_Float32, RDF_Float32, PF_R32F},
    {GDT_Float64, RDF_Float64, PF_R64F},   {GDT_CInt16, RDF_Int32, PF_X8R8G8B8}, {GDT_CInt32, RDF_Int64, PF_G32R32F},
    {GDT_CFloat32, RDF_Float64, PF_R64F},
};

const TypeFormat* FindTypeFormat(GDALDataType type)
{
    for (const TypeFormat& row : kTypeFormats) {
        if (row.type == type)
            return &row;
    }
    return nullptr;
}

} // namespace

namespace detail {

enumRasterDataFromat GridFormatOfGdalType(GDALDataType type)
{
    const TypeFormat* row = FindTypeFormat(type);
    return row != nullptr ? row->format : RDF_None;
}

enumPixelFormat PixelFormatOfGdalType(GDALDataType type)
{
    const TypeFormat* row = FindTypeFormat(type);
    return row != nullptr ? row->pixelFormat : PF_Unknown;
}

GDALDataType GdalTypeOfGridFormat(enumRasterDataFromat format)
{
    switch (format) {
    case RDF_UInt8:
        return GDT_Byte;
    case RDF_Int16:
        return GDT_Int16;
    case RDF_UInt16:
        return GDT_UInt16;
    case RDF_Float32:
        return GDT_Float32;
    case RDF_Int32:
        return GDT_Int32;
    case RDF_UInt32:
        return GDT_UInt32;
    case RDF_Int64:
        return GDT_Int64;
    case RDF_Float64:
        return GDT_Float64;
    default:
        return GDT_Unknown;
    }
}

std::unique_ptr<KRTerrainData> NewTerrainGrid(int width, int height, enumRasterDataFromat format)
{
    if (width < 1 || height < 1 || format == RDF_None)
        return nullptr;
    KRTerrainData::Structure info;
    info.fScale = 1.0f;
    info.nFlags = 0;
    std::unique_ptr<KRTerrainData> grid(new (std::nothrow) KRTerrainData(info));
    if (!grid)
        return nullptr;
    grid->SetWidth(width);
    grid->SetHeight(height);
    grid->SetDataFormat(format);
    if (!grid->CreateData() || grid->GetData() == nullptr)
        return nullptr;
    return grid;
}

std::unique_ptr<OGRCoordinateTransformation> CloneForFetch(OGRCoordinateTransformation* shared)
{
    std::unique_ptr<OGRCoordinateTransformation> copy(shared != nullptr ? shared->Clone() : nullptr);
    if (copy)
        copy->SetEmitErrors(false);
    return copy;
}

KRSampleSpan FullSpan(int width, int height)
{
    KRSampleSpan span;
    span.c1 = width - 1;
    span.r1 = height - 1;
    return span;
}

KRSampleSpan ClippedSpan(const KRRect2d& rect, const KRRect2d& source, int width, int height, bool strict)
{
    KRSampleSpan span = FullSpan(width, height);
    const double w = rect.Width();
    const double h = rect.Height();
    // Truncation lets the outer samples lie up to a step outside; strict spans keep them on or inside the edges.
    const auto first = [strict](double index) { return TruncateToInt(strict ? std::ceil(index) : index); };
    const auto last = [strict](double index) { return TruncateToInt(strict ? std::floor(index) : index); };
    if (source.left > rect.left)
        span.c0 = first((source.left - rect.left) * (width - 1) / w);
    if (rect.right > source.right)
        span.c1 = last((source.right - rect.left) * (width - 1) / w);
    if (source.bottom > rect.bottom)
        span.r0 = first((source.bottom - rect.bottom) * (height - 1) / h);
    if (rect.top > source.top)
        span.r1 = last((source.top - rect.bottom) * (height - 1) / h);
    return span;
}

void FillTerrainSamples(KRTerrainData& dst, const KRRect2d& rect, const KRSampleSpan& span, const KRTerrainData& grid,
                        const KRGridFrame& frame, OGRCoordinateTransformation* toSource)
{
    const int width = dst.GetWidth();
    const double noData = grid.m_dNoDataValue;
    // The typed sampler computes the host's sample without a type switch per
    // sample; the reference path asks the host's grid itself.
    const auto fill = [&](auto sampleType, bool typed) {
        const KRTypedGrid<decltype(sampleType)> sampler(grid);
        ForEachGridPosition(width, dst.GetHeight(), rect, span, frame, toSource,
                            [&](int r, int c, double row, double col) {
                                double v = typed ? sampler.Bilinear(row, col) : grid.GetBRasampleValue(row, col, false);
                                if (MatchesWithin(v, noData, kNoDataTolerance) || !std::isfinite(v))
                                    v = 0.0;
                                dst.SetValue(static_cast<long long>(r) * width + c, v);
                            });
    };
    if (ReferencePathsAsked() || !VisitSampleType(grid.GetDataFormat(), [&](auto type) { fill(type, true); }))
        fill(std::uint8_t{}, false);
}

} // namespace detail

KRTerrainData* KRGORasterAccessorPlugin::CreateBandRasterData(int width, int height)
{
    if (m_pBand == nullptr)
        return nullptr;
    const enumRasterDataFromat format = detail::GridFormatOfGdalType(m_pBand->GetRasterDataType());
    return detail::NewTerrainGrid(width, height, format).release();
}

double KRGORasterAccessorPlugin::GetBandDataValue(void* buffer, int stride, int row, int col)
{
    if (buffer == nullptr || m_pBand == nullptr)
        return 0.0;
    // The index is a 32-bit quantity; one that does not fit names no element.
    const long long index = static_cast<long long>(stride) * row + col;
    if (index < 0 || index > std::numeric_limits<int>::max())
        return 0.0;
    switch (m_pBand->GetRasterDataType()) {
    case GDT_Byte:
        return detail::LoadAs<std::uint8_t>(buffer, index);
    case GDT_UInt16:
        return detail::LoadAs<std::uint16_t>(buffer, index);
    case GDT_Int16:
        return detail::LoadAs<std::int16_t>(buffer, index);
    case GDT_UInt32:
        return detail::LoadAs<std::uint32_t>(buffer, index);
    case GDT_Int32:
        return detail::LoadAs<std::int32_t>(buffer, index);
    case GDT_Float32:
        return detail::LoadAs<float>(buffer, index);
    case GDT_Float64:
        return detail::LoadAs<double>(buffer, index);
    case GDT_CInt16:
        return detail::LoadAs<std::int32_t>(buffer, index);
    case GDT_CInt32:
        return detail::LoadAs<std::int64_t>(buffer, index);
    case GDT_CFloat32:
        return detail::LoadAs<double>(buffer, index);
    default:
        return 0.0;
    }
}

bool KRGORasterAccessorPlugin::ComputeBandWindow(const KRRect2d& srcRect, int dstWidth, int dstHeight,
                                                 KRBandWindow& window)
{
    const long long rasterW = static_cast<long long>(std::min<std::uint64_t>(m_nWidth, INT32_MAX));
    const long long rasterH = static_cast<long long>(std::min<std::uint64_t>(m_nHeight, INT32_MAX));
    if (rasterW < 1 || rasterH < 1 || dstWidth < 1 || dstHeight < 1)
        return false;

    const KRRect2d& src = m_srcBounds.GetGeoBounds();
    const KRRect2i covered = ComputePixelBounds(srcRect);
    // 64-bit sides, so the margin cannot overflow a saturated pixel index.
    long long left = std::min(covered.left, covered.right) - kWindowMargin;
    long long right = std::max(covered.left, covered.right) + kWindowMargin;
    long long bottom = std::min(covered.bottom, covered.top) - kWindowMargin;
    long long top = std::max(covered.bottom, covered.top) + kWindowMargin;

    window = KRBandWindow();
    if (left < 0) {
        left = 0;
        window.bounds.left = src.left;
        window.cut = true;
    } else {
        left = std::min(left, rasterW - 1); // a request touching the east edge within tolerance
        window.bounds.left = src.left + static_cast<double>(left) * m_dResX;
    }
    // Negative sides count as beyond the raster too, as an unsigned comparison would.
    if (right < 0 || right >= rasterW) {
        right = rasterW - 1;
        window.bounds.right = src.right;
        window.cut = true;
    } else {
        window.bounds.right = src.left + static_cast<double>(right) * m_dResX;
    }
    if (bottom < 0) {
        bottom = 0;
        window.bounds.bottom = src.bottom;
        window.cut = true;
    } else {
        bottom = std::min(bottom, rasterH - 1);
        window.bounds.bottom = src.bottom + static_cast<double>(bottom) * m_dResY;
    }
    if (top < 0 || top >= rasterH) {
        top = rasterH - 1;
        window.bounds.top = src.top;
        window.cut = true;
    } else {
        window.bounds.top = src.bottom + static_cast<double>(top) * m_dResY;
    }

    window.pixels =
        KRRect2i(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right), static_cast<int>(bottom));
    window.winW = window.pixels.AbsWidth() + 1;
    window.winH = window.pixels.AbsHeight() + 1;
    window.bufW = std::min(window.winW, dstWidth);
    window.bufH = std::min(window.winH, dstHeight);
    return true;
}

int KRGORasterAccessorPlugin::AccurateFactor(const KRRect2d& rect, int dstWidth, int dstHeight) const
{
    if (!m_bAccurate || m_nWidth == 0 || m_nHeight == 0)
        return 0;
    const KRRect2d& geo = m_latLonBounds.GetGeoBounds();
    return detail::ReductionFactor(detail::SampleStep(rect.Width(), dstWidth), geo.Width() / m_nWidth,
                                   detail::SampleStep(rect.Height(), dstHeight), geo.Height() / m_nHeight);
}

bool KRGORasterAccessorPlugin::SourceWindow(const KRRect2d& rect, const KRRect2d& srcRect, int dstWidth, int dstHeight,
                                            bool topDown, KRBandWindow& window)
{
    const int factor = AccurateFactor(rect, dstWidth, dstHeight);
    if (factor == 0)
        return ComputeBandWindow(srcRect, dstWidth, dstHeight, window);
    if (m_nWidth < 1 || m_nHeight < 1 || m_nWidth > INT32_MAX || m_nHeight > INT32_MAX)
        return false;
    const KRRect2i covered = ComputePixelBounds(srcRect);
    // Where a projection stretches the request far beyond the pixels the level
    // expects (near a pole, at a disk's rim), coarser cells keep the grid near
    // the destination's size; tiles there may no longer share their cells.
    for (int f = factor;; f *= 2) {
        window = detail::AlignedWindow(covered.left, covered.right, covered.bottom, covered.top,
                                       static_cast<long long>(m_nWidth), static_cast<long long>(m_nHeight), f, topDown);
        if ((window.bufW <= 4 * dstWidth + 8 && window.bufH <= 4 * dstHeight + 8) || f >= (1 << 20))
            break;
    }
    window.bounds = m_srcBounds.GetGeoBounds(); // the frame places cells itself
    return window.bufW > 0 && window.bufH > 0;
}

void KRGORasterAccessorPlugin::ReadBandWindow(GDALRasterBand* band, const KRBandWindow& window, bool topDown,
                                              KRTerrainData& grid, double* noData)
{
    if (band == nullptr || grid.GetData() == nullptr || grid.GetWidth() != window.bufW ||
        grid.GetHeight() != window.bufH)
        return;

    std::lock_guard<KRMutex> lock(m_mutex);
    if (noData != nullptr)
        *noData = band->GetNoDataValue();
    // A band whose type differs from the grid's (another band chosen by
    // BeginRead, or a multi-type dataset) is converted to the grid's type, so
    // the read never writes more bytes than the grid holds.
    GDALDataType type = band->GetRasterDataType();
    if (detail::GridFormatOfGdalType(type) != grid.GetDataFormat())
        type = detail::GdalTypeOfGridFormat(grid.GetDataFormat());
    const std::uint64_t needed = static_cast<std::uint64_t>(window.bufW) * static_cast<std::uint64_t>(window.bufH) *
                                 static_cast<std::uint64_t>(GDALGetDataTypeSizeBytes(type));
    if (type == GDT_Unknown || needed > grid.GetDataBytes())
        return;

    const long long rasterH = static_cast<long long>(m_nHeight);
    const long long yOffset = topDown ? rasterH - window.pixels.top - 1 : window.pixels.bottom;
    if (window.factor > 1) {
        int hasNoData = 0;
        const double bandNoData = band->GetNoDataValue(&hasNoData);
        const detail::KRRowReader readRow = [band](int row, int x, int count, int step, double* values) {
            return band->RasterIO(GF_Read, x, row, count * step, 1, values, count, 1, GDT_Float64, 0, 0, nullptr) ==
                   CE_None;
        };
        detail::ReduceWindow(window, readRow, m_bCategorical, hasNoData != 0, bandNoData, grid);
        return;
    }
    // A failed read leaves the grid as it was; the fetch still delivers.
    const CPLErr ignored = band->RasterIO(GF_Read, window.pixels.left, static_cast<int>(yOffset), window.winW,
                                          window.winH, grid.GetData(), window.bufW, window.bufH, type, 0, 0, nullptr);
    (void)ignored;
}

// Geographic requests are clipped to the raster up front; projected ones are
// tested sample by sample, since their outline is not a rectangle there.
detail::KRGridFrame KRGORasterAccessorPlugin::WalkFrame(const KRBandWindow& window, bool topDown, bool projected) const
{
    if (window.factor > 0)
        return detail::CentredFrame(window, m_srcBounds.GetGeoBounds(), static_cast<long long>(m_nWidth),
                                    static_cast<long long>(m_nHeight), topDown, projected);
    detail::KRGridFrame frame;
    frame.bounds = window.bounds;
    frame.cols = window.bufW;
    frame.rows = window.bufH;
    frame.topDown = topDown;
    frame.rangeTest = projected;
    return frame;
}

detail::KRSampleSpan KRGORasterAccessorPlugin::WalkSpan(const KRRect2d& rect, int width, int height,
                                                        bool projected) const
{
    return projected ? detail::FullSpan(width, height)
                     : detail::ClippedSpan(rect, m_srcBounds.GetGeoBounds(), width, height, m_bAccurate);
}

GetchResult KRGORasterAccessorPlugin::FetchTerrainFromBand(KRTerrainData& terrain, const KRRect2d& rect,
                                                           const KRRect2d& srcRect, bool flip,
                                                           OGRCoordinateTransformation* toSource)
{
    const bool topDown = (m_dPixelSizeY < 0.0) != flip;
    KRBandWindow window;
    if (!SourceWindow(rect, srcRect, terrain.GetWidth(), terrain.GetHeight(), topDown, window))
        return GetchResult_None;

    // The grid takes band 1's own type, which is what is read into it, even
    // when BeginRead has made another band current.
    GDALRasterBand* band = m_pDataset->GetRasterBand(1);
    GDALRasterBand* typeBand = band != nullptr ? band : m_pBand;
    const GDALDataType type = typeBand != nullptr ? typeBand->GetRasterDataType() : GDT_Unknown;
    std::unique_ptr<KRTerrainData> grid =
        detail::NewTerrainGrid(window.bufW, window.bufH, detail::GridFormatOfGdalType(type));
    if (!grid)
        return GetchResult_None;

    terrain.ZeroAll();
    if (band == nullptr)
        return GetchResult_Delivered;

    double noData = 0.0;
    ReadBandWindow(band, window, topDown, *grid, &noData);
    grid->m_dNoDataValue = noData;

    const detail::KRGridFrame frame = WalkFrame(window, topDown, toSource != nullptr);
    const detail::KRSampleSpan span = WalkSpan(rect, terrain.GetWidth(), terrain.GetHeight(), toSource != nullptr);
    detail::FillTerrainSamples(terrain, rect, span, *grid, frame, toSource);
    return GetchResult_Delivered;
}

GetchResult KRGORasterAccessorPlugin::FetchLatLonTerrainDataFromLatLonData(KRTerrainData* terrain, const KRRect2d& rect,
                                                                           bool flip)
{
    if (m_pDataset == nullptr || terrain == nullptr)
        return GetchResult_None;
    if (!rect.IsIntersect(m_srcBounds.GetGeoBounds(), kIntersectTolerance))
        return GetchResult_None;
    return FetchTerrainFromBand(*terrain, rect, rect, flip, nullptr);
}

GetchResult KRGORasterAccessorPlugin::FetchLatLonTerrainDataFromProData(KRTerrainData* terrain, const KRRect2d& rect,
                                                                        bool flip)
{
    if (m_pDataset == nullptr || terrain == nullptr)
        return GetchResult_None;
    const std::unique_ptr<OGRCoordinateTransformation> toSource = detail::CloneForFetch(m_pLatLonToSrc);
    if (!toSource)
        return GetchResult_None;

    const KRRect2d srcRect = TransformBounds(toSource.get(), rect, kBoundsSteps);
    if (!srcRect.IsIntersect(m_srcBounds.GetGeoBounds(), kIntersectTolerance))
        return GetchResult_None;
    return FetchTerrainFromBand(*terrain, rect, srcRect, flip, toSource.get());
}

GetchResult KRGORasterAccessorPlugin::FetchTerrainData(KRTerrainData* terrain, const KRRect2d& rect, bool flip)
{
    // A grid without samples (never created, or resized since) cannot be delivered.
    if (terrain != nullptr && terrain->GetData() == nullptr)
        return GetchResult_None;
    try {
        if (m_nProjType == 1) {
            if (!m_bNsdtfDem)
                return FetchLatLonTerrainDataFromLatLonData(terrain, rect, flip);
            if (m_pDemData == nullptr)
                ReadChinaDemData(m_strFileName);
            return FetchLatLonTerrainDataFromChinaDemLatLonData(terrain, rect, flip);
        }
        if (m_nProjType == 2 && m_pSrcToLatLon != nullptr && m_pLatLonToSrc != nullptr) {
            if (!m_bNsdtfDem)
                return FetchLatLonTerrainDataFromProData(terrain, rect, flip);
            if (m_pDemData == nullptr)
                ReadChinaDemData(m_strFileName);
            return FetchLatLonTerrainDataFromChinaDemProData(terrain, rect, flip);
        }
    } catch (...) {
        // Nothing may reach the host; an allocation that failed delivers nothing.
    }
    return GetchResult_None;
}

bool KRGORasterAccessorPlugin::TileOverRaster(int x, int y, int level, KRRect2d& rect)
{
    KRMath::CalcTileBounds(rect, x, y, level);
    return m_latLonBounds.GetGeoBounds().IsIntersect(rect, kIntersectTolerance);
}

GetchResult KRGORasterAccessorPlugin::FetchTerrainData(KRTerrainData*& terrain, int x, int y, int level)
{
    terrain = nullptr;
    try {
        KRRect2d rect;
        if (!TileOverRaster(x, y, level, rect))
            return GetchResult_None;

        std::unique_ptr<KRTerrainData> grid = detail::NewTerrainGrid(kTileSize, kTileSize, RDF_Float32);
        if (!grid)
            return GetchResult_None;
        const GetchResult result = FetchTerrainData(grid.get(), rect, false);
        if (result == GetchResult_Delivered)
            terrain = grid.release();
        return result;
    } catch (...) {
        return GetchResult_None;
    }
}

} // namespace KRC
