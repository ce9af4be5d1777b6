#pragma once

#include <cstdint>

#include "KRColor.h"
#include "KRExport.h"
#include "KRGeometry.h"
#include "KRImageData.h"
#include "KRMutex.h"
#include "KRPlugin.h"
#include "KRString.h"
#include "KRTerrainData.h"
#include "KRTypes.h"

namespace KRC {

//! Base class of raster accessor plug-ins. The virtual operations stand in the
//! order the host calls them through the virtual table; never reorder them.
//! Every one has a harmless default, so a derived accessor overrides what it
//! implements and inherits a failure value for the rest.
class KR_ACCESSOR_API KRRasterDataAccessor : public KRPlugin {
public:
    KRRasterDataAccessor();
    ~KRRasterDataAccessor() override;

    Type GetPluginType() const override;
    bool IsRasterDataAccessorPlugin() override;

    virtual void Close();
    virtual bool IsValid();
    virtual int GetBeginLevel();
    virtual int GetEndLevel();
    virtual int GetLatLonBeginLevel();
    virtual int GetLatLonEndLevel();
    virtual bool HasLevelData(int level);
    virtual KRString GetProjectionRef();
    virtual KRString ExportProjectionRefToWkt();
    virtual KRString ExportProjToEsriPrj();
    virtual KRString ExportToEsriPrjFromDataFile(const KRString& dataFile);
    virtual bool ExportProjToEsriPrjFile(const KRString& prjFile);
    virtual bool ExportToEsriPrjFileFromDataFile(const KRString& dataFile, const KRString& prjFile);
    virtual KRString EsriPrjFileToProj4(const KRString& prjFile);
    virtual bool Proj4ToEsriPrjFile(const KRString& proj4, const KRString& prjFile);
    virtual KRString ExportProjectionRefToProj4();
    virtual KRString ExportToProj4FromDataFile(const KRString& dataFile);
    virtual bool LoadProjectionFromESRIFile(const KRString& prjFile);
    virtual bool ImportProjectionRefFromWkt(const char* wkt);
    virtual bool ImportProjectionRefFromESRI(const char* esriWkt);
    virtual bool ImportProjectionRefFromProj4(const char* proj4);
    virtual bool ComputeLGLatLonLevel(int& beginLevel, int& endLevel, int tileWidth, int tileHeight);
    //! Source pixels touched by `rect` (source units): columns from the west
    //! edge of m_srcBounds, rows counted up from its bottom row. Not clamped.
    virtual KRRect2i ComputePixelBounds(const KRRect2d& rect);
    virtual double GetNoValue();
    virtual bool IsScanlineReverse() const;
    virtual void SetFilterColor(const KRColor3& color);
    virtual KRColor3 GetFilterColor();
    virtual void SetFilterColorTolerance(double tolerance);
    virtual double GetFilterColorTolerance();
    virtual bool IsFilterColorUsed();
    virtual void SetFilterColorUsed(bool used);
    virtual bool IsIgnoreAlpha();
    virtual void SetIgnoreAlpha(bool ignore);
    //! Text such as "2,1,0,3"; text that is not four integers leaves the order as it is.
    virtual void SetBindsOrder(const KRString& order);
    virtual int* GetBindOrder();
    virtual int GetStetchType();
    virtual void SetStetchType(int type);
    virtual float GetStretchClipMin();
    virtual void SetStretchClipMin(float value);
    virtual float GetStretchClipMax();
    virtual void SetStretchClipMax(float value);
    virtual float GetStretchGama();
    virtual void SetStretchGama(float gamma);
    virtual void SrcPtToWGS84Pt(const KRPoint3d& src, KRPoint3d& out);
    virtual void WGS84PtToSrcPt(const KRPoint3d& in, KRPoint3d& out);
    //! Opens for reading through the virtual OpenForRead.
    virtual bool Open(const KRString& path);
    virtual bool OpenForRead(const KRString& path);
    virtual void CheckInitColorInfo();
    virtual GetchResult FetchImageData(KRImageData* image, KRImageData*& newImage, const KRRect2d& rect,
                                       int* bandMap, bool flip);
    virtual GetchResult FetchImageData(KRImageData*& image, int x, int y, int level);
    virtual GetchResult FetchWMTileImgData(KRImageData*& image, int x, int y, int level);
    virtual GetchResult FetchTerrainData(KRTerrainData* terrain, const KRRect2d& rect, bool flip);
    virtual GetchResult FetchTerrainData(KRTerrainData*& terrain, int x, int y, int level);
    virtual GetchResult FetchWMTileRawData(int x, int y, int level, unsigned char*& data, unsigned int& size);
    virtual bool LoadRawData(int x, int y, int level, unsigned char*& data, unsigned int& size);
    virtual enumRasterDataFromat GetRasterDataFormat();
    virtual bool IsDataReverse();
    virtual double GetNoDataValue(bool& hasNoData);
    virtual void LatLonToProBounds(const KRRect2d& in, KRRect2d& out);
    virtual void LatLonToProPnt(double lon, double lat, double& x, double& y);
    virtual bool ReadPixels(KRPixelDataMultiBand& pixels, int firstRow, int lastRow, int firstCol, int lastCol,
                            bool flip);
    virtual KRPixelDataMultiBand* ReadColors(int firstRow, int lastRow, int firstCol, int lastCol, bool flip);
    virtual double GetStretchValue(double value, int band);
    virtual unsigned int GetColorFromTable(double value);
    virtual bool ReprojectImage(const KRString& dstFile, const KRString& definition, int kind,
                                int (*progress)(double, const char*, void*), void* userData);
    virtual bool CreateRasterFile(const KRString& path, int width, int height, double pixelSize, double originX,
                                  double originY, int bandCount, int dataType, bool compress);
    virtual bool WriteRasterFile(int x, int y, int width, int height, float* samples);
    virtual bool GenerateOutline(KRFeatureList*& outline, double tolerance, double minArea, bool holes);
    virtual bool BeginRead(int band);
    virtual bool ReadScanline(KRRasterScanline& line, int row, int unused);

protected:
    virtual void EndRead();
    virtual bool BeginWrite();
    virtual bool WriteScanline(int row, KRRasterScanline& line);
    virtual void EndWrite();

public:
    virtual GetchResult QucikFetchImageData(KRImageData* image, KRImageData*& newImage, const KRRect2d& rect,
                                            int* bandMap, bool flip);

