// STUBS: placeholders until this file is written; replace every one.
#include "KRGORasterAccessorPlugin.h"

namespace KRC {

KRString KRGORasterAccessorPlugin::GetProjectionRef()
{
    return KRString();
}

KRString KRGORasterAccessorPlugin::ExportProjectionRefToWkt()
{
    return KRString();
}

KRString KRGORasterAccessorPlugin::ExportProjToEsriPrj()
{
    return KRString();
}

KRString KRGORasterAccessorPlugin::ExportToEsriPrjFromDataFile(const KRString& dataFile)
{
    (void)dataFile;
    return KRString();
}

bool KRGORasterAccessorPlugin::ExportProjToEsriPrjFile(const KRString& prjFile)
{
    (void)prjFile;
    return false;
}

bool KRGORasterAccessorPlugin::ExportToEsriPrjFileFromDataFile(const KRString& dataFile, const KRString& prjFile)
{
    (void)dataFile;
    (void)prjFile;
    return false;
}

KRString KRGORasterAccessorPlugin::EsriPrjFileToProj4(const KRString& prjFile)
{
    (void)prjFile;
    return KRString();
}

bool KRGORasterAccessorPlugin::Proj4ToEsriPrjFile(const KRString& proj4, const KRString& prjFile)
{
    (void)proj4;
    (void)prjFile;
    return false;
}

KRString KRGORasterAccessorPlugin::ExportProjectionRefToProj4()
{
    return KRString();
}

KRString KRGORasterAccessorPlugin::ExportToProj4FromDataFile(const KRString& dataFile)
{
    (void)dataFile;
    return KRString();
}

bool KRGORasterAccessorPlugin::LoadProjectionFromESRIFile(const KRString& prjFile)
{
    (void)prjFile;
    return false;
}

bool KRGORasterAccessorPlugin::ImportProjectionRefFromWkt(const char* wkt)
{
    (void)wkt;
    return false;
}

bool KRGORasterAccessorPlugin::ImportProjectionRefFromESRI(const char* esriWkt)
{
    (void)esriWkt;
    return false;
}

bool KRGORasterAccessorPlugin::ImportProjectionRefFromProj4(const char* proj4)
{
    (void)proj4;
    return false;
}

} // namespace KRC
