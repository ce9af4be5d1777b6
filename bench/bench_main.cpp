// Tile fetches as a globe host makes them, each timed beside the work GDAL's
// own tools do for the same tile in the same process: GDALWarp of the same
// WGS84 tile into a MEM dataset of the same size (bilinear where our path
// interpolates, nearest where it takes the plain value, GDAL's default error
// threshold), and a bare RasterIO of the quick path's window. At the end, one
// table: case, our time per tile, the baseline's, and their ratio; then the
// throughput of two threads on one object against one, and the resident
// memory after 200 and after 2,000 tile fetches.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <cpl_string.h>
#include <gdal_priv.h>
#include <gdal_utils.h>

#include "KRBenchInputs.h"
#include "KRGORasterAccessorPlugin.h"

using namespace KRC;

namespace {

const krbench::Inputs& Inputs()
{
    static const krbench::Inputs inputs(KR_BENCH_DATA_DIR);
    return inputs;
}

//! A tile of the host's tiling: column, row, level and its WGS84 rectangle.
struct Tile {
    int x = 0, y = 0, level = 0;
    KRRect2d rect;
};

//! The tile of `level` that holds the middle of the raster the accessor has open.
Tile MiddleTile(KRRasterDataAccessor& accessor, int level)
{
    const KRRect2d b = accessor.GetLatLonBounds().GetGeoBounds();
    const double side = 180.0 / std::ldexp(1.0, level);
    Tile t;
    t.level = level;
    t.x = static_cast<int>(std::floor(((b.left + b.right) / 2 + 180.0) / side));
    t.y = static_cast<int>(std::floor((90.0 - (b.top + b.bottom) / 2) / side));
    t.rect = KRRect2d(-180.0 + t.x * side, 90.0 - t.y * side, -180.0 + (t.x + 1) * side, 90.0 - (t.y + 1) * side);
    return t;
}

//! An accessor with `file` open, for as long as the process runs (threads share it).
KRGORasterAccessorPlugin& Opened(const std::string& file, int stretchType = 0)
{
    static std::map<std::string, std::unique_ptr<KRGORasterAccessorPlugin>> open;
    std::unique_ptr<KRGORasterAccessorPlugin>& accessor = open[file + std::to_string(stretchType)];
    if (!accessor) {
        accessor = std::make_unique<KRGORasterAccessorPlugin>();
        accessor->SetStetchType(stretchType);
        if (!accessor->OpenForRead(KRString(Inputs().Path(file).c_str())))
            std::fprintf(stderr, "cannot open %s\n", file.c_str());
    }
    return *accessor;
}

bool FetchImageTile(KRRasterDataAccessor& accessor, const Tile& t)
{
    KRImageData* image = nullptr;
    const GetchResult result = accessor.FetchImageData(image, t.x, t.y, t.level);
    delete image;
    return result == GetchResult_Delivered;
}

bool FetchTerrainTile(KRRasterDataAccessor& accessor, const Tile& t)
{
    KRTerrainData* grid = nullptr;
    const GetchResult result = accessor.FetchTerrainData(grid, t.x, t.y, t.level);
    delete grid;
    return result == GetchResult_Delivered;
}

//! GDAL's warp of the tile's rectangle into a MEM dataset of `size` x `size`.
class GdalWarpOfTile {
public:
    GdalWarpOfTile(const std::string& file, const Tile& t, int size, const char* resampling)
        : m_source(GDALDataset::Open(Inputs().Path(file).c_str(), GDAL_OF_RASTER))
    {
        CPLStringList args(
            CSLTokenizeString(CPLSPrintf("-of MEM -t_srs EPSG:4326 -r %s -ts %d %d -te %.17g %.17g "
                                         "%.17g %.17g",
                                         resampling, size, size, t.rect.left, t.rect.bottom, t.rect.right, t.rect.top)),
            TRUE);
        m_options = GDALWarpAppOptionsNew(args.List(), nullptr);
    }
    ~GdalWarpOfTile() { GDALWarpAppOptionsFree(m_options); }
    GdalWarpOfTile(const GdalWarpOfTile&) = delete;
    GdalWarpOfTile& operator=(const GdalWarpOfTile&) = delete;

