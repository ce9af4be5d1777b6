// Quick image fetch: a rectangle in source units mapped straight onto raster
// pixels, each band read once by GDAL at the image's size and narrowed to a
// byte. No reprojection, nodata, stretch or palette on this path.
#include "KRGORasterAccessorPlugin.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <new>

#include <gdal_priv.h>

#include "KRBandWindow.h"
#include "KRSampleBuffers.h"

namespace KRC {

namespace {

constexpr double kIntersectTolerance = 1e-16;
constexpr int kBandMapEntries = 4; // bands 1 to 4; entry 3 is also the alpha byte
constexpr int kDefaultBandMap[kBandMapEntries] = {2, 1, 0, 3};
constexpr int kAlphaEntry = 3;
constexpr int kRgbaBytes = 4;
constexpr unsigned char kOpaque = 255;

//! One axis of the request: source pixels [low, high) clipped to [0, extent],
//! and the destination span [d0, d1) of the image's pixels that they fill.
struct AxisClip {
    long long low = 0;
    long long high = 0;
    int d0 = 0;
    int d1 = 0;
    bool clipped = false;

    long long Size() const { return high - low; }
};

//! The request's pixel window: columns from the west edge, rows counted up from the south edge.
struct QuickWindow {
    AxisClip x;
    AxisClip y;

