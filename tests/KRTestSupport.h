#pragma once
// Shared helpers of the tests: temporary folders, the module loaded as the
// host loads it, and rasters written with GDAL itself.

#include <dlfcn.h>

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

namespace krtest {

//! A fresh folder under the system's temporary folder, removed with its content.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kr-test-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) != nullptr)
            m_path = buffer.data();
    }
    ~TempDir()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

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

//! The module loaded with dlopen and its factory, exactly as the host does it.
class PluginModule {
public:
    PluginModule() : m_handle(dlopen(KR_PLUGIN_MODULE, RTLD_NOW | RTLD_LOCAL))
    {
        if (m_handle != nullptr)
            m_create = reinterpret_cast<KRC::KRCreatePluginFunc>(dlsym(m_handle, "CreatePluginInstance"));
    }
    ~PluginModule()
    {
        if (m_handle != nullptr)
            dlclose(m_handle);
    }
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    bool IsLoaded() const { return m_create != nullptr; }
    void* Handle() const { return m_handle; }

    //! A new accessor, destroyed through its virtual destructor.
    std::unique_ptr<KRC::KRRasterDataAccessor> Create() const
    {
        if (m_create == nullptr)
            return nullptr;
        return std::unique_ptr<KRC::KRRasterDataAccessor>(
            static_cast<KRC::KRRasterDataAccessor*>(m_create()));
    }

private:
    void* m_handle;
    KRC::KRCreatePluginFunc m_create = nullptr;
};

//! WKT of a reference, in ESRI's dialect on request.
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

//! WKT of an EPSG code, for writing test rasters (or ".prj" files, in ESRI's dialect).
inline std::string WktOfEpsg(int epsg, bool esri = false)
{
    OGRSpatialReference srs;
    srs.importFromEPSG(epsg);
    return WktOf(srs, esri);
}

//! Each side of a rectangle within a tolerance of the expected one's.
inline void ExpectRectNear(const KRC::KRRect2d& got, const KRC::KRRect2d& want, double tolerance = 1e-9)
{
    EXPECT_NEAR(got.left, want.left, tolerance);
    EXPECT_NEAR(got.top, want.top, tolerance);
    EXPECT_NEAR(got.right, want.right, tolerance);
    EXPECT_NEAR(got.bottom, want.bottom, tolerance);
}

struct RasterSpec {
    int width = 4;
    int height = 4;
    int bands = 1;
    GDALDataType type = GDT_Float32;
    std::vector<double> geoTransform; //!< empty: none written
    std::string wkt;                  //!< empty: none written
    std::vector<double> noData;       //!< per band; empty: none; shorter: later bands none
    //! Value of (band, column, row), GDAL row 0 at the top.
    std::function<double(int, int, int)> value = [](int, int, int) { return 0.0; };
};

//! Writes a GeoTIFF (or any driver's file) with GDAL and closes it.
inline bool WriteRaster(const std::string& path, const RasterSpec& layout, const char* driverName = "GTiff")
{
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driverName);
    if (driver == nullptr)
        return false;
    GDALDatasetUniquePtr ds(driver->Create(path.c_str(), layout.width, layout.height, layout.bands, layout.type, nullptr));
    if (!ds)
        return false;
    if (layout.geoTransform.size() == 6) {
        std::vector<double> gt = layout.geoTransform;
        ds->SetGeoTransform(gt.data());
    }
    if (!layout.wkt.empty())
        ds->SetProjection(layout.wkt.c_str());
    std::vector<double> row(static_cast<size_t>(layout.width));
    for (int b = 1; b <= layout.bands; ++b) {
        GDALRasterBand* band = ds->GetRasterBand(b);
        if (static_cast<size_t>(b) <= layout.noData.size())
            band->SetNoDataValue(layout.noData[static_cast<size_t>(b - 1)]);
        for (int r = 0; r < layout.height; ++r) {
            for (int c = 0; c < layout.width; ++c)
                row[static_cast<size_t>(c)] = layout.value(b, c, r);
            if (band->RasterIO(GF_Write, 0, r, layout.width, 1, row.data(), layout.width, 1, GDT_Float64, 0, 0,
                               nullptr) != CE_None)
                return false;
        }
    }
    return true;
}

//! GDAL registered once for the test process (the module registers again when created).
inline void RegisterGdal()
{
    GDALAllRegister();
}

} // namespace krtest
