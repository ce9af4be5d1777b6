#pragma once
// Private to the module: the images that the image fetches and the quick image
// path write into, and the narrowing of samples to bytes and 16-bit words.

#include <cstddef>
#include <memory>
#include <new>

#include "KRImageData.h"

namespace KRC {
namespace detail {

//! True when the image's pixels are allocated for its current size and format.
inline bool IsWritable(const KRImageData& image)
{
    if (image.m_pData == nullptr || image.GetWidth() < 1 || image.GetHeight() < 1 || image.GetPixelSize() < 1)
        return false;
    const std::size_t rowBytes = static_cast<std::size_t>(image.GetWidthBytes());
    return rowBytes >= static_cast<std::size_t>(image.GetWidth()) * static_cast<std::size_t>(image.GetPixelSize()) &&
           rowBytes * static_cast<std::size_t>(image.GetHeight()) <= image.GetDataBytes();
}

//! A zeroed image of `width` x `height` in `format`; null when it cannot be allocated.
inline std::unique_ptr<KRImageData> NewImage(int width, int height, enumPixelFormat format)
{
    std::unique_ptr<KRImageData> image(new (std::nothrow) KRImageData());
    if (!image)
        return nullptr;
    image->m_nWidth = width;
    image->m_nHeight = height;
    image->SetPixelFormat(format);
    if (!image->CreateData())
        return nullptr;
    return image;
}

//! The RGBA image a fetch writes into when the caller's pixels have no room for alpha.
inline std::unique_ptr<KRImageData> NewWorkingImage(const KRImageData& caller)
{
    const enumPixelFormat format = caller.GetPixelFormat() == PF_R5G6B5 ? PF_X8R8G8B8 : PF_A8R8G8B8;
    return NewImage(caller.GetWidth(), caller.GetHeight(), format);
}

//! Whether the host asked (GDAL configuration option GORA_REFERENCE_PATHS=YES)
//! for the plain per-sample procedures in place of the fast paths that give
//! the same results: for comparison. Read once per fetch.
bool ReferencePathsAsked();

//! Truncation toward zero to a 32-bit integer. NaN and values an int cannot
//! hold give 0, so their low-order bytes or words are 0 rather than the bits
//! of a saturated end.
inline int TruncateToIntOrZero(double value)
{
    if (!(value > -2147483649.0 && value < 2147483648.0))
        return 0;
    return static_cast<int>(value);
}

//! Low-order byte of the truncated value: no scaling, 300 gives 44.
inline unsigned char LowByteOf(double value)
{
    return static_cast<unsigned char>(static_cast<unsigned int>(TruncateToIntOrZero(value)) & 0xFFu);
}

} // namespace detail
} // namespace KRC
