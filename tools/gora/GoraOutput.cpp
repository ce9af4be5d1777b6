#include "GoraOutput.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "GoraAccessor.h"

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

PendingOutput::PendingOutput(std::string path) : m_path(std::move(path)), m_temp(TempSibling(m_path)) {}

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

void SavePicture(const Picture& picture, const std::string& path)
{
    WritePng(picture, path);
    static const char* const kKinds[] = {"", "grey", "grey and alpha", "RGB", "RGBA"};
    std::cout << "wrote " << path << " (" << picture.width << " x " << picture.height << ", "
              << kKinds[std::clamp(picture.bands, 0, 4)] << ")\n";
}

} // namespace gora
