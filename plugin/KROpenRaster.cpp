// STUBS: placeholders until this file is written; replace every one.
#include "KRGORasterAccessorPlugin.h"

namespace KRC {

bool KRGORasterAccessorPlugin::OpenForRead(const KRString& path)
{
    (void)path;
    return false;
}

enumPixelFormat KRGORasterAccessorPlugin::ReadPixelFormat()
{
    return PF_Unknown;
}

void KRGORasterAccessorPlugin::SurveyBands()
{
}

void KRGORasterAccessorPlugin::UpdateNoDataSetting()
{
}

void KRGORasterAccessorPlugin::UpdateMinMax()
{
}

enumRasterDataFromat KRGORasterAccessorPlugin::GetRasterDataFormat()
{
    return RDF_None;
}

bool KRGORasterAccessorPlugin::IsDataReverse()
{
    return false;
}

double KRGORasterAccessorPlugin::GetNoDataValue(bool& hasNoData)
{
    hasNoData = false; return -9999.0;
}

double KRGORasterAccessorPlugin::GetNoValue()
{
    return 0.0;
}

void KRGORasterAccessorPlugin::SetFilterColor(const KRColor3& color)
{
    (void)color;
}

KRColor3 KRGORasterAccessorPlugin::GetFilterColor()
{
    return KRColor3();
}

void KRGORasterAccessorPlugin::SetFilterColorTolerance(double tolerance)
{
    (void)tolerance;
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
    (void)used;
}

} // namespace KRC
