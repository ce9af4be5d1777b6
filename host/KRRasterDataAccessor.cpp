#include "KRRasterDataAccessor.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace KRC {

namespace {

// Rounded pixel positions become ints without undefined conversions: NaN is
// 0 and anything beyond the int range takes the nearest limit.
int SaturateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}

// IEEE quotient without dividing by zero: a zero resolution sends the
// position to the infinity of the offset's sign (NaN for a zero offset).
double PixelQuotient(double offset, double resolution)
{
    if (resolution == 0.0) {
        if (offset == 0.0 || std::isnan(offset))
            return std::numeric_limits<double>::quiet_NaN();
        const bool negative = std::signbit(offset) != std::signbit(resolution);
        return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    }
    return offset / resolution;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// One integer of the band-order text; false when none stands at `text` or it
// does not fit an int.
bool ParseInt(const char*& text, int& value)
{
    while (IsBlank(*text))
        ++text;
    if (!(*text == '-' || *text == '+' || (*text >= '0' && *text <= '9')))
        return false;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX)
        return false;
    text = end;
    value = static_cast<int>(parsed);
    return true;
}

} // namespace

KRRasterDataAccessor::KRRasterDataAccessor() = default;

KRRasterDataAccessor::~KRRasterDataAccessor() = default;

KRPlugin::Type KRRasterDataAccessor::GetPluginType() const
{
    return Type_RasterDataAccessor;
}

bool KRRasterDataAccessor::IsRasterDataAccessorPlugin()
{
    return true;
}

// The base accessor holds no source: every query below answers "nothing".
void KRRasterDataAccessor::Close()
{
}

bool KRRasterDataAccessor::IsValid()
{
    return false;
}

int KRRasterDataAccessor::GetBeginLevel()
{
    return 0;
}

int KRRasterDataAccessor::GetEndLevel()
{
    return 0;
}

int KRRasterDataAccessor::GetLatLonBeginLevel()
{
    return 0;
}

int KRRasterDataAccessor::GetLatLonEndLevel()
{
    return 0;
}

bool KRRasterDataAccessor::HasLevelData(int)
{
    return false;
}

KRString KRRasterDataAccessor::GetProjectionRef()
{
    return KRString();
}

KRString KRRasterDataAccessor::ExportProjectionRefToWkt()
{
    return KRString();
}

KRString KRRasterDataAccessor::ExportProjToEsriPrj()
{
    return KRString();
}

KRString KRRasterDataAccessor::ExportToEsriPrjFromDataFile(const KRString&)
{
    return KRString();
}

bool KRRasterDataAccessor::ExportProjToEsriPrjFile(const KRString&)
{
    return false;
}

bool KRRasterDataAccessor::ExportToEsriPrjFileFromDataFile(const KRString&, const KRString&)
{
    return false;
}

KRString KRRasterDataAccessor::EsriPrjFileToProj4(const KRString&)
{
    return KRString();
}

bool KRRasterDataAccessor::Proj4ToEsriPrjFile(const KRString&, const KRString&)
{
    return false;
}

KRString KRRasterDataAccessor::ExportProjectionRefToProj4()
{
    return KRString();
}

KRString KRRasterDataAccessor::ExportToProj4FromDataFile(const KRString&)
{
    return KRString();
}

bool KRRasterDataAccessor::LoadProjectionFromESRIFile(const KRString&)
{
    return false;
}

bool KRRasterDataAccessor::ImportProjectionRefFromWkt(const char*)
{
    return false;
}

bool KRRasterDataAccessor::ImportProjectionRefFromESRI(const char*)
{
    return false;
}

bool KRRasterDataAccessor::ImportProjectionRefFromProj4(const char*)
{
    return false;
}

bool KRRasterDataAccessor::ComputeLGLatLonLevel(int&, int&, int, int)
{
    return false;
}

