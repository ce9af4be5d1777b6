// STUBS: placeholders until this file is written; replace every one.
#include "KRGORasterAccessorPlugin.h"

namespace KRC {

void KRGORasterAccessorPlugin::ReadChinaDemInfo(const KRString& path)
{
    (void)path;
}

void KRGORasterAccessorPlugin::ReadChinaDemData(const KRString& path)
{
    (void)path;
}

GetchResult KRGORasterAccessorPlugin::FetchLatLonTerrainDataFromChinaDemLatLonData(KRTerrainData* terrain, const KRRect2d& rect, bool flip)
{
    (void)terrain;
    (void)rect;
    (void)flip;
    return GetchResult_None;
}

GetchResult KRGORasterAccessorPlugin::FetchLatLonTerrainDataFromChinaDemProData(KRTerrainData* terrain, const KRRect2d& rect, bool flip)
{
    (void)terrain;
    (void)rect;
    (void)flip;
    return GetchResult_None;
}

} // namespace KRC
