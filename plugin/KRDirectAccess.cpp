// Direct access in raster coordinates: the current band, scanlines, blocks of
// raw samples and of display bytes; and output: a new WGS84 GeoTIFF, float
// samples written into it, and the open raster reprojected into a new file.
#include "KRGORasterAccessorPlugin.h"

#include <cmath>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal_priv.h>
#include <gdal_utils.h>
#include <gdalwarper.h>
#include <ogr_spatialref.h>

#include "KRBandWindow.h"
#include "KRColorRules.h"
#include "KRFile.h"
#include "KRSampleBuffers.h"

namespace KRC {

namespace {

constexpr int kColorSlots = 4; // bands with a stretch range and a filter component
constexpr unsigned char kTopByte = 255;

constexpr const char* kWgs84Wkt =
    "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,AUTHORITY[\"EPSG\",\"7030\"]],"
    "AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433],"
    "AUTHORITY[\"EPSG\",\"4326\"]]";

//! How ReprojectImage's target definition is given.
enum TargetKind { kProj4 = 0, kEsriPrjFile = 1, kEsriText = 2, kOgcWkt = 3, kEpsgCode = 4 };

//! The block of inclusive rows r0..r1 and columns c0..c1 as a window read at
//! full size. Rows count up from the bottom edge when `bottomUp` (the block's
//! top row is then GDAL row height - r1 - 1), else they are GDAL rows; the
//! window holds GDAL rows either way, so it is read with the row flag clear.
//! False when the block is empty or wider or taller than an int counts.
bool BlockWindow(int r0, int r1, int c0, int c1, bool bottomUp, int height, KRBandWindow& window)
{
    const long long w = static_cast<long long>(c1) - c0 + 1;
    const long long h = static_cast<long long>(r1) - r0 + 1;
    const long long top = bottomUp ? static_cast<long long>(height) - r1 - 1 : r0;
    if (w < 1 || h < 1 || w > INT_MAX || h > INT_MAX || top < INT_MIN || top + h - 1 > INT_MAX)
        return false;
    window = KRBandWindow();
    window.pixels = KRRect2i(c0, static_cast<int>(top + h - 1), c1, static_cast<int>(top));
    window.winW = window.bufW = static_cast<int>(w);
    window.winH = window.bufH = static_cast<int>(h);
    return true;
}

//! GDAL reads a window only when it lies wholly within the raster.
bool WithinRaster(const KRBandWindow& window, int width, int height)
{
    return window.pixels.left >= 0 && window.pixels.bottom >= 0 &&
           static_cast<long long>(window.pixels.left) + window.winW <= width &&
           static_cast<long long>(window.pixels.bottom) + window.winH <= height;
}

//! Bands 1 to `bands` of the window, pixel-interleaved at `bandBytes` a sample.
void ReadInterleaved(GDALDataset& dataset, const KRBandWindow& window, void* data, GDALDataType type, int bands,
                     int bandBytes)
{
    const GSpacing sample = bandBytes;
    const GSpacing pixel = sample * bands;
    // A failed read leaves the caller's buffer as it was.
    const CPLErr ignored =
        dataset.RasterIO(GF_Read, window.pixels.left, window.pixels.bottom, window.winW, window.winH, data, window.winW,
                         window.winH, type, bands, nullptr, pixel, pixel * window.winW, sample, nullptr);
    (void)ignored;
}

//! The colouring of one band in ReadColors: its filter component (NaN, which
//! matches nothing, for a band without one), the byte that replaces a filtered
//! pixel's, and its stretch range when it is stretched.
struct BandColorRule {
    double filter = std::nan("");
    unsigned char replacement = 1;
    bool stretch = false;
    double lo = 0.0;
    double hi = 0.0;
};

//! Filtered pixels get the filter colour moved by one in every band, so they
//! no longer read as the filter colour.
unsigned char ReplacementOf(double filter)
{
    const int f = detail::TruncateToInt(filter);
    return f == kTopByte ? kTopByte - 1 : static_cast<unsigned char>(static_cast<unsigned int>(f) + 1u);
}

//! GDAL's name of the driver the destination's extension asks for, held in `name`.
const char* OutputDriverName(const KRString& dstFile, KRString& name)
{
    name = KRFile::GetExt(dstFile);
    if (name.CompareNoCase(".tif") == 0 || name.CompareNoCase(".tiff") == 0)
        name = "GTiff";
    else if (name.CompareNoCase(".img") == 0)
        name = "img";
    else
        name.Trim('.');
    return name.Cstr();
}

//! `srs` from the target definition `text` of kind `kind` (TargetKind).
OGRErr ImportTarget(OGRSpatialReference& srs, const KRString& text, int kind)
{
    switch (kind) {
    case kProj4:
        return srs.importFromProj4(text.Cstr());
    case kEsriPrjFile: {
        CPLStringList lines(CSLLoad(text.Cstr()), TRUE);
        return srs.importFromESRI(lines.List());
    }
    case kEsriText: {
        CPLStringList lines;
        lines.AddString(text.Cstr());
        return srs.importFromESRI(lines.List());
    }
    case kOgcWkt:
        return srs.importFromWkt(text.Cstr());
    case kEpsgCode:
        return srs.importFromEPSG(std::atoi(text.Cstr()));
    default:
        return OGRERR_UNSUPPORTED_SRS;
    }
}

bool IsGdalDataType(int type)
{
    return type > GDT_Unknown && type < GDT_TypeCount;
}

} // namespace

bool KRGORasterAccessorPlugin::BeginRead(int band)
{
    const bool exists = m_pDataset != nullptr && band >= 1 && band <= m_pDataset->GetRasterCount();
    m_pBand = exists ? m_pDataset->GetRasterBand(band) : nullptr;
    return m_pBand != nullptr;
}

// The dataset's own size bounds the reads: after CreateRasterFile the size
// members still describe the raster opened before.
bool KRGORasterAccessorPlugin::DirectBlock(int firstRow, int lastRow, int firstCol, int lastCol, bool flip,
                                           KRBandWindow& window, bool& inside)
{
    if (m_pDataset == nullptr || m_pBand == nullptr)
        return false;
    const bool bottomUp = (m_dPixelSizeY < 0.0) != flip;
    if (!BlockWindow(firstRow, lastRow, firstCol, lastCol, bottomUp, m_pDataset->GetRasterYSize(), window))
        return false;
    inside = WithinRaster(window, m_pDataset->GetRasterXSize(), m_pDataset->GetRasterYSize());
    return true;
}

// A row off the raster is a read GDAL refuses: the line keeps what it held.
bool KRGORasterAccessorPlugin::ReadScanline(KRRasterScanline& line, int row, int /*unused*/)
try {
    if (m_pDataset == nullptr || m_pBand == nullptr)
        return false;
    const GDALDataType type = m_pBand->GetRasterDataType();
    const int width = m_pDataset->GetRasterXSize();
    const std::size_t needed =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(GDALGetDataTypeSizeBytes(type));
    if (needed == 0 || line.GetData() == nullptr || line.GetSize() < needed)
        return false;
    if (row >= 0 && row < m_pDataset->GetRasterYSize()) {
        const CPLErr ignored =
            m_pBand->RasterIO(GF_Read, 0, row, width, 1, line.GetData(), width, 1, type, 0, 0, nullptr);
        (void)ignored;
    }
    return true;
} catch (...) {
    return false;
}

// A block that leaves the raster is a read GDAL refuses: the buffer keeps what
// it held and the call still succeeds. A buffer too small for the block, or of
// another sample size than the current band's, is refused before any read.
bool KRGORasterAccessorPlugin::ReadPixels(KRPixelDataMultiBand& pixels, int firstRow, int lastRow, int firstCol,
                                          int lastCol, bool flip)
try {
    KRBandWindow window;
    bool inside = false;
    if (m_pDataset == nullptr || m_pBand == nullptr || pixels.GetData() == nullptr)
        return false;
    if (!DirectBlock(firstRow, lastRow, firstCol, lastCol, flip, window, inside))
        return true; // an empty block reads nothing
    const GDALDataType type = m_pBand->GetRasterDataType();
    const int bands = pixels.GetBandCount();
    const int bandBytes = pixels.GetPerBandValueBytes();
    if (bands < 1 || bands > m_pDataset->GetRasterCount() || bandBytes < 1 ||
        bandBytes != GDALGetDataTypeSizeBytes(type))
        return false;
    // Both sides divided by the bytes of a pixel, so no product can overflow.
    const std::size_t pixelBytes = static_cast<std::size_t>(bands) * static_cast<std::size_t>(bandBytes);
    const std::size_t blockPixels = static_cast<std::size_t>(window.winW) * static_cast<std::size_t>(window.winH);
    if (pixels.GetDataBytes() / pixelBytes < blockPixels)
        return false;
    if (inside)
        ReadInterleaved(*m_pDataset, window, pixels.GetData(), type, bands, bandBytes);
    return true;
} catch (...) {
    return false;
}

// A block that leaves the raster comes back as created, all zeros: a host may
// use the buffer without looking. Null only without a raster, for an empty
// block, or when the buffer cannot be made.
KRPixelDataMultiBand* KRGORasterAccessorPlugin::ReadColors(int firstRow, int lastRow, int firstCol, int lastCol,
                                                           bool flip)
try {
    KRBandWindow window;
    bool inside = false;
    if (!DirectBlock(firstRow, lastRow, firstCol, lastCol, flip, window, inside) || GetRasterDataFormat() == RDF_None)
        return nullptr;
    CheckInitColorInfo();

    const int bands = m_nBandCount > 3 && IsIgnoreAlpha() ? 3 : m_nBandCount;
    if (bands < 1 || bands > m_pDataset->GetRasterCount())
        return nullptr;
    std::unique_ptr<KRPixelDataMultiBand> colors(
        new KRPixelDataMultiBand(window.winW, window.winH, bands, RDF_UInt8, false, 0.0, 0.0));
    if (colors->GetData() == nullptr)
        return nullptr;
    if (!inside)
        return colors.release();

    if (GetRasterDataFormat() == RDF_UInt8) {
        const int byteBytes = KRPixelDataMultiBand::GetPerBandValueBytes1(RDF_UInt8);
        ReadInterleaved(*m_pDataset, window, colors->GetData(), GDT_Byte, bands, byteBytes);
        return colors.release();
    }
    StretchColors(*colors, window);
    return colors.release();
} catch (...) {
    return nullptr;
}

// Bands past the fourth have neither a stretch range nor a filter component:
// they are narrowed unstretched and never count as matching the filter colour,
// so a raster of five or more bands keeps every pixel as read.
void KRGORasterAccessorPlugin::StretchColors(KRPixelDataMultiBand& colors, const KRBandWindow& window)
{
    const int bands = colors.GetBandCount();
    const bool stretching = m_bMinMaxValid && (m_nStretchType == 1 || m_nStretchType == 2);
    std::vector<BandColorRule> rules(static_cast<std::size_t>(bands));
    std::vector<std::unique_ptr<KRTerrainData>> grids(static_cast<std::size_t>(bands));
    for (int k = 0; k < bands; ++k) {
        BandColorRule& rule = rules[static_cast<std::size_t>(k)];
        const int component = k < kColorSlots ? m_bandOrder[k] : -1;
        if (component >= 0 && component < kColorSlots)
            rule.filter = m_filterColor[component];
        rule.replacement = ReplacementOf(rule.filter);
        rule.stretch = stretching && k < kColorSlots;
        rule.lo = k < kColorSlots ? m_bandMin[k] : 0.0;
        rule.hi = k < kColorSlots ? m_bandMax[k] : 0.0;

        grids[static_cast<std::size_t>(k)].reset(CreateBandRasterData(window.winW, window.winH));
        if (grids[static_cast<std::size_t>(k)])
            ReadBandWindow(m_pDataset->GetRasterBand(k + 1), window, false, *grids[static_cast<std::size_t>(k)],
                           nullptr);
    }

    unsigned char* out = colors.GetData();
    for (int r = 0; r < window.winH; ++r) {
        for (int c = 0; c < window.winW; ++c) {
            unsigned char* pixel = out + (static_cast<std::size_t>(r) * window.winW + c) * bands;
            int rawMatches = 0;
            int stretchedMatches = 0;
            for (int k = 0; k < bands; ++k) {
                const BandColorRule& rule = rules[static_cast<std::size_t>(k)];
                const KRTerrainData* grid = grids[static_cast<std::size_t>(k)].get();
                double v = grid != nullptr ? grid->GetValue(r, c) : 0.0;
                const bool filtering = m_bFilterColorUsed;
                rawMatches += filtering && detail::MatchesWithin(v, rule.filter, detail::kFilterColorEpsilon);
                if (rule.stretch) {
                    v = detail::StretchValue(v, rule.lo, rule.hi, m_fStretchGamma);
                    stretchedMatches += filtering && detail::MatchesWithin(v, rule.filter, detail::kFilterColorEpsilon);
                }
                pixel[k] = detail::LowByteOf(v);
            }
            if (rawMatches != bands && stretchedMatches == bands) {
                for (int k = 0; k < bands; ++k)
                    pixel[k] = rules[static_cast<std::size_t>(k)].replacement;
            }
        }
    }
}

bool KRGORasterAccessorPlugin::CreateRasterFile(const KRString& path, int width, int height, double pixelSize,
                                                double originX, double originY, int bandCount, int dataType,
                                                bool compress)
try {
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("Gtiff");
    if (driver == nullptr)
        return false;
    CPLStringList options;
    if (compress) {
        options.SetNameValue("COMPRESS", "JPEG");
        options.SetNameValue("JPEG_QUALITY", "80");
    }
    const KRString dir = KRFile::GetDir(path);
    if (!KRFile::IsExist(dir))
        (void)KRFile::MkDirEx(dir); // GDAL reports a folder that still is missing

    m_eOutDataType = dataType;
    m_nBandCount = bandCount;
    // The raster served so far is closed, not leaked, and its band goes with
    // it; everything else the accessor knows stays as it was.
    CloseDataset();
    if (!IsGdalDataType(dataType))
        return false;
    m_pDataset =
        driver->Create(path.Cstr(), width, height, bandCount, static_cast<GDALDataType>(dataType), options.List());
    if (m_pDataset == nullptr)
        return false;
    double geoTransform[6] = {originX, pixelSize, 0.0, originY, 0.0, -pixelSize};
    (void)m_pDataset->SetProjection(kWgs84Wkt);
    (void)m_pDataset->SetGeoTransform(geoTransform);
    return true;
} catch (...) {
    return false;
}

// Samples go to the last band. Int16 output truncates and wraps around (no
// rounding, no clamping); any other type takes the floats as floats, which
// GDAL converts to the raster's own type. A window off the raster is a write
// GDAL refuses: nothing is written and the call still succeeds.
bool KRGORasterAccessorPlugin::WriteRasterFile(int x, int y, int width, int height, float* samples)
try {
    if (m_pDataset == nullptr || m_nBandCount < 1 || m_nBandCount > m_pDataset->GetRasterCount())
        return false;
    GDALRasterBand* band = m_pDataset->GetRasterBand(m_nBandCount);
    if (band == nullptr || samples == nullptr)
        return false;
    const bool inside = x >= 0 && y >= 0 && width >= 1 && height >= 1 &&
                        static_cast<long long>(x) + width <= m_pDataset->GetRasterXSize() &&
                        static_cast<long long>(y) + height <= m_pDataset->GetRasterYSize();
    if (!inside)
        return true;

    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    CPLErr ignored = CE_None;
    if (m_eOutDataType == GDT_Int16) {
        const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        std::vector<std::int16_t> words(count);
        for (std::size_t i = 0; i < count; ++i)
            words[i] = static_cast<std::int16_t>(
                static_cast<std::uint16_t>(static_cast<unsigned int>(detail::TruncateToIntOrZero(samples[i]))));
        ignored = band->RasterIO(GF_Write, x, y, width, height, words.data(), width, height, GDT_Int16, 0, 0, nullptr);
    } else {
        ignored = band->RasterIO(GF_Write, x, y, width, height, samples, width, height, GDT_Float32, 0, 0, nullptr);
    }
    (void)ignored;
    return true;
} catch (...) {
    return false;
}

// GDAL's warper keeps what a GIS user relies on: it copies the source's nodata
// value to the output and starts the output as nodata, and copies a single
// band's colour table. Classes are taken nearest, never blended.
bool KRGORasterAccessorPlugin::WarpFaithfully(const KRString& dstFile, const char* targetWkt, const char* driverName,
                                              int (*progress)(double, const char*, void*), void* userData)
{
    CPLStringList args;
    args.AddString("-t_srs");
    args.AddString(targetWkt);
    args.AddString("-r");
    args.AddString(m_bCategorical ? "near" : "bilinear");
    args.AddString("-of");
    args.AddString(driverName);
    if (EQUAL(driverName, "GTiff")) {
        for (const char* option : {"TILED=YES", "COMPRESS=DEFLATE"}) {
            args.AddString("-co");
            args.AddString(option);
        }
    }
    const std::unique_ptr<GDALWarpAppOptions, decltype(&GDALWarpAppOptionsFree)> options(
        GDALWarpAppOptionsNew(args.List(), nullptr), GDALWarpAppOptionsFree);
    if (!options)
        return false;
    GDALWarpAppOptionsSetProgress(options.get(), progress, userData);
    GDALDatasetH source = GDALDataset::ToHandle(m_pDataset);
    int usageError = 0;
    GDALDatasetH output = GDALWarp(dstFile.Cstr(), nullptr, 1, &source, options.get(), &usageError);
    if (output == nullptr)
        return false;
    GDALClose(output);
    return true;
}

// The target reference is only exported to WKT, so its axis order does not matter.
bool KRGORasterAccessorPlugin::ReprojectImage(const KRString& dstFile, const KRString& definition, int kind,
                                              int (*progress)(double, const char*, void*), void* userData)
try {
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    KRString driverName;
    // Null for a name GDAL does not know, which GDAL takes as GeoTIFF.
    GDALDriverH driver = GDALGetDriverByName(OutputDriverName(dstFile, driverName));
    if (definition.IsEmpty() || m_pDataset == nullptr)
        return false;
    OGRSpatialReference target;
    if (ImportTarget(target, definition, kind) != OGRERR_NONE)
        return false;
    char* wkt = nullptr;
    (void)target.exportToWkt(&wkt);
    const CPLString targetWkt(wkt != nullptr ? wkt : "");
    CPLFree(wkt);
    if (m_bAccurate)
        return WarpFaithfully(dstFile, targetWkt.c_str(), driver != nullptr ? GDALGetDriverShortName(driver) : "GTiff",
                              progress, userData);
    return GDALCreateAndReprojectImage(m_pDataset, nullptr, dstFile.Cstr(), targetWkt.c_str(), driver, nullptr,
                                       GRA_Bilinear, 0.0, 0.0, progress, userData, nullptr) == CE_None;
} catch (...) {
    return false;
}

} // namespace KRC
