#pragma once
// Shared by the fuzz targets: a scratch folder of the process, inputs written as
// files, and the answers every terrain and image fetch must give whatever the
// input (a broken invariant aborts, so the fuzzer keeps the input that broke it).

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <string>

#include <cpl_error.h>
#include <gdal_priv.h>

#include "KRGORasterAccessorPlugin.h"
#include "KRTempDir.h"

#define KR_FUZZ_CHECK(condition)                                                                              \
    do {                                                                                                      \
        if (!(condition)) {                                                                                   \
            std::fprintf(stderr, "broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__);                     \
            std::abort();                                                                                     \
        }                                                                                                     \
    } while (0)

namespace krfuzz {

//! A fresh folder for this process's inputs, removed when the process ends.
inline const krtest::TempDir& ScratchDir()
{
    static const krtest::TempDir dir;
    return dir;
}

//! GDAL set up as the module will find it, with its messages kept off the fuzzer's output.
inline void Initialize()
{
    GDALAllRegister();
    CPLSetErrorHandler(CPLQuietErrorHandler);
}

inline std::string WriteInput(const std::string& name, const std::uint8_t* data, std::size_t size)
{
    const std::string path = ScratchDir().File(name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

//! The input as text ending at its first zero byte.
inline std::string Text(const std::uint8_t* data, std::size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size).c_str();
}

//! A tile index from any coordinate, without an undefined conversion.
inline int SaturatedIndex(double value)
{
    if (!(value > std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (!(value < std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return static_cast<int>(value);
}

inline void CheckGrid(const KRC::KRTerrainData& grid)
{
    for (int r = 0; r < grid.GetHeight(); ++r)
        for (int c = 0; c < grid.GetWidth(); ++c)
            KR_FUZZ_CHECK(std::isfinite(grid.GetValue(r, c)));
}

//! A rectangle image fetch: 0 or 5, and a replacement only with 5, in a
//! four-byte format of the caller's size.
inline void CheckImageFetch(KRC::GetchResult result, const KRC::KRImageData& image, KRC::KRImageData* replacement)
{
    std::unique_ptr<KRC::KRImageData> owned(replacement);
    KR_FUZZ_CHECK(result == KRC::GetchResult_None || result == KRC::GetchResult_Delivered);
    if (owned)
        KR_FUZZ_CHECK(result == KRC::GetchResult_Delivered && owned->m_pData != nullptr &&
                      owned->GetPixelSize() == 4 && owned->GetWidth() == image.GetWidth() &&
                      owned->GetHeight() == image.GetHeight());
}

//! Terrain and a small image over the raster's bounds, and terrain tiles at
//! their centre: 0 or 5, a tile exactly when 5 is returned, finite samples.
//! (The image tiles' 256 x 256 pixels would cost the fuzzer most of its time
//! in pixel loops that the image is enough to reach.)
inline void Serve(KRC::KRRasterDataAccessor& p)
{
    const KRC::KRRect2d b = p.GetLatLonBounds().GetGeoBounds();
    KRC::KRTerrainData grid{KRC::KRTerrainData::Structure()};
    grid.SetWidth(17);
    grid.SetHeight(17);
    grid.SetDataFormat(KRC::RDF_Float32);
    KR_FUZZ_CHECK(grid.CreateData());
    const KRC::GetchResult result = p.FetchTerrainData(&grid, b, false);
    KR_FUZZ_CHECK(result == KRC::GetchResult_None || result == KRC::GetchResult_Delivered);
    if (result == KRC::GetchResult_Delivered)
        CheckGrid(grid);

    KRC::KRImageData image;
    image.m_nWidth = 24;
    image.m_nHeight = 16;
    image.SetPixelFormat(KRC::PF_R8G8B8);
    KR_FUZZ_CHECK(image.CreateData());
    KRC::KRImageData* replacement = nullptr;
    const KRC::GetchResult imageResult = p.FetchImageData(&image, replacement, b, nullptr, false);
    CheckImageFetch(imageResult, image, replacement);

    for (int level : {4, 11}) {
        const double side = 180.0 / (1 << level);
        const int x = SaturatedIndex(((b.left + b.right) / 2 + 180) / side);
        const int y = SaturatedIndex((90 - (b.top + b.bottom) / 2) / side);
        KRC::KRTerrainData* tile = nullptr;
        const KRC::GetchResult tileResult = p.FetchTerrainData(tile, x, y, level);
        std::unique_ptr<KRC::KRTerrainData> owned(tile);
        KR_FUZZ_CHECK((tileResult == KRC::GetchResult_Delivered) == (owned != nullptr));
        if (owned) {
            KR_FUZZ_CHECK(owned->GetWidth() == 33 && owned->GetHeight() == 33);
            CheckGrid(*owned);
        }
    }
}

} // namespace krfuzz
