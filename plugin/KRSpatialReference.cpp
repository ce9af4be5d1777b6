// STUBS: placeholders until this file is written; replace every one.
#include "KRGORasterAccessorPlugin.h"

namespace KRC {

void KRGORasterAccessorPlugin::ReadSpatialReference()
{
}

bool KRGORasterAccessorPlugin::ResetProjectionRef(bool imported)
{
    (void)imported;
    return true;
}

void KRGORasterAccessorPlugin::SetAxisMappingStrategy(OGRSpatialReference* srs)
{
    (void)srs;
}

KRRect2d KRGORasterAccessorPlugin::TransformBounds(OGRCoordinateTransformation* ct, const KRRect2d& rect, int steps)
{
    (void)steps;
    return rect;
}

void KRGORasterAccessorPlugin::SrcPtToWGS84Pt(const KRPoint3d& src, KRPoint3d& out)
{
    out = src;
}

void KRGORasterAccessorPlugin::WGS84PtToSrcPt(const KRPoint3d& in, KRPoint3d& out)
{
    out = in;
}

void KRGORasterAccessorPlugin::LatLonToProBounds(const KRRect2d& in, KRRect2d& out)
{
    out = in;
}

void KRGORasterAccessorPlugin::LatLonToProPnt(double lon, double lat, double& x, double& y)
{
    x = lon; y = lat;
}

} // namespace KRC
