// STUBS: placeholders until this file is written; replace every one.
#include "KRGORasterAccessorPlugin.h"

namespace KRC {

KRRect2d KRGORasterAccessorPlugin::ReadGeoTransform()
{
    return KRRect2d();
}

bool KRGORasterAccessorPlugin::ReadTFW(const KRString& path, double* gt)
{
    (void)path;
    (void)gt;
    return false;
}

void KRGORasterAccessorPlugin::CalcResolution()
{
}

} // namespace KRC
