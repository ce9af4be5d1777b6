#pragma once

#include <ogr_spatialref.h>

#include "KRArray.h"
#include "KRExport.h"
#include "KRRasterDataAccessor.h"

class GDALDataset;
class GDALRasterBand;
class OGRCoordinateTransformation;

namespace KRC {

struct KRGORasterAccessorPluginProbe; // test access to the private steps
struct KRBandWindow;                  // source block of one GDAL fetch (KRBandWindow.h)
struct KRPixelPaint;                  // how one image fetch colours its pixels (KRImageFetch.cpp)
namespace detail {
struct KRGridFrame;  // how a destination maps onto a band grid (KRBandWindow.h)
struct KRSampleSpan; // destination samples a fetch visits (KRBandWindow.h)
} // namespace detail

//! Raster accessor over GDAL, plus a reader of NSDTF-DEM elevation text files.
//! One object serves one raster at a time; OpenForRead closes the previous one.
class KR_PLUGIN_API KRGORasterAccessorPlugin final : public KRRasterDataAccessor {
public:
    KRGORasterAccessorPlugin();
    ~KRGORasterAccessorPlugin() override;

    KRGORasterAccessorPlugin(const KRGORasterAccessorPlugin&) = delete;
    KRGORasterAccessorPlugin& operator=(const KRGORasterAccessorPlugin&) = delete;

    KRString GetPuginName() override;
    void Release() override;
    void Close() override;
    bool IsValid() override;

    // Projection import and export.
    KRString GetProjectionRef() override;
    KRString ExportProjectionRefToWkt() override;
    KRString ExportProjToEsriPrj() override;
    KRString ExportToEsriPrjFromDataFile(const KRString& dataFile) override;
    bool ExportProjToEsriPrjFile(const KRString& prjFile) override;
    bool ExportToEsriPrjFileFromDataFile(const KRString& dataFile, const KRString& prjFile) override;
    KRString EsriPrjFileToProj4(const KRString& prjFile) override;
    bool Proj4ToEsriPrjFile(const KRString& proj4, const KRString& prjFile) override;
    KRString ExportProjectionRefToProj4() override;
    KRString ExportToProj4FromDataFile(const KRString& dataFile) override;
    bool LoadProjectionFromESRIFile(const KRString& prjFile) override;
    bool ImportProjectionRefFromWkt(const char* wkt) override;
    bool ImportProjectionRefFromESRI(const char* esriWkt) override;
    bool ImportProjectionRefFromProj4(const char* proj4) override;

    // Nodata and filter colour.
    double GetNoValue() override;
    void SetFilterColor(const KRColor3& color) override;
    KRColor3 GetFilterColor() override;
    void SetFilterColorTolerance(double tolerance) override;
    double GetFilterColorTolerance() override;
    bool IsFilterColorUsed() override;
    void SetFilterColorUsed(bool used) override;

    // Coordinates.
    void SrcPtToWGS84Pt(const KRPoint3d& src, KRPoint3d& out) override;
    void WGS84PtToSrcPt(const KRPoint3d& in, KRPoint3d& out) override;

    bool OpenForRead(const KRString& path) override;

    // Imagery.
    void CheckInitColorInfo() override;
    GetchResult FetchImageData(KRImageData* image, KRImageData*& newImage, const KRRect2d& rect, int* bandMap,
                               bool flip) override;
    GetchResult FetchImageData(KRImageData*& image, int x, int y, int level) override;

    // Terrain.
    GetchResult FetchTerrainData(KRTerrainData* terrain, const KRRect2d& rect, bool flip) override;
    GetchResult FetchTerrainData(KRTerrainData*& terrain, int x, int y, int level) override;

    enumRasterDataFromat GetRasterDataFormat() override;
    bool IsDataReverse() override;
    double GetNoDataValue(bool& hasNoData) override;
    void LatLonToProBounds(const KRRect2d& in, KRRect2d& out) override;
    void LatLonToProPnt(double lon, double lat, double& x, double& y) override;

    double GetStretchValue(double value, int band) override;
    unsigned int GetColorFromTable(double value) override;

    // Direct reads and raster output.
    bool ReadPixels(KRPixelDataMultiBand& pixels, int firstRow, int lastRow, int firstCol, int lastCol,
                    bool flip) override;
    KRPixelDataMultiBand* ReadColors(int firstRow, int lastRow, int firstCol, int lastCol, bool flip) override;
    bool ReprojectImage(const KRString& dstFile, const KRString& definition, int kind,
                        int (*progress)(double, const char*, void*), void* userData) override;
    bool CreateRasterFile(const KRString& path, int width, int height, double pixelSize, double originX, double originY,
                          int bandCount, int dataType, bool compress) override;
    bool WriteRasterFile(int x, int y, int width, int height, float* samples) override;
    bool BeginRead(int band) override;
    bool ReadScanline(KRRasterScanline& line, int row, int unused) override;

