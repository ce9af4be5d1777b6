// Accurate mode's source grids: windows aligned to a lattice of cells fixed by
// the raster, each cell the mean of its pixels, placed by GDAL's pixel-centre
// convention, so that neighbouring requests sample the very same values.
#include <algorithm>
#include <cmath>
#include <vector>

#include "KRBandWindow.h"

namespace KRC {
namespace detail {

namespace {

constexpr int kMaxFactorExponent = 20;                       // 2^20 pixels per cell: beyond any raster GDAL opens
constexpr long long kPixelsPerRead = 4 * 1024 * 1024;        // bounds the rows read at once
constexpr long long kMaxAveragedPixels = 64LL * 1024 * 1024; // windows averaged pixel by pixel
constexpr long long kWindowMarginCells = 2; // cells added around every window, as the default adds pixels

long long FloorToMultiple(long long value, long long factor)
{
    return value / factor * factor; // value is never negative here
}

//! One axis of an aligned window: [first, end) in pixels, clamped to the raster.
struct AlignedAxis {
    long long first = 0, end = 0;
    bool cut = false;
};

AlignedAxis AlignAxis(long long low, long long high, long long size, long long factor)
{
    AlignedAxis axis;
    low -= kWindowMarginCells * factor;
    high += kWindowMarginCells * factor;
    axis.cut = low < 0 || high >= size;
    low = std::clamp(low, 0LL, size - 1);
    high = std::clamp(high, low, size - 1);
    axis.first = FloorToMultiple(low, factor);
    axis.end = std::min(size, FloorToMultiple(high, factor) + factor);
    return axis;
}

int CellsOf(long long pixels, long long factor)
{
    return static_cast<int>((pixels + factor - 1) / factor);
}

bool IsIntegerFormat(enumRasterDataFromat format)
{
    return format != RDF_Float32 && format != RDF_Float64;
}

} // namespace

int ReductionFactor(double sampleStepX, double pixelStepX, double sampleStepY, double pixelStepY)
{
    const double ratio = std::min(sampleStepX / pixelStepX, sampleStepY / pixelStepY);
    int exponent = 0;
    while (exponent < kMaxFactorExponent && std::ldexp(1.0, exponent + 1) <= ratio)
        ++exponent;
    return 1 << exponent;
}

KRBandWindow AlignedWindow(long long left, long long right, long long bottom, long long top, long long width,
                           long long height, int factor, bool topDown)
{
    KRBandWindow window;
    if (width < 1 || height < 1 || factor < 1)
        return window;
    // Read space: columns from the west edge, rows in the order GDAL reads them.
    const long long readLow = topDown ? height - 1 - std::max(bottom, top) : std::min(bottom, top);
    const long long readHigh = topDown ? height - 1 - std::min(bottom, top) : std::max(bottom, top);
    const AlignedAxis x = AlignAxis(std::min(left, right), std::max(left, right), width, factor);
    const AlignedAxis y = AlignAxis(readLow, readHigh, height, factor);

    window.factor = factor;
    window.cut = x.cut || y.cut;
    window.winW = static_cast<int>(x.end - x.first);
    window.winH = static_cast<int>(y.end - y.first);
    window.bufW = CellsOf(window.winW, factor);
    window.bufH = CellsOf(window.winH, factor);
    window.firstCol = static_cast<int>(x.first / factor);
    window.firstRow = static_cast<int>(y.first / factor);
    window.colEnd = static_cast<double>(x.end) / factor - window.firstCol - 0.5;
    window.rowEnd = static_cast<double>(y.end) / factor - window.firstRow - 0.5;
    const long long southRow = topDown ? height - y.end : y.first;
    window.pixels = KRRect2i(static_cast<int>(x.first), static_cast<int>(southRow + window.winH - 1),
                             static_cast<int>(x.end - 1), static_cast<int>(southRow));
    return window;
}

KRGridFrame CentredFrame(const KRBandWindow& window, const KRRect2d& bounds, long long width, long long height,
                         bool topDown, bool projected)
{
    KRGridFrame frame;
    frame.cols = window.bufW;
    frame.rows = window.bufH;
    frame.rangeTest = projected;
    frame.centred = true;
    frame.originX = bounds.left;
    frame.cellX = bounds.Width() / static_cast<double>(width) * window.factor;
    frame.originY = topDown ? bounds.top : bounds.bottom;
    frame.cellY = (topDown ? -1.0 : 1.0) * bounds.Height() / static_cast<double>(height) * window.factor;
    frame.firstCol = window.firstCol;
    frame.firstRow = window.firstRow;
    frame.colEnd = window.colEnd;
    frame.rowEnd = window.rowEnd;
    return frame;
}

namespace {

//! The value of cell c of the row of cells being filled.
void StoreCell(KRTerrainData& grid, int cellRow, int c, double value, bool rounds)
{
    grid.SetValue(cellRow, c, rounds ? std::round(value) : value);
}

//! Each cell's centre pixel, read from one row of pixels per row of cells.
void CentreCells(const KRBandWindow& window, const KRRowReader& read, bool hasNoData, double noData,
                 KRTerrainData& grid)
{
    const int f = window.factor;
    const bool rounds = IsIntegerFormat(grid.GetDataFormat());
    const int x0 = window.pixels.left, y0 = window.firstRow * f;
    const int full = window.winW / f, rest = window.winW % f; // whole blocks, then the pixels of a cut one
    std::vector<double> values(static_cast<std::size_t>(window.bufW));
    for (int cellRow = 0; cellRow < window.bufH; ++cellRow) {
        const int row = y0 + std::min(cellRow * f + f / 2, window.winH - 1);
        std::fill(values.begin(), values.end(), std::nan(""));
        if (full > 0 && !read(row, x0, full, f, values.data()))
            std::fill(values.begin(), values.begin() + full, std::nan(""));
        if (rest > 0 && !read(row, x0 + full * f + std::min(f / 2, rest - 1), 1, 1, &values[full]))
            values[full] = std::nan("");
        for (int c = 0; c < window.bufW; ++c) {
            const double v = values[static_cast<std::size_t>(c)];
            const bool valid = !std::isnan(v) && !(hasNoData && v == noData);
            StoreCell(grid, cellRow, c, valid ? v : hasNoData ? noData : 0.0, rounds);
        }
    }
}

//! Each cell the mean of its block's valid pixels, read a few rows at a time.
void AverageCells(const KRBandWindow& window, const KRRowReader& read, bool hasNoData, double noData,
                  KRTerrainData& grid)
{
    const int f = window.factor;
    const bool rounds = IsIntegerFormat(grid.GetDataFormat());
    const int x0 = window.pixels.left, y0 = window.firstRow * f;
    const std::size_t cols = static_cast<std::size_t>(window.bufW), width = static_cast<std::size_t>(window.winW);
    const int rowsPerRead = static_cast<int>(std::clamp<long long>(kPixelsPerRead / window.winW, 1, f));
    std::vector<double> values(static_cast<std::size_t>(rowsPerRead) * width);
    std::vector<double> sum(cols);
    std::vector<long long> count(cols);
    for (int cellRow = 0; cellRow < window.bufH; ++cellRow) {
        std::fill(sum.begin(), sum.end(), 0.0);
        std::fill(count.begin(), count.end(), 0);
        const int last = std::min(cellRow * f + f, window.winH); // rows of this cell: [cellRow * f, last)
        for (int r = cellRow * f; r < last; r += rowsPerRead) {
            const int n = std::min(rowsPerRead, last - r);
            for (int k = 0; k < n; ++k) {
                double* row = values.data() + static_cast<std::size_t>(k) * width;
                if (!read(y0 + r + k, x0, window.winW, 1, row))
                    continue;
                for (std::size_t c = 0; c < width; ++c) {
                    if (!std::isnan(row[c]) && !(hasNoData && row[c] == noData)) {
                        sum[c / static_cast<std::size_t>(f)] += row[c];
                        ++count[c / static_cast<std::size_t>(f)];
                    }
                }
            }
        }
        for (std::size_t c = 0; c < cols; ++c) {
            const double empty = hasNoData ? noData : 0.0;
            StoreCell(grid, cellRow, static_cast<int>(c), count[c] > 0 ? sum[c] / static_cast<double>(count[c]) : empty,
                      rounds);
        }
    }
}

} // namespace

void ReduceWindow(const KRBandWindow& window, const KRRowReader& read, bool categorical, bool hasNoData, double noData,
                  KRTerrainData& grid)
{
    if (window.factor < 1 || grid.GetWidth() != window.bufW || grid.GetHeight() != window.bufH || window.winW < 1 ||
        window.winH < 1)
        return;
    // Averaging reads every pixel of the window; beyond a bound (coarse levels
    // of very large rasters) the blocks' centre pixels stand for them, still on
    // the raster's lattice, so tiles still agree.
    const long long pixels = static_cast<long long>(window.winW) * window.winH;
    if (categorical || pixels > kMaxAveragedPixels || window.winW > kPixelsPerRead)
        CentreCells(window, read, hasNoData, noData, grid);
    else
        AverageCells(window, read, hasNoData, noData, grid);
}

} // namespace detail
} // namespace KRC
