// mosaic, render: neighbouring tiles of one level, fetched through the tile
// operations as the host fetches them, joined into one picture.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>

#include <gdal_priv.h>
#include <gdal_utils.h>

#include "GoraCommands.h"

using namespace KRC;

namespace gora {

namespace {

constexpr int kImageTileSide = 256;
constexpr int kTerrainTileSide = 33; // neighbouring grids share their edge samples
constexpr long long kMostPixels = 1LL << 28;
constexpr long long kProgressFromTiles = 16;

//! Columns x0.. and rows y0.. of the tiles of one level.
struct TileBlock {
    int level = 0;
    int x0 = 0;
    int y0 = 0;
    int columns = 0;
    int rows = 0;

    long long Count() const { return static_cast<long long>(columns) * rows; }
    TileRef At(int i, int j) const { return TileRef{x0 + i, y0 + j, level}; }
    KRRect2d Bounds() const
    {
        const KRRect2d nw = TileBounds(At(0, 0));
        const KRRect2d se = TileBounds(At(columns - 1, rows - 1));
        return KRRect2d(nw.left, nw.top, se.right, se.bottom);
    }
};

//! Every tile of the level that the rectangle reaches into.
TileBlock BlockOver(const KRRect2d& rect, int level)
{
    // An east or south side that lies on a tile edge does not reach into the next tile.
    const double inset = 1e-9 * 180.0 / std::ldexp(1.0, level);
    const TileRef nw = TileAt(rect.left, rect.top, level);
    const TileRef se = TileAt(std::max(rect.left, rect.right - inset), std::min(rect.top, rect.bottom + inset), level);
    return TileBlock{level, nw.x, nw.y, se.x - nw.x + 1, se.y - nw.y + 1};
}

//! `tiles` x `tiles` tiles from the north-west one, kept inside the tiling.
TileBlock BlockFrom(const TileRef& northWest, int tiles)
{
    const long long columns = 2LL << northWest.level;
    const long long rows = 1LL << northWest.level;
    TileBlock block{northWest.level, northWest.x, northWest.y, tiles, tiles};
    block.columns = static_cast<int>(std::clamp<long long>(columns - northWest.x, 0, tiles));
    block.rows = static_cast<int>(std::clamp<long long>(rows - northWest.y, 0, tiles));
    return block;
}

enum class Kind { Image, Relief, Gray };

struct RenderArgs {
    PictureArgs picture;
    std::string kind = "image";
    bool big = false;
    double zFactor = 1.0;

    Kind GetKind() const { return kind == "image" ? Kind::Image : kind == "relief" ? Kind::Relief : Kind::Gray; }
};

void AddRenderOptions(CLI::App& cmd, RenderArgs& args)
{
    AddPictureArgs(cmd, args.picture);
    cmd.add_option("--as", args.kind,
                   "image (image tiles), relief (terrain tiles, GDAL hillshade) or gray (terrain tiles, grey ramp)")
        ->capture_default_str()
        ->check(CLI::IsMember({"image", "relief", "gray"}));
    AddBigOption(cmd, args.big);
    cmd.add_option("--z-factor", args.zFactor, "vertical exaggeration of the relief")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
}

//! Terrain pictures come from the terrain tiles, which take no display
//! option; image pictures have no relief to exaggerate.
void RefuseUnused(const CLI::App& cmd, const RenderArgs& args)
{
    if (args.GetKind() != Kind::Relief)
        RefuseOptions(cmd, {"--z-factor"}, "by --as " + args.kind + " (only by --as relief)");
    if (args.GetKind() != Kind::Image)
        RefuseOptions(cmd, DisplayOptionNames(), "by --as " + args.kind + ", made of terrain tiles");
}

//! Refuses pictures too big to want (unless asked) or to hold.
void CheckSize(const TileBlock& block, Kind kind, const RenderArgs& args)
{
    const long long side = kind == Kind::Image ? kImageTileSide : kTerrainTileSide - 1;
    const long long extra = kind == Kind::Image ? 0 : 1;
    const long long width = block.columns * side + extra;
    const long long height = block.rows * side + extra;
    const std::string tiles = " (" + std::to_string(block.Count()) + " tiles)";
    if (block.columns <= 0 || block.rows <= 0)
        throw Error(args.picture.png, "no tile of level " + std::to_string(block.level) + " lies there");
    if (width * height > kMostPixels)
        throw Error(args.picture.png, "the picture would be " + std::to_string(width) + " x " + std::to_string(height) +
                                          " pixels" + tiles + ", more than gora can hold; choose a lower level");
    CheckBig(width, height, tiles + ", or choose a lower level", args.big, args.picture.png);
}

// ---------------------------------------------------------------------------
// Image tiles

//! Copies one tile into the joined RGBA picture; RGB tiles are opaque.
void Paste(const Picture& tile, Picture& joined, int top, int left)
{
    const int rows = std::min(tile.height, joined.height - top);
    const int cols = std::min(tile.width, joined.width - left);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            const unsigned char* s = tile.At(r, c);
            unsigned char* d = joined.At(top + r, left + c);
            std::copy_n(s, 3, d);
            d[3] = tile.bands == 4 ? s[3] : 255;
        }
    }
}