    GetchResult QucikFetchImageData(KRImageData* image, KRImageData*& newImage, const KRRect2d& rect, int* bandMap,
                                    bool flip) override;

private:
    friend struct KRGORasterAccessorPluginProbe;

    //! Frees the per-band histogram buffers; always true.
    bool ClearHistogramData();

    // Opening.
    enumPixelFormat ReadPixelFormat();
    void SurveyBands();
    void UpdateNoDataSetting();
    void UpdateMinMax();

    // Georeferencing.
    KRRect2d ReadGeoTransform();
    bool ReadTFW(const KRString& path, double* gt);
    void CalcResolution();

    // Spatial reference.
    void ReadSpatialReference();
    bool ResetProjectionRef(bool imported);
    void SetAxisMappingStrategy(OGRSpatialReference* srs);
    KRRect2d TransformBounds(OGRCoordinateTransformation* ct, const KRRect2d& rect, int steps);

    // Colour table, histogram and stretch.
    KRColorset ReadColorset();
    void CheckHistogram();
    //! The stretch range of band slot `slot`: from opening, else the file's own
    //! statistics, else the exact minimum and maximum (stored back in the slot,
    //! never in a file); false when GDAL has none.
    bool ReadStretchRange(GDALRasterBand* band, int slot, double& min, double& max);

    // Image paths.
    //! Bands an image fetch samples: the raster's, 3 when alpha is ignored, at most 4.
    int EffectiveBandCount() const;
    //! Every sampled band equals the filter colour's component within 1e-10.
    bool MatchesFilterColor(const double* sample, int bands) const;
    //! Colours one pixel from its samples; notes a transparent pixel in `transparent`.
    void ColorPixel(double* sample, const KRPixelPaint& paint, unsigned char* pixel, bool& transparent);
    GetchResult FetchLatLonImageDataFromLatLonData(KRImageData* image, KRImageData*& newImage, const KRRect2d& rect,
                                                   int* bandMap, bool flip);
    GetchResult FetchLatLonImageDataFromProData(KRImageData* image, KRImageData*& newImage, const KRRect2d& rect,
                                                int* bandMap, bool flip);
    //! The image steps common to geographic and projected GDAL sources, once
    //! the request is known in source units; `toSource` null for geographic ones.
    GetchResult FetchImageFromBands(KRImageData& image, KRImageData*& newImage, const KRRect2d& rect,
                                    const KRRect2d& srcRect, const int* bandMap, bool flip,
                                    OGRCoordinateTransformation* toSource);

    // Terrain grids and paths.
    KRTerrainData* CreateBandRasterData(int width, int height);
    double GetBandDataValue(void* buffer, int stride, int row, int col);
    GetchResult FetchLatLonTerrainDataFromLatLonData(KRTerrainData* terrain, const KRRect2d& rect, bool flip);
    GetchResult FetchLatLonTerrainDataFromProData(KRTerrainData* terrain, const KRRect2d& rect, bool flip);

    //! The WGS84 rectangle of a tile of the host's tiling; false when it misses the raster.
    bool TileOverRaster(int x, int y, int level, KRRect2d& rect);

    // Source windows shared by the GDAL-based fetches.
    //! The window of `srcRect` (source units) padded by 2 pixels and clamped to
    //! the raster, read at no more than dstWidth x dstHeight; false without a raster.
    bool ComputeBandWindow(const KRRect2d& srcRect, int dstWidth, int dstHeight, KRBandWindow& window);
    //! One RasterIO of `band` over `window` into `grid`, under m_mutex; also the
    //! band's nodata value when `noData` is set. Never writes past the grid.
    void ReadBandWindow(GDALRasterBand* band, const KRBandWindow& window, bool topDown, KRTerrainData& grid,
                        double* noData);
    //! Accurate mode's pixels per cell for a width x height destination over
    //! `rect` (WGS84); 0 in the default mode.
    int AccurateFactor(const KRRect2d& rect, int dstWidth, int dstHeight) const;
    //! The window a fetch of `rect` (WGS84; `srcRect` in source units) reads:
    //! the default one, or in accurate mode one aligned to the raster's cells.
    bool SourceWindow(const KRRect2d& rect, const KRRect2d& srcRect, int dstWidth, int dstHeight, bool topDown,
                      KRBandWindow& window);
    //! How a fetch's destination maps onto the grid read from `window`.
    detail::KRGridFrame WalkFrame(const KRBandWindow& window, bool topDown, bool projected) const;
    //! The destination samples a fetch visits: all of them for projected
    //! sources, those over the raster for geographic ones.
    detail::KRSampleSpan WalkSpan(const KRRect2d& rect, int width, int height, bool projected) const;
    //! The terrain steps common to geographic and projected GDAL sources, once
    //! the request is known in source units; `toSource` null for geographic ones.
    GetchResult FetchTerrainFromBand(KRTerrainData& terrain, const KRRect2d& rect, const KRRect2d& srcRect, bool flip,
                                     OGRCoordinateTransformation* toSource);

