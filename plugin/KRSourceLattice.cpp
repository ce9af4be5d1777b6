// Grid positions of a projected nearest-sample fetch: exact on a sparse
// lattice, interpolated in between, exact again near every decision.
#include "KRSourceLattice.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <cpl_conv.h>

#include "KRSampleBuffers.h"

namespace KRC {
namespace detail {

namespace {

constexpr int kLatticeStep = 16; // samples between exactly transformed lattice points
// The interpolation's worst error in a cell is taken as this many times the
// largest error seen at the cell's edge midpoints and centre, plus a floor far
// above the rounding of the arithmetic.
constexpr double kErrorMargin = 4.0;
constexpr double kErrorFloor = 1e-7;
constexpr std::size_t kChecks = 5; // points of a cell compared with the interpolation

//! std::floor without the library call, for the per-sample checks below.
inline double FloorOf(double x)
{
    if (!(std::fabs(x) < 4.5e15)) // beyond, every double is whole (and NaN stays NaN)
        return x;
    const double t = static_cast<double>(static_cast<long long>(x));
    return t > x ? t - 1.0 : t;
}

//! Whether a position lies within `bound` of a place where a nearest-sample
//! fetch decides differently: the range test's `start` and `end`, or a half
//! between two samples.
inline bool NearDecision(double v, double start, double end, double bound)
{
    if (std::fabs(v - start) <= bound || std::fabs(v - end) <= bound)
        return true;
    const double f = v + 0.5 - FloorOf(v + 0.5);
    return f <= bound || f >= 1.0 - bound;
}

//! Indices from `first` to `last` every `step`, both ends included.
std::vector<int> LatticeIndices(int first, int last)
{
    std::vector<int> indices;
    for (int i = first; i < last; i += kLatticeStep)
        indices.push_back(i);
    indices.push_back(last);
    return indices;
}

double Bilinear(double a, double b, double c, double d, double u, double v)
{
    return (1 - u) * (1 - v) * a + u * (1 - v) * b + (1 - u) * v * c + u * v * d;
}

} // namespace

bool ReferencePathsAsked()
{
    return CPLTestBool(CPLGetConfigOption("GORA_REFERENCE_PATHS", "NO"));
}

void KRSourceLattice::Transform(std::vector<Point>& points) const
{
    const std::size_t count = points.size();
    std::vector<double> xs(count), ys(count);
    std::vector<int> success(count, 0);
    for (std::size_t i = 0; i < count; ++i) {
        xs[i] = m_rect.left + points[i].c * m_stepX;
        ys[i] = m_rect.bottom + points[i].r * m_stepY;
    }
    // A point that fails keeps whatever the transformation left, as in the per-sample procedure.
    if (count > 0)
        (void)m_toSource->Transform(static_cast<int>(count), xs.data(), ys.data(), nullptr, success.data());
    const double frameW = m_frame.bounds.Width(), frameH = m_frame.bounds.Height();
    for (std::size_t i = 0; i < count; ++i) {
        Point& p = points[i];
        p.row = m_frame.centred ? m_frame.CentredRow(ys[i])
                                : AxisPosition(ys[i], m_frame.bounds.bottom, frameH, m_frame.rows);
        p.col = m_frame.centred ? m_frame.CentredCol(xs[i])
                                : AxisPosition(xs[i], m_frame.bounds.left, frameW, m_frame.cols);
        p.ok = success[i] != 0 && std::isfinite(p.row) && std::isfinite(p.col);
    }
}

bool KRSourceLattice::Compute(int width, int height, const KRRect2d& rect, const KRSampleSpan& span,
                              const KRGridFrame& frame, OGRCoordinateTransformation& toSource)
{
    m_c0 = span.c0, m_c1 = span.c1, m_r0 = span.r0, m_r1 = span.r1;
    if (m_c0 > m_c1 || m_r0 > m_r1)
        return false;
    m_toSource = &toSource;
    m_rect = rect;
    m_frame = frame;
    m_stepX = SampleStep(rect.Width(), width);
    m_stepY = SampleStep(rect.Height(), height);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    m_rows.assign(Index(m_r1, m_c1) + 1, nan);
    m_cols.assign(m_rows.size(), nan);
    m_pending.clear();
    m_exact = 0;

    m_latticeC = LatticeIndices(m_c0, m_c1);
    m_latticeR = LatticeIndices(m_r0, m_r1);
    m_corners.clear();
    for (int r : m_latticeR)
        for (int c : m_latticeC)
            m_corners.push_back(Point{double(c), double(r)});
    Transform(m_corners);

    if (m_latticeC.size() < 2 || m_latticeR.size() < 2) {
        FillCell(0, 0, 0, 0); // a single row or column: every sample exactly
    } else {
        // Every cell's edge midpoints and centre, in one transformation call.
        m_checks.clear();
        for (std::size_t j = 0; j + 1 < m_latticeR.size(); ++j)
            for (std::size_t i = 0; i + 1 < m_latticeC.size(); ++i)
                AddChecks(m_latticeC[i], m_latticeC[i + 1], m_latticeR[j], m_latticeR[j + 1]);
        Transform(m_checks);
        for (std::size_t j = 0; j + 1 < m_latticeR.size(); ++j)
            for (std::size_t i = 0; i + 1 < m_latticeC.size(); ++i)
                FillCell(static_cast<int>(i), static_cast<int>(i + 1), static_cast<int>(j), static_cast<int>(j + 1));
    }

    Transform(m_pending);
    for (const Point& p : m_pending) {
        const std::size_t at = Index(static_cast<int>(p.r), static_cast<int>(p.c));
        m_rows[at] = p.row;
        m_cols[at] = p.col;
    }
    m_exact = static_cast<int>(m_pending.size());
    return true;
}

void KRSourceLattice::AddChecks(int ca, int cb, int ra, int rb)
{
    const double mc = ca + (cb - ca) / 2.0, mr = ra + (rb - ra) / 2.0;
    m_checks.insert(m_checks.end(), {{mc, double(ra)}, {mc, double(rb)}, {double(ca), mr}, {double(cb), mr}, {mc, mr}});
}

// Each cell fills its samples but those of its east column and north row,
// which belong to the next cell, unless it is the last one that way. Degenerate
// cells (ia == ib) hand every sample of the span to the exact procedure.
void KRSourceLattice::FillCell(int ia, int ib, int ja, int jb)
{
    const bool degenerate = ia == ib || ja == jb;
    const int ca = degenerate ? m_c0 : m_latticeC[ia], cb = degenerate ? m_c1 : m_latticeC[ib];
    const int ra = degenerate ? m_r0 : m_latticeR[ja], rb = degenerate ? m_r1 : m_latticeR[jb];
    const bool lastC = degenerate || ib + 1 == static_cast<int>(m_latticeC.size());
    const bool lastR = degenerate || jb + 1 == static_cast<int>(m_latticeR.size());
    const int cEnd = lastC ? cb : cb - 1, rEnd = lastR ? rb : rb - 1;
    const auto exactly = [&] {
        for (int r = ra; r <= rEnd; ++r)
            for (int c = ca; c <= cEnd; ++c)
                m_pending.push_back(Point{double(c), double(r)});
    };
    if (degenerate)
        return exactly();

    const std::size_t stride = m_latticeC.size();
    const Point& a = m_corners[ja * stride + ia];
    const Point& b = m_corners[ja * stride + ib];
    const Point& c = m_corners[jb * stride + ia];
    const Point& d = m_corners[jb * stride + ib];
    if (!(a.ok && b.ok && c.ok && d.ok))
        return exactly();
    const double w = cb - ca, h = rb - ra;
    const std::size_t firstCheck =
        (static_cast<std::size_t>(ja) * (stride - 1) + static_cast<std::size_t>(ia)) * kChecks;
    double error = 0.0;
    for (std::size_t k = firstCheck; k < firstCheck + kChecks && k < m_checks.size(); ++k) {
        const Point& p = m_checks[k];
        if (!p.ok)
            return exactly();
        const double u = (p.c - ca) / w, v = (p.r - ra) / h;
        error = std::max({error, std::fabs(Bilinear(a.row, b.row, c.row, d.row, u, v) - p.row),
                          std::fabs(Bilinear(a.col, b.col, c.col, d.col, u, v) - p.col)});
    }
    const double bound = kErrorMargin * error + kErrorFloor;
    // Along a row of the cell the bilinear form is linear, so each position
    // steps by a constant; the rounding this adds is far below the bound.
    for (int r = ra; r <= rEnd; ++r) {
        const double v = (r - ra) / h;
        double row = Bilinear(a.row, b.row, c.row, d.row, 0.0, v);
        double column = Bilinear(a.col, b.col, c.col, d.col, 0.0, v);
        const double rowStep = (Bilinear(a.row, b.row, c.row, d.row, 1.0, v) - row) / w;
        const double colStep = (Bilinear(a.col, b.col, c.col, d.col, 1.0, v) - column) / w;
        double* rows = &m_rows[Index(r, ca)];
        double* cols = &m_cols[Index(r, ca)];
        for (int i = 0; i <= cEnd - ca; ++i, row += rowStep, column += colStep) {
            if (NearDecision(row, m_frame.RangeStart(), m_frame.RowRangeEnd(), bound) ||
                NearDecision(column, m_frame.RangeStart(), m_frame.ColRangeEnd(), bound)) {
                m_pending.push_back(Point{double(ca + i), double(r)});
                continue;
            }
            rows[i] = row;
            cols[i] = column;
        }
    }
}

} // namespace detail
} // namespace KRC