//! Joins the tiles row by row, each row of tiles one strip of the picture.
int JoinImageTiles(KRRasterDataAccessor& a, const TileBlock& block, bool flip, PictureStrips& picture)
{
    int delivered = 0;
    Progress progress(block.Count(), kProgressFromTiles);
    for (int j = 0; j < block.rows; ++j) {
        Picture strip(block.columns * kImageTileSide, kImageTileSide, 4);
        for (int i = 0; i < block.columns; ++i) {
            const ImagePtr image = FetchImageTile(a, block.At(i, j), flip);
            if (image) {
                Paste(PictureOfImage(*image), strip, 0, i * kImageTileSide);
                ++delivered;
            }
            progress.Step();
        }
        picture.Write(strip, j * kImageTileSide);
    }
    return delivered;
}

// ---------------------------------------------------------------------------
// Terrain tiles

//! Elevations of neighbouring tiles, north row first, NaN where no tile
//! delivered. Tiles share their edge samples, so each shared sample is
//! compared as it is joined.
struct JoinedTerrain {
    int width = 0;
    int height = 0;
    std::vector<double> values;
    int delivered = 0;
    double maxSeamDifference = 0.0;

    double& At(int row, int col) { return values[static_cast<size_t>(row) * static_cast<size_t>(width) + col]; }
};

void PasteGrid(const KRTerrainData& grid, JoinedTerrain& t, int top, int left)
{
    const int side = kTerrainTileSide;
    if (grid.GetWidth() != side || grid.GetHeight() != side)
        return;
    for (int r = 0; r < side; ++r) {
        for (int c = 0; c < side; ++c) {
            double& cell = t.At(top + side - 1 - r, left + c); // grid row 0 is the south
            const double v = grid.GetValue(r, c);
            if (!std::isnan(cell))
                t.maxSeamDifference = std::max(t.maxSeamDifference, std::fabs(cell - v));
            cell = v;
        }
    }
}

JoinedTerrain JoinTerrainTiles(KRRasterDataAccessor& a, const TileBlock& block)
{
    const int step = kTerrainTileSide - 1;
    JoinedTerrain t;
    t.width = block.columns * step + 1;
    t.height = block.rows * step + 1;
    t.values.assign(static_cast<size_t>(t.width) * static_cast<size_t>(t.height), std::nan(""));
    Progress progress(block.Count(), kProgressFromTiles);
    for (int j = 0; j < block.rows; ++j) {
        for (int i = 0; i < block.columns; ++i) {
            const TileRef tile = block.At(i, j);
            KRTerrainData* grid = nullptr;
            const GetchResult result = a.FetchTerrainData(grid, tile.x, tile.y, tile.level);
            const std::unique_ptr<KRTerrainData> owned(grid);
            if (result == GetchResult_Delivered && owned) {
                PasteGrid(*owned, t, j * step, i * step);
                ++t.delivered;
            }
            progress.Step();
        }
    }
    return t;
}

