#pragma once
// Private to the module: the grid positions of a projected fetch's destination
// samples, found at a fraction of the cost of one exact transformation per
// sample but with the same outcome wherever a nearest-sample fetch decides.

#include <vector>

#include <ogr_spatialref.h>

#include "KRBandWindow.h"

namespace KRC {
namespace detail {

//! Positions (row, col in the grid of `frame`, before any flip) of the samples
//! (r, c) of a span of a width x height destination laid over `rect`.
//!
//! A nearest-sample fetch uses a position only through which side of a
//! decision it lies on: the range test at 0 and at the grid's size, and the
//! rounding at every half. So positions are transformed exactly on a lattice
//! every few samples and at points between, interpolated bilinearly in between,
//! and transformed exactly once more wherever the interpolation lies within a
//! measured bound of a decision, or a lattice cell holds a point that failed
//! to transform. Every sample then takes the same cell as the exact per-sample
//! procedure.
class KRSourceLattice {
public:
    //! False when the span is empty; positions that cannot be found are NaN.
    bool Compute(int width, int height, const KRRect2d& rect, const KRSampleSpan& span, const KRGridFrame& frame,
                 OGRCoordinateTransformation& toSource);

    double Row(int r, int c) const { return m_rows[Index(r, c)]; }
    double Col(int r, int c) const { return m_cols[Index(r, c)]; }
    //! Samples transformed exactly, for the tests and the benchmarks.
    int ExactCount() const { return m_exact; }

private:
    //! A destination sample (whole or fractional indices) and its grid position once transformed.
    struct Point {
        double c, r;
        double row = 0.0, col = 0.0;
        bool ok = false;
    };

    std::size_t Index(int r, int c) const
    {
        return static_cast<std::size_t>(r - m_r0) * static_cast<std::size_t>(m_c1 - m_c0 + 1) +
               static_cast<std::size_t>(c - m_c0);
    }
    void Transform(std::vector<Point>& points) const;
    void AddChecks(int ca, int cb, int ra, int rb);
    void FillCell(int ia, int ib, int ja, int jb);

    OGRCoordinateTransformation* m_toSource = nullptr;
    KRRect2d m_rect;
    KRGridFrame m_frame;
    double m_stepX = 0.0, m_stepY = 0.0;
    int m_c0 = 0, m_c1 = -1, m_r0 = 0, m_r1 = -1;
    std::vector<double> m_rows, m_cols;
    std::vector<Point> m_corners; //!< the lattice, row after row
    std::vector<int> m_latticeC, m_latticeR;
    std::vector<Point> m_checks;  //!< five per cell, cell after cell
    std::vector<Point> m_pending; //!< samples to transform exactly
    int m_exact = 0;
};

} // namespace detail
} // namespace KRC
