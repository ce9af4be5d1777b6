// Spatial reference of the source: classification as geographic or projected,
// the two transformations to and from longitude/latitude, and the point and
// rectangle conversions built on them.
#include "KRGORasterAccessorPlugin.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include "KRFile.h"

namespace KRC {

namespace {

constexpr double kWgs84SemiMajor = 6378137.0;
constexpr double kWgs84SemiMinor = 6356752.314245179;
constexpr double kEllipsoidTolerance = 0.00015; // metres; GRS 80's semi-minor axis is 0.0001 off

bool IsNear(double value, double target)
{
    const double d = value - target;
    return d > -kEllipsoidTolerance && d < kEllipsoidTolerance;
}

bool HasWgs84Ellipsoid(const OGRSpatialReference& srs)
{
    return IsNear(srs.GetSemiMajor(), kWgs84SemiMajor) && IsNear(srs.GetSemiMinor(), kWgs84SemiMinor);
}

bool IsOutsideLatLonRange(const KRRect2d& r)
{
    return r.left < -180.0 || r.right > 180.0 || r.top > 90.0 || r.bottom < -90.0;
}

//! Transforms one point in place; a point OGR cannot transform keeps whatever OGR left in it.
void TransformPoint(OGRCoordinateTransformation* ct, double& x, double& y)
{
    ct->Transform(1, &x, &y);
}

bool IsTransformed(double x, double y)
{
    return std::isfinite(x) && std::isfinite(y);
}

// Halvings of a grid step that locate where the transformable part ends. Near a
// limb the coordinates change with the square root of the distance to it, so
// the edge is found to within a few units in the last place of the coordinates.
constexpr int kCrossingBisections = 48;

//! A grid segment from a point the transformation carries to one it cannot, in
//! the transformation's source units.
struct KRCrossing {
    double goodX, goodY, badX, badY;
};

// Grid lines across a rectangle whose outline leaves the domain. An extreme of
// the transformable part can lie between two lines; for a round part (a disk)
// the lines miss it by about 1e-4 of its radius. The cap also bounds the cost
// of the 256-step requests of the image fetches.
constexpr int kMaxGridSteps = 72;

//! (steps + 1)^2 points evenly over a rectangle, row by row from its bottom,
//! and whether the transformation carried each.
struct KRDomainGrid {
    KRRect2d rect;
    std::size_t n = 0;
    double dx = 0.0;
    double dy = 0.0;
    std::vector<char> transformed;

