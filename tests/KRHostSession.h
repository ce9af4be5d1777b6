#pragma once
// What a host does with an open raster when it only reads it, and the checks
// every answer must pass whatever the raster or the arguments: results 0 or 5,
// an image or grid exactly when 5 is returned, finite samples, nothing touched
// when nothing is delivered.

#include <cmath>
#include <memory>

#include <gtest/gtest.h>

#include "KRImageTestSupport.h"
#include "KRRasterDataAccessor.h"
#include "KRTerrainTestSupport.h"

namespace krtest {

//! A delivered grid holds finite samples only; one not delivered is left as it was (`untouched` in every sample).
inline void ExpectCleanGrid(KRC::GetchResult result, const KRC::KRTerrainData& grid, double untouched)
{
    ASSERT_TRUE(result == KRC::GetchResult_None || result == KRC::GetchResult_Delivered) << result;
    const int width = grid.GetWidth(), samples = grid.GetData() != nullptr ? width * grid.GetHeight() : 0;
    for (int i = 0; i < samples; ++i) {
        const double v = grid.GetValue(i / width, i % width);
        ASSERT_TRUE(result == KRC::GetchResult_Delivered ? std::isfinite(v) : v == untouched)
            << "result " << result << ", sample " << i << ": " << v;
    }
}

//! A rectangle fetch into `image`: 0 or 5, and a replacement only with 5, of
//! the caller's size in a four-byte format. Returns the replacement, if any.
inline std::unique_ptr<KRC::KRImageData> ExpectCleanImageFetch(KRC::GetchResult result, const KRC::KRImageData& image,
                                                               KRC::KRImageData* replacement)
{
    std::unique_ptr<KRC::KRImageData> owned(replacement);
    EXPECT_TRUE(result == KRC::GetchResult_Delivered || (result == KRC::GetchResult_None && !owned)) << result;
    EXPECT_TRUE(!owned || (owned->m_pData != nullptr && owned->GetPixelSize() == 4 &&
                           owned->GetWidth() == image.GetWidth() && owned->GetHeight() == image.GetHeight()));
    return owned;
}

//! The image tile entry point: the tile (256 x 256 pixels of 3 or 4 bytes), or null with GetchResult_None.
inline std::unique_ptr<KRC::KRImageData> FetchImageTile(KRC::KRRasterDataAccessor& p, int x, int y, int level)
{
    KRC::KRImageData* tile = nullptr;
    const KRC::GetchResult result = p.FetchImageData(tile, x, y, level);
    std::unique_ptr<KRC::KRImageData> owned(tile);
    EXPECT_EQ(result, owned ? KRC::GetchResult_Delivered : KRC::GetchResult_None);
    EXPECT_TRUE(!owned || (owned->m_pData != nullptr && owned->GetWidth() == 256 && owned->GetHeight() == 256 &&
                           owned->GetPixelSize() >= 3));
    return owned;
}

//! Its description, projections as text, points, terrain and images (full and
//! quick) over its bounds and the world, terrain and image tiles at its centre,
//! and a block of colours. Returns how many grids and images were delivered.
//! Without `imageTile` it leaves out the image tile, the costliest step.
inline int ServeEverything(KRC::KRRasterDataAccessor& p, bool imageTile = true)
{
    p.IsValid();
    p.GetProjectionRef();
    p.ExportProjectionRefToWkt();
    p.ExportProjectionRefToProj4();
    p.ExportProjToEsriPrj();
    bool hasNoData = false;
    p.GetNoDataValue(hasNoData);
    const KRC::KRRect2d b = p.GetLatLonBounds().GetGeoBounds();
    KRC::KRPoint3d point;
    p.SrcPtToWGS84Pt(KRC::KRPoint3d(b.left, b.top, 0), point);
    p.WGS84PtToSrcPt(point, point);
    int delivered = 0;
    for (const KRC::KRRect2d& rect : {b, KRC::KRRect2d(-180, 90, 180, -90)}) {
        auto grid = FilledGrid(33, 33, 7.0);
        const KRC::GetchResult result = p.FetchTerrainData(grid.get(), rect, false);
        ExpectCleanGrid(result, *grid, 7.0);
        delivered += result == KRC::GetchResult_Delivered;
        auto image = MakeImage(64, 48, KRC::PF_R8G8B8);
        for (bool quick : {false, true}) {
            KRC::KRImageData* replacement = nullptr;
            const KRC::GetchResult imageResult =
                quick ? p.QucikFetchImageData(image.get(), replacement, rect, nullptr, false)
                      : p.FetchImageData(image.get(), replacement, rect, nullptr, false);
            ExpectCleanImageFetch(imageResult, *image, replacement);
            delivered += imageResult == KRC::GetchResult_Delivered;
        }
    }
    std::unique_ptr<KRC::KRPixelDataMultiBand> colors(p.ReadColors(0, 1, 0, 1, false));
    EXPECT_TRUE(colors == nullptr || (colors->GetWidth() == 2 && colors->GetHeight() == 2));
    const auto at = [&b](int level) { return TileAt((b.left + b.right) / 2, (b.top + b.bottom) / 2, level); };
    for (int level : {2, 9}) {
        auto tile = FetchTile(p, at(level).first, at(level).second, level);
        if (tile != nullptr)
            ExpectCleanGrid(KRC::GetchResult_Delivered, *tile, 0.0);
        delivered += tile != nullptr;
    }
    // One image tile at most: its 65536 pixels cost more than all the rest together.
    return delivered + (imageTile && FetchImageTile(p, at(9).first, at(9).second, 9) != nullptr);
}

} // namespace krtest