// Columns from the west edge, rows up from the south edge; the window is
// widened outward (floor on the low sides, ceil on the high ones) so it holds
// every pixel the rectangle touches.
KRRect2i KRRasterDataAccessor::ComputePixelBounds(const KRRect2d& rect)
{
    const KRRect2d& bounds = m_srcBounds.GetGeoBounds();
    KRRect2i pixels;
    pixels.left = SaturateToInt(std::floor(PixelQuotient(rect.left - bounds.left, m_dResX)));
    pixels.right = SaturateToInt(std::ceil(PixelQuotient(rect.right - bounds.left, m_dResX)));
    pixels.bottom = SaturateToInt(std::floor(PixelQuotient(rect.bottom - bounds.bottom, m_dResY)));
    pixels.top = SaturateToInt(std::ceil(PixelQuotient(rect.top - bounds.bottom, m_dResY)));
    return pixels;
}

double KRRasterDataAccessor::GetNoValue()
{
    return 0.0;
}

bool KRRasterDataAccessor::IsScanlineReverse() const
{
    return false;
}

// Filter colours belong to accessors that colour pixels; the base keeps none.
void KRRasterDataAccessor::SetFilterColor(const KRColor3&)
{
}

KRColor3 KRRasterDataAccessor::GetFilterColor()
{
    return KRColor3();
}

void KRRasterDataAccessor::SetFilterColorTolerance(double)
{
}

double KRRasterDataAccessor::GetFilterColorTolerance()
{
    return 1e-10;
}

bool KRRasterDataAccessor::IsFilterColorUsed()
{
    return false;
}

void KRRasterDataAccessor::SetFilterColorUsed(bool)
{
}

bool KRRasterDataAccessor::IsIgnoreAlpha()
{
    return m_bIgnoreAlpha;
}

void KRRasterDataAccessor::SetIgnoreAlpha(bool ignore)
{
    m_bIgnoreAlpha = ignore;
}

// Exactly four integers separated by commas, blanks allowed around them. The
// order is replaced only when the whole text reads, so a typo cannot leave
// half a new order behind.
void KRRasterDataAccessor::SetBindsOrder(const KRString& order)
{
    const char* text = order.Cstr();
    int parsed[4] = {};
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            while (IsBlank(*text))
                ++text;
            if (*text != ',')
                return;
            ++text;
        }
        if (!ParseInt(text, parsed[i]))
            return;
    }
    while (IsBlank(*text))
        ++text;
    if (*text != '\0')
        return;
    for (int i = 0; i < 4; ++i)
        m_bandOrder[i] = parsed[i];
}

int* KRRasterDataAccessor::GetBindOrder()
{
    return m_bandOrder;
}

int KRRasterDataAccessor::GetStetchType()
{
    return m_nStretchType;
}

void KRRasterDataAccessor::SetStetchType(int type)
{
    m_nStretchType = type;
}

float KRRasterDataAccessor::GetStretchClipMin()
{
    return m_fStretchClipMin;
}

void KRRasterDataAccessor::SetStretchClipMin(float value)
{
    m_fStretchClipMin = value;
}

float KRRasterDataAccessor::GetStretchClipMax()
{
    return m_fStretchClipMax;
}

void KRRasterDataAccessor::SetStretchClipMax(float value)
{
    m_fStretchClipMax = value;
}

float KRRasterDataAccessor::GetStretchGama()
{
    return m_fStretchGamma;
}

void KRRasterDataAccessor::SetStretchGama(float gamma)
{
    m_fStretchGamma = gamma;
}

// Without a coordinate system the base maps every point onto itself.
void KRRasterDataAccessor::SrcPtToWGS84Pt(const KRPoint3d& src, KRPoint3d& out)
{
    out = src;
}

void KRRasterDataAccessor::WGS84PtToSrcPt(const KRPoint3d& in, KRPoint3d& out)
{
    out = in;
}

bool KRRasterDataAccessor::Open(const KRString& path)
{
    return OpenForRead(path);
}

