// dem2tif: an elevation file as a WGS84 Float32 GeoTIFF, made through the
// module's terrain fetch and written through its raster output.
#include <algorithm>
#include <climits>
#include <cmath>
#include <iostream>
#include <utility>
#include <vector>

#include <gdal_priv.h>

#include "GoraCommands.h"

using namespace KRC;

namespace gora {

namespace {

constexpr long long kMostOutputPixels = 1LL << 30;
constexpr long long kStripSamples = 1LL << 20;

//! The WGS84 grid of the output: one pixel centred on each sample.
struct OutputGrid {
    double west = 0.0;  //!< longitude of the first sample
    double north = 0.0; //!< latitude of the first sample
    double dx = 0.0;    //!< degrees from one column to the next
    double dy = 0.0;    //!< degrees from one row to the next (southward)
    int width = 0;      //!< samples along a row
    int height = 0;     //!< rows

    double Lon(int column) const { return west + column * dx; }
    double Lat(int row) const { return north - row * dy; }
};

void CheckGrid(const OutputGrid& g, const std::string& raster)
{
    if (g.width < 1 || g.height < 1 || !(g.dx > 0.0) || !(g.dy > 0.0))
        throw Error(raster, "has no WGS84 extent (give its coordinate system with --proj4)");
    if (static_cast<double>(g.width) * g.height > static_cast<double>(kMostOutputPixels))
        throw Error(raster, "would make a GeoTIFF of more than 2^30 pixels");
}

//! The module's lattice over the WGS84 bounds: one sample per resolution
//! step, for sources not gridded in WGS84 degrees (projected, NSDTF-DEM).
OutputGrid LatticeOf(KRRasterDataAccessor& a)
{
    const KRRect2d bounds = a.GetLatLonBounds().GetGeoBounds();
    const double step = a.GetLatLonResX();
    const double columns = std::round(bounds.Width() / step) + 1.0;
    const double rows = std::round(bounds.Height() / step) + 1.0;
    const bool fits = step > 0.0 && columns >= 1.0 && rows >= 1.0 && columns * rows <= kMostOutputPixels;
    return OutputGrid{
        bounds.left, bounds.top, step, step, fits ? static_cast<int>(columns) : 0, fits ? static_cast<int>(rows) : 0};
}

//! A source gridded in WGS84 degrees keeps its own grid: one output pixel on
//! each source pixel.
bool GriddedInWgs84(KRRasterDataAccessor& a, GDALDataset* dataset)
{
    const KRRect2d src = a.GetSrcBounds().GetGeoBounds();
    const KRRect2d wgs84 = a.GetLatLonBounds().GetGeoBounds();
    const double tolerance = 1e-9 * std::max(1.0, std::fabs(a.GetPixelSizeX()));
    return dataset != nullptr && a.GetProjType() == 1 && std::fabs(src.left - wgs84.left) < tolerance &&
           std::fabs(src.top - wgs84.top) < tolerance && std::fabs(src.right - wgs84.right) < tolerance &&
           std::fabs(src.bottom - wgs84.bottom) < tolerance;
}

OutputGrid GridOf(KRRasterDataAccessor& a, GDALDataset* dataset, const std::string& raster)
{
    if (!HasUsableCoordinates(a))
        throw Error(raster, "has no WGS84 extent: " + CoordinateProblem(a));
    OutputGrid g = LatticeOf(a);
    if (GriddedInWgs84(a, dataset)) {
        const KRRect2d src = a.GetSrcBounds().GetGeoBounds();
        g.dx = std::fabs(a.GetPixelSizeX());
        g.dy = std::fabs(a.GetPixelSizeY());
        g.west = src.left + g.dx / 2;
        g.north = src.top - g.dy / 2;
        g.width = static_cast<int>(std::min<std::uint64_t>(a.GetWidth(), INT_MAX));
        g.height = static_cast<int>(std::min<std::uint64_t>(a.GetHeight(), INT_MAX));
    }
    CheckGrid(g, raster);
    return g;
}

//! Rows [y0, y0 + n) of the output, fetched as one terrain rectangle and
//! turned to GDAL's order (north row first).
std::vector<float> FetchStrip(KRRasterDataAccessor& a, const OutputGrid& g, int y0, int n, const std::string& raster)
{
    KRTerrainData grid(KRTerrainData::Structure{});
    grid.SetWidth(g.width);
    grid.SetHeight(n);
    grid.SetDataFormat(RDF_Float32);
    if (!grid.CreateData())
        throw Error(raster, "cannot allocate a strip of the output");
    const KRRect2d rect(g.Lon(0), g.Lat(y0), g.Lon(g.width - 1), g.Lat(y0 + n - 1));
    if (a.FetchTerrainData(&grid, rect, false) != GetchResult_Delivered)
        throw Error(raster, "the terrain fetch delivered nothing for rows " + std::to_string(y0) + " to " +
                                std::to_string(y0 + n - 1));
    std::vector<float> strip(static_cast<size_t>(g.width) * static_cast<size_t>(n));
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < g.width; ++c)
            strip[static_cast<size_t>(r) * static_cast<size_t>(g.width) + static_cast<size_t>(c)] =
                static_cast<float>(grid.GetValue(n - 1 - r, c));
    }
    return strip;
}

