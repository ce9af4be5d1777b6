// gora: a command-line host for the raster accessor module. It loads the
// module with dlopen and talks to it only through CreatePluginInstance and the
// accessor's virtual operations, exactly as the host application does.
#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
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

    LoadedAccessor accessor(moduleDir + "/GORasterAccessorPlugin.so");
    if (!accessor)
        return Fail(accessor.Error());
    if (!accessor->OpenForRead(KRString(raster.c_str())))
        return Fail("cannot open " + raster);

    if (*info) {
        std::cout << Describe(*accessor.operator->()).dump(2) << "\n";
        return 0;
    }
    if (*terrain) {
        if (!proj4.empty() && !accessor->ImportProjectionRefFromProj4(proj4.c_str()))
            return Fail("cannot use the coordinate system " + proj4);
        int tileX = tile.size() == 2 ? tile[0] : 0;
        int tileY = tile.size() == 2 ? tile[1] : 0;
        if (at.size() == 2) {
            const double size = 180.0 / std::ldexp(1.0, level);
            tileX = static_cast<int>(std::floor((at[0] + 180.0) / size));
            tileY = static_cast<int>(std::floor((90.0 - at[1]) / size));
        }
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
    if (*prj)
        return accessor->ExportProjToEsriPrjFile(KRString(prjFile.c_str())) ? 0 : Fail("cannot write " + prjFile);
    return 0;
}
