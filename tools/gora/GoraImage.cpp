// tile, image, quick: single pictures from the image fetches.
#include <iostream>

#include "GoraCommands.h"

using namespace KRC;

namespace gora {

namespace {

Picture PictureOrFail(const ImagePtr& image, const std::string& raster, const std::string& request)
{
    if (!image)
        throw Error(raster, request + ": nothing delivered (outside the raster, or no imagery for this source)");
    return PictureOfImage(*image);
}

std::string TileName(const TileRef& t)
{
    return "tile " + std::to_string(t.x) + " " + std::to_string(t.y) + " at level " + std::to_string(t.level);
}

struct TileArgs {
    Source source;
    std::string png;
    TileOptions tile;
    DisplayOptions display;
};

void AddTile(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand("tile", "fetch one 256 x 256 image tile into a PNG (top row first)");
    auto args = std::make_shared<TileArgs>();
    AddSource(*cmd, args->source);
    AddOutputFile(*cmd, args->png, "png", "PNG file to write");
    AddTileOptions(*cmd, args->tile, "tile");
    AddDisplayOptions(*cmd, args->display);
    cmd->callback([&globals, args] {
        Accessor a = OpenSource(globals, args->source);
        ApplyDisplay(a, args->display);
        const TileRef tile = args->tile.Resolve();
        const ImagePtr image = FetchImageTile(*a, tile, args->display.flip);
        SavePicture(PictureOrFail(image, args->source.raster, TileName(tile)), args->png);
    });
}

struct ImageArgs {
    Source source;
    std::string png;
    std::vector<double> rect;
    std::vector<int> size;
    DisplayOptions display;
};

void AddImage(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand("image", "fetch the image of a WGS84 rectangle into a PNG");
    auto args = std::make_shared<ImageArgs>();
    AddSource(*cmd, args->source);
    AddOutputFile(*cmd, args->png, "png", "PNG file to write");
    AddRectOption(*cmd, args->rect, "--rect", "WEST SOUTH EAST NORTH in WGS84 degrees (default: the raster's bounds)");
    AddSizeOption(*cmd, args->size);
    AddDisplayOptions(*cmd, args->display);
    cmd->callback([&globals, args] {
        Accessor a = OpenSource(globals, args->source);
        ApplyDisplay(a, args->display);
        const KRRect2d rect = args->rect.empty() ? a->GetLatLonBounds().GetGeoBounds() : ToRect(args->rect, "--rect");
        int width = 0;
        int height = 0;
        PictureSize(args->size, rect, width, height);
        const ImagePtr image = FetchImageRect(*a, rect, width, height, args->display.flip);
        SavePicture(PictureOrFail(image, args->source.raster, "the rectangle"), args->png);
    });
}

struct QuickArgs {
    Source source;
    std::string png;
    std::vector<double> rect;
    std::vector<double> srcRect;
    std::vector<int> size;
    DisplayOptions display;
};

//! The quick path's rectangle, in source units.
KRRect2d QuickRect(KRRasterDataAccessor& a, const QuickArgs& args)
{
    if (!args.srcRect.empty())
        return ToRect(args.srcRect, "--src-rect");
    if (args.rect.empty())
        return a.GetSrcBounds().GetGeoBounds();
    KRRect2d source;
    a.LatLonToProBounds(ToRect(args.rect, "--rect"), source);
    return source;
}

void AddQuick(CLI::App& app, const Globals& globals)
{
    auto* cmd = app.add_subcommand(
        "quick", "fill a picture by the quick path: source pixels straight into the image, no resampling");
    auto args = std::make_shared<QuickArgs>();
    AddSource(*cmd, args->source);
    AddOutputFile(*cmd, args->png, "png", "PNG file to write");
    auto* rect = AddRectOption(*cmd, args->rect, "--rect",
                               "WEST SOUTH EAST NORTH in WGS84 degrees, carried into source units by the module");
    AddRectOption(*cmd, args->srcRect, "--src-rect", "XMIN YMIN XMAX YMAX in source units (default: the whole raster)")
        ->excludes(rect);
    AddSizeOption(*cmd, args->size);
    AddDisplayOptions(*cmd, args->display);
    cmd->callback([&globals, args] {
        Accessor a = OpenSource(globals, args->source);
        ApplyDisplay(a, args->display);
        const KRRect2d rect = QuickRect(*a, *args);
        int width = 0;
        int height = 0;
        PictureSize(args->size, rect, width, height);
        const ImagePtr image = FetchQuickRect(*a, rect, width, height, BandMap(args->display), args->display.flip);
        SavePicture(PictureOrFail(image, args->source.raster, "the quick fetch"), args->png);
    });
}

} // namespace

void AddImageCommands(CLI::App& app, const Globals& globals)
{
    AddTile(app, globals);
    AddImage(app, globals);
    AddQuick(app, globals);
}

} // namespace gora
