// Opening a raster: the NSDTF-DEM probe, the GDAL path, the band survey, and
// the nodata rules (bands' own values or the host's filter colour).
#include "KRGORasterAccessorPlugin.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>

#include <cpl_error.h>
#include <gdal_priv.h>

#include "KRBandWindow.h"
#include "KRFile.h"
#include "KRNsdtfDem.h"
#include "KRReadOnlyDataset.h"

namespace KRC {

namespace {

constexpr int kStatSlots = 4; // bands whose own statistics are kept
constexpr double kBandNoDataTolerance = 1e-10;

bool HasDemExtension(const KRString& path)
{
    return KRFile::GetExt(path).CompareNoCase(".dem") == 0;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

//! The first bytes of the file; false when it is no plain file or cannot be
//! opened (which, for a name GDAL resolves itself, is no failure).
bool ReadHead(const KRString& path, std::string& head)
{
    // Only plain files: opening a pipe or a device to look at it could wait forever.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path.Cstr(), error))
        return false;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.Cstr(), "rb"));
    if (!file)
        return false;
    head.resize(detail::kNsdtfHeadBytes);
    head.resize(std::fread(&head[0], 1, head.size(), file.get()));
    return true;
}

std::uint64_t WidenWithSign(int size)
{
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(size));
}

} // namespace

bool KRGORasterAccessorPlugin::OpenForRead(const KRString& path)
try {
    Close();
    m_strFileName = path;
    m_bOpened = true;
    m_bNsdtfDem = false;
    m_bAccurate = CPLTestBool(CPLGetConfigOption("GORA_ACCURATE", "NO"));
    m_bCategorical = false;
    // A new file has its own palette and histograms; they are prepared again on its first image.
    m_colorset = KRColorset();
    m_bColorInfoInited = false;
    m_histogramState = false;

    // Probing unknown files is expected to fail now and then; keep the host's console quiet.
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);

    std::string head;
    const bool demExtension = HasDemExtension(path);
    if (!ReadHead(path, head) && demExtension)
        return false;
    if (detail::StartsAsNsdtfDem(head.data(), head.size(), demExtension)) {
        m_bNsdtfDem = true;
        // The header reader has no result of its own; a size it did not set
        // must not be mistaken for the previous raster's.
        m_nBandCount = 0;
        m_nWidth = 0;
        m_nHeight = 0;
        ReadChinaDemInfo(m_strFileName);
        if (m_nBandCount == 1 && m_nWidth > 0 && m_nHeight > 0)
            return true;
        m_bNsdtfDem = false;
        return false;
    }

    m_pDataset = GDALDataset::FromHandle(GDALOpenEx(path.Cstr(), GDAL_OF_RASTER, nullptr, nullptr, nullptr));
    if (m_pDataset == nullptr)
        return false;
    detail::KeepSettingsInMemory(m_pDataset);
    m_nWidth = WidenWithSign(m_pDataset->GetRasterXSize());
    m_nHeight = WidenWithSign(m_pDataset->GetRasterYSize());
    m_nBandCount = m_pDataset->GetRasterCount();
    if (m_nBandCount < 1)
        return false;

    m_pBand = m_pDataset->GetRasterBand(1);
    m_bCategorical =
        m_pBand->GetColorTable() != nullptr || m_pBand->GetColorInterpretation() == GCI_PaletteIndex;
    m_ePixelFormat = ReadPixelFormat();
    m_srcBounds.SetGeoBounds(ReadGeoTransform());
    // A raster without a coordinate system must not report the previous raster's.
    m_srcSRS.Clear();
    ReadSpatialReference();
    m_latLonBounds.SetGeoBounds(TransformBounds(m_pSrcToLatLon, m_srcBounds.GetGeoBounds(), 72));
    CalcResolution();
    SurveyBands();
    UpdateNoDataSetting();
    UpdateMinMax();
    return true;
} catch (...) {
    return false; // nothing crosses the plug-in boundary
}