    // The host reads the description of the open raster through these.
    const KRString& GetFileName() const { return m_strFileName; }
    int GetProjType() const { return m_nProjType; }
    const KRGeoBBox& GetSrcBounds() const { return m_srcBounds; }
    const KRGeoBBox& GetLatLonBounds() const { return m_latLonBounds; }
    enumPixelFormat GetPixelFormat() const { return m_ePixelFormat; }
    std::uint64_t GetWidth() const { return m_nWidth; }
    std::uint64_t GetHeight() const { return m_nHeight; }
    int GetBandCount() const { return m_nBandCount; }
    double GetPixelSizeX() const { return m_dPixelSizeX; }
    double GetPixelSizeY() const { return m_dPixelSizeY; }
    double GetResX() const { return m_dResX; }
    double GetResY() const { return m_dResY; }
    double GetLatLonResX() const { return m_dLatLonResX; }
    double GetLatLonResY() const { return m_dLatLonResY; }
    double GetMinValue() const { return m_dMinValue; }
    double GetMaxValue() const { return m_dMaxValue; }
    bool IsMinMaxValid() const { return m_bMinMaxValid; }

    //! The host's value-to-colour dictionary, consulted before the palette when
    //! it has entries. The caller keeps it, alive while the accessor may colour
    //! pixels; null removes it.
    void SetColorDict(KRColorDictTable* dict) { m_pColorDict = dict; }
    KRColorDictTable* GetColorDict() const { return m_pColorDict; }

protected:
    KRString m_strFileName;
    int m_nProjType = 0;
    KRGeoBBox m_srcBounds;
    KRGeoBBox m_latLonBounds;
    enumPixelFormat m_ePixelFormat = PF_Unknown;
    std::uint64_t m_nWidth = 0;
    std::uint64_t m_nHeight = 0;
    double m_dPixelSizeX = 0.0;
    double m_dPixelSizeY = 0.0;
    double m_dResX = 0.0;
    double m_dResY = 0.0;
    double m_dLatLonResX = 0.0;
    double m_dLatLonResY = 0.0;
    double m_dMaxValue = 0.0;
    double m_dMinValue = 0.0;
    bool m_bMinMaxValid = false;
    KRColorset m_colorset;
    KRColorDictTable* m_pColorDict = nullptr;
    int m_nBandCount = 0;
    bool m_bOpened = false;
    int m_nStretchType = 0;
    float m_fStretchGamma = 1.0f;
    float m_fStretchClipMin = 0.0f;
    float m_fStretchClipMax = 0.0f;
    bool m_bIgnoreAlpha = false;
    int m_bandOrder[4] = {2, 1, 0, 3};
    KRMutex m_mutex;
};

} // namespace KRC
