// Projection import and export between OGC WKT, Proj4 text and ESRI ".prj"
// files. Parsing and formatting are OGR's; GDAL's error output is kept quiet,
// since every failure reaches the host only as "" or false.
#include "KRGORasterAccessorPlugin.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include "KRReadOnlyDataset.h"

namespace KRC {

namespace {

//! Copies text that GDAL allocated and frees GDAL's copy at once.
KRString TakeGdalText(char* text)
{
    KRString copy(text != nullptr ? text : "");
    VSIFree(text);
    return copy;
}

KRString WktOf(const OGRSpatialReference& srs, bool* exported = nullptr)
{
    char* text = nullptr;
    const OGRErr err = srs.exportToWkt(&text);
    if (exported != nullptr)
        *exported = err == OGRERR_NONE;
    return TakeGdalText(text);
}

KRString Proj4Of(const OGRSpatialReference& srs)
{
    char* text = nullptr;
    srs.exportToProj4(&text);
    return TakeGdalText(text);
}

//! The reference in the ESRI dialect of WKT; `srs` is morphed in place.
KRString EsriWktOf(OGRSpatialReference& srs, bool* exported = nullptr)
{
    srs.morphToESRI();
    return WktOf(srs, exported);
}

//! Replaces the file with exactly `text`: one line, no line break added.
bool WritePrjFile(const KRString& path, const KRString& text)
{
    VSILFILE* file = VSIFOpenL(path.Cstr(), "wt");
    if (file == nullptr)
        return false;
    VSIFWriteL(text.Cstr(), 1, static_cast<size_t>(text.GetLength()), file);
    VSIFCloseL(file);
    return true;
}

//! importFromProj4, except that an empty text fails at once, as it would after
//! PROJ had looked it up as a name in its database (about half a second).
OGRErr ImportProj4(OGRSpatialReference& srs, const char* text)
{
    if (*text == '\0') {
        srs.Clear();
        return OGRERR_CORRUPT_DATA;
    }
    return srs.importFromProj4(text);
}

//! Lines of a text file; none when it cannot be read.
CPLStringList LoadLines(const KRString& path)
{
    return CPLStringList(CSLLoad(path.Cstr()), TRUE);
}

} // namespace

KRString KRGORasterAccessorPlugin::GetProjectionRef()
{
    if (m_pDataset == nullptr)
        return KRString();
    const char* wkt = GDALGetProjectionRef(m_pDataset);
    return KRString(wkt != nullptr ? wkt : "");
}

KRString KRGORasterAccessorPlugin::ExportProjectionRefToWkt()
{
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    return WktOf(m_srcSRS);
}

KRString KRGORasterAccessorPlugin::ExportProjectionRefToProj4()
{
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    return Proj4Of(m_srcSRS);
}

KRString KRGORasterAccessorPlugin::ExportProjToEsriPrj()
{
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    OGRSpatialReference esri(m_srcSRS);
    SetAxisMappingStrategy(&esri);
    return EsriWktOf(esri);
}

bool KRGORasterAccessorPlugin::ExportProjToEsriPrjFile(const KRString& prjFile)
{
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    OGRSpatialReference esri(m_srcSRS);
    SetAxisMappingStrategy(&esri);
    bool exported = false;
    const KRString text = EsriWktOf(esri, &exported);
    // A failed export still leaves a (possibly empty) file behind.
    const bool written = WritePrjFile(prjFile, text);
    return exported && written;
}

bool KRGORasterAccessorPlugin::ImportProjectionRefFromWkt(const char* wkt)
{
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    SetAxisMappingStrategy(&m_srcSRS);
    const bool imported = wkt != nullptr && m_srcSRS.importFromWkt(wkt) == OGRERR_NONE;
    return ResetProjectionRef(imported);
}

bool KRGORasterAccessorPlugin::ImportProjectionRefFromProj4(const char* proj4)
{
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    SetAxisMappingStrategy(&m_srcSRS);
    const bool imported = proj4 != nullptr && ImportProj4(m_srcSRS, proj4) == OGRERR_NONE;
    return ResetProjectionRef(imported);
}

bool KRGORasterAccessorPlugin::ImportProjectionRefFromESRI(const char* esriWkt)
{
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    SetAxisMappingStrategy(&m_srcSRS);
    CPLStringList lines;
    if (esriWkt != nullptr)
        lines.AddString(esriWkt);
    const bool imported = m_srcSRS.importFromESRI(lines.List()) == OGRERR_NONE;
    return ResetProjectionRef(imported);
}

bool KRGORasterAccessorPlugin::LoadProjectionFromESRIFile(const KRString& prjFile)
{
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    SetAxisMappingStrategy(&m_srcSRS);
    CPLStringList lines = LoadLines(prjFile);
    const bool imported = m_srcSRS.importFromESRI(lines.List()) == OGRERR_NONE;
    // The dataset takes the file's own first line, not a converted WKT; without
    // an open dataset there is nothing to give it to, and a dataset that would
    // write it beside the user's raster is not given it.
    if (imported && detail::MayReceiveSettings(m_pDataset) && lines.Count() > 0)
        GDALSetProjection(m_pDataset, lines[0]);
    return ResetProjectionRef(imported);
}

KRString KRGORasterAccessorPlugin::ExportToProj4FromDataFile(const KRString& dataFile)
{
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    GDALDatasetUniquePtr dataset(
        GDALDataset::FromHandle(GDALOpenEx(dataFile.Cstr(), GDAL_OF_RASTER, nullptr, nullptr, nullptr)));
    if (!dataset)
        return KRString();
    const char* wkt = GDALGetProjectionRef(dataset.get());
    if (wkt == nullptr)
        return KRString();
    OGRSpatialReference srs(nullptr);
    SetAxisMappingStrategy(&srs);
    if (srs.importFromWkt(wkt) != OGRERR_NONE)
        return KRString();
    return Proj4Of(srs);
}

// The file's WKT goes through Proj4 on its way to the ESRI dialect.
KRString KRGORasterAccessorPlugin::ExportToEsriPrjFromDataFile(const KRString& dataFile)
{
    const KRString proj4 = ExportToProj4FromDataFile(dataFile);
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    OGRSpatialReference srs(nullptr);
    SetAxisMappingStrategy(&srs);
    ImportProj4(srs, proj4.Cstr()); // an empty text leaves the reference empty
    return EsriWktOf(srs);
}

bool KRGORasterAccessorPlugin::ExportToEsriPrjFileFromDataFile(const KRString& dataFile, const KRString& prjFile)
{
    const KRString text = ExportToEsriPrjFromDataFile(dataFile);
    if (text.IsEmpty())
        return false;
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    return WritePrjFile(prjFile, text);
}

KRString KRGORasterAccessorPlugin::EsriPrjFileToProj4(const KRString& prjFile)
{
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    CPLStringList lines = LoadLines(prjFile);
    OGRSpatialReference srs(nullptr);
    SetAxisMappingStrategy(&srs);
    if (srs.importFromESRI(lines.List()) != OGRERR_NONE)
        return KRString();
    return Proj4Of(srs);
}

bool KRGORasterAccessorPlugin::Proj4ToEsriPrjFile(const KRString& proj4, const KRString& prjFile)
{
    const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    OGRSpatialReference srs(nullptr);
    SetAxisMappingStrategy(&srs);
    ImportProj4(srs, proj4.Cstr());
    bool exported = false;
    const KRString text = EsriWktOf(srs, &exported);
    const bool written = WritePrjFile(prjFile, text);
    return exported && written;
}

} // namespace KRC