    // Quick image path.
    //! width x height samples of the current band's type (new[] of bytes); null
    //! for a type without a size here or a size that does not fit.
    void* CreateBandData(int width, int height);
    //! One sample of such a buffer narrowed to a byte by the current band's type.
    unsigned char GetBandDataImgValue(void* buffer, int stride, int row, int col);

    //! Accurate mode's reprojection: GDAL's warper keeping nodata and classes, tiled and compressed.
    bool WarpFaithfully(const KRString& dstFile, const char* targetWkt, const char* driverName,
                        int (*progress)(double, const char*, void*), void* userData);

    //! Closes the dataset and forgets its current band; nothing else.
    void CloseDataset();

    // Direct reads.
    //! The block of inclusive rows and columns (rows counted up from the bottom
    //! when the row flag is set) as a window in GDAL rows; false without a
    //! current band or for an empty block. `inside`: GDAL can read it.
    bool DirectBlock(int firstRow, int lastRow, int firstCol, int lastCol, bool flip, KRBandWindow& window,
                     bool& inside);
    //! The display bytes of a non-byte raster: stretched when a stretch is in
    //! force, filter-coloured pixels moved off the filter colour.
    void StretchColors(KRPixelDataMultiBand& colors, const KRBandWindow& window);

    // NSDTF-DEM.
    void ReadChinaDemInfo(const KRString& path);
    void ReadChinaDemData(const KRString& path);
    GetchResult FetchLatLonTerrainDataFromChinaDemLatLonData(KRTerrainData* terrain, const KRRect2d& rect, bool flip);
    GetchResult FetchLatLonTerrainDataFromChinaDemProData(KRTerrainData* terrain, const KRRect2d& rect, bool flip);
    //! The NSDTF-DEM steps both paths share once the request meets the grid:
    //! the whole grid in the default mode, its cells reduced and centred like a
    //! GDAL raster's in accurate mode. `m_pDemData` must be set.
    GetchResult FillFromDem(KRTerrainData& terrain, const KRRect2d& rect, const KRRect2d& srcRect, bool flip,
                            OGRCoordinateTransformation* toSource);

    GDALDataset* m_pDataset = nullptr;
    GDALRasterBand* m_pBand = nullptr;
    int m_eOutDataType = 3; //!< GDT_Int16
    KRTerrainData* m_pDemData = nullptr;
    bool m_bNsdtfDem = false;
    OGRSpatialReference m_srcSRS{nullptr};
    OGRCoordinateTransformation* m_pSrcToLatLon = nullptr;
    OGRCoordinateTransformation* m_pLatLonToSrc = nullptr;
    OGRSpatialReference* m_pLatLonSRS = nullptr;
    KRArray<double> m_noDataValues;
    bool m_bAllBandsHaveNoData = false;
    KRArray<double> m_activeNoData;
    bool m_bNoDataActive = false;
    double m_dNoDataTolerance = 1e-10;
    double m_bandMax[4] = {0.0, 0.0, 0.0, 0.0};
    double m_bandMin[4] = {0.0, 0.0, 0.0, 0.0};
    bool m_bandHasMax[4] = {false, false, false, false};
    bool m_bandHasMin[4] = {false, false, false, false};
    KRArray<void*> m_histograms;
    bool m_histogramState = false;
    double m_filterColor[4] = {0.0, 0.0, 0.0, 0.0};
    bool m_bFilterColorUsed = false;
    double m_dFilterColorTolerance = 1e-10;
    bool m_bColorInfoInited = false;
    //! GORA_ACCURATE at opening: pixel-centre geometry, cells fixed by the raster, classes never blended.
    bool m_bAccurate = false;
    //! Band 1 holds classes (a colour table or palette indices), not quantities.
    bool m_bCategorical = false;
};

} // namespace KRC

extern "C" KR_PLUGIN_API KRC::KRPlugin* CreatePluginInstance();
