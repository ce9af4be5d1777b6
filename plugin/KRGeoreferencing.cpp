// Georeferencing: bounds from GDAL's geotransform or a ".tfw" world file, and
// the four resolutions derived from the bounding boxes.
#include "KRGORasterAccessorPlugin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include <cpl_conv.h>
#include <gdal_priv.h>

#include "KRFile.h"

namespace KRC {

namespace {

// A world file holds six short numbers; anything this large is not one.
constexpr long kMaxWorldFileBytes = 1 << 20;
constexpr double kRotationZero = 1e-16;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

//! The whole file as text; false when it cannot be read or is too large for a world file.
bool ReadWholeFile(const KRString& path, KRString& text)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.Cstr(), "rb"));
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0)
        return false;
    const long length = std::ftell(file.get());
    if (length < 0 || length > kMaxWorldFileBytes || std::fseek(file.get(), 0, SEEK_SET) != 0)
        return false;
    std::vector<char> buffer(static_cast<std::size_t>(length));
    const std::size_t read = std::fread(buffer.data(), 1, buffer.size(), file.get());
    text = KRString();
    text.Append(buffer.data(), static_cast<int>(read));
    return true;
}

//! |extent| per step between the first and last pixel; a single pixel spans the whole extent.
double StepOf(double extent, std::uint64_t pixels)
{
    const double magnitude = std::fabs(extent);
    return pixels >= 2 ? magnitude / static_cast<double>(pixels - 1) : magnitude;
}

} // namespace

KRRect2d KRGORasterAccessorPlugin::ReadGeoTransform()
{
    KRRect2d bounds;
    if (m_pDataset == nullptr)
        return bounds;

    double gt[6] = {0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
    if (m_pDataset->GetGeoTransform(gt) != CE_None) {
        const KRString worldFile = KRFile::ChangeExt(m_strFileName, ".tfw");
        if (KRFile::IsExist(worldFile))
            ReadTFW(worldFile, gt); // an unreadable world file leaves GDAL's default
    }

    const double w = m_pDataset->GetRasterXSize();
    const double h = m_pDataset->GetRasterYSize();
    const double cols[4] = {0.0, 0.0, w, w};
    const double rows[4] = {0.0, h, 0.0, h};
    double xs[4];
    double ys[4];
    for (int k = 0; k < 4; ++k) {
        xs[k] = gt[0] + cols[k] * gt[1] + rows[k] * gt[2];
        ys[k] = gt[3] + cols[k] * gt[4] + rows[k] * gt[5];
    }
    // With rotation terms this is the axis-aligned box around the rotated grid.
    bounds.left = *std::min_element(xs, xs + 4);
    bounds.right = *std::max_element(xs, xs + 4);
    bounds.top = *std::max_element(ys, ys + 4);
    bounds.bottom = *std::min_element(ys, ys + 4);

    m_dPixelSizeX = gt[1];
    m_dPixelSizeY = gt[5];
    return bounds;
}

bool KRGORasterAccessorPlugin::ReadTFW(const KRString& path, double* gt)
{
    KRString text;
    if (!ReadWholeFile(path, text))
        return false;
    KRArray<KRString> lines;
    if (text.Split(lines, "\r\n", false) < 6 || lines.GetSize() < 6)
        return false;

    double n[6];
    for (int k = 0; k < 6; ++k)
        n[k] = CPLAtof(lines[k].Cstr()); // independent of the process locale

    // A near-zero second number is the usual world-file order (pixel width,
    // rotations, pixel height, X, Y); otherwise the file is already in GDAL's order.
    if (n[1] > -kRotationZero && n[1] < kRotationZero) {
        gt[0] = n[4];
        gt[1] = n[0];
        gt[2] = n[2];
        gt[3] = n[5];
        gt[4] = n[1];
        gt[5] = n[3];
    } else {
        std::copy(n, n + 6, gt);
    }
    return true;
}

void KRGORasterAccessorPlugin::CalcResolution()
{
    const KRRect2d& src = m_srcBounds.GetGeoBounds();
    const KRRect2d& geo = m_latLonBounds.GetGeoBounds();
    m_dLatLonResX = StepOf(geo.Width(), m_nWidth);
    m_dResX = StepOf(src.Width(), m_nWidth);
    m_dLatLonResY = StepOf(geo.Height(), m_nHeight);
    m_dResY = StepOf(src.Height(), m_nHeight);
}

} // namespace KRC
