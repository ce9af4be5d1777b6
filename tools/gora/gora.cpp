// gora: a command-line host for the raster accessor module. It loads the
// module with dlopen and talks to it only through CreatePluginInstance and the
// accessor's virtual operations, exactly as the host application does.
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <gdal_priv.h>
#include <nlohmann/json.hpp>

#include "KRRasterDataAccessor.h"

using nlohmann::json;
using namespace KRC;

namespace {

//! The module and one accessor created by its factory.
class LoadedAccessor {
public:
    explicit LoadedAccessor(const std::string& modulePath)
    {
        m_handle = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (m_handle == nullptr) {
            m_error = dlerror();
            return;
        }
        auto create = reinterpret_cast<KRCreatePluginFunc>(dlsym(m_handle, "CreatePluginInstance"));
        if (create == nullptr) {
            m_error = "the module has no CreatePluginInstance";
            return;
        }
        KRPlugin* plugin = create();
        if (plugin == nullptr || !plugin->IsRasterDataAccessorPlugin()) {
            delete plugin;
            m_error = "the module did not create a raster accessor";
            return;
        }
        m_accessor.reset(static_cast<KRRasterDataAccessor*>(plugin));
    }
    ~LoadedAccessor()
    {
        m_accessor.reset(); // destroyed before its code is unloaded
        if (m_handle != nullptr)
            dlclose(m_handle);
    }
    LoadedAccessor(const LoadedAccessor&) = delete;
    LoadedAccessor& operator=(const LoadedAccessor&) = delete;

