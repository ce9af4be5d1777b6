#pragma once
// Private to the module: the host's multi-band samplers for the grids of one
// image fetch, with the band set gathered once instead of at every pixel.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "KRArray.h"
#include "KRTerrainData.h"

namespace KRC {
namespace detail {

constexpr int kMaxBands = 4; // the samplers fill four values per pixel

//! Calls visit(T{}) with T the element type of grids of `format`; false, and
//! no call, for a format without one. Every grid of one fetch shares one
//! format, so the samplers below are chosen once per fetch, not per sample.
template <class Visit> bool VisitSampleType(enumRasterDataFromat format, Visit&& visit)
{
    switch (format) {
    case RDF_UInt8:
        return visit(std::uint8_t{}), true;
    case RDF_Int16:
        return visit(std::int16_t{}), true;
    case RDF_UInt16:
        return visit(std::uint16_t{}), true;
    case RDF_Float32:
        return visit(float{}), true;
    case RDF_Int32:
        return visit(std::int32_t{}), true;
    case RDF_UInt32:
        return visit(std::uint32_t{}), true;
    case RDF_Int64:
        return visit(std::int64_t{}), true;
    case RDF_Float64:
        return visit(double{}), true;
    default:
        return false;
    }
}

//! The host's weighted mean of four neighbours: relative to the first weighted
//! value, so that equal neighbours give back their value exactly.
inline double WeightedMean(const double* values, const double* weights, double weightSum)
{
    int first = 0;
    while (first < 3 && weights[first] <= 0.0)
        ++first;
    const double base = values[first];
    double sum = 0.0;
    for (int i = 0; i < 4; ++i) {
        if (weights[i] > 0.0)
            sum += weights[i] * (values[i] - base);
    }
    return base + sum / weightSum;
}

//! The host's four cells around a position in a width x height grid (the
//! position clamped into it) and their bilinear weights, in the order
//! (r0, c0), (r0, c1), (r1, c0), (r1, c1). The position must not be NaN.
struct KRBilinearCell {
    KRBilinearCell(double row, double col, int width, int height)
    {
        const double rr = std::clamp(row, 0.0, static_cast<double>(height - 1));
        const double cc = std::clamp(col, 0.0, static_cast<double>(width - 1));
        r0 = static_cast<int>(rr), c0 = static_cast<int>(cc); // floor of non-negative values
        r1 = std::min(r0 + 1, height - 1), c1 = std::min(c0 + 1, width - 1);
        const double fr = rr - r0, fc = cc - c0;
        quad[0] = (1.0 - fr) * (1.0 - fc), quad[1] = (1.0 - fr) * fc, quad[2] = fr * (1.0 - fc), quad[3] = fr * fc;
    }
    int r0, c0, r1, c1;
    double quad[4];
};

//! One element of a grid of T as a double.
template <class T> double LoadAs(const void* data, std::size_t index)
{
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(data) + index * sizeof(T), sizeof(T));
    return static_cast<double>(value);
}

//! The host's single-grid bilinear sample with nodata honoured
//! (KRTerrainData::GetBRasampleValue(row, col, false)) for a grid whose
//! elements are T: the same cells, weights, nodata rule and weighted mean, in
//! the same order, without a type switch per sample.
template <class T> class KRTypedGrid {
public:
    explicit KRTypedGrid(const KRTerrainData& grid)
        : m_data(static_cast<const unsigned char*>(grid.GetData())), m_width(grid.GetWidth()),
          m_height(grid.GetHeight()), m_noData(grid.m_dNoDataValue)
    {
    }

    double Bilinear(double row, double col) const
    {
        if (m_data == nullptr || m_width < 1 || m_height < 1)
            return 0.0;
        if (std::isnan(row) || std::isnan(col))
            return std::numeric_limits<double>::quiet_NaN();
        const KRBilinearCell q(row, col, m_width, m_height);
        const std::size_t w = static_cast<std::size_t>(m_width);
        const std::size_t at[4] = {q.r0 * w + q.c0, q.r0 * w + q.c1, q.r1 * w + q.c0, q.r1 * w + q.c1};
        const double* quad = q.quad;
        double values[4], weights[4] = {};
        double weightSum = 0.0;
        for (int i = 0; i < 4; ++i) {
            values[i] = LoadAs<T>(m_data, at[i]);
            if (quad[i] <= 0.0 || IsNoData(values[i]))
                continue;
            weights[i] = quad[i];
            weightSum += quad[i];
        }
        return weightSum <= 0.0 ? m_noData : WeightedMean(values, weights, weightSum);
    }

private:
    bool IsNoData(double v) const
    {
        return std::isnan(m_noData) ? std::isnan(v) : std::fabs(v - m_noData) < 1e-10; // the host's grid tolerance
    }

    const unsigned char* m_data;
    int m_width, m_height;
    double m_noData;
};

//! The host's multi-band samplers (KRTerrainData::GetValue, nearest, and
//! GetBRasampleValue, bilinear) with the band set gathered once per fetch
//! instead of once per pixel: the same cells, values, weights, nodata rule and
//! alpha, computed in the same order. T is the element type of every grid
//! (`format`; a grid of another format reads as 0).
template <class T> class KRGatheredBands {
public:
    KRGatheredBands(const KRArray<KRTerrainData*>& grids, enumRasterDataFromat format, const KRArray<double>& noData,
                    bool ignoreNoData, double tolerance)
        : m_count(std::min(grids.GetSize(), kMaxBands)), m_ignoreNoData(ignoreNoData), m_tolerance(tolerance)
    {
        for (int k = 0; k < m_count; ++k) {
            const KRTerrainData* grid = grids[k];
            if (grid == nullptr || grid->GetData() == nullptr)
                continue;
            Band& band = m_bands[k];
            band.data = static_cast<const unsigned char*>(grid->GetData());
            band.typed = grid->GetDataFormat() == format; // a grid without data was skipped above
            band.width = static_cast<std::size_t>(grid->GetWidth());
            band.hasNoData = k < noData.GetSize();
            band.noData = band.hasNoData ? noData[k] : 0.0;
            m_width = m_any ? std::min(m_width, grid->GetWidth()) : grid->GetWidth();
            m_height = m_any ? std::min(m_height, grid->GetHeight()) : grid->GetHeight();
            m_any = true;
        }
    }

    void Nearest(double row, double col, double* out) const
    {
        WithCount([&](auto n) { NearestOf<n>(row, col, out); });
    }
    void Bilinear(double row, double col, double* out) const
    {
        WithCount([&](auto n) { BilinearOf<n>(row, col, out); });
    }

private:
    //! Calls f with the band count as a constant, so the per-band loops unroll and their sums stay in registers.
    template <class F> void WithCount(F&& f) const
    {
        switch (m_count) {
        case 0:
            return f(std::integral_constant<int, 0>{});
        case 1:
            return f(std::integral_constant<int, 1>{});
        case 2:
            return f(std::integral_constant<int, 2>{});
        case 3:
            return f(std::integral_constant<int, 3>{});
        default:
            return f(std::integral_constant<int, kMaxBands>{});
        }
    }

    template <int N> void NearestOf(double row, double col, double* out) const
    {
        std::fill(out, out + kMaxBands, 0.0);
        if (!Samples(row, col))
            return;
        const auto clamped = [](double v, int count) { return std::clamp(v, 0.0, static_cast<double>(count - 1)); };
        // Truncation is floor here: the positions are clamped to be non-negative.
        const std::size_t r = static_cast<std::size_t>(clamped(row, m_height) + 0.5);
        const std::size_t c = static_cast<std::size_t>(clamped(col, m_width) + 0.5);
        double values[kMaxBands][4]; // Load sets slot 0 of every band
        Load<N>(r, c, 0, values);
        if (!m_ignoreNoData && IsNoDataCell<N>(values, 0))
            return;
        for (int k = 0; k < N; ++k)
            out[k] = values[k][0];
        FinishAlpha(out);
    }

    template <int N> void BilinearOf(double row, double col, double* out) const
    {
        std::fill(out, out + kMaxBands, 0.0);
        if (!Samples(row, col))
            return;
        const KRBilinearCell q(row, col, m_width, m_height);
        const double* quad = q.quad;
        double values[kMaxBands][4]; // Load sets every slot of every band
        Load<N>(q.r0, q.c0, 0, values);
        Load<N>(q.r0, q.c1, 1, values);
        Load<N>(q.r1, q.c0, 2, values);
        Load<N>(q.r1, q.c1, 3, values);
        double weightSum = 0.0;
        double weights[4] = {};
        for (int i = 0; i < 4; ++i) {
            if (quad[i] <= 0.0 || (!m_ignoreNoData && IsNoDataCell<N>(values, i)))
                continue;
            weights[i] = quad[i];
            weightSum += quad[i];
        }
        if (weightSum <= 0.0)
            return;
        // WeightedMean of every band at once: the bands share their weights, so
        // their sums run side by side, each in the host's order of operations.
        int first = 0;
        while (first < 3 && weights[first] <= 0.0)
            ++first;
        double base[kMaxBands], sum[kMaxBands] = {};
        for (int k = 0; k < N; ++k)
            base[k] = values[k][first];
        for (int i = 0; i < 4; ++i) {
            if (weights[i] > 0.0) {
                for (int k = 0; k < N; ++k)
                    sum[k] += weights[i] * (values[k][i] - base[k]);
            }
        }
        for (int k = 0; k < N; ++k) {
            if (m_bands[k].data != nullptr)
                out[k] = base[k] + sum[k] / weightSum;
        }
        FinishAlpha(out);
    }

    struct Band {
        const unsigned char* data = nullptr;
        bool typed = false; //!< the grid's elements are of type T
        std::size_t width = 0;
        bool hasNoData = false;
        double noData = 0.0;
    };

    bool Samples(double row, double col) const
    {
        return m_any && m_width > 0 && m_height > 0 && !std::isnan(row) && !std::isnan(col);
    }
    //! Cell (r, c) of the common extent, from every band (each with its own row length), into values[k][slot];
    //! 0 for a band without samples.
    template <int N> void Load(std::size_t r, std::size_t c, int slot, double (*values)[4]) const
    {
        for (int k = 0; k < N; ++k) {
            const Band& band = m_bands[k];
            values[k][slot] = band.typed ? LoadAs<T>(band.data, r * band.width + c) : 0.0;
        }
    }
    //! Every band with a nodata value matches it there (and at least one has one).
    template <int N> bool IsNoDataCell(const double (*values)[4], int slot) const
    {
        bool checked = false;
        for (int k = 0; k < N; ++k) {
            const Band& band = m_bands[k];
            if (band.data == nullptr || !band.hasNoData)
                continue;
            checked = true;
            const double v = values[k][slot];
            if (!(std::isnan(band.noData) ? std::isnan(v) : std::fabs(v - band.noData) < m_tolerance))
                return false;
        }
        return checked;
    }
    //! Band 4 is alpha when there is one; else the pixel is opaque.
    void FinishAlpha(double* out) const
    {
        if (m_count < kMaxBands || m_bands[kMaxBands - 1].data == nullptr)
            out[kMaxBands - 1] = 255.0;
    }

    Band m_bands[kMaxBands];
    int m_count;
    bool m_ignoreNoData;
    double m_tolerance;
    int m_width = 0, m_height = 0;
    bool m_any = false;
};

} // namespace detail
} // namespace KRC