//! The source's nodata cells, which the terrain fetch turns into 0: each
//! output sample takes the nodata value where the source pixel under it is
//! masked. The mask is read through GDAL, one window per strip.
class NoDataCells {
public:
    NoDataCells(KRRasterDataAccessor& a, GDALDataset* dataset) : m_accessor(a)
    {
        int has = FALSE;
        GDALRasterBand* band = dataset != nullptr ? dataset->GetRasterBand(1) : nullptr;
        m_value = band != nullptr ? band->GetNoDataValue(&has) : 0.0;
        m_mask = has ? band->GetMaskBand() : nullptr;
        m_valid = dataset != nullptr && dataset->GetGeoTransform(m_toPixel) == CE_None &&
                  GDALInvGeoTransform(m_toPixel, m_toPixel);
    }

    bool Any() const { return m_mask != nullptr && m_valid; }
    double Value() const { return m_value; }

    void Mark(std::vector<float>& strip, const OutputGrid& g, int y0)
    {
        if (!Any())
            return;
        std::vector<std::pair<int, int>> pixels(strip.size()); // column, row of the source pixel
        for (size_t k = 0; k < strip.size(); ++k)
            pixels[k] = SourcePixel(g.Lon(static_cast<int>(k % g.width)), g.Lat(y0 + static_cast<int>(k / g.width)));
        const Window w = WindowOf(pixels);
        const std::vector<unsigned char> mask = ReadMask(w);
        for (size_t k = 0; k < strip.size() && !mask.empty(); ++k) {
            const auto [c, r] = pixels[k];
            if (w.Holds(c, r) && mask[static_cast<size_t>(r - w.r0) * w.Width() + (c - w.c0)] == 0)
                strip[k] = static_cast<float>(m_value);
        }
    }

private:
    struct Window {
        int c0 = 0, r0 = 0, c1 = -1, r1 = -1; // inclusive
        size_t Width() const { return static_cast<size_t>(c1 - c0 + 1); }
        bool Holds(int c, int r) const { return c >= c0 && c <= c1 && r >= r0 && r <= r1; }
    };

    std::pair<int, int> SourcePixel(double lon, double lat)
    {
        KRPoint3d src(std::nan(""), std::nan(""), 0.0);
        m_accessor.WGS84PtToSrcPt(KRPoint3d(lon, lat, 0.0), src);
        const double col = m_toPixel[0] + src.x * m_toPixel[1] + src.y * m_toPixel[2];
        const double row = m_toPixel[3] + src.x * m_toPixel[4] + src.y * m_toPixel[5];
        if (!(std::fabs(col) < 1e9 && std::fabs(row) < 1e9))
            return {-1, -1};
        return {static_cast<int>(std::floor(col)), static_cast<int>(std::floor(row))};
    }

    //! The smallest window of the raster that holds every pixel.
    Window WindowOf(const std::vector<std::pair<int, int>>& pixels) const
    {
        Window w{INT_MAX, INT_MAX, -1, -1};
        for (const auto& [c, r] : pixels) {
            if (c < 0 || r < 0 || c >= m_mask->GetXSize() || r >= m_mask->GetYSize())
                continue;
            w = Window{std::min(w.c0, c), std::min(w.r0, r), std::max(w.c1, c), std::max(w.r1, r)};
        }
        return w;
    }