    double X(std::size_t i) const { return rect.left + static_cast<double>(i) * dx; }
    double Y(std::size_t j) const { return rect.bottom + static_cast<double>(j) * dy; }
};

//! Transforms the grid's points row by row into `result`, noting which ones the transformation carries.
KRDomainGrid TransformGrid(OGRCoordinateTransformation* ct, const KRRect2d& rect, int steps, KRRect2d& result)
{
    KRDomainGrid grid;
    grid.rect = rect;
    grid.n = static_cast<std::size_t>(steps) + 1;
    grid.dx = rect.Width() / steps;
    grid.dy = rect.Height() / steps;
    grid.transformed.resize(grid.n * grid.n);
    std::vector<double> xs(grid.n);
    std::vector<double> ys(grid.n);
    for (std::size_t j = 0; j < grid.n; ++j) {
        for (std::size_t i = 0; i < grid.n; ++i) {
            xs[i] = grid.X(i);
            ys[i] = grid.Y(j);
        }
        (void)ct->Transform(static_cast<int>(grid.n), xs.data(), ys.data());
        for (std::size_t i = 0; i < grid.n; ++i) {
            grid.transformed[j * grid.n + i] = IsTransformed(xs[i], ys[i]);
            result.Union(KRPoint2d(xs[i], ys[i]));
        }
    }
    return grid;
}

//! Every pair of neighbouring grid points, along rows and columns, of which one transforms and the other does not.
std::vector<KRCrossing> FindCrossings(const KRDomainGrid& grid)
{
    std::vector<KRCrossing> crossings;
    const auto consider = [&](std::size_t i0, std::size_t j0, std::size_t i1, std::size_t j1) {
        const bool first = grid.transformed[j0 * grid.n + i0] != 0;
        if (first == (grid.transformed[j1 * grid.n + i1] != 0))
            return;
        if (first)
            crossings.push_back({grid.X(i0), grid.Y(j0), grid.X(i1), grid.Y(j1)});
        else
            crossings.push_back({grid.X(i1), grid.Y(j1), grid.X(i0), grid.Y(j0)});
    };
    for (std::size_t j = 0; j < grid.n; ++j) {
        for (std::size_t i = 0; i + 1 < grid.n; ++i) {
            consider(i, j, i + 1, j);
            consider(j, i, j, i + 1);
        }
    }
    return crossings;
}

//! Halves every crossing kCrossingBisections times, adding each midpoint that
//! transforms to `result`. All crossings are halved in one call, so the cost is
//! as many calls as halvings, not as points.
void RefineCrossings(OGRCoordinateTransformation* ct, std::vector<KRCrossing>& crossings, KRRect2d& result)
{
    const int count = static_cast<int>(crossings.size());
    std::vector<double> xs(crossings.size());
    std::vector<double> ys(crossings.size());
    for (int k = 0; k < kCrossingBisections && count > 0; ++k) {
        for (std::size_t c = 0; c < crossings.size(); ++c) {
            xs[c] = (crossings[c].goodX + crossings[c].badX) / 2;
            ys[c] = (crossings[c].goodY + crossings[c].badY) / 2;
        }
        std::vector<double> tx = xs;
        std::vector<double> ty = ys;
        (void)ct->Transform(count, tx.data(), ty.data());
        for (std::size_t c = 0; c < crossings.size(); ++c) {
            const bool carried = IsTransformed(tx[c], ty[c]);
            (carried ? crossings[c].goodX : crossings[c].badX) = xs[c];
            (carried ? crossings[c].goodY : crossings[c].badY) = ys[c];
            if (carried)
                result.Union(KRPoint2d(tx[c], ty[c]));
        }
    }
}

//! A rectangle part of which lies outside the transformation's domain (such as
//! a geostationary view with space around the Earth's disk): the image of the
//! part that can be transformed, from a grid of up to (kMaxGridSteps + 1)^2
//! points over the whole rectangle, refined by bisection wherever a grid line
//! leaves the domain.
void AddTransformablePart(OGRCoordinateTransformation* ct, const KRRect2d& rect, int outlineSteps, KRRect2d& result)
{
    const KRDomainGrid grid = TransformGrid(ct, rect, std::min(outlineSteps, kMaxGridSteps), result);
    std::vector<KRCrossing> crossings = FindCrossings(grid);
    RefineCrossings(ct, crossings, result);
}

template <class T>
void DeleteAndClear(T*& object)
{
    delete object;
    object = nullptr;
}

} // namespace

void KRGORasterAccessorPlugin::SetAxisMappingStrategy(OGRSpatialReference* srs)
{
    if (srs != nullptr)
        srs->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
}

void KRGORasterAccessorPlugin::ReadSpatialReference()
{
    if (m_pDataset == nullptr)
        return;
    const char* declared = m_pDataset->GetProjectionRef();
    const KRString wkt(declared != nullptr ? declared : "");
    if (!wkt.IsEmpty() && ImportProjectionRefFromWkt(wkt.Cstr()))
        return;
    const KRString prjFile = KRFile::ChangeExt(m_strFileName, ".prj");
    if (KRFile::IsExist(prjFile))
        LoadProjectionFromESRIFile(prjFile);
}

bool KRGORasterAccessorPlugin::ResetProjectionRef(bool imported)
{
    DeleteAndClear(m_pSrcToLatLon);
    DeleteAndClear(m_pLatLonToSrc);
    DeleteAndClear(m_pLatLonSRS);

    bool result = true;
    if (imported) {
        SetAxisMappingStrategy(&m_srcSRS);
        if (m_srcSRS.IsGeographic()) {
            m_nProjType = 1;
            m_srcBounds.ClampToLatLonRange();
        } else {
            m_nProjType = 2;
            // On the WGS84 ellipsoid the source's own datum is kept, so no datum shift is applied.
            if (HasWgs84Ellipsoid(m_srcSRS)) {
                m_pLatLonSRS = m_srcSRS.CloneGeogCS();
            } else {
                OGRSpatialReference wgs84(nullptr);
                SetAxisMappingStrategy(&wgs84);
                wgs84.SetWellKnownGeogCS("WGS84");
                m_pLatLonSRS = wgs84.Clone();
            }
            SetAxisMappingStrategy(m_pLatLonSRS);
            // A reference without a geographic part (a local system) has nothing to transform to.
            if (m_pLatLonSRS != nullptr) {
                const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
                m_pSrcToLatLon = OGRCreateCoordinateTransformation(&m_srcSRS, m_pLatLonSRS);
                m_pLatLonToSrc = OGRCreateCoordinateTransformation(m_pLatLonSRS, &m_srcSRS);
            }
            if (m_pSrcToLatLon == nullptr || m_pLatLonToSrc == nullptr)
                result = false;
        }
    } else {
        // Without a usable reference only the bounds tell whether they could be degrees.
        m_nProjType = IsOutsideLatLonRange(m_srcBounds.GetGeoBounds()) ? 0 : 1;
    }

    m_latLonBounds.SetGeoBounds(TransformBounds(m_pSrcToLatLon, m_srcBounds.GetGeoBounds(), 72));
    CalcResolution();
    return result;
}

KRRect2d KRGORasterAccessorPlugin::TransformBounds(OGRCoordinateTransformation* ct, const KRRect2d& rect,
                                                   int steps)
{
    if (ct == nullptr)
        return rect;
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);