//! Samples that carry elevation: the fetches leave 0 where the raster is absent.
bool HasElevation(double v)
{
    return std::isfinite(v) && v != 0.0;
}

//! The lowest and highest elevation joined.
void ElevationRange(const JoinedTerrain& t, double& low, double& high)
{
    low = std::numeric_limits<double>::infinity();
    high = -low;
    for (double v : t.values) {
        if (HasElevation(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
}

//! Grey from the lowest (1) to the highest (255) elevation; transparent where there is none.
Picture GrayPicture(const JoinedTerrain& t)
{
    double low = 0.0;
    double high = 0.0;
    ElevationRange(t, low, high);
    Picture picture(t.width, t.height, 2);
    for (size_t k = 0; k < t.values.size(); ++k) {
        const double v = t.values[k];
        if (!HasElevation(v))
            continue;
        const double f = high > low ? (v - low) / (high - low) : 1.0;
        picture.pixels[2 * k] = static_cast<unsigned char>(1.0 + 254.0 * f);
        picture.pixels[2 * k + 1] = 255;
    }
    return picture;
}

//! GDAL's hillshade of the joined grid, in a local metric frame so that
//! degrees of longitude and latitude get their ground lengths.
Picture ReliefPicture(const JoinedTerrain& t, const KRRect2d& bounds, double zFactor, const std::string& png)
{
    constexpr double kNoData = -1e30;
    constexpr double kMetresPerDegree = 111320.0;
    GDALAllRegister();
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDatasetUniquePtr dem(mem == nullptr ? nullptr : mem->Create("", t.width, t.height, 1, GDT_Float64, nullptr));
    if (!dem)
        throw Error(png, "GDAL cannot make the elevation grid for the hillshade");
    std::vector<double> values(t.values);
    std::replace_if(
        values.begin(), values.end(), [](double v) { return !HasElevation(v); }, kNoData);
    const double midLat = (bounds.top + bounds.bottom) / 2.0 * M_PI / 180.0;
    const double dx = bounds.Width() / (t.width - 1) * kMetresPerDegree * std::cos(midLat);
    const double dy = bounds.Height() / (t.height - 1) * kMetresPerDegree;
    double transform[6] = {0.0, dx, 0.0, 0.0, 0.0, -dy};
    dem->SetGeoTransform(transform);
    GDALRasterBand* band = dem->GetRasterBand(1);
    band->SetNoDataValue(kNoData);
    if (band->RasterIO(GF_Write, 0, 0, t.width, t.height, values.data(), t.width, t.height, GDT_Float64, 0, 0,
                       nullptr) != CE_None)
        throw Error(png, "GDAL cannot fill the elevation grid for the hillshade");

    CPLStringList argv;
    for (const char* arg : {"-of", "MEM", "-compute_edges", "-z"})
        argv.AddString(arg);
    argv.AddString(CPLSPrintf("%.17g", zFactor));
    std::unique_ptr<GDALDEMProcessingOptions, decltype(&GDALDEMProcessingOptionsFree)> options(
        GDALDEMProcessingOptionsNew(argv.List(), nullptr), &GDALDEMProcessingOptionsFree);
    int usageError = FALSE;
    GDALDatasetUniquePtr shade(GDALDataset::FromHandle(
        GDALDEMProcessing("", GDALDataset::ToHandle(dem.get()), "hillshade", nullptr, options.get(), &usageError)));
    if (!shade)
        throw Error(png, "GDAL's hillshade failed");
    Picture picture(t.width, t.height, 2);
    std::vector<unsigned char> grey(static_cast<size_t>(t.width) * static_cast<size_t>(t.height));
    if (shade->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, t.width, t.height, grey.data(), t.width, t.height, GDT_Byte, 0,
                                          0, nullptr) != CE_None)
        throw Error(png, "cannot read GDAL's hillshade");
    for (size_t k = 0; k < grey.size(); ++k) {
        picture.pixels[2 * k] = grey[k];
        picture.pixels[2 * k + 1] = HasElevation(t.values[k]) ? 255 : 0;
    }
    return picture;
}

// ---------------------------------------------------------------------------
// The commands

void RenderImage(Accessor& a, const TileBlock& block, const RenderArgs& args)
{
    PictureStrips picture(args.picture.png, block.columns * kImageTileSide, block.rows * kImageTileSide);
    const int delivered = JoinImageTiles(*a, block, args.picture.display.flip, picture);
    if (delivered == 0)
        throw Error(args.picture.source.raster, "no image tile: " + NoImageReason(args.picture.source));
    picture.Finish();
    std::cout << "tiles: " << delivered << " of " << block.Count() << " delivered\n";
}

void RenderTerrain(Accessor& a, const TileBlock& block, const RenderArgs& args)
{
    const JoinedTerrain t = JoinTerrainTiles(*a, block);
    if (t.delivered == 0)
        throw Error(args.picture.source.raster, "no terrain tile delivered (outside the raster?)");
    const std::string& png = args.picture.png;
    SavePicture(args.GetKind() == Kind::Relief ? ReliefPicture(t, block.Bounds(), args.zFactor, png) : GrayPicture(t),
                png);
    double low = 0.0;
    double high = 0.0;
    ElevationRange(t, low, high);
    std::cout << "tiles: " << t.delivered << " of " << block.Count() << " delivered; elevation " << low << " to "
              << high << "; largest difference between shared edge samples " << t.maxSeamDifference << "\n";
}

void Render(const Globals& globals, const RenderArgs& args, const std::function<TileBlock(Accessor&)>& blockOf)
{
    Accessor a = OpenForPictures(globals, args.picture);
    const TileBlock block = blockOf(a);
    CheckSize(block, args.GetKind(), args);
    if (args.GetKind() == Kind::Image)
        RenderImage(a, block, args);
    else
        RenderTerrain(a, block, args);
}

struct MosaicArgs {
    RenderArgs render;
    TileOptions tile;
    int tiles = 4;
};

void AddMosaic(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand("mosaic", "join N x N neighbouring tiles of one level into one PNG");
    auto args = std::make_shared<MosaicArgs>();
    AddRenderOptions(*cmd, args->render);
    AddTileOptions(*cmd, args->tile, "north-west tile");
    cmd->add_option("--tiles", args->tiles, "tiles along each side")->capture_default_str()->check(CLI::Range(1, 64));
    cmd->callback([cmd, &globals, args] {
        RefuseUnused(*cmd, args->render);
        Render(globals, args->render, [&](Accessor&) { return BlockFrom(args->tile.Resolve(), args->tiles); });
    });
}

struct RenderCommandArgs {
    RenderArgs render;
    int level = 0;
    std::vector<double> rect;
};

void AddRender(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand("render", "join every tile of one level over the raster into one PNG");
    auto args = std::make_shared<RenderCommandArgs>();
    AddRenderOptions(*cmd, args->render);
    AddLevelOption(*cmd, args->level);
    AddRectOption(*cmd, args->rect, "--rect", "WEST SOUTH EAST NORTH in WGS84 degrees (default: the raster's bounds)");
    cmd->callback([cmd, &globals, args] {
        RefuseUnused(*cmd, args->render);
        Render(globals, args->render, [&](Accessor& a) {
            const KRRect2d rect =
                args->rect.empty() ? a->GetLatLonBounds().GetGeoBounds() : ToRect(args->rect, "--rect");
            return BlockOver(rect, args->level);
        });
    });
}

} // namespace

void AddRenderCommands(CLI::App& app, const Globals& globals)
{
    AddMosaic(app, globals);
    AddRender(app, globals);
}

} // namespace gora
