#pragma once

#include "KRExport.h"

namespace KRC {

//! Result of every fetch. The accessors only ever answer "nothing" or "delivered".
enum GetchResult {
    GetchResult_None = 0,
    GetchResult_Delivered = 5
};

//! Sample format of a grid or band. The spelling is the host's.
enum enumRasterDataFromat {
    RDF_None = 0,
    RDF_UInt8 = 1,
    RDF_Int16 = 2,
    RDF_UInt16 = 3,
    RDF_Float32 = 4,
    RDF_Int32 = 5,
    RDF_UInt32 = 6,
    RDF_Int64 = 7, //!< the 8-byte complex integer type, taken as one signed 64-bit value
    RDF_Float64 = 8
};

//! Pixel format of images and of source samples. Only the values the accessors use exist.
enum enumPixelFormat {
    PF_Unknown = 0,
    PF_R5G6B5 = 19,   //!< 2 bytes; its working RGBA counterpart is PF_X8R8G8B8
    PF_R8G8B8 = 20,   //!< 3 bytes
    PF_A8R8G8B8 = 21, //!< 4 bytes with alpha
    PF_X8R8G8B8 = 22, //!< 4 bytes; also the 32-bit integer source format
    PF_L8 = 53,       //!< 8-bit samples
    PF_L16 = 54,      //!< 16-bit samples
    PF_G32R32F = 57,  //!< 8 bytes (32-bit complex integer samples)
    PF_R32F = 58,     //!< 32-bit float samples
    PF_R64F = 59      //!< 64-bit float samples
};

//! Bytes per pixel of a pixel format; 0 for an unknown format.
KR_COMMON_API int KRPixelFormatBytes(enumPixelFormat format);

//! Bytes per sample of a sample format; 0 for RDF_None and unknown values.
KR_COMMON_API int KRRasterFormatBytes(enumRasterDataFromat format);

// Records the host passes in its own containers; the module only instantiates
// the containers for them.
struct KR_COMMON_API KRGridLevelInfo {
    int nLevel = 0;
    double dResolution = 0.0;
};

struct KR_COMMON_API KRSPluginElem {
    int nType = 0;
    void* pPlugin = nullptr;
};

struct KR_COMMON_API KRProjectItem {
    int nId = 0;
    double dValue = 0.0;
};

struct KR_COMMON_API KRSRelativeDirItem {
    int nDepth = 0;
    int nIndex = 0;
};

class KR_COMMON_API KRFeatureList;

} // namespace KRC
