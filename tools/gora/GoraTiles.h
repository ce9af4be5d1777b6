#pragma once
// The host's WGS84 tiling: tiles by column, row and level, their bounds, and
// the options that name one.

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "KRRasterDataAccessor.h"

namespace gora {

//! A tile of the host's tiling: level L has 2^(L+1) x 2^L tiles of 180 / 2^L degrees.
struct TileRef {
    int x = 0;     //!< column, counted east from -180
    int y = 0;     //!< row, counted south from +90
    int level = 0; //!< 0 and up
};

//! --level with either --tile X Y or --at LON LAT (a point inside the tile).
struct TileOptions {
    int level = 0;
    std::vector<int> tile;
    std::vector<double> at;

    TileRef Resolve() const;
};

void AddTileOptions(CLI::App& cmd, TileOptions& tile, const std::string& what);

//! Adds the required --level of the host's tiling.
void AddLevelOption(CLI::App& cmd, int& level);

//! "tile X Y at level L", for messages.
std::string TileName(const TileRef& tile);

//! The tile holding a longitude/latitude at a level.
TileRef TileAt(double lon, double lat, int level);
KRC::KRRect2d TileBounds(const TileRef& tile);

} // namespace gora
