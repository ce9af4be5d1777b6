#pragma once
// Private to the module: the steps that every GDAL-based fetch shares (the
// padded source window, its read size, the grid a band window is read into)
// and the sampling loop that the terrain paths share with the NSDTF-DEM grid.

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

#include <gdal.h>
#include <ogr_spatialref.h>

#include "KRGeometry.h"
#include "KRTerrainData.h"
#include "KRTypes.h"

namespace KRC {

//! The source block one fetch reads: pixel indices, the source-unit rectangle
//! they stand for, and the size GDAL scales the block to.
struct KRBandWindow {
    KRRect2i pixels;  //!< columns from the west edge, rows counted up from the south edge
    KRRect2d bounds;  //!< source units of the outer pixels of `pixels`
    int winW = 0;     //!< pixel columns read
    int winH = 0;     //!< pixel rows read
    int bufW = 0;     //!< grid columns: min(winW, destination width)
    int bufH = 0;     //!< grid rows: min(winH, destination height)
    bool cut = false; //!< the 2-pixel margin ran past the raster on some side
    // Accurate mode only: the window is aligned to blocks of factor x factor
    // pixels counted from the first row and column GDAL reads (its "read
    // space"), each block one grid cell, so every request sees the same cells.
    int factor = 0;    //!< pixels per cell along each axis; 0 in the default mode
    int firstCol = 0;  //!< cell index of grid column 0 in the raster's lattice of cells
    int firstRow = 0;  //!< cell index of grid row 0, counted along the read rows
    double colEnd = 0; //!< grid column where the raster ends (cells, pixel-centre convention)
    double rowEnd = 0; //!< grid row where the raster ends
};

namespace detail {

//! The host's sample format of a GDAL type; RDF_None when the host has none.
enumRasterDataFromat GridFormatOfGdalType(GDALDataType type);

//! The host's pixel format of a GDAL type; PF_Unknown when the host has none.
enumPixelFormat PixelFormatOfGdalType(GDALDataType type);

//! Truncation toward zero that stays defined for values an int cannot hold
//! (saturating; NaN gives 0). Inline: every image pixel's bytes pass through it.
inline int TruncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value <= static_cast<double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (value >= static_cast<double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return static_cast<int>(value);
}

//! The GDAL type a band is converted to when it is read into a grid of `format`
//! whose type differs from the band's own.
GDALDataType GdalTypeOfGridFormat(enumRasterDataFromat format);

//! A private copy of a transformation for one fetch: OGR transformations serve
//! one thread at a time, and the host may fetch from several. The copy reports
//! no errors, since points outside the projection's domain are expected at the
//! edges of a request. Null when `shared` is null or cannot be copied.
std::unique_ptr<OGRCoordinateTransformation> CloneForFetch(OGRCoordinateTransformation* shared);

//! A zeroed grid made the one way every grid of the module is made; null when
//! the size or format cannot be allocated.
std::unique_ptr<KRTerrainData> NewTerrainGrid(int width, int height, enumRasterDataFromat format);

//! Rows and columns of the destination to visit, both ends inclusive.
struct KRSampleSpan {
    int c0 = 0;
    int c1 = -1;
    int r0 = 0;
    int r1 = -1;
};

//! Every sample of a width x height destination.
KRSampleSpan FullSpan(int width, int height);

//! The destination samples of `rect` that lie over `source`, by truncation
//! toward zero (so the first ones may lie a fraction of a step outside), or
//! when `strict` only those on or inside its edges.
KRSampleSpan ClippedSpan(const KRRect2d& rect, const KRRect2d& source, int width, int height, bool strict = false);

//! How source coordinates map onto a grid of samples that is being sampled.
struct KRGridFrame {
    KRRect2d bounds;        //!< source units of the grid's outer samples
    int cols = 0;           //!< samples across the bounds
    int rows = 0;           //!< samples up the bounds
    bool topDown = false;   //!< grid row 0 is the northern edge
    bool rangeTest = false; //!< skip positions outside [0, cols) x [0, rows)
    // Accurate mode: GDAL's pixel-centre convention. A cell's value belongs to
    // its centre, so a position is (coordinate - origin) / cell - 0.5 counted
    // from the raster's first cell, less the grid's first cell: the same
    // arithmetic for every request, whatever its window. Rows run along the
    // read rows, so no flip follows; the range is [-0.5, end).
    bool centred = false;
    double originX = 0.0, originY = 0.0; //!< source units of the read space's first corner
    double cellX = 0.0, cellY = 0.0;     //!< source units per cell along columns and along read rows
    int firstCol = 0, firstRow = 0;
    double colEnd = 0.0, rowEnd = 0.0;