    bool Run() const
    {
        GDALDatasetH source = GDALDataset::ToHandle(m_source.get());
        GDALDatasetUniquePtr out(GDALDataset::FromHandle(GDALWarp("", nullptr, 1, &source, m_options, nullptr)));
        return out != nullptr;
    }

private:
    GDALDatasetUniquePtr m_source;
    GDALWarpAppOptions* m_options = nullptr;
};

//! One row of the table: our fetch and, where there is one, GDAL's baseline.
struct Case {
    std::string name, file;
    int level;
    bool terrain;
    const char* resampling; //!< of the baseline; null: none
    int stretchType = 0;
};

void RegisterTileCase(const Case& c)
{
    benchmark::RegisterBenchmark(("ours/" + c.name).c_str(), [c](benchmark::State& state) {
        KRGORasterAccessorPlugin& accessor = Opened(c.file, c.stretchType);
        const Tile t = MiddleTile(accessor, c.level);
        // The first fetch prepares colours and reads an NSDTF-DEM grid; a host pays that once per raster.
        (void)(c.terrain ? FetchTerrainTile(accessor, t) : FetchImageTile(accessor, t));
        for (auto _ : state) {
            if (!(c.terrain ? FetchTerrainTile(accessor, t) : FetchImageTile(accessor, t)))
                state.SkipWithError("nothing delivered");
        }
    });
    if (c.resampling == nullptr)
        return;
    benchmark::RegisterBenchmark(("gdal/" + c.name).c_str(), [c](benchmark::State& state) {
        const GdalWarpOfTile warp(c.file, MiddleTile(Opened(c.file), c.level), c.terrain ? 33 : 256, c.resampling);
        for (auto _ : state) {
            if (!warp.Run())
                state.SkipWithError("GDALWarp failed");
        }
    });
}

//! The quick path over a window of `pixels` x `pixels` source pixels in the middle of the RGB image, against one
//! RasterIO of the same window into a buffer of the image's size.
void RegisterQuickCase(const std::string& name, int pixels)
{
    const auto window = [pixels](const krbench::Placement& at, int size) {
        const double middle = size / 2.0 - pixels / 2.0;
        return KRRect2d(at.west + middle * at.pixel, at.north - middle * at.pixel,
                        at.west + (middle + pixels) * at.pixel, at.north - (middle + pixels) * at.pixel);
    };
    benchmark::RegisterBenchmark(("ours/" + name).c_str(), [=](benchmark::State& state) {
        KRGORasterAccessorPlugin& accessor = Opened("rgb_geo.tif");
        const KRRect2d rect = window(krbench::Inputs::kGeo8000, 8000);
        KRImageData image;
        image.m_nWidth = image.m_nHeight = 256;
        image.SetPixelFormat(PF_R8G8B8);
        image.CreateData();
        for (auto _ : state) {
            KRImageData* replacement = nullptr;
            if (accessor.QucikFetchImageData(&image, replacement, rect, nullptr, false) != GetchResult_Delivered)
                state.SkipWithError("nothing delivered");
            delete replacement;
        }
    });
    benchmark::RegisterBenchmark(("gdal/" + name).c_str(), [=](benchmark::State& state) {
        GDALDatasetUniquePtr ds(GDALDataset::Open(Inputs().Path("rgb_geo.tif").c_str(), GDAL_OF_RASTER));
        std::vector<unsigned char> buffer(256 * 256 * 3);
        const int first = 4000 - pixels / 2;
        for (auto _ : state) {
            if (ds->RasterIO(GF_Read, first, first, pixels, pixels, buffer.data(), 256, 256, GDT_Byte, 3, nullptr, 3,
                             256 * 3, 1, nullptr) != CE_None)
                state.SkipWithError("RasterIO failed");
        }
    });
}

//! Tiles per second from one object shared by the benchmark's threads.
void RegisterThreadCase()
{
    benchmark::RegisterBenchmark("threads/image tile, UTM RGB, zoomed in",
                                 [](benchmark::State& state) {
                                     KRGORasterAccessorPlugin& accessor = Opened("rgb_utm.tif");
                                     const Tile middle = MiddleTile(accessor, 11);
                                     Tile t = middle;
                                     for (auto _ : state) {
                                         t.x = middle.x + state.thread_index() % 2; // each thread its own tile
                                         FetchImageTile(accessor, t);
                                     }
                                     state.SetItemsProcessed(state.iterations());
                                 })
        ->Threads(1)
        ->Threads(2)
        ->UseRealTime();
}

//! Times (nanoseconds per iteration) and throughputs (items per second) of every run, by name.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            m_ns[run.benchmark_name()] =
                run.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            const auto items = run.counters.find("items_per_second");
            if (items != run.counters.end())
                m_rate[run.benchmark_name()] = items->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> m_ns, m_rate;
};