    KRRasterDataAccessor* operator->() const { return m_accessor.get(); }
    explicit operator bool() const { return m_accessor != nullptr; }
    const std::string& Error() const { return m_error; }

private:
    void* m_handle = nullptr;
    std::unique_ptr<KRRasterDataAccessor> m_accessor;
    std::string m_error;
};

json Rect(const KRRect2d& r)
{
    return {{"left", r.left}, {"top", r.top}, {"right", r.right}, {"bottom", r.bottom}};
}

//! JSON has no NaN or infinity; such numbers are written as null.
json Number(double v)
{
    return std::isfinite(v) ? json(v) : json(nullptr);
}

json Describe(KRRasterDataAccessor& a)
{
    bool hasNoData = false;
    const double noData = a.GetNoDataValue(hasNoData);
    return {
        {"file", a.GetFileName().Cstr()},
        {"valid", a.IsValid()},
        {"width", a.GetWidth()},
        {"height", a.GetHeight()},
        {"bands", a.GetBandCount()},
        {"dataFormat", static_cast<int>(a.GetRasterDataFormat())},
        {"pixelFormat", static_cast<int>(a.GetPixelFormat())},
        {"coordinateKind", a.GetProjType()},
        {"sourceBounds", Rect(a.GetSrcBounds().GetGeoBounds())},
        {"wgs84Bounds", Rect(a.GetLatLonBounds().GetGeoBounds())},
        {"pixelSize", {Number(a.GetPixelSizeX()), Number(a.GetPixelSizeY())}},
        {"resolution", {Number(a.GetResX()), Number(a.GetResY())}},
        {"wgs84Resolution", {Number(a.GetLatLonResX()), Number(a.GetLatLonResY())}},
        {"valueRange", a.IsMinMaxValid() ? json{Number(a.GetMinValue()), Number(a.GetMaxValue())} : json(nullptr)},
        {"dataReverse", a.IsDataReverse()},
        {"noData", hasNoData ? Number(noData) : json(nullptr)},
        {"projectionWkt", a.ExportProjectionRefToWkt().Cstr()},
        {"projectionProj4", a.ExportProjectionRefToProj4().Cstr()},
    };
}

json TerrainJson(const KRTerrainData& grid, bool withValues)
{
    const int w = grid.GetWidth();
    const int h = grid.GetHeight();
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    json rows = json::array();
    for (int r = 0; r < h; ++r) {
        json row = json::array();
        for (int c = 0; c < w; ++c) {
            const double v = grid.GetValue(r, c);
            lo = std::min(lo, v);
            hi = std::max(hi, v);
            row.push_back(Number(v));
        }
        rows.push_back(std::move(row));
    }
    json out = {{"width", w}, {"height", h}, {"min", Number(lo)}, {"max", Number(hi)}};
    if (withValues)
        out["rowsSouthToNorth"] = std::move(rows);
    return out;
}

//! Column and row of the tile holding a longitude/latitude at a level.
void TileAt(double lon, double lat, int level, int& x, int& y)
{
    const double size = 180.0 / std::ldexp(1.0, level);
    x = static_cast<int>(std::floor((lon + 180.0) / size));
    y = static_cast<int>(std::floor((90.0 - lat) / size));
}

//! Neighbouring tiles stitched into one elevation image. Tiles share their
//! edge samples, so every shared sample is compared as it is stitched.
struct Mosaic {
    int tiles = 0;
    int side = 0;
    std::vector<double> values; //!< row 0 at the north; NaN where no tile delivered
    int delivered = 0;
    double maxSeamDifference = 0.0;
};

Mosaic FetchMosaic(KRRasterDataAccessor& a, int x0, int y0, int level, int tiles)
{
    constexpr int kSamples = 33;
    Mosaic m;
    m.tiles = tiles;
    m.side = (kSamples - 1) * tiles + 1;
    m.values.assign(static_cast<size_t>(m.side) * static_cast<size_t>(m.side), std::nan(""));
    for (int j = 0; j < tiles; ++j) {
        for (int i = 0; i < tiles; ++i) {
            KRTerrainData* grid = nullptr;
            const GetchResult result = a.FetchTerrainData(grid, x0 + i, y0 + j, level);
            std::unique_ptr<KRTerrainData> owned(grid);
            if (result != GetchResult_Delivered || !owned)
                continue;
            ++m.delivered;
            for (int r = 0; r < kSamples; ++r) {
                for (int c = 0; c < kSamples; ++c) {
                    const int mx = i * (kSamples - 1) + c;
                    const int my = j * (kSamples - 1) + (kSamples - 1 - r); // grid row 0 is the south
                    double& cell = m.values[static_cast<size_t>(my) * static_cast<size_t>(m.side) +
                                            static_cast<size_t>(mx)];
                    const double v = owned->GetValue(r, c);
                    if (!std::isnan(cell))
                        m.maxSeamDifference = std::max(m.maxSeamDifference, std::fabs(cell - v));
                    cell = v;
                }
            }
        }
    }
    return m;
}

//! Writes the mosaic as a grey PNG stretched from its lowest to its highest
//! non-zero sample; cells without elevation are black.
bool WriteMosaicPng(const Mosaic& m, const std::string& path, double& lo, double& hi)
{
    lo = std::numeric_limits<double>::infinity();
    hi = -lo;
    for (double v : m.values) {
        if (std::isfinite(v) && v != 0.0) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    std::vector<unsigned char> grey(m.values.size(), 0);
    for (size_t k = 0; k < m.values.size(); ++k) {
        const double v = m.values[k];
        if (std::isfinite(v) && v != 0.0 && hi > lo)
            grey[k] = static_cast<unsigned char>(1.0 + 254.0 * (v - lo) / (hi - lo));
    }
    GDALAllRegister();
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDriver* png = GetGDALDriverManager()->GetDriverByName("PNG");
    if (mem == nullptr || png == nullptr)
        return false;
    GDALDatasetUniquePtr image(mem->Create("", m.side, m.side, 1, GDT_Byte, nullptr));
    if (!image || image->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, m.side, m.side, grey.data(), m.side, m.side,
                                                     GDT_Byte, 0, 0, nullptr) != CE_None)
        return false;
    GDALDatasetUniquePtr out(png->CreateCopy(path.c_str(), image.get(), FALSE, nullptr, nullptr, nullptr));
    return out != nullptr;
}

int Fail(const std::string& message)
{
    std::cerr << "gora: " << message << "\n";
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"gora: drive the raster accessor module as the host does"};
    std::string moduleDir = KR_DEFAULT_MODULE_DIR;
    if (const char* env = std::getenv("GORA_MODULE_DIR"))
        moduleDir = env;
    app.add_option("--module-dir", moduleDir, "folder of GORasterAccessorPlugin.so");
    app.require_subcommand(1);

    std::string raster;
    auto* info = app.add_subcommand("info", "describe a raster as JSON");
    info->add_option("raster", raster, "raster file")->required();

    int level = 0;
    std::vector<int> tile;
    std::vector<double> at;
    bool values = false;
    std::string proj4;
    auto* terrain = app.add_subcommand("terrain", "fetch the 33 x 33 elevation grid of a tile as JSON");
    terrain->add_option("raster", raster, "raster or NSDTF-DEM file")->required();
    terrain->add_option("--level", level, "tile level")->required();
    auto* tileOption = terrain->add_option("--tile", tile, "tile column (east from -180) and row (south from +90)")
                           ->expected(2);
    terrain->add_option("--at", at, "longitude and latitude inside the tile")->expected(2)->excludes(tileOption);
    terrain->add_flag("--values", values, "include every sample, rows from south to north");
    terrain->add_option("--proj4", proj4, "coordinate system to import first (for metric NSDTF-DEM files)");

