#pragma once
// Shared by the fuzz targets: a scratch folder of the process, inputs written as
// files, and the host session of the tests with its checks turned into aborts,
// so that the fuzzer keeps the input that broke one.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <cpl_error.h>
#include <gdal_priv.h>

#include "KRGORasterAccessorPlugin.h"
#include "KRTempDir.h"

#define KR_FUZZ_CHECK(condition)                                                                                       \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__);                              \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)
#define KR_SESSION_CHECK(condition) KR_FUZZ_CHECK(condition)
#include "KRHostSession.h"

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
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

//! The input as text ending at its first zero byte.
inline std::string Text(const std::uint8_t* data, std::size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size).c_str();
}

//! Everything a host does with the raster but the image tiles, whose 256 x 256
//! pixels would cost the fuzzer most of its time in loops the images reach.
inline void Serve(KRC::KRRasterDataAccessor& p)
{
    krtest::ServeEverything(p, false);
}

} // namespace krfuzz