std::string Duration(double ns)
{
    return ns >= 1e6 ? CPLSPrintf("%.2f ms", ns / 1e6) : CPLSPrintf("%.1f us", ns / 1e3);
}

//! Resident memory of the process in MiB.
double ResidentMiB()
{
    std::ifstream status("/proc/self/status");
    std::string key;
    double kib = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> kib;
            break;
        }
    }
    return kib / 1024;
}

void PrintTable(const TableReporter& reporter, const std::vector<Case>& cases)
{
    std::printf("\n| case | ours | GDAL | ratio |\n|---|---|---|---|\n");
    std::vector<std::string> names;
    for (const Case& c : cases)
        names.push_back(c.name);
    names.insert(names.end(), {"quick path, zoomed in", "quick path, zoomed out"});
    for (const std::string& name : names) {
        const auto ours = reporter.m_ns.find("ours/" + name), gdal = reporter.m_ns.find("gdal/" + name);
        if (ours == reporter.m_ns.end())
            continue;
        if (gdal == reporter.m_ns.end())
            std::printf("| %s | %s | | |\n", name.c_str(), Duration(ours->second).c_str());
        else
            std::printf("| %s | %s | %s | %.2f |\n", name.c_str(), Duration(ours->second).c_str(),
                        Duration(gdal->second).c_str(), ours->second / gdal->second);
    }
    const std::string threads = "threads/image tile, UTM RGB, zoomed in/real_time/threads:";
    const auto one = reporter.m_rate.find(threads + "1"), two = reporter.m_rate.find(threads + "2");
    if (one != reporter.m_rate.end() && two != reporter.m_rate.end())
        std::printf("\n2 threads on one object: %.0f tiles/s against %.0f with one (%.2f x)\n", two->second,
                    one->second, two->second / one->second);
}

void PrintMemory()
{
    KRGORasterAccessorPlugin& accessor = Opened("rgb_utm.tif");
    const Tile middle = MiddleTile(accessor, 11);
    double after200 = 0;
    for (int i = 0; i < 2000; ++i) {
        Tile t = middle;
        t.x += i % 7 - 3, t.y += i / 7 % 7 - 3; // 49 tiles around the middle
        FetchImageTile(accessor, t);
        FetchTerrainTile(Opened("dem_utm.tif"), t);
        if (i == 199)
            after200 = ResidentMiB();
    }
    std::printf("resident memory: %.1f MiB after 200 image and terrain tiles, %.1f MiB after 2000\n", after200,
                ResidentMiB());
}

} // namespace

int main(int argc, char** argv)
{
    Inputs(); // written before anything is timed
    const std::vector<Case> cases = {
        {"image tile, geographic RGB, zoomed in", "rgb_geo.tif", 9, false, "bilinear"},
        {"image tile, geographic RGB, zoomed out", "rgb_geo.tif", 6, false, "bilinear"},
        {"image tile, UTM RGB with nodata, zoomed in", "rgb_utm.tif", 11, false, "near"},
        {"image tile, UTM RGB with nodata, zoomed out", "rgb_utm.tif", 8, false, "near"},
        {"image tile, 16-bit 4 bands stretched", "wide_geo.tif", 9, false, "bilinear", 1},
        {"image tile, palette", "palette_geo.tif", 9, false, "bilinear"},
        {"terrain tile, geographic, zoomed in", "dem_geo.tif", 12, true, "bilinear"},
        {"terrain tile, geographic, zoomed out", "dem_geo.tif", 7, true, "bilinear"},
        {"terrain tile, UTM, zoomed in", "dem_utm.tif", 13, true, "bilinear"},
        {"terrain tile, UTM, zoomed out", "dem_utm.tif", 8, true, "bilinear"},
        {"terrain tile, NSDTF-DEM", "dem.dem", 11, true, nullptr},
    };
    for (const Case& c : cases)
        RegisterTileCase(c);
    RegisterQuickCase("quick path, zoomed in", 256);
    RegisterQuickCase("quick path, zoomed out", 2560);
    RegisterThreadCase();

    // A narrowed run (for a profiler, say) skips the 2,000-tile memory check.
    const bool narrowed = std::any_of(argv + 1, argv + argc,
                                      [](const char* arg) { return std::strncmp(arg, "--benchmark_filter", 18) == 0; });
    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintTable(reporter, cases);
    if (!narrowed)
        PrintMemory();
    benchmark::Shutdown();
    return 0;
}
