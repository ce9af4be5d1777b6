#pragma once
// What a host does with an open raster when it only reads it, and the checks
// every answer must pass whatever the raster or the arguments: results 0 or 5,
// a grid or image exactly when 5 is returned, finite samples, nothing touched
// when nothing is delivered. The tests and the fuzz targets share it: a broken
// check is a test failure, unless the includer defines KR_SESSION_CHECK first
// (the fuzz targets abort, so that the fuzzer keeps the input).

#include <cmath>
#include <limits>
#include <memory>

#include "KRImageData.h"
#include "KRRasterDataAccessor.h"
#include "KRTerrainData.h"

#ifndef KR_SESSION_CHECK
#include <gtest/gtest.h>
#define KR_SESSION_CHECK(condition) EXPECT_TRUE(condition)
#endif

namespace krtest {

inline bool IsFetchResult(KRC::GetchResult result)
{
    return result == KRC::GetchResult_None || result == KRC::GetchResult_Delivered;
}

//! A float grid with `value` in every sample, to tell samples a fetch wrote from those it left.
inline std::unique_ptr<KRC::KRTerrainData> SessionGrid(int width, int height, double value,
                                                       KRC::enumRasterDataFromat format = KRC::RDF_Float32)
{
    auto grid = std::make_unique<KRC::KRTerrainData>(KRC::KRTerrainData::Structure());
    grid->SetWidth(width);
    grid->SetHeight(height);
    grid->SetDataFormat(format);
    KR_SESSION_CHECK(grid->CreateData());
    for (int i = 0; i < width * height; ++i)
        grid->SetValue(i, value);
    return grid;
}

//! A delivered grid holds finite samples only; one not delivered is left as it was (`untouched` in every sample).
inline void CheckGrid(KRC::GetchResult result, const KRC::KRTerrainData& grid, double untouched)
{
    KR_SESSION_CHECK(IsFetchResult(result));
    const bool delivered = result == KRC::GetchResult_Delivered;
    const int width = grid.GetWidth(), samples = grid.GetData() != nullptr ? width * grid.GetHeight() : 0;
    bool clean = true;
    for (int i = 0; i < samples && clean; ++i) {
        const double v = grid.GetValue(i / width, i % width);
        clean = delivered ? std::isfinite(v) : v == untouched;
    }
    KR_SESSION_CHECK(clean);
}

//! A rectangle image fetch into `image`: 0 or 5, and a replacement only with 5,
//! of the caller's size in a four-byte format. Returns the replacement, if any.
inline std::unique_ptr<KRC::KRImageData> CheckImageFetch(KRC::GetchResult result, const KRC::KRImageData& image,
                                                         KRC::KRImageData* replacement)
{
    std::unique_ptr<KRC::KRImageData> owned(replacement);
    KR_SESSION_CHECK(result == KRC::GetchResult_Delivered || (result == KRC::GetchResult_None && !owned));
    KR_SESSION_CHECK(!owned || (owned->m_pData != nullptr && owned->GetPixelSize() == 4 &&
                                owned->GetWidth() == image.GetWidth() && owned->GetHeight() == image.GetHeight()));
    return owned;
}

//! The terrain tile entry point: 33 x 33 finite samples with GetchResult_Delivered, else null.
inline std::unique_ptr<KRC::KRTerrainData> FetchTerrainTile(KRC::KRRasterDataAccessor& p, int x, int y, int level)
{
    KRC::KRTerrainData* tile = nullptr;
    const KRC::GetchResult result = p.FetchTerrainData(tile, x, y, level);
    std::unique_ptr<KRC::KRTerrainData> owned(tile);
    KR_SESSION_CHECK(result == (owned ? KRC::GetchResult_Delivered : KRC::GetchResult_None));
    if (owned) {
        KR_SESSION_CHECK(owned->GetWidth() == 33 && owned->GetHeight() == 33);
        CheckGrid(KRC::GetchResult_Delivered, *owned, 0.0);
    }
    return owned;
}

//! The image tile entry point: 256 x 256 pixels of 3 or 4 bytes with GetchResult_Delivered, else null.
inline std::unique_ptr<KRC::KRImageData> FetchImageTile(KRC::KRRasterDataAccessor& p, int x, int y, int level)
{
    KRC::KRImageData* tile = nullptr;
    const KRC::GetchResult result = p.FetchImageData(tile, x, y, level);
    std::unique_ptr<KRC::KRImageData> owned(tile);
    KR_SESSION_CHECK(result == (owned ? KRC::GetchResult_Delivered : KRC::GetchResult_None));
    KR_SESSION_CHECK(!owned || (owned->m_pData != nullptr && owned->GetWidth() == 256 && owned->GetHeight() == 256 &&
                                owned->GetPixelSize() >= 3));
    return owned;
}

//! Column (or row) of the host's tiles at a level from a position east of -180
//! (or south of +90) in degrees, saturated: the position may be anything.
inline int TileIndex(double offset, int level)
{
    const double index = offset / (180.0 / (1 << level));
    if (!(index > std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return index < std::numeric_limits<int>::max() ? static_cast<int>(index) : std::numeric_limits<int>::max();
}

//! Points, terrain and images (full and quick) over its bounds and the world,
//! terrain and image tiles at its centre, and a block of colours. Returns how
//! many grids and images were delivered. Without `imageTile` it leaves out the
//! image tile, whose 65536 pixels cost more than all the rest together.
inline int ServeEverything(KRC::KRRasterDataAccessor& p, bool imageTile = true)
{
    const KRC::KRRect2d b = p.GetLatLonBounds().GetGeoBounds();
    const double lon = (b.left + b.right) / 2, lat = (b.top + b.bottom) / 2;
    // Points keep their height; only a projected source moves them, and there and back again is the identity.
    KRC::KRPoint3d source, back;
    p.WGS84PtToSrcPt(KRC::KRPoint3d(lon, lat, 7), source);
    p.SrcPtToWGS84Pt(source, back);
    const auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
    KR_SESSION_CHECK(source.z == 7 && back.z == 7);
    if (p.GetProjType() != 2) {
        KR_SESSION_CHECK(same(source.x, lon) && same(source.y, lat) && same(back.x, lon) && same(back.y, lat));
    } else if (std::isfinite(source.x + source.y + back.x + back.y)) {
        KR_SESSION_CHECK(std::fabs(back.x - lon) < 1e-6 && std::fabs(back.y - lat) < 1e-6);
    }

    int delivered = 0;
    for (const KRC::KRRect2d& rect : {b, KRC::KRRect2d(-180, 90, 180, -90)}) {
        auto grid = SessionGrid(17, 17, 7.0);
        const KRC::GetchResult result = p.FetchTerrainData(grid.get(), rect, false);
        CheckGrid(result, *grid, 7.0);
        delivered += result == KRC::GetchResult_Delivered;
        KRC::KRImageData image;
        image.m_nWidth = 24;
        image.m_nHeight = 16;
        image.SetPixelFormat(KRC::PF_R8G8B8);
        KR_SESSION_CHECK(image.CreateData());
        for (bool quick : {false, true}) {
            KRC::KRImageData* replacement = nullptr;
            const KRC::GetchResult imageResult = quick
                                                     ? p.QucikFetchImageData(&image, replacement, rect, nullptr, false)
                                                     : p.FetchImageData(&image, replacement, rect, nullptr, false);
            CheckImageFetch(imageResult, image, replacement);
            delivered += imageResult == KRC::GetchResult_Delivered;
        }
    }
    std::unique_ptr<KRC::KRPixelDataMultiBand> colors(p.ReadColors(0, 1, 0, 1, false));
    KR_SESSION_CHECK(colors == nullptr || (colors->GetWidth() == 2 && colors->GetHeight() == 2));
    for (int level : {2, 9})
        delivered += FetchTerrainTile(p, TileIndex(lon + 180, level), TileIndex(90 - lat, level), level) != nullptr;
    return delivered + (imageTile && FetchImageTile(p, TileIndex(lon + 180, 9), TileIndex(90 - lat, 9), 9) != nullptr);
}

} // namespace krtest