bool KRRasterDataAccessor::OpenForRead(const KRString&)
{
    return false;
}

void KRRasterDataAccessor::CheckInitColorInfo()
{
}

GetchResult KRRasterDataAccessor::FetchImageData(KRImageData*, KRImageData*& newImage, const KRRect2d&, int*, bool)
{
    newImage = nullptr;
    return GetchResult_None;
}

GetchResult KRRasterDataAccessor::FetchImageData(KRImageData*& image, int, int, int)
{
    image = nullptr;
    return GetchResult_None;
}

GetchResult KRRasterDataAccessor::FetchWMTileImgData(KRImageData*& image, int, int, int)
{
    image = nullptr;
    return GetchResult_None;
}

GetchResult KRRasterDataAccessor::FetchTerrainData(KRTerrainData*, const KRRect2d&, bool)
{
    return GetchResult_None;
}

GetchResult KRRasterDataAccessor::FetchTerrainData(KRTerrainData*& terrain, int, int, int)
{
    terrain = nullptr;
    return GetchResult_None;
}

GetchResult KRRasterDataAccessor::FetchWMTileRawData(int, int, int, unsigned char*& data, unsigned int& size)
{
    data = nullptr;
    size = 0;
    return GetchResult_None;
}

bool KRRasterDataAccessor::LoadRawData(int, int, int, unsigned char*& data, unsigned int& size)
{
    data = nullptr;
    size = 0;
    return false;
}

enumRasterDataFromat KRRasterDataAccessor::GetRasterDataFormat()
{
    return RDF_None;
}

bool KRRasterDataAccessor::IsDataReverse()
{
    return false;
}

double KRRasterDataAccessor::GetNoDataValue(bool& hasNoData)
{
    hasNoData = false;
    return -9999.0;
}

void KRRasterDataAccessor::LatLonToProBounds(const KRRect2d& in, KRRect2d& out)
{
    out = in;
}

void KRRasterDataAccessor::LatLonToProPnt(double lon, double lat, double& x, double& y)
{
    x = lon;
    y = lat;
}

bool KRRasterDataAccessor::ReadPixels(KRPixelDataMultiBand&, int, int, int, int, bool)
{
    return false;
}

KRPixelDataMultiBand* KRRasterDataAccessor::ReadColors(int, int, int, int, bool)
{
    return nullptr;
}

double KRRasterDataAccessor::GetStretchValue(double value, int)
{
    return value;
}

unsigned int KRRasterDataAccessor::GetColorFromTable(double)
{
    return 0;
}

bool KRRasterDataAccessor::ReprojectImage(const KRString&, const KRString&, int,
                                          int (*)(double, const char*, void*), void*)
{
    return false;
}

bool KRRasterDataAccessor::CreateRasterFile(const KRString&, int, int, double, double, double, int, int, bool)
{
    return false;
}

bool KRRasterDataAccessor::WriteRasterFile(int, int, int, int, float*)
{
    return false;
}

bool KRRasterDataAccessor::GenerateOutline(KRFeatureList*& outline, double, double, bool)
{
    outline = nullptr;
    return false;
}

bool KRRasterDataAccessor::BeginRead(int)
{
    return false;
}

bool KRRasterDataAccessor::ReadScanline(KRRasterScanline&, int, int)
{
    return false;
}

void KRRasterDataAccessor::EndRead()
{
}

bool KRRasterDataAccessor::BeginWrite()
{
    return false;
}

bool KRRasterDataAccessor::WriteScanline(int, KRRasterScanline&)
{
    return false;
}

void KRRasterDataAccessor::EndWrite()
{
}

GetchResult KRRasterDataAccessor::QucikFetchImageData(KRImageData*, KRImageData*& newImage, const KRRect2d&, int*,
                                                      bool)
{
    newImage = nullptr;
    return GetchResult_None;
}

} // namespace KRC
