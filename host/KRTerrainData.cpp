#include "KRTerrainData.h"

#include "KRBuffer.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include "KRArray.h"

namespace KRC {

namespace {

constexpr double kMemberNoDataTolerance = 1e-10;
constexpr int kMaxBands = 4;
constexpr double kOpaque = 255.0;

// Like a C cast (truncation toward zero), but out-of-range values saturate to
// the type's limits and NaN becomes 0, so no conversion is undefined.
template <class T> T SaturateCast(double value)
{
    if constexpr (std::is_floating_point_v<T>) {
        if constexpr (sizeof(T) < sizeof(double)) {
            // Overflow of the narrower type yields the infinity IEEE rounding would.
            if (value > static_cast<double>(std::numeric_limits<T>::max()))
                return std::numeric_limits<T>::infinity();
            if (value < static_cast<double>(std::numeric_limits<T>::lowest()))
                return -std::numeric_limits<T>::infinity();
        }
        return static_cast<T>(value);
    } else {
        if (std::isnan(value))
            return 0;
        // For 64-bit types max() rounds up to 2^63 as a double, which is still
        // the right bound for ">=".
        if (value >= static_cast<double>(std::numeric_limits<T>::max()))
            return std::numeric_limits<T>::max();
        if (value <= static_cast<double>(std::numeric_limits<T>::min()))
            return std::numeric_limits<T>::min();
        return static_cast<T>(value);
    }
}

template <class T> double Load(const unsigned char* data, std::size_t index)
{
    T value;
    std::memcpy(&value, data + index * sizeof(T), sizeof(T));
    return static_cast<double>(value);
}

template <class T> void Store(unsigned char* data, std::size_t index, double value)
{
    const T stored = SaturateCast<T>(value);
    std::memcpy(data + index * sizeof(T), &stored, sizeof(T));
}

// Calls f with a value of the element type of `format`, so a caller picks the
// type once and then reads with a fixed-type loop.
template <class F> bool DispatchFormat(enumRasterDataFromat format, F&& f)
{
    switch (format) {
    case RDF_UInt8:
        f(std::uint8_t{});
        return true;
    case RDF_Int16:
        f(std::int16_t{});
        return true;
    case RDF_UInt16:
        f(std::uint16_t{});
        return true;
    case RDF_Float32:
        f(float{});
        return true;
    case RDF_Int32:
        f(std::int32_t{});
        return true;
    case RDF_UInt32:
        f(std::uint32_t{});
        return true;
    case RDF_Int64:
        f(std::int64_t{});
        return true;
    case RDF_Float64:
        f(double{});
        return true;
    case RDF_None:
        break;
    }
    return false;
}

// Reads `count` samples at the given element indices, all checked by the caller.
void LoadSamples(enumRasterDataFromat format, const unsigned char* data, const std::size_t* indices, int count,
                 double* values)
{
    const bool known = DispatchFormat(format, [&](auto tag) {
        using T = decltype(tag);
        for (int i = 0; i < count; ++i)
            values[i] = Load<T>(data, indices[i]);
    });
    if (!known)
        std::fill(values, values + count, 0.0);
}

// A NaN nodata value marks NaN samples; otherwise the distance must be
// strictly below the tolerance.
bool IsNoData(double value, double noData, double tolerance)
{
    if (std::isnan(noData))
        return std::isnan(value);
    return std::fabs(value - noData) < tolerance;
}

// The four cells around a fractional position and their bilinear weights,
// in the order (r0, c0), (r0, c1), (r1, c0), (r1, c1).
struct Quad {
    std::size_t index[4];
    double weight[4];
};

// The position is clamped to [0, height - 1] x [0, width - 1], so positions
// just outside the grid take the border's value. The position must not be NaN
// and the size must be positive.
Quad MakeQuad(double row, double col, int width, int height)
{
    const double r = std::clamp(row, 0.0, static_cast<double>(height - 1));
    const double c = std::clamp(col, 0.0, static_cast<double>(width - 1));
    const int r0 = static_cast<int>(std::floor(r));
    const int c0 = static_cast<int>(std::floor(c));
    const int r1 = std::min(r0 + 1, height - 1);
    const int c1 = std::min(c0 + 1, width - 1);
    const double fr = r - r0;
    const double fc = c - c0;
    const auto w = static_cast<std::size_t>(width);
    Quad q;
    q.index[0] = static_cast<std::size_t>(r0) * w + static_cast<std::size_t>(c0);
    q.index[1] = static_cast<std::size_t>(r0) * w + static_cast<std::size_t>(c1);
    q.index[2] = static_cast<std::size_t>(r1) * w + static_cast<std::size_t>(c0);
    q.index[3] = static_cast<std::size_t>(r1) * w + static_cast<std::size_t>(c1);
    q.weight[0] = (1.0 - fr) * (1.0 - fc);
    q.weight[1] = (1.0 - fr) * fc;
    q.weight[2] = fr * (1.0 - fc);
    q.weight[3] = fr * fc;
    return q;
}

// Nearest cell along one axis, halves rounded up, after the same clamping as MakeQuad.
std::size_t NearestCell(double position, int count)
{
    return static_cast<std::size_t>(std::floor(std::clamp(position, 0.0, static_cast<double>(count - 1)) + 0.5));
}

// The grids of a multi-band call, sampled over the extent they all cover so
// that no read leaves any of them. Null or empty grids take no part.
struct BandSet {
    const KRTerrainData* grid[kMaxBands] = {};
    bool hasNoData[kMaxBands] = {};
    double noData[kMaxBands] = {};
    int count = 0;
    int width = 0;
    int height = 0;
    bool anyGrid = false;
};

BandSet CollectBands(const KRArray<KRTerrainData*>& bands, const KRArray<double>& noData)
{
    BandSet set;
    set.count = std::min(bands.GetSize(), kMaxBands);
    for (int k = 0; k < set.count; ++k) {
        const KRTerrainData* grid = bands[k];
        if (grid == nullptr || grid->GetData() == nullptr)
            continue;
        set.grid[k] = grid;
        set.hasNoData[k] = k < noData.GetSize();
        if (set.hasNoData[k])
            set.noData[k] = noData[k];
        set.width = set.anyGrid ? std::min(set.width, grid->GetWidth()) : grid->GetWidth();
        set.height = set.anyGrid ? std::min(set.height, grid->GetHeight()) : grid->GetHeight();
        set.anyGrid = true;
    }
    return set;
}

// The mean is taken relative to the first weighted value, so that equal
// neighbours give back their value exactly: an opaque alpha of 255 or a flat
// colour must not come out as 254.99999 and truncate to the byte below.
double WeightedMean(const double* values, const double* weights, double weightSum)
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

// A cell is nodata when every band that has a nodata value matches it there;
// bands without one never make a cell nodata on their own.
bool CellIsNoData(const BandSet& set, const double (*values)[4], int cell, double tolerance)
{
    bool anyChecked = false;
    for (int k = 0; k < set.count; ++k) {
        if (set.grid[k] == nullptr || !set.hasNoData[k])
            continue;
        anyChecked = true;
        if (!IsNoData(values[k][cell], set.noData[k], tolerance))
            return false;
    }
    return anyChecked;
}

// Alpha of a valid position: band 4 when there is one, else opaque.
void FinishAlpha(const BandSet& set, double* out)
{
    if (set.count < kMaxBands || set.grid[kMaxBands - 1] == nullptr)
        out[kMaxBands - 1] = kOpaque;
}

} // namespace

KRTerrainData::KRTerrainData(const Structure& info) : m_info(info) {}

KRTerrainData::~KRTerrainData()
{
    delete[] m_pData;
}

// Changing a dimension or the format invalidates the buffer, so it is freed:
// the buffer always matches width x height x sample size when it exists.
void KRTerrainData::SetWidth(int width)
{
    if (width != m_nWidth) {
        delete[] m_pData;
        m_pData = nullptr;
    }
    m_nWidth = width;
}

void KRTerrainData::SetHeight(int height)
{
    if (height != m_nHeight) {
        delete[] m_pData;
        m_pData = nullptr;
    }
    m_nHeight = height;
}

void KRTerrainData::SetDataFormat(enumRasterDataFromat format)
{
    if (format != m_eFormat) {
        delete[] m_pData;
        m_pData = nullptr;
    }
    m_eFormat = format;
}

bool KRTerrainData::CreateData()
{
    delete[] m_pData;
    m_pData = nullptr;
    const std::size_t bytes = detail::CheckedBytes({m_nWidth, m_nHeight, KRRasterFormatBytes(m_eFormat)});
    if (bytes == 0)
        return false;
    m_pData = detail::AllocateZeroed(bytes);
    return m_pData != nullptr;
}

int KRTerrainData::GetWidth() const
{
    return m_nWidth;
}

int KRTerrainData::GetHeight() const
{
    return m_nHeight;
}

enumRasterDataFromat KRTerrainData::GetDataFormat() const
{
    return m_eFormat;
}

void* KRTerrainData::GetData() const
{
    return m_pData;
}

std::size_t KRTerrainData::GetDataBytes() const
{
    if (m_pData == nullptr)
        return 0;
    return static_cast<std::size_t>(m_nWidth) * static_cast<std::size_t>(m_nHeight) *
           static_cast<std::size_t>(KRRasterFormatBytes(m_eFormat));
}

const KRTerrainData::Structure& KRTerrainData::GetStructure() const
{
    return m_info;
}

void KRTerrainData::ZeroAll()
{
    if (m_pData != nullptr)
        std::memset(m_pData, 0, GetDataBytes());
}

void KRTerrainData::SetValue(long long index, double value)
{
    if (m_pData == nullptr || index < 0)
        return;
    const auto cells = static_cast<std::size_t>(m_nWidth) * static_cast<std::size_t>(m_nHeight);
    const auto i = static_cast<unsigned long long>(index);
    if (i >= cells)
        return;
    DispatchFormat(m_eFormat, [&](auto tag) { Store<decltype(tag)>(m_pData, static_cast<std::size_t>(i), value); });
}

void KRTerrainData::SetValue(int row, int col, double value)
{
    if (row < 0 || row >= m_nHeight || col < 0 || col >= m_nWidth)
        return;
    SetValue(static_cast<long long>(row) * m_nWidth + col, value);
}

double KRTerrainData::GetValue(int row, int col) const
{
    if (m_pData == nullptr || row < 0 || row >= m_nHeight || col < 0 || col >= m_nWidth)
        return 0.0;
    const std::size_t index =
        static_cast<std::size_t>(row) * static_cast<std::size_t>(m_nWidth) + static_cast<std::size_t>(col);
    double value = 0.0;
    LoadSamples(m_eFormat, m_pData, &index, 1, &value);
    return value;
}

// An empty grid answers 0; a NaN position answers NaN, which callers treat as
// any other non-finite sample. Neighbours with no weight never count, so a
// position exactly on a nodata cell gives m_dNoDataValue.
double KRTerrainData::GetBRasampleValue(double row, double col, bool ignoreNoData) const
{
    if (m_pData == nullptr)
        return 0.0;
    if (std::isnan(row) || std::isnan(col))
        return std::numeric_limits<double>::quiet_NaN();
    const Quad q = MakeQuad(row, col, m_nWidth, m_nHeight);
    double values[4];
    LoadSamples(m_eFormat, m_pData, q.index, 4, values);
    double weights[4] = {};
    double weightSum = 0.0;
    for (int i = 0; i < 4; ++i) {
        if (q.weight[i] <= 0.0)
            continue;
        if (!ignoreNoData && IsNoData(values[i], m_dNoDataValue, kMemberNoDataTolerance))
            continue;
        weights[i] = q.weight[i];
        weightSum += q.weight[i];
    }
    if (weightSum <= 0.0)
        return m_dNoDataValue;
    return WeightedMean(values, weights, weightSum);
}

void KRTerrainData::GetValue(double row, double col, const KRArray<KRTerrainData*>& bands,
                             const KRArray<double>& noData, double* out, bool ignoreNoData, double tolerance)
{
    if (out == nullptr)
        return;
    std::fill(out, out + kMaxBands, 0.0);
    const BandSet set = CollectBands(bands, noData);
    if (!set.anyGrid || set.width <= 0 || set.height <= 0 || std::isnan(row) || std::isnan(col))
        return;
    // The cell is found in the common extent; each grid's own width decides
    // where that cell lies in its buffer.
    const std::size_t r = NearestCell(row, set.height);
    const std::size_t c = NearestCell(col, set.width);
    double values[kMaxBands][4] = {};
    for (int k = 0; k < set.count; ++k) {
        const KRTerrainData* grid = set.grid[k];
        if (grid == nullptr)
            continue;
        const std::size_t own = r * static_cast<std::size_t>(grid->m_nWidth) + c;
        LoadSamples(grid->m_eFormat, grid->m_pData, &own, 1, values[k]);
    }
    if (!ignoreNoData && CellIsNoData(set, values, 0, tolerance))
        return;
    for (int k = 0; k < set.count; ++k)
        out[k] = values[k][0];
    FinishAlpha(set, out);
}

void KRTerrainData::GetBRasampleValue(double row, double col, const KRArray<KRTerrainData*>& bands,
                                      const KRArray<double>& noData, double* out, bool ignoreNoData, double tolerance)
{
    if (out == nullptr)
        return;
    std::fill(out, out + kMaxBands, 0.0);
    const BandSet set = CollectBands(bands, noData);
    if (!set.anyGrid || set.width <= 0 || set.height <= 0 || std::isnan(row) || std::isnan(col))
        return;
    const Quad q = MakeQuad(row, col, set.width, set.height);
    double values[kMaxBands][4] = {};
    for (int k = 0; k < set.count; ++k) {
        const KRTerrainData* grid = set.grid[k];
        if (grid == nullptr)
            continue;
        // Re-base the common-extent cells on this grid's own row length.
        std::size_t own[4];
        for (int i = 0; i < 4; ++i) {
            const std::size_t r = q.index[i] / static_cast<std::size_t>(set.width);
            const std::size_t c = q.index[i] % static_cast<std::size_t>(set.width);
            own[i] = r * static_cast<std::size_t>(grid->m_nWidth) + c;
        }
        LoadSamples(grid->m_eFormat, grid->m_pData, own, 4, values[k]);
    }
    double weightSum = 0.0;
    double weights[4] = {};
    for (int i = 0; i < 4; ++i) {
        if (q.weight[i] <= 0.0)
            continue;
        if (!ignoreNoData && CellIsNoData(set, values, i, tolerance))
            continue;
        weights[i] = q.weight[i];
        weightSum += q.weight[i];
    }
    if (weightSum <= 0.0)
        return;
    for (int k = 0; k < set.count; ++k) {
        if (set.grid[k] == nullptr)
            continue;
        out[k] = WeightedMean(values[k], weights, weightSum);
    }
    FinishAlpha(set, out);
}

} // namespace KRC
