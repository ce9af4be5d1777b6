#pragma once
// The rasters the benchmarks read, written once into a folder of the build and
// reused by later runs: big enough that a zoomed-out tile reads a window many
// times its size, tiled and compressed as real imagery is.

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <cpl_string.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

namespace krbench {

//! Where a raster lies: EPSG code, west and north edges, pixel size (source units).
struct Placement {
    int epsg;
    double west, north, pixel;
};

//! A pleasant, non-repeating pattern of `band` at pixel (c, r), 0 .. 1.
inline double Pattern(int band, int c, int r)
{
    return 0.5 + 0.25 * std::sin(0.013 * c + band) * std::cos(0.011 * r - band) + 0.25 * std::sin(0.0007 * (c + r));
}

//! Writes `bands` bands of `type`, tiled and DEFLATE-compressed, row by row from `value(band, c, r)`.
inline void WriteGeoTiff(const std::string& path, int size, int bands, GDALDataType type, const Placement& at,
                         const std::function<double(int, int, int)>& value, double noData = std::nan(""))
{
    const char* options[] = {"TILED=YES", "COMPRESS=DEFLATE", "PREDICTOR=2", "BIGTIFF=IF_SAFER", nullptr};
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALDatasetUniquePtr ds(
        gtiff->Create((path + ".part").c_str(), size, size, bands, type, const_cast<char**>(options)));
    OGRSpatialReference srs;
    srs.importFromEPSG(at.epsg);
    ds->SetSpatialRef(&srs);
    double gt[6] = {at.west, at.pixel, 0.0, at.north, 0.0, -at.pixel};
    ds->SetGeoTransform(gt);
    std::vector<double> row(static_cast<size_t>(size));
    for (int b = 1; b <= bands; ++b) {
        GDALRasterBand* band = ds->GetRasterBand(b);
        if (!std::isnan(noData))
            band->SetNoDataValue(noData);
        for (int r = 0; r < size; ++r) {
            for (int c = 0; c < size; ++c)
                row[static_cast<size_t>(c)] = value(b, c, r);
            if (band->RasterIO(GF_Write, 0, r, size, 1, row.data(), size, 1, GDT_Float64, 0, 0, nullptr) != CE_None)
                throw std::runtime_error("cannot write " + path);
        }
    }
    ds.reset();
    std::filesystem::rename(path + ".part", path);
}

//! An NSDTF-DEM text grid in degrees, rows from the north.
inline void WriteNsdtfDem(const std::string& path, int size, const Placement& at)
{
    std::FILE* out = std::fopen((path + ".part").c_str(), "w");
    std::fprintf(out, "NSDTF-DEM 1.0 D 0 0 %.6f %.6f %.6f %.6f %d %d 1\n", at.west, at.north, at.pixel, at.pixel, size,
                 size);
    for (int r = 0; r < size; ++r)
        for (int c = 0; c < size; ++c)
            std::fprintf(out, "%.1f%c", 500.0 + 2000.0 * Pattern(1, c, r), c + 1 < size ? ' ' : '\n');
    std::fclose(out);
    std::filesystem::rename(path + ".part", path);
}

//! The benchmark inputs in `dir`, each written when it is missing.
class Inputs {
public:
    // Geographic rasters over 7..15 E, 39..47 N; UTM 32N ones over 240 km from 300000 E 5200000 N.
    static constexpr Placement kGeo8000{4326, 7.0, 47.0, 0.001};
    static constexpr Placement kUtm8000{32632, 300000.0, 5200000.0, 30.0};
    static constexpr Placement kGeo4000{4326, 7.0, 47.0, 0.002};
    static constexpr Placement kUtm4000{32632, 300000.0, 5200000.0, 60.0};
    static constexpr Placement kGeo2000{4326, 7.0, 47.0, 0.004};

    explicit Inputs(const std::string& dir) : m_dir(dir)
    {
        GDALAllRegister();
        std::filesystem::create_directories(dir);
        const auto rgb = [](int b, int c, int r) { return 1.0 + 254.0 * Pattern(b, c, r); };
        const auto wide = [](int b, int c, int r) { return 200.0 + 3000.0 * Pattern(b, c, r); };
        const auto classes = [](int, int c, int r) { return std::floor(16.0 * Pattern(1, c / 40, r / 40)); };
        const auto height = [](int, int c, int r) { return 500.0 + 2000.0 * Pattern(1, c, r); };
        Make("rgb_geo.tif", [&](const std::string& p) { WriteGeoTiff(p, 8000, 3, GDT_Byte, kGeo8000, rgb); });
        // A nodata collar in the UTM image: its western tenth is 0.
        Make("rgb_utm.tif", [&](const std::string& p) {
            WriteGeoTiff(
                p, 8000, 3, GDT_Byte, kUtm8000, [&](int b, int c, int r) { return c < 800 ? 0.0 : rgb(b, c, r); }, 0.0);
        });
        Make("dem_geo.tif", [&](const std::string& p) { WriteGeoTiff(p, 4000, 1, GDT_Float32, kGeo4000, height); });
        Make("dem_utm.tif", [&](const std::string& p) { WriteGeoTiff(p, 4000, 1, GDT_Float32, kUtm4000, height); });
        Make("wide_geo.tif", [&](const std::string& p) { WriteGeoTiff(p, 4000, 4, GDT_UInt16, kGeo4000, wide); });
        Make("palette_geo.tif", [&](const std::string& p) {
            WriteGeoTiff(p, 4000, 1, GDT_Byte, kGeo4000, classes);
            GDALDatasetUniquePtr ds(GDALDataset::Open(p.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
            GDALColorTable table;
            for (short i = 0; i < 16; ++i) {
                const GDALColorEntry entry{static_cast<short>(i * 16), static_cast<short>(255 - i * 16), 128, 255};
                table.SetColorEntry(i, &entry);
            }
            ds->GetRasterBand(1)->SetColorTable(&table);
        });
        Make("dem.dem", [&](const std::string& p) { WriteNsdtfDem(p, 2000, kGeo2000); });
    }
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }

private:
    void Make(const std::string& name, const std::function<void(const std::string&)>& write) const
    {
        if (!std::filesystem::exists(Path(name))) {
            std::fprintf(stderr, "writing %s ...\n", Path(name).c_str());
            write(Path(name));
        }
    }
    std::string m_dir;
};

} // namespace krbench
