#pragma once
// Pictures: the host's images turned into top-row-first RGB(A) pixels, and
// their PNG encoding.

#include <vector>

#include "KRRasterDataAccessor.h"

namespace gora {

//! Pixels with the top row first, `bands` bytes each: 1 grey, 2 grey and
//! alpha, 3 RGB, 4 RGBA.
struct Picture {
    int width = 0;
    int height = 0;
    int bands = 0;
    std::vector<unsigned char> pixels;

    Picture() = default;
    Picture(int w, int h, int b);
    unsigned char* At(int row, int col);
    const unsigned char* At(int row, int col) const;
};

//! The host image as the host shows it: image row 0 is the south row, and a
//! pixel holds blue, green, red (and alpha) whatever the band order put there.
Picture PictureOfImage(const KRC::KRImageData& image);

//! The picture as PNG bytes (GDAL's PNG driver); empty when encoding failed.
std::vector<unsigned char> EncodePng(const Picture& picture);

} // namespace gora
