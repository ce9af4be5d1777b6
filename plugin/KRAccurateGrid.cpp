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

constexpr int kMaxFactorExponent = 20;               // 2^20 pixels per cell: beyond any raster GDAL opens
constexpr long long kPixelsPerRead = 4 * 1024 * 1024; // bounds the rows read at once
constexpr long long kWindowMarginCells = 2;           // cells added around every window, as the default adds pixels

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

//! Sums and counts of the valid pixels of one row of cells.
struct CellSums {
    std::vector<double> sum;
    std::vector<long long> count;
    std::vector<double> centre; //!< categorical: the value of each block's centre pixel
    std::vector<bool> centreSet;
};

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

void ReduceWindow(const KRBandWindow& window, const KRRowReader& read, bool categorical, bool hasNoData,
                  double noData, KRTerrainData& grid)
{
    const int f = window.factor;
    if (f < 1 || grid.GetWidth() != window.bufW || grid.GetHeight() != window.bufH || window.winW < 1)
        return;
    const bool rounds = IsIntegerFormat(grid.GetDataFormat());
    const int x0 = window.pixels.left;
    const int y0 = window.firstRow * f;
    const std::size_t cols = static_cast<std::size_t>(window.bufW);
    const int rowsPerRead = static_cast<int>(std::clamp<long long>(kPixelsPerRead / window.winW, 1, f));
    std::vector<double> values(static_cast<std::size_t>(rowsPerRead) * static_cast<std::size_t>(window.winW));
    CellSums cells;
    const auto valid = [&](double v) { return !std::isnan(v) && !(hasNoData && v == noData); };

    for (int cellRow = 0; cellRow < window.bufH; ++cellRow) {
        cells.sum.assign(cols, 0.0);
        cells.count.assign(cols, 0);
        cells.centre.assign(cols, 0.0);
        cells.centreSet.assign(cols, false);
        const int first = cellRow * f, last = std::min(first + f, window.winH); // rows of this cell, [first, last)
        const int centreRow = std::min(first + f / 2, last - 1);
        for (int r = first; r < last; r += rowsPerRead) {
            const int n = std::min(rowsPerRead, last - r);
            for (int k = 0; k < n; ++k) {
                double* row = values.data() + static_cast<std::size_t>(k) * static_cast<std::size_t>(window.winW);
                if (!read(y0 + r + k, x0, window.winW, row))
                    std::fill(row, row + window.winW, std::nan(""));
                for (int c = 0; c < window.winW; ++c) {
                    const std::size_t cell = static_cast<std::size_t>(c / f);
                    const double v = row[c];
                    if (categorical && r + k == centreRow && c == std::min(static_cast<int>(cell) * f + f / 2,
                                                                          window.winW - 1)) {
                        cells.centre[cell] = v;
                        cells.centreSet[cell] = true;
                    }
                    if (valid(v)) {
                        cells.sum[cell] += v;
                        ++cells.count[cell];
                    }
                }
            }
        }
        for (std::size_t c = 0; c < cols; ++c) {
            double value = hasNoData ? noData : 0.0;
            if (categorical && cells.centreSet[c] && valid(cells.centre[c]))
                value = cells.centre[c];
            else if (!categorical && cells.count[c] > 0)
                value = cells.sum[c] / static_cast<double>(cells.count[c]);
            grid.SetValue(cellRow, static_cast<int>(c), rounds ? std::round(value) : value);
        }
    }
}

} // namespace detail
} // namespace KRC
