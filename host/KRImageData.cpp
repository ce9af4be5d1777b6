#include "KRImageData.h"

#include "KRBuffer.h"

#include <cstring>
#include <initializer_list>
#include <limits>
#include <new>

namespace KRC {

using detail::AllocateZeroed;
using detail::CheckedBytes;

KRImageData::KRImageData() = default;

KRImageData::~KRImageData()
{
    delete[] m_pData;
}

// A new format no longer matches the pixel buffer, so the buffer goes.
void KRImageData::SetPixelFormat(enumPixelFormat format)
{
    if (format != m_ePixelFormat) {
        delete[] m_pData;
        m_pData = nullptr;
        m_nDataBytes = 0;
    }
    m_ePixelFormat = format;
}

bool KRImageData::CreateData()
{
    delete[] m_pData;
    m_pData = nullptr;
    m_nDataBytes = 0;
    const std::size_t bytes = CheckedBytes({m_nWidth, m_nHeight, GetPixelSize()});
    // Rows are addressed with int strides, so one row must fit an int.
    if (bytes == 0 || static_cast<long long>(m_nWidth) * GetPixelSize() > std::numeric_limits<int>::max())
        return false;
    m_pData = AllocateZeroed(bytes);
    if (m_pData != nullptr)
        m_nDataBytes = bytes;
    return m_pData != nullptr;
}

int KRImageData::GetWidth() const
{
    return m_nWidth;
}

int KRImageData::GetHeight() const
{
    return m_nHeight;
}

int KRImageData::GetWidthBytes() const
{
    const long long bytes = static_cast<long long>(m_nWidth) * GetPixelSize();
    if (bytes <= 0)
        return 0;
    return bytes > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(bytes);
}

int KRImageData::GetPixelSize() const
{
    return KRImgUtility::GetPixelBytes(m_ePixelFormat);
}

enumPixelFormat KRImageData::GetPixelFormat() const
{
    return m_ePixelFormat;
}

std::size_t KRImageData::GetDataBytes() const
{
    return m_nDataBytes;
}

void KRImageData::ZeroAll()
{
    if (m_pData != nullptr)
        std::memset(m_pData, 0, GetDataBytes());
}

int KRImgUtility::GetPixelBytes(enumPixelFormat format)
{
    return KRPixelFormatBytes(format);
}

KRByteArray::KRByteArray() = default;

KRByteArray::KRByteArray(std::size_t size)
{
    SetSize(size);
}

KRByteArray::~KRByteArray()
{
    delete[] m_pData;
}

// The old content is not kept; callers fill the buffer afresh.
void KRByteArray::SetSize(std::size_t size)
{
    delete[] m_pData;
    m_pData = nullptr;
    m_nSize = 0;
    if (size == 0)
        return;
    m_pData = AllocateZeroed(size);
    if (m_pData != nullptr)
        m_nSize = size;
}

std::size_t KRByteArray::GetSize() const
{
    return m_nSize;
}

unsigned char* KRByteArray::GetData() const
{
    return m_pData;
}

KRPixelDataMultiBand::KRPixelDataMultiBand(int width, int height, int bands, enumRasterDataFromat format,
                                           bool hasNoData, double noData, double scale)
    : m_eFormat(format), m_bHasNoData(hasNoData), m_dNoData(noData), m_dScale(scale)
{
    const std::size_t bytes = CheckedBytes({width, height, bands, GetPerBandValueBytes1(format)});
    if (bytes == 0)
        return;
    m_pData = AllocateZeroed(bytes);
    if (m_pData == nullptr)
        return;
    m_nWidth = width;
    m_nHeight = height;
    m_nBands = bands;
}

KRPixelDataMultiBand::~KRPixelDataMultiBand()
{
    delete[] m_pData;
}

unsigned char* KRPixelDataMultiBand::GetData() const
{
    return m_pData;
}

std::size_t KRPixelDataMultiBand::GetDataBytes() const
{
    if (m_pData == nullptr)
        return 0;
    return CheckedBytes({m_nWidth, m_nHeight, m_nBands, GetPerBandValueBytes()});
}

int KRPixelDataMultiBand::GetWidth() const
{
    return m_nWidth;
}

int KRPixelDataMultiBand::GetHeight() const
{
    return m_nHeight;
}

int KRPixelDataMultiBand::GetBandCount() const
{
    return m_nBands;
}

enumRasterDataFromat KRPixelDataMultiBand::GetDataFormat() const
{
    return m_eFormat;
}

int KRPixelDataMultiBand::GetPerBandValueBytes() const
{
    return GetPerBandValueBytes1(m_eFormat);
}

int KRPixelDataMultiBand::GetPerBandValueBytes1(enumRasterDataFromat format)
{
    return KRRasterFormatBytes(format);
}

} // namespace KRC
