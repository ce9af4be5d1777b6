#include "GoraTiles.h"

#include <cmath>

#include "GoraOptions.h"

using namespace KRC;

namespace gora {

TileRef TileOptions::Resolve() const
{
    if (!at.empty()) {
        const KRPoint3d point = LonLat(at);
        return TileAt(point.x, point.y, level);
    }
    return TileRef{tile.at(0), tile.at(1), level};
}

void AddTileOptions(CLI::App& cmd, TileOptions& tile, const std::string& what)
{
    AddLevelOption(cmd, tile.level);
    CLI::Option_group* which = cmd.add_option_group("tile", "which " + what + " (one of)");
    which->add_option("--tile", tile.tile, "tile column (east from -180) and row (south from +90)")
        ->expected(2)
        ->check(CLI::NonNegativeNumber);
    AddPointOption(*which, tile.at, "a longitude and latitude inside the " + what);
    which->require_option(1);
}

namespace {

//! Index of the tile a position falls in, kept inside 0..count-1 (NaN gives 0).
int TileIndex(double position, long long count)
{
    if (!(position >= 0.0))
        return 0;
    if (position >= static_cast<double>(count))
        return static_cast<int>(count - 1);
    return static_cast<int>(position);
}

} // namespace

void AddLevelOption(CLI::App& cmd, int& level)
{
    cmd.add_option("--level", level, "tile level: level L has 2^(L+1) x 2^L tiles of 180/2^L degrees")
        ->required()
        ->check(CLI::Range(0, 30));
}

TileRef TileAt(double lon, double lat, int level)
{
    const double size = 180.0 / std::ldexp(1.0, level);
    TileRef tile;
    tile.level = level;
    tile.x = TileIndex(std::floor((lon + 180.0) / size), 2LL << level);
    tile.y = TileIndex(std::floor((90.0 - lat) / size), 1LL << level);
    return tile;
}

std::string TileName(const TileRef& t)
{
    return "tile " + std::to_string(t.x) + " " + std::to_string(t.y) + " at level " + std::to_string(t.level);
}

KRRect2d TileBounds(const TileRef& tile)
{
    KRRect2d bounds;
    KRMath::CalcTileBounds(bounds, tile.x, tile.y, tile.level);
    return bounds;
}

} // namespace gora
