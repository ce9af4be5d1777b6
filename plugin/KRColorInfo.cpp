// Colour preparation: the palette of the current band, the histogram clip of
// stretch type 2, and the host's single-value stretch and palette queries.
#include "KRGORasterAccessorPlugin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include <cpl_error.h>
#include <gdal_priv.h>

#include "KRBandWindow.h"
#include "KRColorRules.h"

namespace KRC {

namespace {

constexpr int kStatSlots = 4;            // bands that have stretch ranges
constexpr double kClipFraction = 0.0025; // share of non-zero pixels cut off each end
// One bucket per integer value is only sensible for modest ranges: 2^22
// buckets (32 MiB of counters) cover every 16-bit band and then some. Wider
// ranges, up to the 32-bit limit, are searched coarse, then fine.
constexpr double kMaxHistogramBuckets = 4194304.0;
constexpr double kMaxClipRange = 4294967296.0; // integers a 32-bit band holds
constexpr std::int64_t kCoarseBuckets = 65536; // 512 KiB of counters per level

//! Truncation toward zero to 64 bits that stays defined for any double (saturating; NaN gives 0).
std::int64_t TruncateToInt64(double value)
{
    if (std::isnan(value))
        return 0;
    if (value <= -9223372036854775808.0)
        return std::numeric_limits<std::int64_t>::min();
    if (value >= 9223372036854775808.0)
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(value);
}

//! Counts of `buckets` buckets of `width` integers each, bucket 0 starting at
//! integer `first`: bucket j counts the samples in [first + j w - 0.5,
//! first + (j + 1) w - 0.5). GDAL's generic histogram: a driver's own saves what
//! it computes (in an ".aux.xml" beside the raster, or beside the file a VRT reads).
std::vector<GUIntBig> CountBuckets(GDALRasterBand& band, std::int64_t first, std::int64_t width, std::int64_t buckets)
{
    std::vector<GUIntBig> counts(static_cast<std::size_t>(buckets));
    const double lo = static_cast<double>(first) - 0.5;
    (void)band.GDALRasterBand::GetHistogram(lo, lo + static_cast<double>(width) * static_cast<double>(buckets),
                                            static_cast<int>(buckets), counts.data(), FALSE, FALSE, nullptr, nullptr);
    return counts;
}

//! Walks counts[from], counts[from + step], ... while inside [0, size),
//! adding each to `sum`; the index where `sum` first reaches `threshold`, or
//! -1 (with `sum` holding the whole walk) when it never does.
std::int64_t WalkToThreshold(const GUIntBig* counts, std::int64_t size, std::int64_t from, int step,
                             std::int64_t threshold, std::int64_t& sum)
{
    for (std::int64_t k = from; k >= 0 && k < size; k += step) {
        sum += static_cast<std::int64_t>(counts[k]);
        if (sum >= threshold)
            return k;
    }
    return -1;
}

//! The pixels that are not 0 (bucket 0 of the per-integer histogram), of which
//! the clip cuts its share off each end.
std::int64_t ClipThreshold(std::uint64_t pixels, std::uint64_t zeros)
{
    const std::uint64_t nonZero = pixels > zeros ? pixels - zeros : 0;
    return detail::TruncateToInt(static_cast<double>(nonZero) * kClipFraction);
}

//! The clip over a per-integer histogram of integers 0 .. n - 1: the lowest
//! integer from 1 up and the highest from the top down at which the count
//! reaches `threshold`; either stays as it is when none does.
void ClipPerInteger(const GUIntBig* h, std::int64_t n, std::int64_t threshold, double& min, double& max)
{
    std::int64_t sum = 0;
    const std::int64_t lower = WalkToThreshold(h, n, 1, 1, threshold, sum);
    if (lower >= 0)
        min = static_cast<double>(lower);
    sum = 0;
    const std::int64_t upper = WalkToThreshold(h, n, n - 1, -1, threshold, sum);
    if (upper >= 0)
        max = static_cast<double>(upper);
}

//! The same clip for integers 0 .. n - 1 when n is too many for a bucket each:
//! a coarse histogram of power-of-two spans finds the span where the running
//! count reaches the threshold, a fine one of that span the integer. The
//! coarse counts are corrected so that every running sum equals the
//! per-integer one: bucket 0 loses the zeros for the upward walk, the last
//! span loses the samples above n - 1 that it also covers.
void ClipCoarseThenFine(GDALRasterBand& band, std::int64_t n, std::uint64_t pixels, double& min, double& max)
{
    std::int64_t width = 1;
    while (width * kCoarseBuckets < n)
        width *= 2;
    const std::int64_t spans = (n + width - 1) / width;
    std::vector<GUIntBig> coarse = CountBuckets(band, 0, width, spans);
    const GUIntBig zeros = CountBuckets(band, 0, 1, 1)[0];
    if (spans * width > n)
        coarse.back() -= std::min(coarse.back(), CountBuckets(band, n, spans * width - n, 1)[0]);
    const std::int64_t threshold = ClipThreshold(pixels, zeros);

    // The integers of span j, one bucket each (the last span ends at n - 1).
    const auto fineOf = [&](std::int64_t j) {
        return CountBuckets(band, j * width, 1, std::min(width, n - j * width));
    };

    coarse[0] -= std::min(coarse[0], zeros);
    std::int64_t sum = 0;
    const std::int64_t lowSpan = WalkToThreshold(coarse.data(), spans, 0, 1, threshold, sum);
    if (lowSpan >= 0) {
        sum -= static_cast<std::int64_t>(coarse[static_cast<std::size_t>(lowSpan)]);
        const std::vector<GUIntBig> fine = fineOf(lowSpan);
        const auto size = static_cast<std::int64_t>(fine.size());
        const std::int64_t k = WalkToThreshold(fine.data(), size, lowSpan == 0 ? 1 : 0, 1, threshold, sum);
        if (k >= 0)
            min = static_cast<double>(lowSpan * width + k);
    }
    coarse[0] += zeros;
    sum = 0;
    const std::int64_t highSpan = WalkToThreshold(coarse.data(), spans, spans - 1, -1, threshold, sum);
    if (highSpan >= 0) {
        sum -= static_cast<std::int64_t>(coarse[static_cast<std::size_t>(highSpan)]);
        const std::vector<GUIntBig> fine = fineOf(highSpan);
        const auto size = static_cast<std::int64_t>(fine.size());
        const std::int64_t k = WalkToThreshold(fine.data(), size, size - 1, -1, threshold, sum);
        if (k >= 0)
            max = static_cast<double>(highSpan * width + k);
    }
}

} // namespace

void KRGORasterAccessorPlugin::CheckInitColorInfo()
{
    try {
        std::lock_guard<KRMutex> lock(m_mutex);
        if (m_bColorInfoInited || m_pBand == nullptr)
            return;
        // Statistics of a band without valid pixels fail loudly in GDAL; the failure is handled here.
        const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
        m_colorset = ReadColorset();
        if (m_nStretchType == 2)
            CheckHistogram();
        m_bColorInfoInited = true;
    } catch (...) {
        // An allocation that failed leaves the colour state unprepared; the next call tries again.
    }
}

KRColorset KRGORasterAccessorPlugin::ReadColorset()
{
    KRColorset colors;
    const GDALColorTable* table = m_pBand != nullptr ? m_pBand->GetColorTable() : nullptr;
    if (table == nullptr)
        return colors;
    const int count = table->GetColorEntryCount();

    if (m_pBand->GetColorInterpretation() == GCI_GrayIndex) {
        // A grey table is a ramp from white at index 0 to black at the last index.
        colors.m_colors.Add(KRRGB(255, 255, 255));
        for (int k = 1; k < count - 1; ++k)
            colors.m_colors.Add(KRRGB(k, k, k));
        colors.m_colors.Add(KRRGB(0, 0, 0));
        return colors;
    }

    colors.SetColorSize(count);
    for (int i = 0; i < count; ++i) {
        const GDALColorEntry* entry = table->GetColorEntry(i);
        if (entry != nullptr)
            colors.m_colors[i] = KRRGB(entry->c3, entry->c2, entry->c1);
    }
    return colors;
}

bool KRGORasterAccessorPlugin::ReadStretchRange(GDALRasterBand* band, int slot, double& min, double& max)
{
    if (m_bandHasMin[slot] && m_bandMax[slot] != 0.0) {
        min = m_bandMin[slot];
        max = m_bandMax[slot];
        return true;
    }
    // Statistics the file already holds, else the exact minimum and maximum
    // scanned without GDAL's statistics calls: those store what they compute in
    // an ".aux.xml" beside the raster, or beside the files a VRT reads, where
    // keeping the opened dataset's settings in memory does not reach.
    double mean = 0.0;
    double stdDev = 0.0;
    if (band->GetStatistics(FALSE, FALSE, &min, &max, &mean, &stdDev) != CE_None) {
        double minMax[2] = {0.0, 0.0};
        if (band->ComputeRasterMinMax(FALSE, minMax) != CE_None)
            return false; // the range stays as opening left it
        min = minMax[0];
        max = minMax[1];
    }
    m_bandMin[slot] = min;
    m_bandMax[slot] = max;
    m_bandHasMin[slot] = true;
    m_bandHasMax[slot] = true;
    m_bMinMaxValid = true;
    return true;
}

void KRGORasterAccessorPlugin::CheckHistogram()
{
    if (m_histogramState || m_pDataset == nullptr)
        return;
    ClearHistogramData();
    const int bands = std::min(m_nBandCount, kStatSlots);
    for (int b = 1; b <= bands; ++b) {
        GDALRasterBand* band = m_pDataset->GetRasterBand(b);
        const int slot = b - 1;
        double min = 0.0;
        double max = 0.0;
        if (band == nullptr || !ReadStretchRange(band, slot, min, max))
            continue;
        // The clip is defined for non-negative integer ranges only; others keep
        // their plain minimum and maximum.
        if (!(max >= 0.0) || max >= kMaxClipRange)
            continue;
        const std::uint64_t pixels = m_nWidth * m_nHeight;
        if (max >= kMaxHistogramBuckets) {
            ClipCoarseThenFine(*band, TruncateToInt64(max) + 1, pixels, min, max);
        } else {
            const int buckets = static_cast<int>(max) + 1;
            std::unique_ptr<GUIntBig[]> counts(new (std::nothrow) GUIntBig[static_cast<size_t>(buckets)]());
            if (!counts)
                continue;
            (void)band->GDALRasterBand::GetHistogram(-0.5, max + 0.5, buckets, counts.get(), FALSE, FALSE, nullptr,
                                                     nullptr);
            m_histograms.Add(counts.get());
            const GUIntBig* h = counts.release();
            ClipPerInteger(h, buckets, ClipThreshold(pixels, h[0]), min, max);
        }
        m_bandMin[slot] = min;
        m_bandMax[slot] = max;
    }
    m_histogramState = true;
}

double KRGORasterAccessorPlugin::GetStretchValue(double value, int band)
{
    if (!m_bMinMaxValid || (m_nStretchType != 1 && m_nStretchType != 2))
        return value;
    if (band < 0 || band >= kStatSlots)
        return value; // only the first four bands have a range
    return detail::StretchValue(value, m_bandMin[band], m_bandMax[band], m_fStretchGamma);
}

unsigned int KRGORasterAccessorPlugin::GetColorFromTable(double value)
{
    if (m_pColorDict != nullptr && m_pColorDict->GetCount() > 0)
        return m_pColorDict->GetColor(value);
    const int count = m_colorset.GetColorSize();
    if (count > 0) {
        const int index = detail::TruncateToInt(value);
        if (index >= 0 && index < count)
            return m_colorset.m_colors[index];
        // An index the palette lacks falls through to the value itself.
    }
    return static_cast<unsigned int>(static_cast<std::uint64_t>(TruncateToInt64(value)) & 0xFFFFFFFFu);
}

} // namespace KRC