// Bands past the fourth have no statistics slots; they still widen the overall
// range and clear m_bMinMaxValid when their statistics are unknown.
void KRGORasterAccessorPlugin::SurveyBands()
{
    // Slots of bands this raster lacks must not keep the previous raster's statistics.
    for (int i = 0; i < kStatSlots; ++i) {
        m_bandMax[i] = 0.0;
        m_bandMin[i] = 0.0;
        m_bandHasMax[i] = false;
        m_bandHasMin[i] = false;
    }
    m_noDataValues.SetSize(m_nBandCount);
    m_bAllBandsHaveNoData = true;
    m_bMinMaxValid = true;
    m_dMaxValue = -1e100;
    m_dMinValue = 1e100;

    for (int b = 1; b <= m_nBandCount; ++b) {
        GDALRasterBand* band = m_pDataset->GetRasterBand(b);
        if (band == nullptr)
            continue;
        const int i = b - 1;
        int hasNoData = 0;
        int hasMax = 0;
        int hasMin = 0;
        m_noDataValues[i] = band->GetNoDataValue(&hasNoData);
        double max = band->GetMaximum(&hasMax);
        double min = band->GetMinimum(&hasMin);
        // A lone band is cheap enough to scan exactly when the file stores no statistics.
        if (m_nBandCount == 1 && !(hasMax && hasMin)) {
            double minMax[2] = {0.0, 0.0};
            if (band->ComputeRasterMinMax(FALSE, minMax) == CE_None) {
                min = minMax[0];
                max = minMax[1];
                hasMin = 1;
                hasMax = 1;
            }
        }
        if (!hasNoData)
            m_bAllBandsHaveNoData = false;
        if (i < kStatSlots) {
            m_bandHasMax[i] = hasMax != 0;
            m_bandHasMin[i] = hasMin != 0;
            m_bandMax[i] = max;
            m_bandMin[i] = min;
        }
        if (!hasMax)
            m_bMinMaxValid = false;
        else if (max > m_dMaxValue)
            m_dMaxValue = max;
        if (!hasMin)
            m_bMinMaxValid = false;
        else if (min < m_dMinValue)
            m_dMinValue = min;
    }
}

void KRGORasterAccessorPlugin::UpdateNoDataSetting()
{
    if (!m_bFilterColorUsed) {
        m_bNoDataActive = m_bAllBandsHaveNoData;
        m_dNoDataTolerance = kBandNoDataTolerance;
        if (m_bAllBandsHaveNoData && m_noDataValues.GetSize() > 0)
            m_activeNoData = m_noDataValues;
        return;
    }
    m_bNoDataActive = true;
    m_dNoDataTolerance = m_dFilterColorTolerance;
    if (m_nBandCount < 1)
        return;
    m_activeNoData.SetSize(m_nBandCount);
    for (int i = 0; i < m_nBandCount; ++i)
        m_activeNoData[i] = i < kStatSlots ? m_filterColor[i] : 0.0;
}

void KRGORasterAccessorPlugin::UpdateMinMax()
{
    if (m_nBandCount == 1 && m_bandHasMin[0] && m_bandHasMax[0]) {
        m_dMaxValue = m_bandMax[0];
        m_dMinValue = m_bandMin[0];
        m_bMinMaxValid = true;
    }
}

enumPixelFormat KRGORasterAccessorPlugin::ReadPixelFormat()
{
    return m_pBand != nullptr ? detail::PixelFormatOfGdalType(m_pBand->GetRasterDataType()) : PF_Unknown;
}

enumRasterDataFromat KRGORasterAccessorPlugin::GetRasterDataFormat()
{
    return m_pBand != nullptr ? detail::GridFormatOfGdalType(m_pBand->GetRasterDataType()) : RDF_None;
}

bool KRGORasterAccessorPlugin::IsDataReverse()
{
    return m_dPixelSizeY < 0.0;
}

double KRGORasterAccessorPlugin::GetNoDataValue(bool& hasNoData)
{
    hasNoData = false;
    if (m_pBand == nullptr)
        return -9999.0;
    int success = 0;
    const double value = m_pBand->GetNoDataValue(&success);
    hasNoData = success != 0;
    return value;
}

double KRGORasterAccessorPlugin::GetNoValue()
{
    return m_pBand != nullptr ? m_pBand->GetNoDataValue(nullptr) : 0.0;
}

void KRGORasterAccessorPlugin::SetFilterColor(const KRColor3& color)
{
    // The product is formed in single precision, so 0.5 becomes 127.5 exactly.
    m_filterColor[0] = static_cast<double>(color.r * 255.0f);
    m_filterColor[1] = static_cast<double>(color.g * 255.0f);
    m_filterColor[2] = static_cast<double>(color.b * 255.0f);
    m_filterColor[3] = static_cast<double>(color.a * 255.0f);
    UpdateNoDataSetting();
}

KRColor3 KRGORasterAccessorPlugin::GetFilterColor()
{
    KRColor3 color(1.0f, 1.0f, 1.0f, 1.0f);
    color.SetValue4i(detail::TruncateToInt(m_filterColor[0]), detail::TruncateToInt(m_filterColor[1]),
                     detail::TruncateToInt(m_filterColor[2]), detail::TruncateToInt(m_filterColor[3]));
    return color;
}

void KRGORasterAccessorPlugin::SetFilterColorTolerance(double tolerance)
{
    m_dFilterColorTolerance = tolerance;
    UpdateNoDataSetting();
}

double KRGORasterAccessorPlugin::GetFilterColorTolerance()
{
    return m_dFilterColorTolerance;
}

bool KRGORasterAccessorPlugin::IsFilterColorUsed()
{
    return m_bFilterColorUsed;
}

void KRGORasterAccessorPlugin::SetFilterColorUsed(bool used)
{
    m_bFilterColorUsed = used;
    UpdateNoDataSetting();
}

} // namespace KRC
