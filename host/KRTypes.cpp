#include "KRTypes.h"

namespace KRC {

// The one table of pixel sizes; image and utility code ask here.
int KRPixelFormatBytes(enumPixelFormat format)
{
    switch (format) {
    case PF_R5G6B5:
        return 2;
    case PF_R8G8B8:
        return 3;
    case PF_A8R8G8B8:
    case PF_X8R8G8B8:
        return 4;
    case PF_L8:
        return 1;
    case PF_L16:
        return 2;
    case PF_G32R32F:
        return 8;
    case PF_R32F:
        return 4;
    case PF_R64F:
        return 8;
    case PF_Unknown:
        break;
    }
    return 0;
}

// The one table of sample sizes; grids and pixel blocks ask here.
int KRRasterFormatBytes(enumRasterDataFromat format)
{
    switch (format) {
    case RDF_UInt8:
        return 1;
    case RDF_Int16:
    case RDF_UInt16:
        return 2;
    case RDF_Float32:
    case RDF_Int32:
    case RDF_UInt32:
        return 4;
    case RDF_Int64:
    case RDF_Float64:
        return 8;
    case RDF_None:
        break;
    }
    return 0;
}

} // namespace KRC