    int tiles = 4;
    std::string pngFile;
    auto* mosaic = app.add_subcommand("mosaic", "stitch neighbouring elevation tiles into a grey PNG");
    mosaic->add_option("raster", raster, "raster or NSDTF-DEM file")->required();
    mosaic->add_option("png", pngFile, "PNG file to write")->required();
    mosaic->add_option("--level", level, "tile level")->required();
    mosaic->add_option("--at", at, "longitude and latitude of the north-west tile")->expected(2)->required();
    mosaic->add_option("--tiles", tiles, "tiles along each side")->check(CLI::Range(1, 32));
    mosaic->add_option("--proj4", proj4, "coordinate system to import first (for metric NSDTF-DEM files)");

    double lon = 0.0;
    double lat = 0.0;
    auto* toSource = app.add_subcommand("to-source", "convert a WGS84 longitude/latitude to source units");
    toSource->add_option("raster", raster, "raster file")->required();
    toSource->add_option("lon", lon)->required();
    toSource->add_option("lat", lat)->required();

    std::string prjFile;
    auto* prj = app.add_subcommand("prj", "write the raster's coordinate system as an ESRI .prj file");
    prj->add_option("raster", raster, "raster file")->required();
    prj->add_option("prj", prjFile, ".prj file to write")->required();

    CLI11_PARSE(app, argc, argv);

    // Creating the accessor makes the module's folder the current one, so
    // paths are made absolute while they still mean what the user typed.
    for (std::string* path : {&raster, &pngFile, &prjFile}) {
        if (!path->empty())
            *path = std::filesystem::absolute(*path).string();
    }

    LoadedAccessor accessor(moduleDir + "/GORasterAccessorPlugin.so");
    if (!accessor)
        return Fail(accessor.Error());
    if (!accessor->OpenForRead(KRString(raster.c_str())))
        return Fail("cannot open " + raster);

    if (*info) {
        std::cout << Describe(*accessor.operator->()).dump(2) << "\n";
        return 0;
    }
    if (!proj4.empty() && !accessor->ImportProjectionRefFromProj4(proj4.c_str()))
        return Fail("cannot use the coordinate system " + proj4);
    if (*terrain) {
        int tileX = tile.size() == 2 ? tile[0] : 0;
        int tileY = tile.size() == 2 ? tile[1] : 0;
        if (at.size() == 2)
            TileAt(at[0], at[1], level, tileX, tileY);
        KRTerrainData* grid = nullptr;
        const GetchResult result = accessor->FetchTerrainData(grid, tileX, tileY, level);
        std::unique_ptr<KRTerrainData> owned(grid);
        KRRect2d bounds;
        KRMath::CalcTileBounds(bounds, tileX, tileY, level);
        json out = {{"result", static_cast<int>(result)}, {"tile", {tileX, tileY, level}}, {"bounds", Rect(bounds)}};
        if (owned)
            out["grid"] = TerrainJson(*owned, values);
        std::cout << out.dump(values ? -1 : 2) << "\n";
        return result == GetchResult_Delivered ? 0 : 2;
    }
    if (*toSource) {
        KRPoint3d out;
        accessor->WGS84PtToSrcPt(KRPoint3d(lon, lat, 0.0), out);
        std::cout << json{{"x", Number(out.x)}, {"y", Number(out.y)}}.dump(2) << "\n";
        return 0;
    }
    if (*mosaic) {
        int x0 = 0;
        int y0 = 0;
        TileAt(at[0], at[1], level, x0, y0);
        const Mosaic m = FetchMosaic(*accessor.operator->(), x0, y0, level, tiles);
        double lo = 0.0;
        double hi = 0.0;
        if (!WriteMosaicPng(m, pngFile, lo, hi))
            return Fail("cannot write " + pngFile);
        std::cout << json{{"tiles", tiles * tiles},
                          {"delivered", m.delivered},
                          {"pixels", m.side},
                          {"lowest", Number(lo)},
                          {"highest", Number(hi)},
                          {"maxSeamDifference", Number(m.maxSeamDifference)}}
                         .dump(2)
                  << "\n";
        return m.delivered > 0 ? 0 : 2;
    }
    if (*prj)
        return accessor->ExportProjToEsriPrjFile(KRString(prjFile.c_str())) ? 0 : Fail("cannot write " + prjFile);
    return 0;
}
