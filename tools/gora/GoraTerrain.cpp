// terrain: one 33 x 33 elevation grid as JSON.
#include <algorithm>
#include <iostream>
#include <limits>

#include "GoraCommands.h"

using nlohmann::json;
using namespace KRC;

namespace gora {

namespace {

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
            row.push_back(JsonNumber(v));
        }
        rows.push_back(std::move(row));
    }
    json out = {{"width", w}, {"height", h}, {"min", JsonNumber(lo)}, {"max", JsonNumber(hi)}};
    if (withValues)
        out["rowsSouthToNorth"] = std::move(rows);
    return out;
}

struct TerrainArgs {
    Source source;
    TileOptions tile;
    bool values = false;
};

} // namespace

void AddTerrainCommands(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand("terrain", "fetch the 33 x 33 elevation grid of a tile as JSON");
    auto args = std::make_shared<TerrainArgs>();
    AddSource(*cmd, args->source);
    AddTileOptions(*cmd, args->tile, "tile");
    cmd->add_flag("--values", args->values, "include every sample, rows from south to north");
    cmd->callback([&globals, args] {
        Accessor a = OpenSource(globals, args->source);
        const TileRef tile = args->tile.Resolve();
        KRTerrainData* grid = nullptr;
        const GetchResult result = a->FetchTerrainData(grid, tile.x, tile.y, tile.level);
        const std::unique_ptr<KRTerrainData> owned(grid);
        if (result != GetchResult_Delivered || !owned)
            throw Error(args->source.raster, TileName(tile) + ": nothing delivered");
        const json out = {{"result", static_cast<int>(result)},
                          {"tile", {tile.x, tile.y, tile.level}},
                          {"bounds", JsonRect(TileBounds(tile))},
                          {"grid", TerrainJson(*owned, args->values)}};
        std::cout << out.dump(args->values ? -1 : 2) << "\n";
    });
}

} // namespace gora
