// World files: the reader itself, then a raster placed by one and served.
#include <array>

#include "KRFuzzSupport.h"
#include "KRPluginProbe.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    krfuzz::Initialize();
    // A raster without a transform of its own, so its world file places it.
    GDALDriver* bmp = GetGDALDriverManager()->GetDriverByName("BMP");
    GDALDatasetUniquePtr ds(bmp->Create(krfuzz::ScratchDir().File("placed.bmp").c_str(), 8, 8, 1, GDT_Byte,
                                        nullptr));
    std::array<GByte, 64> values{};
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<GByte>(1 + i);
    KR_FUZZ_CHECK(ds && ds->RasterIO(GF_Write, 0, 0, 8, 8, values.data(), 8, 8, GDT_Byte, 1, nullptr, 0, 0, 0,
                                     nullptr) == CE_None);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = krfuzz::WriteInput("placed.tfw", data, size);
    KRC::KRGORasterAccessorPlugin p;
    std::array<double, 6> gt = {1, 2, 3, 4, 5, 6};
    const std::array<double, 6> before = gt;
    if (!KRC::KRGORasterAccessorPluginProbe::ReadTFW(p, KRC::KRString(path.c_str()), gt.data()))
        KR_FUZZ_CHECK(gt == before); // a file that is not read leaves the transform alone
    KR_FUZZ_CHECK(p.OpenForRead(krfuzz::ScratchDir().File("placed.bmp").c_str()));
    krfuzz::Serve(p);
    return 0;
}