    double CentredCol(double x) const { return ((x - originX) / cellX - 0.5) - firstCol; }
    double CentredRow(double y) const { return ((y - originY) / cellY - 0.5) - firstRow; }
    //! Where the range test starts, and where it ends along columns and along rows.
    double RangeStart() const { return centred ? -0.5 : 0.0; }
    double ColRangeEnd() const { return centred ? colEnd : cols; }
    double RowRangeEnd() const { return centred ? rowEnd : rows; }
};

//! Step between neighbouring destination samples; a single sample spans the whole extent.
inline double SampleStep(double extent, int count)
{
    return count > 1 ? extent / (count - 1) : extent;
}

//! Fractional sample index along one axis. A one-pixel-wide source has no
//! extent to divide by; its only sample sits at position 0.
inline double AxisPosition(double value, double origin, double extent, int count)
{
    if (extent == 0.0)
        return 0.0;
    return (value - origin) * (count - 1) / extent;
}

//! The span within a width x height destination: rounded spans never leave
//! it, whatever the request held.
inline KRSampleSpan ClampSpan(const KRSampleSpan& span, int width, int height)
{
    KRSampleSpan clamped;
    clamped.c0 = std::max(span.c0, 0);
    clamped.c1 = std::min(span.c1, width - 1);
    clamped.r0 = std::max(span.r0, 0);
    clamped.r1 = std::min(span.r1, height - 1);
    return clamped;
}

//! Calls visit(r, c, row, col) for the grid position (row, col) of sample
//! (r, c) unless it names no sample: not finite, or outside the frame when it
//! tests; rows are flipped for a top-down frame.
template <class Visit> void VisitPosition(const KRGridFrame& frame, int r, int c, double row, double col, Visit& visit)
{
    // A position that is not finite names no sample: the destination keeps its cleared value there.
    if (!std::isfinite(row) || !std::isfinite(col))
        return;
    const double start = frame.RangeStart();
    if (frame.rangeTest && (row < start || col < start || row >= frame.RowRangeEnd() || col >= frame.ColRangeEnd()))
        return;
    if (frame.topDown && !frame.centred)
        row = (frame.rows - 1) - row;
    visit(r, c, row, col);
}

//! Calls visit(r, c, row, col) for every destination sample (r, c) of `span`
//! in a width x height destination laid over `rect`, bottom row first, where
//! (row, col) is the sample's fractional position in the grid of `frame`:
//! its longitude and latitude, carried into source units by `toSource` when
//! it is set. Positions that are not finite, or outside the frame when it
//! tests, are not visited. Every fetch walks its destination this one way.
template <class Visit>
void ForEachGridPosition(int width, int height, const KRRect2d& rect, const KRSampleSpan& span,
                         const KRGridFrame& frame, OGRCoordinateTransformation* toSource, Visit&& visit)
{
    const KRSampleSpan clamped = ClampSpan(span, width, height);
    const int c0 = clamped.c0, c1 = clamped.c1, r0 = clamped.r0, r1 = clamped.r1;
    if (c0 > c1 || r0 > r1)
        return;

    const double stepX = SampleStep(rect.Width(), width);
    const double stepY = SampleStep(rect.Height(), height);
    const double frameW = frame.bounds.Width();
    const double frameH = frame.bounds.Height();

    const int count = c1 - c0 + 1;
    const auto rowOf = [&](double y) {
        return frame.centred ? frame.CentredRow(y) : AxisPosition(y, frame.bounds.bottom, frameH, frame.rows);
    };
    const auto colOf = [&](double x) {
        return frame.centred ? frame.CentredCol(x) : AxisPosition(x, frame.bounds.left, frameW, frame.cols);
    };
    std::vector<double> xs(static_cast<size_t>(count));
    if (toSource == nullptr) {
        // Untransformed, a sample's column depends on its column alone and its row on its row alone.
        for (int i = 0; i < count; ++i)
            xs[static_cast<size_t>(i)] = colOf(rect.left + (c0 + i) * stepX);
        for (int r = r0; r <= r1; ++r) {
            const double row = rowOf(rect.bottom + r * stepY);
            for (int i = 0; i < count; ++i)
                VisitPosition(frame, r, c0 + i, row, xs[static_cast<size_t>(i)], visit);
        }
        return;
    }
    std::vector<double> ys(static_cast<size_t>(count));
    for (int r = r0; r <= r1; ++r) {
        const double lat = rect.bottom + r * stepY;
        for (int i = 0; i < count; ++i) {
            xs[static_cast<size_t>(i)] = rect.left + (c0 + i) * stepX;
            ys[static_cast<size_t>(i)] = lat;
        }
        // One call per row gives each point the same result as one call per
        // point; a point that fails keeps whatever the transformation left.
        (void)toSource->Transform(count, xs.data(), ys.data());
        for (int i = 0; i < count; ++i)
            VisitPosition(frame, r, c0 + i, rowOf(ys[static_cast<size_t>(i)]), colOf(xs[static_cast<size_t>(i)]),
                          visit);
    }
}

//! Accurate mode: the power of two of raster pixels per grid cell for a
//! destination whose samples lie `sampleStep` apart, over pixels `pixelStep`
//! apart (both in degrees, along each axis): the coarsest whose cells are no
//! larger than a sample step. It depends on the request's size only, so all
//! the tiles of one level share their cells.
int ReductionFactor(double sampleStepX, double pixelStepX, double sampleStepY, double pixelStepY);

//! Accurate mode: the window of source pixels [left, right] x [bottom, top]
//! (rows counted up from the south edge, as in KRBandWindow::pixels) widened
//! by two cells, clamped to a width x height raster and aligned to `factor`
//! in read space (rows from the north edge when `topDown`).
KRBandWindow AlignedWindow(long long left, long long right, long long bottom, long long top, long long width,
                           long long height, int factor, bool topDown);

//! Accurate mode: the frame of a grid read from an aligned window of a raster
//! whose outer edges are `bounds` (source units) and size width x height.
KRGridFrame CentredFrame(const KRBandWindow& window, const KRRect2d& bounds, long long width, long long height,
                         bool topDown, bool projected);

//! Reads `count` pixels of row `row` (read space) as doubles: the centre
//! pixels x + i * step + step / 2 of `count` blocks of `step` pixels from x
//! (GDAL's nearest decimation of the blocks); false when it cannot.
using KRRowReader = std::function<bool(int row, int x, int count, int step, double* values)>;

//! Accurate mode: fills `grid` (window.bufW x window.bufH) with one value per
//! cell of `window`: the mean of the block's valid pixels (nodata and NaN
//! left out; nodata when none is valid), or for categorical data and windows
//! of more than 64 Mi pixels the block's centre pixel. Integer grids take the
//! mean rounded to nearest. Reads at most a few million pixels at a time.
void ReduceWindow(const KRBandWindow& window, const KRRowReader& read, bool categorical, bool hasNoData, double noData,
                  KRTerrainData& grid);

//! Fills the destination samples of `span` from `grid`: each sample's longitude
//! and latitude, carried into source units by `toSource` when it is set, is
//! sampled bilinearly; the grid's nodata value, NaN and infinity come out as 0.
//! Samples outside the frame (when it tests) keep what the destination held.
void FillTerrainSamples(KRTerrainData& dst, const KRRect2d& rect, const KRSampleSpan& span, const KRTerrainData& grid,
                        const KRGridFrame& frame, OGRCoordinateTransformation* toSource);

} // namespace detail
} // namespace KRC
