#include "GoraOutput.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>

#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <gdal_utils.h>

#include "GoraAccessor.h"
#include "GoraProgress.h"

namespace fs = std::filesystem;

namespace gora {

namespace {

std::string TempSibling(const std::string& path)
{
    const fs::path p(path);
    const std::string name = "." + p.stem().string() + ".gora-" + std::to_string(getpid()) + p.extension().string();
    return (p.parent_path() / name).string();
}

//! GDAL may write its auxiliary metadata beside a raster.
std::string AuxOf(const std::string& path)
{
    return path + ".aux.xml";
}

} // namespace

void CheckOutputFolder(const std::string& path)
{
    const fs::path folder = fs::path(path).parent_path();
    std::error_code ignored;
    if (!folder.empty() && !fs::is_directory(folder, ignored))
        throw Error(path, "folder does not exist: " + folder.string());
}

PendingOutput::PendingOutput(std::string path) : m_path(std::move(path)), m_temp(TempSibling(m_path))
{
    CheckOutputFolder(m_path);
}

PendingOutput::~PendingOutput()
{
    if (m_committed)
        return;
    std::error_code ignored;
    fs::remove(m_temp, ignored);
    fs::remove(AuxOf(m_temp), ignored);
}

void PendingOutput::Commit()
{
    StopIfInterrupted();
    std::error_code error;
    if (!fs::is_regular_file(m_temp, error))
        throw Error(m_path, "nothing was written");
    fs::rename(m_temp, m_path, error);
    if (error)
        throw Error(m_path, "cannot move the written file into place: " + error.message());
    std::error_code ignored;
    if (fs::exists(AuxOf(m_temp), ignored))
        fs::rename(AuxOf(m_temp), AuxOf(m_path), ignored);
    m_committed = true;
}

void WritePng(const Picture& picture, const std::string& path)
{
    const std::vector<unsigned char> png = EncodePng(picture);
    if (png.empty())
        throw Error(path, "cannot encode the picture as PNG");
    PendingOutput output(path);
    {
        std::ofstream file(output.TempPath(), std::ios::binary);
        file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
        if (!file.flush())
            throw Error(path, "cannot write the file");
    }
    output.Commit();
}

namespace {

void SayWritten(const std::string& path, int width, int height, int bands)
{
    static const char* const kKinds[] = {"", "grey", "grey and alpha", "RGB", "RGBA"};
    std::cout << "wrote " << path << " (" << width << " x " << height << ", " << kKinds[std::clamp(bands, 0, 4)]
              << ")\n";
}

} // namespace

void SavePicture(const Picture& picture, const std::string& path)
{
    WritePng(picture, path);
    SayWritten(path, picture.width, picture.height, picture.bands);
}

PictureStrips::PictureStrips(const std::string& path, int width, int height)
    : m_output(path), m_strips(m_output.TempPath() + ".strips.tif"), m_width(width), m_height(height)
{
    GDALAllRegister();
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    CPLStringList options;
    options.SetNameValue("COMPRESS", "DEFLATE");
    options.SetNameValue("ZLEVEL", "1");
    options.SetNameValue("BIGTIFF", "IF_SAFER");
    m_dataset.reset(gtiff == nullptr ? nullptr
                                     : gtiff->Create(m_strips.c_str(), width, height, 4, GDT_Byte, options.List()));
    if (!m_dataset)
        throw Error(path, "cannot make the temporary file for the picture's strips");
}

PictureStrips::~PictureStrips()
{
    m_dataset.reset();
    VSIUnlink(m_strips.c_str());
}

void PictureStrips::Write(const Picture& strip, int top)
{
    if (strip.width != m_width || top < 0 || strip.height > m_height - top || strip.bands < 3)
        throw Error(m_output.Path(), "a strip does not fit the picture");
    Picture rgba(strip.width, strip.height, 4);
    for (int r = 0; r < strip.height; ++r) {
        for (int c = 0; c < strip.width; ++c) {
            const unsigned char* s = strip.At(r, c);
            unsigned char* d = rgba.At(r, c);
            std::copy_n(s, 3, d);
            d[3] = strip.bands == 4 ? s[3] : 255;
            m_opaque = m_opaque && d[3] == 255;
        }
    }
    if (m_dataset->RasterIO(GF_Write, 0, top, rgba.width, rgba.height, rgba.pixels.data(), rgba.width, rgba.height,
                            GDT_Byte, 4, nullptr, 4, static_cast<GSpacing>(4) * rgba.width, 1, nullptr) != CE_None)
        throw Error(m_output.Path(), "cannot write a strip of the picture");
}

void PictureStrips::Finish()
{
    CPLStringList argv;
    for (const char* arg : {"-of", "PNG"})
        argv.AddString(arg);
    for (const char* band : {"1", "2", "3", "4"}) {
        if (!(m_opaque && band[0] == '4')) {
            argv.AddString("-b");
            argv.AddString(band);
        }
    }
    std::unique_ptr<GDALTranslateOptions, decltype(&GDALTranslateOptionsFree)> options(
        GDALTranslateOptionsNew(argv.List(), nullptr), &GDALTranslateOptionsFree);
    int usageError = FALSE;
    GDALDatasetUniquePtr png(GDALDataset::FromHandle(GDALTranslate(
        m_output.TempPath().c_str(), GDALDataset::ToHandle(m_dataset.get()), options.get(), &usageError)));
    if (!png)
        throw Error(m_output.Path(), "cannot encode the picture as PNG");
    png.reset(); // flushes the PNG
    m_output.Commit();
    SayWritten(m_output.Path(), m_width, m_height, m_opaque ? 3 : 4);
}

} // namespace gora
