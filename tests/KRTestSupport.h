#pragma once
// Shared test helpers: temporary folders, text files, references, rasters written with GDAL, PNGs read back.

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include "KRGORasterAccessorPlugin.h"
#include "KRTempDir.h"

namespace krtest {

inline void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

//! WKT of a reference (or of an EPSG code below), in ESRI's dialect on request.
inline std::string WktOf(OGRSpatialReference srs, bool esri = false)
{
    if (esri)
        srs.morphToESRI();
    char* wkt = nullptr;
    srs.exportToWkt(&wkt);
    std::string text = wkt != nullptr ? wkt : "";
    CPLFree(wkt);
    return text;
}

inline std::string WktOfEpsg(int epsg, bool esri = false)
{
    OGRSpatialReference srs;
    srs.importFromEPSG(epsg);
    return WktOf(srs, esri);
}

inline void ExpectRectNear(const KRC::KRRect2d& got, const KRC::KRRect2d& want, double tolerance = 1e-9)
{
    EXPECT_NEAR(got.left, want.left, tolerance);
    EXPECT_NEAR(got.top, want.top, tolerance);
    EXPECT_NEAR(got.right, want.right, tolerance);
    EXPECT_NEAR(got.bottom, want.bottom, tolerance);
}

struct RasterLayout {
    int width = 4, height = 4, bands = 1;
    GDALDataType type = GDT_Float32;
    std::vector<double> geoTransform; //!< empty: none written
    std::string wkt;                  //!< empty: none written
    std::vector<double> noData;       //!< per band; empty: none; shorter: later bands none
    std::function<double(int, int, int)> value = [](int, int, int) { return 0.0; }; //!< (band, column, row 0 at top)
};

//! Writes a GeoTIFF (or any driver's file, with creation `options`) with GDAL and closes it.
inline bool WriteRaster(const std::string& path, const RasterLayout& layout, const char* driverName = "GTiff",
                        const char* const* options = nullptr)
{
    GDALAllRegister(); // a test may write its raster before any accessor registers the drivers
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driverName);
    GDALDatasetUniquePtr ds(driver == nullptr ? nullptr
                                              : driver->Create(path.c_str(), layout.width, layout.height, layout.bands,
                                                               layout.type, const_cast<char**>(options)));
    if (!ds)
        return false;
    std::vector<double> gt = layout.geoTransform;
    if (gt.size() == 6)
        ds->SetGeoTransform(gt.data());
    if (!layout.wkt.empty())
        ds->SetProjection(layout.wkt.c_str());
    std::vector<double> data(static_cast<size_t>(layout.width) * static_cast<size_t>(layout.height));
    for (int b = 1; b <= layout.bands; ++b) {
        GDALRasterBand* band = ds->GetRasterBand(b);
        if (static_cast<size_t>(b) <= layout.noData.size())
            band->SetNoDataValue(layout.noData[static_cast<size_t>(b - 1)]);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = layout.value(b, static_cast<int>(i) % layout.width, static_cast<int>(i) / layout.width);
        if (band->RasterIO(GF_Write, 0, 0, layout.width, layout.height, data.data(), layout.width, layout.height,
                           GDT_Float64, 0, 0, nullptr) != CE_None)
            return false;
    }
    return true;
}

//! Gives band 1 of the GeoTIFF at `path` a palette of `count` entries, entry k being rgb(k).
inline void AddPalette(const std::string& path, int count, const std::function<std::array<short, 3>(int)>& rgb)
{
    GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
    GDALColorTable table;
    for (int k = 0; k < count; ++k) {
        const std::array<short, 3> c = rgb(k);
        const GDALColorEntry entry{c[0], c[1], c[2], 255};
        table.SetColorEntry(k, &entry);
    }
    ds->GetRasterBand(1)->SetColorTable(&table);
}

//! A picture read back with GDAL, pixels interleaved, top row first.
struct Png {
    int width = 0, height = 0, bands = 0;
    std::vector<unsigned char> px;

    std::array<int, 4> At(int r, int c) const
    {
        std::array<int, 4> v = {0, 0, 0, 255};
        const size_t first = (static_cast<size_t>(r) * width + c) * bands;
        for (int k = 0; k < bands && k < 4 && first + k < px.size(); ++k)
            v[static_cast<size_t>(k)] = px[first + k];
        return v;
    }
};

inline Png ReadPng(const std::string& path)
{
    Png png;
    GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER));
    if (!ds)
        return png;
    png.width = ds->GetRasterXSize();
    png.height = ds->GetRasterYSize();
    png.bands = ds->GetRasterCount();
    png.px.resize(static_cast<size_t>(png.width) * png.height * png.bands);
    if (ds->RasterIO(GF_Read, 0, 0, png.width, png.height, png.px.data(), png.width, png.height, GDT_Byte, png.bands,
                     nullptr, png.bands, static_cast<GSpacing>(png.bands) * png.width, 1, nullptr) != CE_None)
        png.px.clear();
    return png;
}

} // namespace krtest
