// Timings of the hot paths the host hits on every frame: terrain tiles from a
// geographic and a projected raster, image tiles of the same, and the
// bilinear grid sampler.
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include "KRArray.h"
#include "KRGORasterAccessorPlugin.h"

using namespace KRC;

namespace {

//! A 1024 x 1024 Float32 plane in a temporary folder, removed at exit.
class BenchRasters {
public:
    BenchRasters()
    {
        m_dir = (std::filesystem::temp_directory_path() / ("kr-bench-" + std::to_string(getpid()))).string();
        std::filesystem::create_directories(m_dir);
        GDALAllRegister();
        Write(Geographic(), 4326, {7.0, 0.001, 0.0, 47.0, 0.0, -0.001});
        Write(Projected(), 32632, {350000.0, 30.0, 0.0, 5210000.0, 0.0, -30.0});
    }
    ~BenchRasters()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    std::string Geographic() const { return m_dir + "/geo.tif"; }
    std::string Projected() const { return m_dir + "/utm.tif"; }

private:
    static void Write(const std::string& path, int epsg, std::vector<double> gt)
    {
        const int size = 1024;
        GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
        GDALDatasetUniquePtr ds(driver->Create(path.c_str(), size, size, 1, GDT_Float32, nullptr));
        OGRSpatialReference srs;
        srs.importFromEPSG(epsg);
        ds->SetSpatialRef(&srs);
        ds->SetGeoTransform(gt.data());
        std::vector<float> row(size);
        for (int r = 0; r < size; ++r) {
            for (int c = 0; c < size; ++c)
                row[static_cast<size_t>(c)] = static_cast<float>(100.0 + 0.5 * c + 0.25 * r);
            if (ds->GetRasterBand(1)->RasterIO(GF_Write, 0, r, size, 1, row.data(), size, 1, GDT_Float32, 0, 0,
                                               nullptr) != CE_None)
                std::abort();
        }
    }

    std::string m_dir;
};

const BenchRasters& Rasters()
{
    static BenchRasters rasters;
    return rasters;
}

template <class Fetch>
void FetchTiles(benchmark::State& state, const std::string& path, double lon, double lat, Fetch&& fetch)
{
    KRGORasterAccessorPlugin accessor;
    if (!accessor.OpenForRead(KRString(path.c_str()))) {
        state.SkipWithError("cannot open the raster");
        return;
    }
    const int level = static_cast<int>(state.range(0));
    const double size = 180.0 / std::ldexp(1.0, level);
    const int x = static_cast<int>(std::floor((lon + 180.0) / size));
    const int y = static_cast<int>(std::floor((90.0 - lat) / size));
    for (auto _ : state)
        fetch(accessor, x, y, level);
}

void TerrainTile(KRGORasterAccessorPlugin& accessor, int x, int y, int level)
{
    KRTerrainData* grid = nullptr;
    benchmark::DoNotOptimize(accessor.FetchTerrainData(grid, x, y, level));
    delete grid;
}

void ImageTile(KRGORasterAccessorPlugin& accessor, int x, int y, int level)
{
    KRImageData* image = nullptr;
    benchmark::DoNotOptimize(accessor.FetchImageData(image, x, y, level));
    delete image;
}

void BM_TerrainTileGeographic(benchmark::State& state)
{
    FetchTiles(state, Rasters().Geographic(), 7.5, 46.5, TerrainTile);
}
BENCHMARK(BM_TerrainTileGeographic)->Arg(8)->Arg(12);

void BM_TerrainTileProjected(benchmark::State& state)
{
    FetchTiles(state, Rasters().Projected(), 7.4, 46.9, TerrainTile);
}
BENCHMARK(BM_TerrainTileProjected)->Arg(8)->Arg(12);

void BM_ImageTileGeographic(benchmark::State& state)
{
    FetchTiles(state, Rasters().Geographic(), 7.5, 46.5, ImageTile);
}
BENCHMARK(BM_ImageTileGeographic)->Arg(8)->Arg(12);

void BM_ImageTileProjected(benchmark::State& state)
{
    FetchTiles(state, Rasters().Projected(), 7.4, 46.9, ImageTile);
}
BENCHMARK(BM_ImageTileProjected)->Arg(8)->Arg(12);

void BM_BilinearSampler(benchmark::State& state)
{
    KRTerrainData grid(KRTerrainData::Structure{});
    grid.SetWidth(256);
    grid.SetHeight(256);
    grid.SetDataFormat(static_cast<enumRasterDataFromat>(state.range(0)));
    grid.CreateData();
    for (int i = 0; i < 256 * 256; ++i)
        grid.SetValue(i, i % 251);
    grid.m_dNoDataValue = -9999.0;
    for (auto _ : state) {
        double sum = 0.0;
        for (int r = 0; r < 33; ++r)
            for (int c = 0; c < 33; ++c)
                sum += grid.GetBRasampleValue(r * 7.77, c * 7.77, false);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 33 * 33);
}
BENCHMARK(BM_BilinearSampler)->Arg(RDF_Int16)->Arg(RDF_Float32)->Arg(RDF_Float64);

} // namespace

BENCHMARK_MAIN();
