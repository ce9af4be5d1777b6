// STUBS: placeholders until this file is written; replace every one.
#include "KRGORasterAccessorPlugin.h"

namespace KRC {

KRTerrainData* KRGORasterAccessorPlugin::CreateBandRasterData(int width, int height)
{
    (void)width;
    (void)height;
    return nullptr;
}

double KRGORasterAccessorPlugin::GetBandDataValue(void* buffer, int stride, int row, int col)
{
    (void)buffer;
    (void)stride;
    (void)row;
    (void)col;
    return 0.0;
}

GetchResult KRGORasterAccessorPlugin::FetchLatLonTerrainDataFromLatLonData(KRTerrainData* terrain, const KRRect2d& rect, bool flip)
{
    (void)terrain;
    (void)rect;
    (void)flip;
    return GetchResult_None;
}

GetchResult KRGORasterAccessorPlugin::FetchLatLonTerrainDataFromProData(KRTerrainData* terrain, const KRRect2d& rect, bool flip)
{
    (void)terrain;
    (void)rect;
    (void)flip;
    return GetchResult_None;
}

GetchResult KRGORasterAccessorPlugin::FetchTerrainData(KRTerrainData* terrain, const KRRect2d& rect, bool flip)
{
    (void)terrain;
    (void)rect;
    (void)flip;
    return GetchResult_None;
}

GetchResult KRGORasterAccessorPlugin::FetchTerrainData(KRTerrainData*& terrain, int x, int y, int level)
{
    (void)x;
    (void)y;
    (void)level;
    terrain = nullptr; return GetchResult_None;
}

} // namespace KRC
