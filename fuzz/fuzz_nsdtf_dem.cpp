// NSDTF-DEM files: the header read by opening, then the value grid read by the
// first terrain fetch and served in degrees or, for a grid in metres, through a
// projection imported afterwards.
#include "KRFuzzSupport.h"

namespace {
const char* const kUtm33 = "+proj=utm +zone=33 +datum=WGS84 +units=m +no_defs";
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    krfuzz::Initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = krfuzz::WriteInput("input.dem", data, size);
    KRC::KRGORasterAccessorPlugin p;
    if (!p.OpenForRead(path.c_str()))
        return 0;
    KR_FUZZ_CHECK(p.GetBandCount() == 1 && p.GetWidth() >= 1 && p.GetHeight() >= 1);
    krfuzz::Serve(p);
    if (p.GetProjType() != 1) {
        p.ImportProjectionRefFromProj4(kUtm33);
        krfuzz::Serve(p);
    }
    return 0;
}
