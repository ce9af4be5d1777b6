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
// ranges keep their plain minimum and maximum.
constexpr double kMaxHistogramBuckets = 4194304.0;

//! Buckets of one per integer value from 0 to `max`; 0 when that range makes no sense.
int BucketCountFor(double max)
{
    if (!(max >= 0.0) || max >= kMaxHistogramBuckets)
        return 0;
    return static_cast<int>(max) + 1;
}

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
        const int buckets = BucketCountFor(max);
        if (buckets == 0)
            continue;
        std::unique_ptr<GUIntBig[]> counts(new (std::nothrow) GUIntBig[static_cast<size_t>(buckets)]());
        if (!counts)
            continue;
        // GDAL's generic histogram: a driver's own saves what it computes (in an
        // ".aux.xml" beside the raster, or beside the file a VRT reads).
        (void)band->GDALRasterBand::GetHistogram(-0.5, max + 0.5, buckets, counts.get(), FALSE, FALSE, nullptr,
                                                 nullptr);
        m_histograms.Add(counts.get());
        const GUIntBig* h = counts.release();

        // Zero pixels are background, not data: they do not count toward the clip.
        const std::uint64_t pixels = m_nWidth * m_nHeight;
        const std::uint64_t nonZero = pixels > h[0] ? pixels - h[0] : 0;
        const std::int64_t threshold = detail::TruncateToInt(static_cast<double>(nonZero) * kClipFraction);
        std::int64_t sum = 0;
        for (int k = 1; k < buckets; ++k) {
            sum += static_cast<std::int64_t>(h[k]);
            if (sum >= threshold) {
                min = k;
                break;
            }
        }
        sum = 0;
        for (int k = buckets - 1; k >= 0; --k) {
            sum += static_cast<std::int64_t>(h[k]);
            if (sum >= threshold) {
                max = k;
                break;
            }
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