    std::vector<unsigned char> ReadMask(const Window& w) const
    {
        if (w.c1 < w.c0 || w.r1 < w.r0)
            return {};
        const int width = w.c1 - w.c0 + 1;
        const int height = w.r1 - w.r0 + 1;
        std::vector<unsigned char> mask(static_cast<size_t>(width) * static_cast<size_t>(height));
        if (m_mask->RasterIO(GF_Read, w.c0, w.r0, width, height, mask.data(), width, height, GDT_Byte, 0, 0, nullptr) !=
            CE_None)
            return {};
        return mask;
    }

    KRRasterDataAccessor& m_accessor;
    GDALRasterBand* m_mask = nullptr;
    double m_value = 0.0;
    double m_toPixel[6] = {0, 1, 0, 0, 0, 1};
    bool m_valid = false;
};

//! What the module's CreateRasterFile cannot say: a pixel height other than
//! its width, and the nodata tag. Written with GDAL once the module closed the file.
void FinishGeoTiff(const std::string& path, const OutputGrid& g, const NoDataCells& noData)
{
    GDALDatasetUniquePtr tif(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
    double transform[6] = {g.west - g.dx / 2, g.dx, 0.0, g.north + g.dy / 2, 0.0, -g.dy};
    if (!tif || tif->SetGeoTransform(transform) != CE_None ||
        (noData.Any() && tif->GetRasterBand(1)->SetNoDataValue(noData.Value()) != CE_None))
        throw Error(path, "cannot write the grid and nodata tag into the GeoTIFF");
}

struct Dem2TifArgs {
    Source source;
    std::string tif;
};

//! Fills the GeoTIFF strip by strip; a one-row last strip takes the row
//! before it along, so that no terrain rectangle is flat.
void WriteStrips(KRRasterDataAccessor& dem, KRRasterDataAccessor& tif, const OutputGrid& g, NoDataCells& noData,
                 const Dem2TifArgs& args)
{
    const int stripRows = static_cast<int>(std::clamp<long long>(kStripSamples / g.width, 2, std::max(g.height, 2)));
    Progress progress((g.height + stripRows - 1) / stripRows, 16);
    for (int y0 = 0; y0 < g.height; y0 += stripRows) {
        const int first = std::max(0, std::min(y0, g.height - 2));
        const int n = std::min(stripRows, g.height - y0) + (y0 - first);
        std::vector<float> strip = FetchStrip(dem, g, first, n, args.source.raster);
        noData.Mark(strip, g, first);
        if (!tif.WriteRasterFile(0, first, g.width, n, strip.data()))
            throw Error(args.tif, "the module could not write rows " + std::to_string(first));
        progress.Step();
    }
}

} // namespace

void AddDem2TifCommand(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand("dem2tif", "turn an elevation file into a WGS84 Float32 GeoTIFF through the "
                                              "module's terrain fetch (a source gridded in WGS84 keeps its grid)");
    auto args = std::make_shared<Dem2TifArgs>();
    AddSource(*cmd, args->source);
    AddOutputFile(*cmd, args->tif, "tif", "GeoTIFF file to write");
    cmd->callback([&globals, args] {
        Accessor dem = OpenSource(globals, args->source);
        const GDALDatasetUniquePtr dataset = OpenWithGdal(args->source.raster);
        const OutputGrid g = GridOf(*dem, dataset.get(), args->source.raster);
        NoDataCells noData(*dem, dataset.get());
        PendingOutput output(args->tif);
        Accessor tif = NewAccessor(globals);
        if (!tif->CreateRasterFile(KRString(output.TempPath().c_str()), g.width, g.height, g.dx, g.west - g.dx / 2,
                                   g.north + g.dy / 2, 1, GDT_Float32, false))
            throw Error(args->tif, "the module could not create the GeoTIFF");
        WriteStrips(*dem, *tif, g, noData, *args);
        tif->Close(); // flushes the GeoTIFF
        FinishGeoTiff(output.TempPath(), g, noData);
        output.Commit();
        std::cout << "wrote " << args->tif << " (" << g.width << " x " << g.height << ", " << g.dx << " x " << g.dy
                  << " degrees per pixel" << (noData.Any() ? ", nodata " + std::to_string(noData.Value()) : "")
                  << ")\n";
    });
}

} // namespace gora