    double x = rect.left;
    double y = rect.bottom;
    TransformPoint(ct, x, y);
    KRRect2d result(x, y, x, y);
    if (steps < 1)
        return result;

    const double n = steps;
    const double dx = rect.Width() / n;
    const double dy = rect.Height() / n;

    bool outlineLeavesDomain = !IsTransformed(x, y);
    const auto add = [&](double px, double py) {
        TransformPoint(ct, px, py);
        outlineLeavesDomain = outlineLeavesDomain || !IsTransformed(px, py);
        result.Union(KRPoint2d(px, py));
    };
    for (int i = 1; i <= steps; ++i)
        add(rect.left + i * dx, rect.bottom);
    for (int i = 0; i <= steps; ++i)
        add(rect.left + i * dx, rect.top);
    for (int i = 0; i <= steps; ++i)
        add(rect.left, rect.bottom + i * dy);
    for (int i = 0; i <= steps; ++i)
        add(rect.right, rect.bottom + i * dy);
    // An outline that transforms whole keeps the box its points give.
    if (outlineLeavesDomain)
        AddTransformablePart(ct, rect, steps, result);
    return result;
}

void KRGORasterAccessorPlugin::SrcPtToWGS84Pt(const KRPoint3d& src, KRPoint3d& out)
{
    const KRPoint3d in = src; // the caller may pass one point as both
    out = in;
    if (m_pSrcToLatLon != nullptr) {
        const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
        TransformPoint(m_pSrcToLatLon, out.x, out.y);
    }
}

void KRGORasterAccessorPlugin::WGS84PtToSrcPt(const KRPoint3d& in, KRPoint3d& out)
{
    const KRPoint3d point = in;
    out = point;
    if (m_pLatLonToSrc != nullptr) {
        const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
        TransformPoint(m_pLatLonToSrc, out.x, out.y);
    }
}

void KRGORasterAccessorPlugin::LatLonToProBounds(const KRRect2d& in, KRRect2d& out)
{
    out = m_pLatLonToSrc != nullptr ? TransformBounds(m_pLatLonToSrc, in, 256) : in;
}

void KRGORasterAccessorPlugin::LatLonToProPnt(double lon, double lat, double& x, double& y)
{
    x = lon;
    y = lat;
    if (m_pLatLonToSrc != nullptr) {
        const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
        TransformPoint(m_pLatLonToSrc, x, y);
    }
}

} // namespace KRC
