#include "GoraPicture.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>

#include <cpl_vsi.h>
#include <gdal_priv.h>

#include "GoraAccessor.h"

using namespace KRC;

namespace gora {

Picture::Picture(int w, int h, int b)
    : width(w), height(h), bands(b), pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * static_cast<size_t>(b), 0)
{
}

unsigned char* Picture::At(int row, int col)
{
    return pixels.data() + (static_cast<size_t>(row) * static_cast<size_t>(width) + static_cast<size_t>(col)) *
                               static_cast<size_t>(bands);
}

const unsigned char* Picture::At(int row, int col) const
{
    return const_cast<Picture*>(this)->At(row, col);
}

Picture PictureOfImage(const KRImageData& image)
{
    const int w = image.GetWidth();
    const int h = image.GetHeight();
    const int p = image.GetPixelSize();
    const long long rowBytes = image.GetWidthBytes();
    if (w <= 0 || h <= 0 || (p != 3 && p != 4) || image.m_pData == nullptr ||
        rowBytes < static_cast<long long>(w) * p ||
        image.GetDataBytes() < static_cast<size_t>(rowBytes) * static_cast<size_t>(h))
        throw Error("", "the module delivered an image gora cannot read (format " +
                            std::to_string(static_cast<int>(image.GetPixelFormat())) + ")");
    Picture picture(w, h, p);
    for (int r = 0; r < h; ++r) {
        const unsigned char* src = image.m_pData + static_cast<size_t>(h - 1 - r) * static_cast<size_t>(rowBytes);
        for (int c = 0; c < w; ++c, src += p) {
            unsigned char* dst = picture.At(r, c);
            dst[0] = src[2];
            dst[1] = src[1];
            dst[2] = src[0];
            if (p == 4)
                dst[3] = src[3];
        }
    }
    return picture;
}

std::vector<unsigned char> EncodePng(const Picture& picture)
{
    GDALAllRegister();
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDriver* png = GetGDALDriverManager()->GetDriverByName("PNG");
    if (mem == nullptr || png == nullptr || picture.bands < 1 || picture.bands > 4 ||
        picture.pixels.size() != static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) *
                                     static_cast<size_t>(picture.bands))
        return {};
    GDALDatasetUniquePtr image(mem->Create("", picture.width, picture.height, picture.bands, GDT_Byte, nullptr));
    const int b = picture.bands;
    if (!image ||
        image->RasterIO(GF_Write, 0, 0, picture.width, picture.height,
                        const_cast<unsigned char*>(picture.pixels.data()), picture.width, picture.height, GDT_Byte, b,
                        nullptr, b, static_cast<GSpacing>(b) * picture.width, 1, nullptr) != CE_None)
        return {};
    static std::atomic<unsigned long> counter{0};
    const std::string name = "/vsimem/gora-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".png";
    GDALDatasetUniquePtr out(png->CreateCopy(name.c_str(), image.get(), FALSE, nullptr, nullptr, nullptr));
    const bool written = out != nullptr;
    out.reset(); // flushes into the memory file
    vsi_l_offset length = 0;
    GByte* bytes = VSIGetMemFileBuffer(name.c_str(), &length, TRUE);
    std::vector<unsigned char> encoded;
    if (written && bytes != nullptr)
        encoded.assign(bytes, bytes + length);
    CPLFree(bytes);
    VSIUnlink(name.c_str());
    return encoded;
}

} // namespace gora