    bool Clipped() const { return x.clipped || y.clipped; }
    //! Something of the raster lies under a non-empty part of the image.
    bool Readable() const { return x.Size() > 0 && y.Size() > 0 && x.d1 > x.d0 && y.d1 > y.d0; }
};

long long RasterExtent(std::uint64_t size)
{
    return static_cast<long long>(std::min<std::uint64_t>(size, std::numeric_limits<int>::max()));
}

//! A destination index from the clipping proportions, kept inside [0, count].
int SpanIndex(double value, int count)
{
    return std::clamp(detail::TruncateToInt(value), 0, count);
}

//! The part of the request beyond either end is left out of the destination in
//! proportion to the unclipped window. A negative high end counts as beyond the
//! raster, as an unsigned comparison would have it.
AxisClip ClipAxis(long long low, long long high, long long extent, int count)
{
    const double size = static_cast<double>(high > low ? high - low : low - high);
    AxisClip axis;
    axis.low = low;
    axis.high = high;
    axis.d1 = count;
    if (low < 0) {
        axis.d0 = SpanIndex(-(count * static_cast<double>(low)) / size, count);
        axis.low = 0;
        axis.clipped = true;
    }
    if (high < 0 || high > extent) {
        axis.d1 = SpanIndex((static_cast<double>(extent) - static_cast<double>(low)) * count / size, count);
        axis.high = extent;
        axis.clipped = true;
    }
    return axis;
}

//! The pixel window of `rect` over a raster of W x H pixels spanning `bounds`.
QuickWindow QuickWindowOf(const KRRect2d& rect, const KRRect2d& bounds, long long W, long long H, int iw, int ih)
{
    const double w = static_cast<double>(W);
    const double h = static_cast<double>(H);
    QuickWindow win;
    win.x = ClipAxis(detail::TruncateToInt((rect.left - bounds.left) * w / bounds.Width()),
                     detail::TruncateToInt((rect.right - bounds.left) * w / bounds.Width()), W, iw);
    win.y = ClipAxis(detail::TruncateToInt((rect.bottom - bounds.bottom) * h / bounds.Height()),
                     detail::TruncateToInt((rect.top - bounds.bottom) * h / bounds.Height()), H, ih);
    return win;
}

//! Byte `channel` of every pixel of the span, set to `value`.
void FillChannel(KRImageData& image, const QuickWindow& win, int channel, unsigned char value)
{
    const int stride = image.GetWidthBytes();
    const int p = image.GetPixelSize();
    for (int r = win.y.d0; r < win.y.d1; ++r) {
        for (int c = win.x.d0; c < win.x.d1; ++c)
            image.m_pData[static_cast<std::size_t>(r) * stride + static_cast<std::size_t>(c) * p + channel] = value;
    }
}

//! One band's window, scaled by GDAL to the span's size, into `samples`. The
//! top row of a top-down read is GDAL row H - top; otherwise the window's bottom
//! row count is taken as the GDAL row.
void ReadQuickBand(GDALRasterBand& band, const QuickWindow& win, bool topDown, long long H, GDALDataType type,
                   void* samples)
{
    const long long yOffset = topDown ? H - win.y.high : win.y.low;
    // A failed read leaves the buffer as it was; the fetch still delivers.
    const CPLErr ignored = band.RasterIO(GF_Read, static_cast<int>(win.x.low), static_cast<int>(yOffset),
                                         static_cast<int>(win.x.Size()), static_cast<int>(win.y.Size()), samples,
                                         win.x.d1 - win.x.d0, win.y.d1 - win.y.d0, type, 0, 0, nullptr);
    (void)ignored;
}

//! A byte band read by GDAL straight into byte `channel` of the span's pixels,
//! rows placed as CopyQuickBand places them: a top-down read's first row is
//! the span's last image row, so the rows are written upwards from there.
void ReadQuickBytesIntoImage(GDALRasterBand& band, const QuickWindow& win, bool topDown, long long H,
                             KRImageData& image, int channel)
{
    const GSpacing pixel = image.GetPixelSize(), stride = image.GetWidthBytes();
    const int firstRow = topDown ? win.y.d1 - 1 : win.y.d0;
    unsigned char* first = image.m_pData + firstRow * stride + win.x.d0 * pixel + channel;
    const long long yOffset = topDown ? H - win.y.high : win.y.low;
    const CPLErr ignored = band.RasterIO(GF_Read, static_cast<int>(win.x.low), static_cast<int>(yOffset),
                                         static_cast<int>(win.x.Size()), static_cast<int>(win.y.Size()), first,
                                         win.x.d1 - win.x.d0, win.y.d1 - win.y.d0, GDT_Byte, pixel,
                                         topDown ? -stride : stride, nullptr);
    (void)ignored;
}

//! Byte `channel` of the span's pixels from the buffer of one band, whose rows
//! run from the south unless the read was top-down; byteAt(row, col) decodes.
template <class ByteAt>
void CopyQuickBand(KRImageData& image, const QuickWindow& win, bool topDown, int channel, ByteAt&& byteAt)
{
    const int stride = image.GetWidthBytes();
    const int p = image.GetPixelSize();
    const int rows = win.y.d1 - win.y.d0;
    for (int r = win.y.d0; r < win.y.d1; ++r) {
        const int k = r - win.y.d0;
        unsigned char* row = image.m_pData + static_cast<std::size_t>(r) * stride;
        for (int c = win.x.d0; c < win.x.d1; ++c)
            row[static_cast<std::size_t>(c) * p + channel] = byteAt(topDown ? rows - 1 - k : k, c - win.x.d0);
    }
}

} // namespace

void* KRGORasterAccessorPlugin::CreateBandData(int width, int height)
{
    if (m_pBand == nullptr)
        return nullptr;
    const GDALDataType type = m_pBand->GetRasterDataType();
    if (detail::GridFormatOfGdalType(type) == RDF_None)
        return nullptr;
    // Samples are addressed with 32-bit indices, so their count must fit one.
    const long long count = static_cast<long long>(width) * height;
    if (width < 1 || height < 1 || count > std::numeric_limits<int>::max())
        return nullptr;
    return new (std::nothrow) unsigned char[static_cast<std::size_t>(count) *
                                            static_cast<std::size_t>(GDALGetDataTypeSizeBytes(type))]();
}

unsigned char KRGORasterAccessorPlugin::GetBandDataImgValue(void* buffer, int stride, int row, int col)
{
    if (buffer == nullptr || m_pBand == nullptr)
        return 0;
    const GDALDataType type = m_pBand->GetRasterDataType();
    if (detail::GridFormatOfGdalType(type) == RDF_None)
        return 0;
    if (GDALDataTypeIsFloating(type))
        return detail::LowByteOf(GetBandDataValue(buffer, stride, row, col));

    const long long index = static_cast<long long>(stride) * row + col;
    if (index < 0 || index > std::numeric_limits<int>::max())
        return 0;
    // The low-order byte of an integer sample, or of the real part of a complex one.
    const int sampleBytes = GDALGetDataTypeSizeBytes(type);
    const int partBytes = GDALDataTypeIsComplex(type) ? sampleBytes / 2 : sampleBytes;
    const long long lowByte = CPL_IS_LSB ? 0 : partBytes - 1;
    return static_cast<const unsigned char*>(buffer)[index * sampleBytes + lowByte];
}

// Bands whose type differs from the current band's are converted by GDAL to the
// current band's type, so the one buffer and its decoding serve every band.
// Band-map entries that do not name a byte of the pixel are skipped, and so is
// the alpha of a new image when entry 3 does not.
GetchResult KRGORasterAccessorPlugin::QucikFetchImageData(KRImageData* image, KRImageData*& newImage,
                                                          const KRRect2d& rect, int* bandMap, bool flip)
try {
    newImage = nullptr;
    if (image == nullptr)
        return GetchResult_None;
    const KRRect2d& bounds = m_srcBounds.GetGeoBounds();
    if (m_pDataset == nullptr || !rect.IsIntersect(bounds, kIntersectTolerance)) {
        image->m_bHasData = 0;
        return GetchResult_None;
    }

    const int* map = bandMap != nullptr ? bandMap : kDefaultBandMap;
    const bool topDown = (m_dPixelSizeY < 0.0) != flip;
    const long long H = RasterExtent(m_nHeight);
    const int iw = image->GetWidth();
    const int ih = image->GetHeight();
    const QuickWindow win = QuickWindowOf(rect, bounds, RasterExtent(m_nWidth), H, iw, ih);

    // Byte bands need no buffer of their own (see below).
    const GDALDataType type = m_pBand != nullptr ? m_pBand->GetRasterDataType() : GDT_Unknown;
    const bool reference = detail::ReferencePathsAsked(), direct = type == GDT_Byte && !reference;
    const std::unique_ptr<unsigned char[]> samples(
        direct ? nullptr : static_cast<unsigned char*>(CreateBandData(iw, ih)));
    if (!samples && !direct)
        return GetchResult_None;
    const int bands = std::min({m_nBandCount, image->GetPixelSize(), kBandMapEntries});

    std::unique_ptr<KRImageData> rgba;
    if (win.Clipped() && image->GetPixelSize() < kRgbaBytes) {
        rgba = detail::NewWorkingImage(*image);
        if (!rgba)
            return GetchResult_None;
    }
    KRImageData& target = rgba ? *rgba : *image;
    if (!detail::IsWritable(target))
        return GetchResult_None;
    target.ZeroAll();

    const int bufferWidth = win.x.d1 - win.x.d0;
    const bool floating = GDALDataTypeIsFloating(type) != 0;
    const std::size_t sampleBytes = static_cast<std::size_t>(GDALGetDataTypeSizeBytes(type));
    const std::size_t lowByte = CPL_IS_LSB ? 0 : (GDALDataTypeIsComplex(type) ? sampleBytes / 2 : sampleBytes) - 1;
    for (int b = 0; win.Readable() && b < bands && b < m_pDataset->GetRasterCount(); ++b) {
        const int channel = map[b];
        if (channel < 0 || channel >= target.GetPixelSize())
            continue;
        {
            std::lock_guard<KRMutex> lock(m_mutex);
            GDALRasterBand& band = *m_pDataset->GetRasterBand(b + 1);
            if (direct)
                ReadQuickBytesIntoImage(band, win, topDown, H, target, channel);
            else
                ReadQuickBand(band, win, topDown, H, type, samples.get());
        }
        if (direct)
            continue;
        if (reference || floating) {
            CopyQuickBand(target, win, topDown, channel,
                          [&](int row, int col) { return GetBandDataImgValue(samples.get(), bufferWidth, row, col); });
        } else {
            // The low byte of each integer sample (of the real part of a complex one), decided once per fetch.
            const unsigned char* bytes = samples.get() + lowByte;
            CopyQuickBand(target, win, topDown, channel, [&](int row, int col) {
                return bytes[(static_cast<std::size_t>(row) * bufferWidth + col) * sampleBytes];
            });
        }
    }

    if (rgba && map[kAlphaEntry] >= 0 && map[kAlphaEntry] < kRgbaBytes)
        FillChannel(*rgba, win, map[kAlphaEntry], kOpaque);
    newImage = rgba.release();
    return GetchResult_Delivered;
} catch (...) {
    return GetchResult_None; // nothing crosses the plug-in boundary
}

} // namespace KRC
