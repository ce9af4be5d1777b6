#pragma once

#include <cstddef>

#include "KRExport.h"
#include "KRTypes.h"

namespace KRC {

//! Image of rows of GetWidthBytes() bytes. Pixels are stored blue, green,
//! red (, alpha): the byte order the default band map {2, 1, 0, 3} produces.
class KR_COMMON_API KRImageData {
public:
    KRImageData();
    virtual ~KRImageData();

    KRImageData(const KRImageData&) = delete;
    KRImageData& operator=(const KRImageData&) = delete;

    void SetPixelFormat(enumPixelFormat format);

    //! Allocates zeroed rows for m_nWidth x m_nHeight pixels; false when the
    //! size is not positive, the format is unknown or allocation fails.
    bool CreateData();

    int GetWidth() const;
    int GetHeight() const;
    int GetWidthBytes() const;
    int GetPixelSize() const;
    enumPixelFormat GetPixelFormat() const;
    //! Bytes of the pixel buffer as allocated, whatever the public size says now.
    std::size_t GetDataBytes() const;
    void ZeroAll();

    int m_nWidth = 0;
    int m_nHeight = 0;
    unsigned char* m_pData = nullptr;
    unsigned char m_bHasData = 0; //!< 1 once a fetch has written pixels

private:
    enumPixelFormat m_ePixelFormat = PF_Unknown;
    std::size_t m_nDataBytes = 0;
};

class KR_COMMON_API KRImgUtility {
public:
    static int GetPixelBytes(enumPixelFormat format);
};

//! Owned byte buffer.
class KR_COMMON_API KRByteArray {
public:
    KRByteArray();
    explicit KRByteArray(std::size_t size);
    virtual ~KRByteArray();

    KRByteArray(const KRByteArray&) = delete;
    KRByteArray& operator=(const KRByteArray&) = delete;

    void SetSize(std::size_t size);
    std::size_t GetSize() const;
    unsigned char* GetData() const;

private:
    unsigned char* m_pData = nullptr;
    std::size_t m_nSize = 0;
};

//! One row of raw samples.
class KR_COMMON_API KRRasterScanline : public KRByteArray {
public:
    using KRByteArray::KRByteArray;
};

//! Pixel-interleaved block of samples: band k of pixel (r, c) lies at byte
//! ((r * width + c) * bands + k) * GetPerBandValueBytes().
class KR_COMMON_API KRPixelDataMultiBand {
public:
    KRPixelDataMultiBand(int width, int height, int bands, enumRasterDataFromat format,
                         bool hasNoData, double noData, double scale);
    virtual ~KRPixelDataMultiBand();

    KRPixelDataMultiBand(const KRPixelDataMultiBand&) = delete;
    KRPixelDataMultiBand& operator=(const KRPixelDataMultiBand&) = delete;

    unsigned char* GetData() const;
    std::size_t GetDataBytes() const;
    int GetWidth() const;
    int GetHeight() const;
    int GetBandCount() const;
    enumRasterDataFromat GetDataFormat() const;
    int GetPerBandValueBytes() const;
    static int GetPerBandValueBytes1(enumRasterDataFromat format);

private:
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nBands = 0;
    enumRasterDataFromat m_eFormat = RDF_None;
    bool m_bHasNoData = false;
    double m_dNoData = 0.0;
    double m_dScale = 0.0;
    unsigned char* m_pData = nullptr;
};

} // namespace KRC
